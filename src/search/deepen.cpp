#include "search/deepen.h"

#include <algorithm>
#include <cstdlib>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "search/control.h"
#include "search/hooks.h"
#include "search/settings.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "util/log.h"
#include "util/quit.h"

namespace quorix {

char g_best_text[16] = "0000";
char g_ponder_text[16] = "";

namespace {

// Text of the ponder move: the second move of the line when it is legal after the first.
void name_ponder_move(const Position& root, Move best, Move reply) {
  g_ponder_text[0] = 0;
  if (!reply) return;
  Position child, grandchild;
  if (!make_move(root, child, best)) return;
  child.in_check = king_attacked(child, child.side()) ? 1 : 0;
  if (is_pseudo_legal(child, reply) && make_move(child, grandchild, reply)) move_to_text(child, reply, g_ponder_text);
}

// Dynamic contempt: a completed iteration's score (clamped to +-50) shifts the contempt.
void follow_score_with_contempt(int s) {
  const int sc = std::clamp(s, -50, 50);
  apply_contempt(g_settings.contempt + (32 * sc) / (std::abs(sc) + 100));
}

}  // namespace

DeepeningResult iterative_deepening(SearchData& sd, const Position& root, int phase, bool infinite) {
  DeepeningResult res;
  SearchThread& t0 = *sd.th;
  int prev_score = 0;
  for (int d = 1;; d++) {
    g_ctl.instability *= 0.5;
    g_ctl.step_weight = 1.0;
    if (quit_requested.load()) break;
    g_ctl.failing_low = false;
    g_ctl.accepted_fail_high = false;
    if (g_search_hooks.iteration_start) g_search_hooks.iteration_start(d);
    if (d == 1 && !infinite && g_search_hooks.book_move) {
      res.book_move = g_search_hooks.book_move(root);
      if (res.book_move) break;
    }
    sd.iteration = d;
    sd.iter_score[d] = -NO_SCORE;
    g_ctl.changes = false;
    const bool done = iteration_search(sd, d);
    const int s = sd.iter_score[d];
    if (done) follow_score_with_contempt(s);
    if (quit_requested.load()) break;
    if (s > -NO_SCORE && sd.depth_pv[d][0]) {
      move_to_text(root, sd.depth_pv[d][0], g_best_text);
      name_ponder_move(root, sd.depth_pv[d][0], sd.depth_pv[d][1]);
      res.last_depth = d;
    }
    if (done) {
      update_soft_time(d, s, prev_score, phase, t0.stop.load() != 0);
      prev_score = s;
    }
    if (t0.stop.load() || !done) {
      log_printf("iteration: aborted\n");
      break;
    }
    if (iteration_time_up(s, d, g_root_move_count) && !pondering) break;
    if (d >= g_settings.skill_depth || d >= g_ctl.max_depth || d > 1000) break;
  }
  return res;
}

}  // namespace quorix
