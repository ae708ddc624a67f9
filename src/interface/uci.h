// Program entry, input thread and the command dispatcher.
#pragma once
#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "board/position.h"
#include "search/control.h"
#include "search/limits.h"
#include "util/clock.h"
#include "util/log.h"
#include "util/quit.h"

namespace quorix {

constexpr int GAME_HISTORY_SIZE = 2048;
constexpr size_t MAX_LINE_LENGTH = 1 << 20;  // longer input lines are refused

extern volatile std::sig_atomic_t input_closed;
// The game: record 0 is the set-up position, one record per applied move after it.
extern Position* game_history;
extern int game_length;
// The buffer a new game is built in before it replaces game_history.
Position* spare_history();

// Search-control state written by commands.
extern int ponder_credit;
extern volatile uint8_t stop_requested;
extern double g_move_time;
extern volatile uint8_t searching;
extern double game_time;
extern uint64_t g_random_seed;
extern bool hash_loaded_flag;  // one-shot flag set by a hash-file load

void reseed_random();

// Executes at most one queued input line.
void process_command();
// Whether input lines are waiting.
bool input_pending();
// Queues a line as if it had been read (tests and tools).
void queue_line(const std::string& line);

// Stops everything and ends the process.
[[noreturn]] void shutdown_and_exit(int code);

int uci_loop();

// The "go" command's search. Provided by the search driver.
void go_command(const SearchLimits& limits, Position& root);

// Splits a line into tokens (blank, tab, CR, LF separate).
std::vector<std::string> split_tokens(const std::string& line);

}  // namespace quorix
