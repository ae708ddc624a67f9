// Monte-Carlo tree search: a tree shared by all search threads, grown in a fixed node pool.
// Leaves are valued by short budgeted alpha-beta searches; selection is PUCT with a damped
// exploration term, virtual loss and a penalty for children another thread is working on.
#pragma once
#include <atomic>
#include <cstdint>

#include "board/position.h"
#include "search/search.h"

namespace quorix {

// One tree node; 64 bytes, so a megabyte holds 16384 of them. Statistics are changed through
// atomic references; links, key, move and prior are written before the parent publishes its
// first child and are read-only afterwards.
struct alignas(64) MctsNode {
  uint32_t first_child;   // pool index; 0 = not expanded (index 0 is the root, never a child)
  uint32_t next_sibling;  // pool index; 0 = last child
  double W;               // sum of backed-up values
  double N;               // visit weight; selection adds the virtual loss of `vl`
  uint64_t n;             // visit count
  uint64_t key;           // position key
  uint32_t move;          // Move in the low 16 bits, MCTS_* flags above
  float prior;
  float cached;           // value stored with the prior-cache entry, 0.5 when none
  uint8_t lock;           // bit 0: a thread evaluates or expands this node
  uint16_t vl;            // descents in progress; each adds the virtual loss to N
};
static_assert(sizeof(MctsNode) == 64);

// Flags kept above the move in MctsNode::move.
constexpr uint32_t MCTS_CAPTURE = 1u << 16;
constexpr uint32_t MCTS_CHECK = 1u << 17;     // the move gives check
constexpr uint32_t MCTS_DRAWN = 1u << 18;     // fifty-move rule or repetition
constexpr uint32_t MCTS_UNDERPROMO = 1u << 19;
constexpr uint32_t MCTS_TERMINAL = 1u << 20;  // position without legal moves
constexpr uint32_t MCTS_EVASION = 1u << 21;   // generated while the parent was in check

inline Move node_move(const MctsNode& x) { return Move(x.move & 0xFFFF); }

// Parameters of one search (set by mcts_set_params).
struct MctsParams {
  double explore = 0.35;         // c
  double virtual_loss = 0.2;
  double locked_penalty = 0.31;
  double once_penalty = 0.02;    // exploration of a child visited once, below the root
  double underpromo_penalty = 0.1;
  uint64_t leaf_budget = 0;      // B
  uint64_t seed_budget = 0;      // second budget (30000 based), used by the seeding search
  int depth_class = 4;
  double prior_temperature = 0.1;  // softmax over the children's win probabilities
  double draw_value[2] = {0.5, 0.5};  // value of a draw for the side (colour) that moved into it
};

struct MctsTree {
  MctsNode* pool = nullptr;
  uint64_t capacity = 0;              // nodes
  std::atomic<uint64_t> used{0};      // nodes in use
  std::atomic<int> seldepth{0};
  std::atomic<uint8_t> excluded[MAX_ROOT_MOVES + 1];  // by root child position (1-based)
  uint64_t start_count = 0;           // root count when the search began (playout rate)
  int root_children = 0;              // root children at pool positions 1..root_children
  bool valid = false;                 // the pool holds the tree of the last Monte-Carlo search
  int last_root_ply = -1;
  MctsParams prm;
};

extern MctsTree g_mcts;
// True while a Monte-Carlo search runs (workers play out instead of iterating).
extern std::atomic<bool> g_mcts_running;

// Win probability of a centipawn score and back.
double mcts_value_of(double cp);
int mcts_cp_of(double q);
// Reported depth for a number of nodes in use (logarithm to base 1.6).
int mcts_depth_for(uint64_t nodes);

// Allocates a zeroed pool of mb megabytes (the tree is lost). Deferred while a search runs.
void mcts_table_resize(int mb);
// Same with an exact node count (tests).
void mcts_pool_resize_nodes(uint64_t nodes);
void mcts_pool_free();

// Sets the search parameters from the options, the time allowance t and the thread count.
void mcts_set_params(double t, int threads);
// Empty tree for root: a root node that the first playout expands.
void mcts_reset_tree(const Position& root);
// Keeps the subtree of the new root when the old tree holds it with enough visits;
// kept_share receives kept nodes / nodes in use (0 when the tree was reset).
bool mcts_reuse_tree(const Position& root, double* kept_share = nullptr);

// One playout from the root of thread sd's position copy; true with a value when one was
// produced (the root's totals are updated).
bool mcts_root_playout(SearchData& sd, double& value);
// One playout from node at position p (ply = distance from the root).
bool mcts_playout(SearchData& sd, double& result, uint32_t node, Position& p, int ply);
// Budgeted alpha-beta value of p in centipawns, from the view of the side that moved into p.
int mcts_leaf_value(SearchData& sd, Position& p, int ply, uint32_t flags);
// Budgeted alpha-beta search of p (depths 4..max_depth in half-plies, at most 3 b nodes);
// score from p's side to move.
int mcts_budgeted_search(SearchData& sd, Position& p, int ply, uint64_t b, int max_depth);
// Applies a pool size requested while a search ran.
void mcts_apply_pending_resize();
// Value of a position without legal moves for the side that moved into it.
double mcts_terminal_value(const Position& p, int ply);

// Worker body during a Monte-Carlo search: playouts until stopped or the pool is nearly full.
void mcts_worker(SearchData& sd);
// Whether the pool has room for the playouts in progress (200 nodes per thread in reserve).
bool mcts_pool_nearly_full();

// Most visited root child (pool index, 0 when there is none).
uint32_t mcts_best_child(uint32_t node);

// Prior cache: per-position move tables with least-recently-used eviction, one mutex.
struct MoveTable {
  static constexpr int SLOTS = 64;
  static constexpr int MAX_ENTRIES = 48;
  uint32_t moves[SLOTS];  // 0 = empty slot
  float priors[SLOTS];
  int count = 0;
  MoveTable() { clear(); }
  void clear();
  // Adds or replaces; false when the table is full.
  bool put(Move m, float prior);
  float get(Move m) const;  // 0 when absent
};
bool prior_lookup(uint64_t key, MoveTable& table, float& value);
void prior_store(uint64_t key, const MoveTable& table, float value);
void prior_cache_clear();

}  // namespace quorix
