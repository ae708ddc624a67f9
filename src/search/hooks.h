// What the search needs from the program around it, passed in rather than included:
// the option values it reads and the calls that report and poll.
#pragma once
#include "board/position.h"

namespace quorix {

// Option values read by the search. The option table binds the engine options to these
// fields; they change only between searches (a "setoption" during a search waits for
// its end), so the search threads read them without locks.
struct SearchOptions {
  int use_lmr = 1;
  int reduction = -35;
  int selectivity = 150;
  int minimal_reporting = 0;
  int numa_offset = 0;
  int table_memory = 64;  // MB for the evaluation caches of all threads
  int syzygy_probe_depth = 1;
  int syzygy_50_move_rule = 1;
  int mcts_explore = 35;   // exploration constant c, in hundredths
};
extern SearchOptions g_search_options;

// Reports and the periodic check, installed by the program (none: silent, never stops).
struct SearchHooks {
  // Principal variation of an iteration (bound 0 exact, 1 lower, 2 upper); pv is 0-terminated.
  void (*pv)(int depth, int score, int bound, const Move* pv) = nullptr;
  // Multi-PV lines from the main thread's sorted root moves.
  void (*multipv)(int depth) = nullptr;
  // The root move now searched (number counts from 1).
  void (*currmove)(const Position& root, Move m, int number) = nullptr;
  // Thread 0, at every node: serves input and checks the clock; true when the search must end.
  bool (*poll)() = nullptr;
  // Start of iteration depth on the main thread.
  void (*iteration_start)(int depth) = nullptr;
  // Periodic report of a Monte-Carlo search (every two seconds, thread 0).
  void (*mcts_report)() = nullptr;
  // Book move for the root before the first iteration (0: none, search as usual).
  Move (*book_move)(const Position& root) = nullptr;
};
extern SearchHooks g_search_hooks;

}  // namespace quorix
