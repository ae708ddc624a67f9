// The driver of a Monte-Carlo search: seeding, tree reuse, the playout loop on thread 0 with
// its time rules, the periodic and final reports and "bestmove".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/driver.h"
#include "interface/mcts_driver.h"
#include "interface/options.h"
#include "interface/report.h"
#include "interface/root_hooks.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/mcts.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"

namespace quorix {

namespace {

struct Clock {
  unsigned long long ms;
  double seconds;
};

Clock search_clock() {
  double e = elapsed_seconds() - g_ctl.start;
  unsigned long long ms = (unsigned long long)(e * 1000);
  if (ms < 1) ms = 1;
  return {ms, e};
}

// Principal variation along the most visited children.
int tree_pv(Move* pv, int max) {
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

double mean_of(uint32_t c) {
  const MctsNode& x = g_mcts.pool[c];
  const double N = std::atomic_ref<const double>(x.N).load(std::memory_order_relaxed);
  return N > 0 ? std::atomic_ref<const double>(x.W).load(std::memory_order_relaxed) / N : 0.5;
}

uint64_t count_of(uint32_t c) {
  return std::atomic_ref<const uint64_t>(g_mcts.pool[c].n).load(std::memory_order_relaxed);
}

void report_periodic(const Position& root) {
  const Clock t = search_clock();
  const uint64_t nodes = g_mcts.used.load();
  const unsigned long long nps = nodes * 1000 / t.ms;
  const int depth = mcts_depth_for(nodes), seldepth = g_mcts.seldepth.load();
  if (g_multipv > 1) {
    uint32_t kids[MAX_ROOT_MOVES];
    int k = 0;
    for (uint32_t c = g_mcts.pool[0].first_child; c && k < MAX_ROOT_MOVES; c = g_mcts.pool[c].next_sibling) kids[k++] = c;
    std::stable_sort(kids, kids + k, [](uint32_t a, uint32_t b) { return count_of(a) > count_of(b); });
    const unsigned long long mnps = t.ms < 1 ? 0 : (unsigned long long)(double(nodes) / (double(t.ms) * 0.001));
    for (int i = 0; i < k && i < g_multipv; i++) {
      Move pv[2] = {node_move(g_mcts.pool[kids[i]]), 0};
      char line[64];
      pv_text(root, pv, line, sizeof line);
      std::printf("info multipv %d depth %d seldepth %d time %llu nodes %llu nps %llu score cp %d tbhits %llu pv %s\n",
                  i + 1, depth, seldepth, t.ms, (unsigned long long)nodes, mnps, mcts_cp_of(mean_of(kids[i])),
                  (unsigned long long)g_tb_hits, line);
    }
  } else {
    Move pv[PV_MAX];
    tree_pv(pv, 32);
    const uint32_t best = mcts_best_child(0);
    char line[512];
    pv_text(root, pv, line, sizeof line);
    std::printf("info depth %d seldepth %d time %llu score cp %d nodes %llu nps %llu pv %s\n", depth, seldepth, t.ms,
                best ? mcts_cp_of(mean_of(best)) : 0, (unsigned long long)nodes, nps, line);
  }
  std::fflush(stdout);
}

// After the soft limit: stop when the best root child cannot be caught in the time left,
// otherwise exclude the children that cannot catch it.
bool soft_limit_stop(double now) {
  uint32_t best = 0, second = 0;
  for (uint32_t c = g_mcts.pool[0].first_child; c; c = g_mcts.pool[c].next_sibling) {
    if (!best || count_of(c) > count_of(best)) {
      second = best;
      best = c;
    } else if (!second || count_of(c) > count_of(second)) {
      second = c;
    }
  }
  if (!best) return false;
  const double elapsed = std::max(now - g_ctl.start, 1e-3);
  const uint64_t root_n = count_of(0);
  const double rate = double(root_n > g_mcts.start_count ? root_n - g_mcts.start_count : 0) / elapsed;
  const double possible = 0.25 * std::max(g_ctl.hard - now, 0.0) * 3 * rate;
  const double lead = double(count_of(best)) - double(second ? count_of(second) : 0);
  if (lead > possible) return true;
  for (uint32_t c = g_mcts.pool[0].first_child; c; c = g_mcts.pool[c].next_sibling)
    if (c <= MAX_ROOT_MOVES && double(count_of(best)) - double(count_of(c)) > possible)
      g_mcts.excluded[c].store(1, std::memory_order_relaxed);
  return false;
}

// A legal answer when the tree has no root children yet (stopped during the root's expansion):
// the seeding search's hash move when it is a root move, else the first root move.
Move fallback_move(const Position& root) {
  if (g_tt.clusters) {
    TTEntry* e = tt_probe(root.key);
    if (e && e->move)
      for (int i = 0; i < g_root_move_count; i++)
        if (g_root_moves[i].move == e->move) return e->move;
  }
  return g_root_move_count > 0 ? g_root_moves[0].move : 0;
}

}  // namespace

void mcts_search(SearchData& sd, const Position& root, bool infinite) {
  SearchThread& t0 = *sd.th;
  // Thread 0 expands the root before the workers join.
  double v;
  if (!g_mcts.pool[0].first_child) mcts_root_playout(sd, v);
  threads_start_search();
  double next_report = g_ctl.start + 2.0;
  for (;;) {
    if (t0.stop.load() || poll_check()) break;
    if (mcts_pool_nearly_full()) break;
    if (!mcts_root_playout(sd, v)) std::this_thread::yield();
    if (t0.stop.load()) break;
    const uint64_t visits = count_of(0) - g_mcts.start_count;
    if (g_root_move_count == 1 && visits >= 10) break;
    // A depth limit ("go depth") ends the search when the reported depth reaches it.
    if (g_ctl.max_depth < 99 && mcts_depth_for(g_mcts.used.load()) >= g_ctl.max_depth) break;
    const double now = elapsed_seconds();
    if (now >= next_report && !g_ctl.quiet) {
      report_periodic(root);
      next_report = now + 2.0;
    }
    if (!pondering && !infinite && now > g_ctl.soft && soft_limit_stop(now)) break;
  }
  threads_stop_search();
}

bool mcts_think(Position& root, bool infinite, double target) {
  const int threads = std::min(g_thread_count, 128);
  if (!g_mcts.pool || g_mcts.capacity < uint64_t(200 * g_thread_count + 2 * MAX_ROOT_MOVES)) return false;
  // A book move is played by the ordinary path, which asks the book at its first iteration.
  if (!infinite && book_probe_root(root)) return false;

  SearchThread& t0 = g_threads[0];
  SearchData& sd = g_sdata[0];
  build_search_tables(g_thread_count, true);
  g_ctl.alpha_beta = false;
  g_ctl.t3 = 2 * UNTIMED;  // the alpha-beta rule for a first root move does not apply
  g_ctl.hard = std::min(g_ctl.hard, g_ctl.start + target);
  mcts_set_params(target, threads);

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

  g_mcts_running.store(true);
  if (!t0.stop.load()) mcts_search(sd, root, infinite);
  sd.searching = false;
  // Ponder and infinite searches answer only after "stop" or "ponderhit".
  while ((pondering || infinite) && !t0.stop.load() && !stop_requested) {
    if (input_pending()) {
      process_command();
      if (quit_requested.load()) shutdown_and_exit(0);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  g_mcts_running.store(false);

  const uint32_t best = mcts_best_child(0);
  const Move bm = best ? node_move(g_mcts.pool[best]) : fallback_move(root);
  if (bm) move_to_text(root, bm, g_best_text);
  else std::strcpy(g_best_text, "0000");
  g_ponder_text[0] = 0;
  if (!g_ctl.quiet) {
    const Clock t = search_clock();
    const uint64_t nodes = g_mcts.used.load();
    Move pv[PV_MAX];
    tree_pv(pv, 32);
    if (!best) {
      pv[0] = bm;
      pv[1] = 0;
    }
    char line[512];
    pv_text(root, pv, line, sizeof line);
    const int cp = best ? mcts_cp_of(mean_of(best)) : 0;
    const int hashfull = int(nodes * 1000 / std::max<uint64_t>(g_mcts.capacity, 1));
    std::printf("info depth %d seldepth %d time %llu nodes %llu nps %llu score cp %d tbhits %llu hashfull %d pv %s\n",
                mcts_depth_for(nodes), g_mcts.seldepth.load(), t.ms, (unsigned long long)nodes,
                (unsigned long long)(nodes * 1000 / t.ms), cp, (unsigned long long)g_tb_hits, hashfull, line);
    std::printf("bestmove %s\n", g_best_text);
    std::fflush(stdout);
  }
  log_printf("mcts: nodes %llu playouts %llu\n", (unsigned long long)g_mcts.used.load(),
             (unsigned long long)(count_of(0) - g_mcts.start_count));
  log_printf("bestmove: %s\n", g_best_text);
  mcts_apply_pending_resize();
  return true;
}

}  // namespace quorix
