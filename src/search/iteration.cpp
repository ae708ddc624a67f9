// One iteration of iterative deepening with aspiration windows, per thread.
#include <cstdlib>
#include <cstring>

#include "search/hooks.h"
#include "util/clock.h"
#include "search/control.h"
#include "search/search.h"

namespace quorix {

namespace {

inline void report_pv_hook(int depth, int score, int bound, const Move* pv) {
  if (g_search_hooks.pv) g_search_hooks.pv(depth, score, bound, pv);
}
inline void report_multipv_hook(int depth) {
  if (g_search_hooks.multipv) g_search_hooks.multipv(depth);
}

constexpr int INF = 32001;
constexpr int WINDOW_OFFSETS[16] = {0, 0, 2, -2, 4, -4, 1, -1, 3, -3, 5, -5, 6, -6, 7, -7};

// Row of the continuation table for the move made `back` plies before position p.
size_t cont_row(const Position& p, int back) {
  const Position* x = &p;
  for (int i = 1; i < back && x; i++) x = x->his;
  if (!x || !x->his) return 0;
  Move m = x->last_move;
  if (!m) return size_t(x->his->side()) * 8;
  return size_t(x->his->board[move_from(m)]) * 64 + size_t(move_to(m));
}

void save_result(SearchData& sd, int d, int score) {
  sd.iter_score[d] = score;
  int n = sd.pv_len[0];
  if (n > PV_MAX - 1) n = PV_MAX - 1;
  std::memcpy(sd.depth_pv[d], sd.pv[0], sizeof(Move) * size_t(n));
  sd.depth_pv[d][n] = 0;
}

}  // namespace

void attach_to_thread(Position& p, SearchThread& th) {
  p.mat_table = th.mat_table;
  p.pawn_table = th.pawn_table;
  const size_t r1 = cont_row(p, 1), r2 = cont_row(p, 2), r4 = cont_row(p, 4);
  p.cont[0] = th.cont_history + r1 * CONT_ROW_SIZE;
  p.cont[1] = th.cont_history + r2 * CONT_ROW_SIZE;
  p.cont[2] = th.cont_history + r4 * CONT_ROW_SIZE;
}

void prepare_thread_root(SearchData& sd) {
  SearchThread& th = *sd.th;
  std::memcpy(static_cast<void*>(&sd.root_pos), &g_root_position, sizeof(Position));
  Position& r = sd.root_pos;
  attach_to_thread(r, th);
  if (g_root_position.his) {
    std::memcpy(static_cast<void*>(&sd.root_parent), g_root_position.his, sizeof(Position));
    attach_to_thread(sd.root_parent, th);
    r.his = &sd.root_parent;
  }
  r.nn_eval_valid = 0;
  r.acc_computed = 0;
  sd.root_count = g_root_move_count;
  for (int i = 0; i < g_root_move_count; i++) {
    sd.root[i] = g_root_moves[i];
    sd.root[i].score = -INF;
    sd.root[i].pv[0] = 0;
  }
  sd.iteration = 0;
  for (int& s : sd.iter_score) s = -INF;
  std::memset(sd.pv_len, 0, sizeof sd.pv_len);
  for (auto& k : th.killers) k[0] = k[1] = 0;
  std::memset(th.counter_moves, 0, sizeof th.counter_moves);
}

bool iteration_search(SearchData& sd, int d) {
  const bool main = sd.index == 0;
  Position& root = sd.root_pos;
  const int depth = 2 * d;
  const int prev = d > 1 ? sd.iter_score[d - 1] : 0;
  auto stopped = [&] { return sd.th->stop.load(std::memory_order_relaxed) != 0; };
  if (main) g_ctl.failing_low = false;

  if (d < 5 || g_multipv > 1) {
    int v;
    if (d < 2 || g_multipv < 2) {
      v = search_root(sd, root, depth, -INF, INF);
    } else {
      int b = prev + 50;
      v = search_root(sd, root, depth, -INF, b);
      if (!stopped() && (v >= b || v < -32000)) v = search_root(sd, root, depth, -INF, INF);
    }
    if (stopped()) return false;
    save_result(sd, d, v);
    sd.last_bound = 0;
    if (main) {
      g_shared_best_score.store(v, std::memory_order_relaxed);
      if (g_multipv > 1) report_multipv_hook(d);
      else report_pv_hook(d, v, 0, sd.depth_pv[d]);
    }
    return true;
  }

  int centre = main ? prev : g_shared_best_score.load(std::memory_order_relaxed) + WINDOW_OFFSETS[sd.index & 15];
  int alpha = centre - 7, beta = centre + 7, delta = 7;
  for (;;) {
    if (alpha < -32000) alpha = -INF;
    if (beta > 32000) beta = INF;
    int v = search_root(sd, root, depth, alpha, beta);
    if (stopped()) return false;
    save_result(sd, d, v);
    if (v > alpha && v < beta) {
      sd.last_bound = 0;
      if (main) {
        g_shared_best_score.store(v, std::memory_order_relaxed);
        report_pv_hook(d, v, 0, sd.depth_pv[d]);
      }
      break;
    }
    delta = int(delta * 1.4);
    if (v >= beta) {
      sd.last_bound = 1;
      if (!main) return true;
      report_pv_hook(d, v, 1, sd.depth_pv[d]);
      if (g_thread_count == 1 && !g_analysis && std::abs(v) < 390) {
        bool accept = false;
        if (g_ctl.failing_low && !g_ctl.accepted_fail_high && std::abs(v) <= 389) {
          accept = true;
        } else {
          double now = elapsed_seconds();
          if (now >= g_ctl.t3 || now >= g_ctl.t2 ||
              (now >= g_ctl.t15 && sd.depth_pv[d][0] && sd.depth_pv[d][0] == sd.depth_pv[d - 1][0]))
            accept = true;
        }
        if (accept) {
          g_ctl.accepted_fail_high = true;
          break;
        }
      }
      alpha = v - delta / 4;
      beta = v + delta;
    } else {
      sd.last_bound = 2;
      if (main) report_pv_hook(d, v, 2, sd.depth_pv[d]);
      beta = v + delta / 4;
      alpha = v - delta;
      if (main) {
        g_ctl.changes = true;
        g_ctl.failing_low = true;
        g_ctl.accepted_fail_high = false;
      }
    }
    if (alpha < -700) alpha = -INF;
    if (beta > 700) beta = INF;
  }
  if (main) {
    g_ctl.accepted_fail_high = false;
    g_ctl.failing_low = false;
  }
  return true;
}

}  // namespace quorix
