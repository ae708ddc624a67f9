#include "search/mcts_loop.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "search/control.h"
#include "search/hooks.h"
#include "search/mcts.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"
#include "util/clock.h"
#include "util/log.h"

namespace quorix {

double mcts_mean_of(uint32_t c) {
  const MctsNode& x = g_mcts.pool[c];
  const double N = std::atomic_ref<const double>(x.N).load(std::memory_order_relaxed);
  return N > 0 ? std::atomic_ref<const double>(x.W).load(std::memory_order_relaxed) / N : 0.5;
}

uint64_t mcts_count_of(uint32_t c) {
  return std::atomic_ref<const uint64_t>(g_mcts.pool[c].n).load(std::memory_order_relaxed);
}

int mcts_tree_pv(Move* pv, int max) {
  int k = 0;
  uint32_t node = 0;
  while (k < max - 1) {
    const uint32_t c = mcts_best_child(node);
    if (!c) break;
    pv[k++] = node_move(g_mcts.pool[c]);
    node = c;
  }
  pv[k] = 0;
  return k;
}

Move mcts_fallback_move(const Position& root) {
  if (g_tt.clusters) {
    TTEntry* e = tt_probe(root.key);
    if (e && e->move)
      for (int i = 0; i < g_root_move_count; i++)
        if (g_root_moves[i].move == e->move) return e->move;
  }
  return g_root_move_count > 0 ? g_root_moves[0].move : 0;
}

namespace {

// After the soft limit: stop when the best root child cannot be caught in the time left,
// otherwise exclude the children that cannot catch it.
bool soft_limit_stop(double now) {
  uint32_t best = 0, second = 0;
  for (uint32_t c = g_mcts.pool[0].first_child; c; c = g_mcts.pool[c].next_sibling) {
    if (!best || mcts_count_of(c) > mcts_count_of(best)) {
      second = best;
      best = c;
    } else if (!second || mcts_count_of(c) > mcts_count_of(second)) {
      second = c;
    }
  }
  if (!best) return false;
  const double elapsed = std::max(now - g_ctl.start, 1e-3);
  const uint64_t root_n = mcts_count_of(0);
  const double rate = double(root_n > g_mcts.start_count ? root_n - g_mcts.start_count : 0) / elapsed;
  const double possible = 0.25 * std::max(g_ctl.hard - now, 0.0) * 3 * rate;
  const double lead = double(mcts_count_of(best)) - double(second ? mcts_count_of(second) : 0);
  if (lead > possible) return true;
  for (uint32_t c = g_mcts.pool[0].first_child; c; c = g_mcts.pool[c].next_sibling)
    if (c <= MAX_ROOT_MOVES && double(mcts_count_of(best)) - double(mcts_count_of(c)) > possible)
      g_mcts.excluded[c].store(1, std::memory_order_relaxed);
  return false;
}

}  // namespace

void mcts_prepare(SearchData& sd, const Position& root, double target) {
  SearchThread& t0 = *sd.th;
  build_search_tables(g_thread_count, true);
  g_ctl.alpha_beta = false;
  g_ctl.t3 = 2 * UNTIMED;  // the alpha-beta rule for a first root move does not apply
  g_ctl.hard = std::min(g_ctl.hard, g_ctl.start + target);
  mcts_set_params(target, std::min(g_thread_count, 128));

  // Seed the hash table with a short full-window search of the root.
  prepare_thread_root(sd);
  t0.nodes = 0;
  sd.searching = true;
  mcts_budgeted_search(sd, sd.root_pos, 0, g_mcts.prm.seed_budget, 22);

  const bool new_game = int(root.ply) < g_mcts.last_root_ply;
  double share = 0;
  if (new_game || !mcts_reuse_tree(root, &share)) mcts_reset_tree(root);
  g_mcts.last_root_ply = root.ply;
  log_printf("tree kept: %.3f\n", share);
}

void mcts_search(SearchData& sd, bool infinite) {
  SearchThread& t0 = *sd.th;
  // Thread 0 expands the root before the workers join.
  double v;
  if (!g_mcts.pool[0].first_child) mcts_root_playout(sd, v);
  threads_start_search();
  double next_report = g_ctl.start + 2.0;
  for (;;) {
    if (t0.stop.load() || (g_search_hooks.poll && g_search_hooks.poll())) break;
    if (mcts_pool_nearly_full()) break;
    if (!mcts_root_playout(sd, v)) std::this_thread::yield();
    if (t0.stop.load()) break;
    const uint64_t visits = mcts_count_of(0) - g_mcts.start_count;
    if (g_root_move_count == 1 && visits >= 10) break;
    // A depth limit ("go depth") ends the search when the reported depth reaches it.
    if (g_ctl.max_depth < 99 && mcts_depth_for(g_mcts.used.load()) >= g_ctl.max_depth) break;
    const double now = elapsed_seconds();
    if (now >= next_report && !g_ctl.quiet) {
      if (g_search_hooks.mcts_report) g_search_hooks.mcts_report();
      next_report = now + 2.0;
    }
    if (!pondering && !infinite && now > g_ctl.soft && soft_limit_stop(now)) break;
  }
  threads_stop_search();
}

}  // namespace quorix
