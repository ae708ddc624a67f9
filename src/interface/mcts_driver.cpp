// The protocol side of a Monte-Carlo search: the book, the periodic and final reports, the
// wait of ponder and infinite searches, and "bestmove". The search itself is search/mcts_loop.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/driver.h"
#include "interface/options.h"
#include "interface/report.h"
#include "interface/root_hooks.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/hooks.h"
#include "search/mcts.h"
#include "search/mcts_loop.h"
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

// The periodic report of thread 0, for the root the search was started on.
const Position* g_report_root = nullptr;

void report_periodic() {
  const Position& root = *g_report_root;
  const Clock t = search_clock();
  const uint64_t nodes = g_mcts.used.load();
  const unsigned long long nps = nodes * 1000 / t.ms;
  const int depth = mcts_depth_for(nodes), seldepth = g_mcts.seldepth.load();
  if (g_multipv > 1) {
    uint32_t kids[MAX_ROOT_MOVES];
    int k = 0;
    for (uint32_t c = g_mcts.pool[0].first_child; c && k < MAX_ROOT_MOVES; c = g_mcts.pool[c].next_sibling) kids[k++] = c;
    std::stable_sort(kids, kids + k, [](uint32_t a, uint32_t b) { return mcts_count_of(a) > mcts_count_of(b); });
    const unsigned long long mnps = t.ms < 1 ? 0 : (unsigned long long)(double(nodes) / (double(t.ms) * 0.001));
    for (int i = 0; i < k && i < g_multipv; i++) {
      Move pv[2] = {node_move(g_mcts.pool[kids[i]]), 0};
      char line[64];
      pv_text(root, pv, line, sizeof line);
      std::printf("info multipv %d depth %d seldepth %d time %llu nodes %llu nps %llu score cp %d tbhits %llu pv %s\n",
                  i + 1, depth, seldepth, t.ms, (unsigned long long)nodes, mnps, mcts_cp_of(mcts_mean_of(kids[i])),
                  (unsigned long long)g_tb_hits, line);
    }
  } else {
    Move pv[PV_MAX];
    mcts_tree_pv(pv, 32);
    const uint32_t best = mcts_best_child(0);
    char line[512];
    pv_text(root, pv, line, sizeof line);
    std::printf("info depth %d seldepth %d time %llu score cp %d nodes %llu nps %llu pv %s\n", depth, seldepth, t.ms,
                best ? mcts_cp_of(mcts_mean_of(best)) : 0, (unsigned long long)nodes, nps, line);
  }
  std::fflush(stdout);
}

}  // namespace

bool mcts_think(Position& root, bool infinite, double target) {
  if (!g_mcts.pool || g_mcts.capacity < uint64_t(200 * g_thread_count + 2 * MAX_ROOT_MOVES)) return false;
  // A book move is played by the ordinary path, which asks the book at its first iteration.
  if (!infinite && book_probe_root(root)) return false;

  SearchThread& t0 = g_threads[0];
  SearchData& sd = g_sdata[0];
  mcts_prepare(sd, root, target);
  g_report_root = &root;
  g_search_hooks.mcts_report = report_periodic;

  g_mcts_running.store(true);
  if (!t0.stop.load()) mcts_search(sd, infinite);
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
  const Move bm = best ? node_move(g_mcts.pool[best]) : mcts_fallback_move(root);
  if (bm) move_to_text(root, bm, g_best_text);
  else std::strcpy(g_best_text, "0000");
  g_ponder_text[0] = 0;
  if (!g_ctl.quiet) {
    const Clock t = search_clock();
    const uint64_t nodes = g_mcts.used.load();
    Move pv[PV_MAX];
    mcts_tree_pv(pv, 32);
    if (!best) {
      pv[0] = bm;
      pv[1] = 0;
    }
    char line[512];
    pv_text(root, pv, line, sizeof line);
    const int cp = best ? mcts_cp_of(mcts_mean_of(best)) : 0;
    const int hashfull = int(nodes * 1000 / std::max<uint64_t>(g_mcts.capacity, 1));
    std::printf("info depth %d seldepth %d time %llu nodes %llu nps %llu score cp %d tbhits %llu hashfull %d pv %s\n",
                mcts_depth_for(nodes), g_mcts.seldepth.load(), t.ms, (unsigned long long)nodes,
                (unsigned long long)(nodes * 1000 / t.ms), cp, (unsigned long long)g_tb_hits, hashfull, line);
    std::printf("bestmove %s\n", g_best_text);
    std::fflush(stdout);
  }
  log_printf("mcts: nodes %llu playouts %llu\n", (unsigned long long)g_mcts.used.load(),
             (unsigned long long)(mcts_count_of(0) - g_mcts.start_count));
  log_printf("bestmove: %s\n", g_best_text);
  mcts_apply_pending_resize();
  return true;
}

}  // namespace quorix
