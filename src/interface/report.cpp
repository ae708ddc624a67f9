// Search reports: iteration, principal variation, current move, periodic and final lines.
#include "interface/report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/makemove.h"
#include "board/movetext.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/tt.h"

namespace quorix {

double search_elapsed() {
  float e = float(elapsed_seconds() - g_ctl.start);
  return e < 0.001f ? 0.001f : e;
}

namespace {

struct Figures {
  double elapsed;
  unsigned long long time_ms, nodes, nps;
};

Figures figures() {
  Figures f;
  f.elapsed = search_elapsed();
  f.time_ms = (unsigned long long)(f.elapsed * 1000);
  f.nodes = total_nodes();
  f.nps = (unsigned long long)(double(f.nodes) / f.elapsed);
  return f;
}

}  // namespace

void score_text(int v, int bound, char* out, size_t n) {
  const bool tb_root = g_ctl.tb_root_score != INT_MAX;
  if (tb_root && std::abs(v) < MATE_BOUND) {
    v = g_ctl.tb_root_score;
    bound = 0;
  }
  int len;
  if (std::abs(v) >= MATE_BOUND) {
    int m = v > 0 ? (MATE - v) / 2 + 1 : -((MATE - 1 - std::abs(v)) / 2) - 1;
    len = std::snprintf(out, n, "mate %d", m);
  } else if (tb_root && std::abs(v) >= 31700) {
    len = std::snprintf(out, n, "mate %d", v > 0 ? 1000 : -1000);
  } else {
    int c = v > 25000 ? 25000 : v < -25000 ? -25000 : v;
    len = std::snprintf(out, n, "cp %d", c);
  }
  if (len < 0 || size_t(len) >= n) return;
  if (bound == 1) std::snprintf(out + len, n - size_t(len), " lowerbound");
  else if (bound == 2) std::snprintf(out + len, n - size_t(len), " upperbound");
}

void pv_text(const Position& root, const Move* pv, char* out, size_t n) {
  size_t used = 0;
  out[0] = 0;
  Position pos[2];
  const Position* cur = &root;
  char mv[16];
  for (int i = 0; pv[i] && i < PV_MAX; i++) {
    // Only legal continuations are printed; the line ends at the first bad move.
    if (!is_pseudo_legal(*cur, pv[i])) break;
    Position& next = pos[i & 1];
    if (!make_move(*cur, next, pv[i])) break;
    next.in_check = king_attacked(next, next.side()) ? 1 : 0;
    move_to_text(*cur, pv[i], mv);
    size_t l = std::strlen(mv);
    if (used + l + 2 >= n) break;
    std::memcpy(out + used, mv, l);
    used += l;
    out[used++] = ' ';
    out[used] = 0;
    cur = &next;
  }
}

void report_iteration_start(int depth) {
  if (g_ctl.quiet) return;
  Figures f = figures();
  std::printf("info depth %d time %llu nodes %llu nps %llu\n", depth, f.time_ms, f.nodes, f.nps);
  std::fflush(stdout);
}

void report_pv(int depth, int score, int bound, const Move* pv) {
  if (g_ctl.quiet || depth <= opt::minimal_reporting) return;
  Figures f = figures();
  char st[48], line[2048], hf[32] = "";
  score_text(score, bound, st, sizeof st);
  pv_text(g_sdata[0].root_pos, pv, line, sizeof line);
  if (depth >= 18) std::snprintf(hf, sizeof hf, " hashfull %d", g_tt.clusters ? tt_hashfull() : 0);
  std::printf("info depth %d time %llu nodes %llu score %s nps %llu%s tbhits %llu pv %s\n", depth, f.time_ms, f.nodes, st,
              f.nps, hf, (unsigned long long)g_tb_hits.load(std::memory_order_relaxed), line);
  std::fflush(stdout);
  // Log copy: score after the tablebase substitution, PV cut to whole moves within 31 characters.
  int v = score;
  if (g_ctl.tb_root_score != INT_MAX && std::abs(v) < MATE_BOUND) v = g_ctl.tb_root_score;
  char cut[32];
  size_t cut_len = std::min(std::strlen(line), sizeof cut - 1);
  std::memcpy(cut, line, cut_len);
  cut[cut_len] = 0;
  if (std::strlen(line) > 31) {
    char* sp = std::strrchr(cut, ' ');
    if (sp) *sp = 0;
  }
  const char* mark = bound == 1 ? "FH" : bound == 2 ? "FL" : "--";
  log_printf("info: %3d %8.2f %8d %s  %s\n", depth, f.elapsed, v, mark, cut);
}

void report_multipv(int depth) {
  if (g_ctl.quiet || depth <= opt::minimal_reporting) return;
  Figures f = figures();
  const SearchData& sd = g_sdata[0];
  int k = opt::multipv < sd.root_count ? opt::multipv : sd.root_count;
  for (int i = 0; i < k; i++) {
    char st[48], line[512];
    score_text(sd.root[i].score, 0, st, sizeof st);
    pv_text(sd.root_pos, sd.root[i].pv, line, sizeof line);
    std::printf("info multipv %d depth %d time %llu nodes %llu score %s nps %llu tbhits %llu pv %s\n", i + 1, depth,
                f.time_ms, f.nodes, st, f.nps, (unsigned long long)g_tb_hits.load(std::memory_order_relaxed), line);
  }
  std::fflush(stdout);
}

void report_currmove(const Position& root, Move m, int number) {
  char mv[16];
  move_to_text(root, m, mv);
  std::printf("info currmove %s currmovenumber %d\n", mv, number);
}

void report_final() {
  Figures f = figures();
  std::printf("info time %llu nodes %llu nps %llu\n", f.time_ms, f.nodes, f.nps);
  std::fflush(stdout);
}

void report_nodes() {
  std::printf("info nodes %llu\n", (unsigned long long)total_nodes());
  std::fflush(stdout);
}

}  // namespace quorix
