#include "search/timeman.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "search/search.h"
#include "search/thread.h"
#include "util/clock.h"
#include "util/log.h"

namespace quorix {

void clock_allotment(const SearchLimits& lim, int ply, int threads, const TimeOptions& o, double& target,
                     double& hard) {
  const bool black = ply & 1;
  const double T = black ? lim.btime : lim.wtime;
  const double I = black ? lim.binc : lim.winc;
  const double n = threads;
  const double O = o.overhead_ms;
  const double U = o.time_usage;
  const int P = ply;
  const int M = lim.movestogo;
  if (M != 0) {
    double per = T / (M + 2);
    double x;
    if (P <= 77) x = 1.2 * per;
    else if (M <= 40) x = std::pow(2.0, std::pow(0.025 * M, 3.75)) * per;
    else x = 2 * per;
    x *= o.mcts ? 1.55 : 1.1;
    if (o.ponder_credit) x *= 1.33;
    target = std::max(x * (1 + U / 100) - (n + O) / 1000, 0.005);
    hard = 0.9 * (T - 0.002 * O);
  } else {
    double base = I < O / 1000 ? 20 : 16;
    double t = std::min(std::log2(n), 8.0) + 1;
    double divisor;
    if (P <= 77) {
      double start = (I < O / 1000 ? 50 : 42) - 2 * t;
      divisor = start + (base - start) * (P / 2 + 1) * 0.025;
    } else {
      divisor = base - t;
    }
    double x = (T - I) / divisor;
    if (o.ponder_credit) x *= 1.3;
    x = x + 1.1 * I;
    if (o.mcts) x *= 2;
    double y = std::min(0.9 * T, x * (1 + U / 100));
    double ms = std::trunc(1000 * y);
    target = std::max((ms - (n + O)) / 1000, 0.004);
    hard = 0.96 * (T - 0.002 * O);
  }
  // Below the overhead the formula leaves no time at all; a clock that still has time left
  // gives depth 1 a few milliseconds so that the answer is a searched move.
  if (T > 0 && hard < 0.005) hard = std::min(0.005, T / 2);
  if (hard < 0) hard = 0;
}

void set_deadlines(double target, double hard, int ply, bool fixed_time) {
  const double st = g_ctl.start;
  g_ctl.target = target;
  g_ctl.fixed_time = fixed_time;
  g_ctl.soft = st + 0.75 * target;
  g_ctl.early = st + 0.075 * target;
  const int k = std::max(550 - ply / 2, 450);
  g_ctl.hard = std::min(st + target * k / 100, st + hard);
  g_ctl.t3 = st + 3 * target;
  g_ctl.t2 = st + 2 * target;
  g_ctl.t15 = st + 1.5 * target;
  g_ctl.poll_time = st + 2.0;
  if (fixed_time) g_ctl.hard = g_ctl.soft = g_ctl.early = st + target;
}

void update_soft_time(int d, int s, int prev, int phase, bool stopping) {
  if (g_ctl.fixed_time) return;
  const int delta = d == 1 ? 0 : s - prev;
  const int b = (std::abs(s) >= 31 && std::abs(s) <= 89) ? 71 : 0;
  double x = (b - phase + 642) + 118.0 * (g_ctl.changes ? 1 : 0) + (-2.4) * delta;
  x = std::min(x, 776.0);
  double f = s > -151 ? std::max(x, 408.0) / 700 : 408.0 / 700;
  f *= 1 + g_ctl.instability;
  if (d > 10 && g_ctl.instability < 0.001) f *= 0.58;
  if (!stopping) g_ctl.soft = g_ctl.start + f * g_ctl.target;
  log_printf("easy: %12.2f\n", f);
}

bool iteration_time_up(int s, int d, int root_moves) {
  const double now = elapsed_seconds();
  if (now > g_ctl.soft) g_ctl.iteration_done = true;
  if (std::abs(s) >= 25000 && now > g_ctl.early) g_ctl.iteration_done = true;
  if (g_ctl.target < 31000001 && d >= 5 && root_moves < 2) g_ctl.iteration_done = true;
  return g_ctl.iteration_done;
}

bool deadline_passed(double now) {
  if (g_ctl.iteration_done || now >= g_ctl.hard ||
      (now >= g_ctl.t3 && g_sdata[0].root_first && !g_ctl.failing_low)) {
    g_threads[0].stop.exchange(1);
    return true;
  }
  return false;
}

}  // namespace quorix
