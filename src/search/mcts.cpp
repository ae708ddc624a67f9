// Monte-Carlo tree search: node pool, playouts, leaf values, priors and tree reuse.
#include "search/mcts.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "search/hooks.h"
#include "search/thread.h"

namespace quorix {

MctsTree g_mcts;
std::atomic<bool> g_mcts_running{false};

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int MAX_TREE_PLY = 100;      // deeper nodes are valued, not expanded

int pending_mb = 0;  // pool size requested while a search ran

template <class T>
inline std::atomic_ref<T> ar(T& x) {
  return std::atomic_ref<T>(x);
}

inline double load_d(double& x) { return ar(x).load(std::memory_order_relaxed); }
inline uint64_t load_n(uint64_t& x) { return ar(x).load(std::memory_order_relaxed); }
inline void add_d(double& x, double v) { ar(x).fetch_add(v, std::memory_order_relaxed); }
inline bool locked(MctsNode& x) { return ar(x.lock).load(std::memory_order_acquire) != 0; }
inline bool try_lock(MctsNode& x) { return ar(x.lock).exchange(1, std::memory_order_acquire) == 0; }
inline void unlock(MctsNode& x) { ar(x.lock).store(0, std::memory_order_release); }
inline uint32_t children_of(MctsNode& x) { return ar(x.first_child).load(std::memory_order_acquire); }
inline uint32_t move_bits(MctsNode& x) { return ar(x.move).load(std::memory_order_relaxed); }
// Visit weight as selection sees it: N plus the virtual loss of the descents in progress.
inline double weight(MctsNode& x) {
  return load_d(x.N) + g_mcts.prm.virtual_loss * ar(x.vl).load(std::memory_order_relaxed);
}

// Real stops are 1; the budget of a leaf search marks the flag with 2 (see node_stop).
inline bool hard_stopped(const SearchData& sd) { return sd.th->stop.load(std::memory_order_relaxed) == 1; }

inline void clear_budget_stop(SearchData& sd) {
  uint8_t two = 2;
  sd.th->stop.compare_exchange_strong(two, 0);
  sd.node_budget_end = ~uint64_t(0);
}

void raise_seldepth(int ply) {
  int cur = g_mcts.seldepth.load(std::memory_order_relaxed);
  while (ply > cur && !g_mcts.seldepth.compare_exchange_weak(cur, ply, std::memory_order_relaxed)) {}
}

// Value of a draw for the side that moved into p.
inline double draw_value(const Position& p) { return g_mcts.prm.draw_value[p.side() ^ 1]; }

bool insufficient_material(const Position& p) { return p.phase < 5 && !(p.bb[1] | p.bb[8]); }

// Takes k consecutive nodes; false (nothing taken) when the pool cannot hold them.
bool take_nodes(uint32_t k, uint32_t& base) {
  uint64_t cur = g_mcts.used.load(std::memory_order_relaxed);
  do {
    if (cur + k > g_mcts.capacity) return false;
  } while (!g_mcts.used.compare_exchange_weak(cur, cur + k, std::memory_order_relaxed));
  base = uint32_t(cur);
  return true;
}

// Legal moves of p with their child positions' flags (children made one at a time by the caller).
int node_moves(const Position& p, int ply, Move* out) {
  if (ply == 0 && g_root_move_count > 0 && p.key == g_root_position.key) {
    for (int i = 0; i < g_root_move_count; i++) out[i] = g_root_moves[i].move;
    return g_root_move_count;
  }
  // In check the evasion generator gives the children, in its order (the tree keeps it).
  uint32_t list[MAX_MOVES];
  const int n = p.in_check ? generate_evasions(p, list) : generate_all(p, list);
  Position child;
  int k = 0;
  for (int i = 0; i < n && k < MAX_ROOT_MOVES; i++) {
    const Move m = entry_move(list[i]);
    if (make_move(p, child, m)) out[k++] = m;
  }
  return k;
}

struct Expansion {
  Move moves[MAX_ROOT_MOVES];
  uint32_t flags[MAX_ROOT_MOVES];
  uint64_t keys[MAX_ROOT_MOVES];
  double values[MAX_ROOT_MOVES];
};

// Expands node (lock held). Returns false without touching the tree when stopped or when the
// pool is full; on success `value` is the node's value after its children were valued.
bool expand(SearchData& sd, uint32_t node, Position& p, int ply, double& value) {
  MctsNode& x = g_mcts.pool[node];
  thread_local Expansion ex;
  const int k = node_moves(p, ply, ex.moves);
  if (k == 0) {
    ar(x.move).fetch_or(MCTS_TERMINAL, std::memory_order_relaxed);
    value = mcts_terminal_value(p, ply);
    return true;
  }
  MoveTable table;
  float cached_value = 0.5f;
  const bool found = prior_lookup(p.key, table, cached_value);
  Position child;
  for (int i = 0; i < k; i++) {
    const Move m = ex.moves[i];
    uint32_t fl = 0;
    if (p.board[move_to(m)] && move_kind(m) != MK_CASTLE) fl |= MCTS_CAPTURE;
    if (move_kind(m) == MK_EP) fl |= MCTS_CAPTURE;
    if (move_kind(m) > MK_PROMO_Q) fl |= MCTS_UNDERPROMO;
    if (p.in_check) fl |= MCTS_EVASION;
    if (!make_move(p, child, m)) return false;  // cannot happen for a legal list
    child.in_check = king_attacked(child, child.side()) ? 1 : 0;
    if (child.in_check) fl |= MCTS_CHECK;
    if (is_draw_child(*sd.th, child, ply < 2 ? 2 : 1)) fl |= MCTS_DRAWN;
    ex.keys[i] = child.key;
    ex.flags[i] = fl;
    if (fl & MCTS_DRAWN) {
      ex.values[i] = draw_value(child);
    } else {
      const int s = mcts_leaf_value(sd, child, ply + 1, fl);
      if (hard_stopped(sd)) return false;
      ex.values[i] = mcts_value_of(s);
    }
  }
  uint32_t base;
  if (!take_nodes(uint32_t(k), base)) return false;
  // Priors: a softmax over the children's fresh values, unless the cache knows the position.
  double best = 0, sum = 0;
  for (int i = 0; i < k; i++) best = std::max(best, ex.values[i]);
  double w[MAX_ROOT_MOVES];
  for (int i = 0; i < k; i++) sum += (w[i] = std::exp((ex.values[i] - best) / g_mcts.prm.prior_temperature));
  MoveTable fresh;
  for (int i = 0; i < k; i++) {
    MctsNode& c = g_mcts.pool[base + uint32_t(i)];
    c.first_child = 0;
    c.next_sibling = i + 1 < k ? base + uint32_t(i) + 1 : 0;
    c.W = ex.values[i];
    c.N = 1.0;
    c.n = 1;
    c.key = ex.keys[i];
    c.move = ex.moves[i] | ex.flags[i];
    const float fresh_prior = float(w[i] / sum);
    c.prior = found && table.get(ex.moves[i]) > 0 ? table.get(ex.moves[i]) : fresh_prior;
    c.cached = 0.5f;
    c.lock = 0;
    c.vl = 0;
    fresh.put(ex.moves[i], fresh_prior);
  }
  value = 1.0 - best;
  prior_store(p.key, fresh, float(value));
  ar(x.first_child).store(base, std::memory_order_release);
  return true;
}

// Selection among the children of an expanded node; 0 when every child is excluded.
uint32_t select_child(uint32_t node, int ply, bool in_check) {
  MctsNode& x = g_mcts.pool[node];
  const MctsParams& prm = g_mcts.prm;
  const uint32_t first = children_of(x);
  const bool root = ply == 0;
  uint32_t b = 0;
  double qb = -1, q2 = -1;
  if (root) {
    for (uint32_t c = first; c; c = g_mcts.pool[c].next_sibling) {
      MctsNode& y = g_mcts.pool[c];
      const double q = load_d(y.W) / std::max(weight(y), 1e-9);
      if (q > qb) {
        q2 = qb;
        qb = q;
        b = c;
      } else if (q > q2) {
        q2 = q;
      }
    }
  }
  const double sqrt_n = std::sqrt(double(load_n(x.n)));
  uint32_t chosen = 0;
  double best = -1e300;
  int index = 0;
  for (uint32_t c = first; c; c = g_mcts.pool[c].next_sibling, index++) {
    MctsNode& y = g_mcts.pool[c];
    if (root && c <= MAX_ROOT_MOVES && g_mcts.excluded[c].load(std::memory_order_relaxed)) continue;
    const double N = std::max(weight(y), 1e-9);
    const uint32_t bits = move_bits(y);
    double q = load_d(y.W) / N;
    if (root && c == b && q2 >= 0) q = (qb + q2) / 2;
    const double d = 1 + 8 * (q - 0.5) * (q - 0.5);
    double m = N;
    if (((bits & MCTS_CAPTURE) && index < 6 && !in_check) || (bits & MCTS_CHECK)) m -= 1;
    double u = sqrt_n * prm.explore * y.prior / (std::max(m, 1.0) * d);
    if (!root && load_n(y.n) == 1) u -= prm.once_penalty;
    if (locked(y)) q -= prm.locked_penalty;
    double score = q + u;
    if (bits & MCTS_UNDERPROMO) score -= prm.underpromo_penalty;
    if (score > best) {
      best = score;
      chosen = c;
    }
  }
  return chosen;
}

// Waits for another thread to release a node; false when the search stops meanwhile.
bool wait_unlocked(SearchData& sd, MctsNode& y) {
  while (locked(y)) {
    if (hard_stopped(sd)) return false;
    if (sd.index == 0 && g_search_hooks.poll && g_search_hooks.poll()) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

double mcts_value_of(double cp) { return 0.5 + std::atan(cp / 84.0) / PI; }

int mcts_cp_of(double q) {
  const double v = 84.0 * std::tan(3.1415926 * q - 1.5707963);
  if (!(v > -25000)) return -25000;  // also catches a NaN
  if (v > 25000) return 25000;
  return int(v);
}

int mcts_depth_for(uint64_t nodes) { return nodes ? int(std::log(double(nodes)) * 2.127643145234443) : 0; }

double mcts_terminal_value(const Position& p, int ply) {
  if (p.in_check) return mcts_value_of(double(MATE - ply));
  return draw_value(p);
}

// ------------------------------------------------------------------ pool

void mcts_pool_free() {
  if (g_mcts.pool) munmap(g_mcts.pool, g_mcts.capacity * sizeof(MctsNode));
  g_mcts.pool = nullptr;
  g_mcts.capacity = 0;
  g_mcts.used = 0;
  g_mcts.valid = false;
}

// The pool is reserved, not committed: pages are touched only as the tree grows, which is
// slowly (one node per leaf search), so even the largest setting costs little real memory.
void mcts_pool_resize_nodes(uint64_t nodes) {
  mcts_pool_free();
  if (nodes < 2) return;
  const size_t bytes = nodes * sizeof(MctsNode);
  void* mem = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mem == MAP_FAILED) {
    std::printf("Unable to allocate %llu bytes of memory for %s\n", (unsigned long long)bytes, "MCTS table");
    std::fflush(stdout);
    std::exit(1);
  }
  g_mcts.pool = static_cast<MctsNode*>(mem);
  g_mcts.capacity = std::min<uint64_t>(nodes, 0xFFFFFFFFull);
}

void mcts_table_resize(int mb) {
  if (mb <= 0) return;
  if (g_mcts_running.load()) {
    pending_mb = mb;  // the running search owns the pool; applied when it ends
    return;
  }
  pending_mb = 0;
  mcts_pool_resize_nodes(uint64_t(mb) * 16384);
}

void mcts_apply_pending_resize() {
  if (pending_mb > 0 && !g_mcts_running.load()) mcts_table_resize(pending_mb);
}

bool mcts_pool_nearly_full() {
  const uint64_t reserve = 200 * uint64_t(std::max(g_thread_count, 1));
  return g_mcts.used.load(std::memory_order_relaxed) + reserve > g_mcts.capacity;
}

// ------------------------------------------------------------------ parameters and tree set-up

void mcts_set_params(double t, int threads) {
  MctsParams& prm = g_mcts.prm;
  prm = MctsParams();
  prm.explore = g_search_options.mcts_explore * 0.01;
  const double scale = std::min(std::sqrt(0.4 * std::max(t, 0.0)) / std::pow(double(std::max(threads, 1)), 0.3), 8.0);
  prm.leaf_budget = uint64_t(scale * 14000);
  prm.seed_budget = uint64_t(scale * 30000);
  prm.depth_class = t < 2.4 ? 4 : t <= 4.8 ? 5 : 6;
  for (int c = 0; c < 2; c++) prm.draw_value[c] = mcts_value_of(g_draw_score[c]);
}

void mcts_reset_tree(const Position& root) {
  MctsNode& r = g_mcts.pool[0];
  r.first_child = 0;
  r.next_sibling = 0;
  r.W = 0;
  r.N = 0;
  r.n = 3;
  r.key = root.key;
  r.move = 0;
  r.prior = 0;
  r.lock = 0;
  r.vl = 0;
  MoveTable t;
  float v = 0.5f;
  prior_lookup(root.key, t, v);
  r.cached = v;
  g_mcts.used = 1;
  g_mcts.seldepth = 0;
  g_mcts.start_count = 3;
  g_mcts.root_children = 0;
  for (auto& e : g_mcts.excluded) e.store(0, std::memory_order_relaxed);
  g_mcts.valid = true;
}

// The most visited child; among children with the same count the one with the best mean.
// Short searches end with many children at equal counts (often just the expansion's single
// visit each), and taking the first of them in generation order plays an arbitrary move.
uint32_t mcts_best_child(uint32_t node) {
  uint32_t best = 0;
  uint64_t most = 0;
  double best_q = -1;
  for (uint32_t c = children_of(g_mcts.pool[node]); c; c = g_mcts.pool[c].next_sibling) {
    MctsNode& y = g_mcts.pool[c];
    const uint64_t n = load_n(y.n);
    const double q = load_d(y.W) / std::max(load_d(y.N), 1e-9);
    if (!best || n > most || (n == most && q > best_q)) {
      best = c;
      most = n;
      best_q = q;
    }
  }
  return best;
}

bool mcts_reuse_tree(const Position& root, double* kept_share) {
  if (kept_share) *kept_share = 0;
  MctsNode* pool = g_mcts.pool;
  if (!pool) return false;
  const uint64_t used = g_mcts.used.load();
  bool usable = g_mcts.valid && used > 1 && used <= g_mcts.capacity && int(root.ply) >= g_mcts.last_root_ply;
  // The new root is looked for within four plies of the old one (our move, the reply, and
  // a little more for a ponder miss); the match with the most visits wins.
  uint32_t found = 0;
  if (usable) {
    std::vector<std::pair<uint32_t, int>> stack{{0u, 0}};
    double most = -1;
    while (!stack.empty()) {
      auto [i, depth] = stack.back();
      stack.pop_back();
      if (i >= used) continue;  // a damaged link ends that branch
      MctsNode& x = pool[i];
      if (x.key == root.key && x.N > most) {
        most = x.N;
        found = i;
      }
      if (depth < 4)
        for (uint32_t c = x.first_child; c && c < used; c = pool[c].next_sibling) stack.push_back({c, depth + 1});
    }
    if (!(pool[found].key == root.key && pool[found].first_child && pool[found].N > 3.0)) usable = false;
  }
  if (usable) {
    bool visited_child = false;
    for (uint32_t c = pool[found].first_child; c; c = pool[c].next_sibling) visited_child |= pool[c].N > 1.0;
    usable = visited_child;
  }
  // The root's children must be exactly the root moves of this search (a searchmoves list or a
  // tablebase filter can make them differ); otherwise a fresh tree is grown.
  std::vector<uint32_t> order;
  if (usable) {
    int k = 0;
    for (uint32_t c = pool[found].first_child; c; c = pool[c].next_sibling) k++;
    if (k != g_root_move_count) usable = false;
    for (int i = 0; usable && i < g_root_move_count; i++) {
      uint32_t hit = 0;
      for (uint32_t c = pool[found].first_child; c; c = pool[c].next_sibling)
        if (node_move(pool[c]) == g_root_moves[i].move) hit = c;
      if (!hit) usable = false;
      order.push_back(hit);
    }
  }
  if (!usable) {
    mcts_reset_tree(root);
    return false;
  }
  // Collect the subtree; every child is allocated after its parent, so the sorted indices keep
  // parents in front of children and the new root lands at 0 with its children right after it.
  std::vector<uint32_t> kept;
  kept.push_back(found);
  for (size_t i = 0; i < kept.size(); i++)
    for (uint32_t c = pool[kept[i]].first_child; c; c = pool[c].next_sibling) kept.push_back(c);
  std::sort(kept.begin(), kept.end());
  if (kept_share) *kept_share = double(kept.size()) / double(used);
  auto new_index = [&](uint32_t old) {
    return old ? uint32_t(std::lower_bound(kept.begin(), kept.end(), old) - kept.begin()) : 0u;
  };
  for (uint32_t& o : order) {
    o = new_index(o);
    if (o < 1 || o > uint32_t(g_root_move_count)) {  // children not right after their parent
      mcts_reset_tree(root);
      if (kept_share) *kept_share = 0;
      return false;
    }
  }
  for (size_t i = 0; i < kept.size(); i++)
    if (kept[i] != i) std::memcpy(static_cast<void*>(&pool[i]), &pool[kept[i]], sizeof(MctsNode));
  for (size_t i = 0; i < kept.size(); i++) {
    MctsNode& x = pool[i];
    x.first_child = new_index(x.first_child);
    x.next_sibling = i == 0 ? 0 : new_index(x.next_sibling);
    x.lock = 0;
    x.vl = 0;
    x.N = double(x.n);
  }
  // Root children in root-move order at positions 1..k.
  const int k = g_root_move_count;
  std::vector<MctsNode> tmp_nodes(static_cast<size_t>(k));
  for (int i = 0; i < k; i++) tmp_nodes[size_t(i)] = pool[order[size_t(i)]];
  for (int i = 0; i < k; i++) {
    pool[i + 1] = tmp_nodes[size_t(i)];
    pool[i + 1].next_sibling = i + 1 < k ? uint32_t(i + 2) : 0;
  }
  pool[0].first_child = 1;
  pool[0].n += 3;
  pool[0].N = double(pool[0].n);
  g_mcts.start_count = pool[0].n;
  g_mcts.used = kept.size();
  g_mcts.seldepth = 0;
  g_mcts.root_children = k;
  for (auto& e : g_mcts.excluded) e.store(0, std::memory_order_relaxed);
  return true;
}

// ------------------------------------------------------------------ leaf values and playouts

int mcts_budgeted_search(SearchData& sd, Position& p, int ply, uint64_t b, int max_depth) {
  SearchThread& th = *sd.th;
  const uint64_t start = th.nodes;
  int score = 0;
  // Depth 4 always completes, so even a tiny budget gives a searched value; after it the
  // search ends at 3 b nodes, and no new depth starts once b nodes are spent.
  for (int d = 4; d <= std::min(8, max_depth); d++) {
    const int v = search_pv(sd, p, -MATE, MATE, d, ply, false);
    if (th.stop.load(std::memory_order_relaxed)) break;
    score = v;
    if (d == 4) sd.node_budget_end = start + 3 * b;
  }
  for (int d = 9; d <= max_depth && !th.stop.load(std::memory_order_relaxed) && th.nodes - start <= b; d++) {
    int delta = 7;
    int alpha = std::max(score - delta, -MATE), beta = std::min(score + delta, int(MATE));
    for (;;) {
      const int v = search_pv(sd, p, alpha, beta, d, ply, false);
      if (th.stop.load(std::memory_order_relaxed)) break;
      if (v <= alpha && alpha > -MATE) {
        delta *= 2;
        alpha = std::max(v - delta, -MATE);
      } else if (v >= beta && beta < MATE) {
        delta *= 2;
        beta = std::min(v + delta, int(MATE));
      } else {
        score = v;
        break;
      }
    }
  }
  clear_budget_stop(sd);
  return score;
}

int mcts_leaf_value(SearchData& sd, Position& p, int ply, uint32_t flags) {
  uint64_t b = g_mcts.prm.leaf_budget;
  if (ply > 1) b = uint64_t(double(b) * std::pow(0.95, ply - 1));
  if (flags & MCTS_UNDERPROMO) b /= 2;
  if (b == 0) return 0;
  // The leaf is searched as a child of the tree (ply 1 for mate distances and per-ply tables).
  return -mcts_budgeted_search(sd, p, 1, b, 2 * MAX_PLY - 8);
}

bool mcts_playout(SearchData& sd, double& result, uint32_t node, Position& p, int ply) {
  MctsNode& x = g_mcts.pool[node];
  if (insufficient_material(p)) {
    result = draw_value(p);
    return true;
  }
  raise_seldepth(ply);
  if (!try_lock(x)) return false;
  if (move_bits(x) & MCTS_TERMINAL) {
    unlock(x);
    result = mcts_terminal_value(p, ply);
    return true;
  }
  if (!children_of(x)) {
    if (load_n(x.n) <= 2 || ply >= MAX_TREE_PLY) {
      // Not ready for expansion (or too deep): the node answers with its mean.
      unlock(x);
      result = load_d(x.W) / std::max(weight(x), 1.0);
      return ply > 0;
    }
    double v;
    const bool ok = expand(sd, node, p, ply, v);
    unlock(x);
    if (!ok) return false;
    result = v;
    return true;
  }
  unlock(x);
  const uint32_t ci = select_child(node, ply, p.in_check != 0);
  if (!ci) return false;
  MctsNode& c = g_mcts.pool[ci];
  if (!wait_unlocked(sd, c)) return false;
  const uint64_t old = ar(c.n).fetch_add(1, std::memory_order_relaxed);
  const Move m = node_move(c);
  if (old == 1) {
    add_d(c.N, 1.0);
    MoveTable t;
    float v = 0.5f;
    if (prior_lookup(c.key, t, v)) ar(c.cached).store(v, std::memory_order_relaxed);
    return false;
  }
  if (old == 2) {
    if (!try_lock(c)) {
      ar(c.n).fetch_sub(1, std::memory_order_relaxed);
      return false;
    }
    const uint32_t bits = move_bits(c);
    double v;
    if (bits & MCTS_DRAWN) {
      v = g_mcts.prm.draw_value[p.side()];
    } else {
      Position child;
      if (!make_move(p, child, m)) {
        unlock(c);
        ar(c.n).fetch_sub(1, std::memory_order_relaxed);
        return false;
      }
      child.in_check = king_attacked(child, child.side()) ? 1 : 0;
      const int s = mcts_leaf_value(sd, child, ply + 1, bits);
      if (hard_stopped(sd)) {
        unlock(c);
        ar(c.n).fetch_sub(1, std::memory_order_relaxed);
        return false;
      }
      v = mcts_value_of(s);
    }
    add_d(c.N, 1.0);
    ar(c.W).store(v * 3.0, std::memory_order_relaxed);
    unlock(c);
    result = 1.0 - v;
    return true;
  }
  ar(c.n).fetch_sub(1, std::memory_order_relaxed);
  Position child;
  if (!make_move(p, child, m)) return false;
  child.in_check = king_attacked(child, child.side()) ? 1 : 0;
  ar(c.vl).fetch_add(1, std::memory_order_relaxed);
  double v;
  bool ok;
  if (move_bits(c) & MCTS_DRAWN) {
    v = g_mcts.prm.draw_value[p.side()];
    ok = true;
  } else {
    ok = mcts_playout(sd, v, ci, child, ply + 1);
  }
  if (!ok || hard_stopped(sd)) {
    ar(c.vl).fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  add_d(c.W, v);
  add_d(c.N, 1.0);
  ar(c.vl).fetch_sub(1, std::memory_order_relaxed);
  ar(c.n).fetch_add(1, std::memory_order_relaxed);
  result = 1.0 - v;
  return true;
}

bool mcts_root_playout(SearchData& sd, double& value) {
  if (!mcts_playout(sd, value, 0, sd.root_pos, 0)) return false;
  MctsNode& r = g_mcts.pool[0];
  add_d(r.W, value);
  add_d(r.N, 1.0);
  ar(r.n).fetch_add(1, std::memory_order_relaxed);
  return true;
}

void mcts_worker(SearchData& sd) {
  while (!sd.th->stop.load(std::memory_order_relaxed) && !mcts_pool_nearly_full()) {
    double v;
    if (!mcts_root_playout(sd, v)) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

// ------------------------------------------------------------------ prior cache

namespace {

inline uint32_t fnv1a(Move m) {
  const uint32_t v = m;
  uint32_t h = 2166136261u;
  for (int i = 0; i < 4; i++) {
    h ^= (v >> (8 * i)) & 0xFF;
    h *= 16777619u;
  }
  return h;
}

struct CacheEntry {
  uint64_t key = 0;
  uint64_t stamp = 0;  // 0 = empty
  float value = 0.5f;
  MoveTable table;
};

constexpr int CACHE_WAYS = 4;
constexpr size_t CACHE_SETS = 2048;

std::mutex cache_mutex;
std::vector<CacheEntry> cache;  // CACHE_SETS * CACHE_WAYS, allocated on first use
uint64_t cache_clock = 0;

CacheEntry* cache_set(uint64_t key) {
  if (cache.empty()) cache.resize(CACHE_SETS * CACHE_WAYS);
  return &cache[(key % CACHE_SETS) * CACHE_WAYS];
}

}  // namespace

void MoveTable::clear() {
  std::memset(moves, 0, sizeof moves);
  count = 0;
}

bool MoveTable::put(Move m, float prior) {
  if (!m) return false;
  for (uint32_t i = fnv1a(m) % SLOTS, probes = 0; probes < SLOTS; i = (i + 1) % SLOTS, probes++) {
    if (moves[i] == m) {
      priors[i] = prior;
      return true;
    }
    if (moves[i] == 0) {
      if (count >= MAX_ENTRIES) return false;
      moves[i] = m;
      priors[i] = prior;
      count++;
      return true;
    }
  }
  return false;
}

float MoveTable::get(Move m) const {
  if (!m) return 0;
  for (uint32_t i = fnv1a(m) % SLOTS, probes = 0; probes < SLOTS; i = (i + 1) % SLOTS, probes++) {
    if (moves[i] == m) return priors[i];
    if (moves[i] == 0) return 0;
  }
  return 0;
}

bool prior_lookup(uint64_t key, MoveTable& table, float& value) {
  std::lock_guard<std::mutex> lk(cache_mutex);
  CacheEntry* set = cache_set(key);
  for (int w = 0; w < CACHE_WAYS; w++)
    if (set[w].stamp && set[w].key == key) {
      set[w].stamp = ++cache_clock;
      table = set[w].table;
      value = set[w].value;
      return true;
    }
  table.clear();
  return false;
}

void prior_store(uint64_t key, const MoveTable& table, float value) {
  std::lock_guard<std::mutex> lk(cache_mutex);
  CacheEntry* set = cache_set(key);
  CacheEntry* victim = &set[0];
  for (int w = 0; w < CACHE_WAYS; w++) {
    if (set[w].stamp && set[w].key == key) {
      victim = &set[w];
      break;
    }
    if (set[w].stamp < victim->stamp) victim = &set[w];
  }
  victim->key = key;
  victim->stamp = ++cache_clock;
  victim->value = value;
  victim->table = table;
}

void prior_cache_clear() {
  std::lock_guard<std::mutex> lk(cache_mutex);
  for (auto& e : cache) e.stamp = 0;
}

}  // namespace quorix
