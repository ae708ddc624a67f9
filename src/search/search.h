// The alpha-beta search: per-thread search data, derived tables and the node routines.
#pragma once
#include <atomic>
#include <cstdint>

#include "board/movegen.h"
#include "search/movepick.h"
#include "board/position.h"
#include "search/thread.h"

namespace quorix {

constexpr int MAX_ITERATIONS = 99;   // worker iterations
constexpr int ITER_SLOTS = 152;      // per-iteration arrays ("go depth" is at most 150)
constexpr int MAX_ROOT_MOVES = 220;
constexpr int PV_MAX = MAX_PLY + 2;

struct RootMove {
  Move move;
  int score;
  Move pv[16];  // line of this root move (multi-PV reports), 0-terminated
};

// Search state of one thread next to its ordering tables.
struct alignas(64) SearchData {
  SearchThread* th = nullptr;
  int index = 0;
  int iteration = 0;
  int iter_score[ITER_SLOTS];
  Move pv[PV_MAX][PV_MAX];
  int pv_len[PV_MAX];
  Move depth_pv[ITER_SLOTS][PV_MAX];  // principal variation per iteration
  RootMove root[MAX_ROOT_MOVES];
  int root_count = 0;
  int root_done = 0;        // root moves finished in the running iteration
  bool root_first = true;   // still on the first root move of the iteration
  int last_bound = 0;       // 0 exact, 1 fail high, 2 fail low
  bool searching = false;
  // Node count at which a budgeted search (Monte-Carlo leaf values) ends; all ones = none.
  uint64_t node_budget_end = ~uint64_t(0);
  Position root_pos;
  // Private copy of the root's predecessor: the root's children take a continuation row
  // from it, which must be this thread's own table.
  Position root_parent;
  // Child records by ply: a node at ply k makes its children in stack[k + 1]. Parent and
  // child then lie one record (1,600 bytes) apart whatever the compiler makes of the
  // frames; with a record in every frame they were 3.3-3.8 KB apart, close enough to a
  // multiple of 4 KB that copying the parent's bytes into the child reads addresses whose
  // low 12 bits match stores still in flight (4K aliasing, costly on some processors).
  Position stack[MAX_PLY + 4];
};

// One record per thread, index = thread index (allocated by the thread pool).
extern SearchData* g_sdata;

// Shared between threads.
extern Position g_root_position;
extern RootMove g_root_moves[MAX_ROOT_MOVES];
extern int g_root_move_count;
extern std::atomic<int> g_shared_best_score;
extern std::atomic<uint64_t> g_shallow_keys[1024];

// Per-search switches set by the driver.
extern int g_draw_score[2];      // by colour
extern bool g_null_pruning;
extern bool g_mcts_mode;         // tables built for the Monte-Carlo search
extern bool g_analysis;
extern int g_multipv;
extern int g_tb_probe_limit;     // pieces; 0 = no probing inside the search
extern std::atomic<uint64_t> g_tb_hits;  // successful tablebase probes (all threads)

// Derived tables (depth in half-plies).
extern int g_red[2][128][64];
extern int g_red_pred[2][128][64];
extern int g_lmp[2][24];
extern int g_fut_step;
// Builds the reduction and late-move tables for a thread count and search mode.
void build_search_tables(int threads, bool mcts);

// Node routines.
int search_root(SearchData& sd, Position& p, int depth, int alpha, int beta);
int search_pv(SearchData& sd, Position& p, int alpha, int beta, int depth, int ply, bool skip_iid);
int search_nonpv(SearchData& sd, Position& p, int beta, int depth, int ply, Move excluded, bool cut, int retain);
int search_q(SearchData& sd, Position& p, int alpha, int beta, int qdepth, int ply);

// One aspiration-window iteration of thread sd at iteration d; returns false when stopped.
bool iteration_search(SearchData& sd, int d);
// Prepares a thread's root copy and move list from the shared root (workers and thread 0).
void prepare_thread_root(SearchData& sd);
// Points a position's table pointers (continuation rows, material and pawn tables) at
// thread th's tables; the thread records may have been rebuilt since it was set up.
void attach_to_thread(Position& p, SearchThread& th);

// Draw test of a freshly made child: fifty-move rule or repetition (needed = earlier
// occurrences that make a draw). A check on the hundredth half-move tries th's moves.
bool is_draw_child(SearchThread& th, const Position& c, int needed);

// Tablebase probe inside the search (depth in half-plies): false when there is no result.
bool tb_probe_search(const Position& p, int ply, int depth, int& score);

// Score text of a report ("cp 12", "mate -3", with bound suffix).
void score_text(int v, int bound, char* out, size_t n);

}  // namespace quorix
