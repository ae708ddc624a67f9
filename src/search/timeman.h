// Time management: the allotment of a timed move, the deadlines of a search, the soft
// deadline after each iteration and the clock side of the periodic check.
#pragma once
#include "search/control.h"
#include "search/limits.h"

namespace quorix {

// Option values the allotment depends on.
struct TimeOptions {
  int overhead_ms = 50;        // "Move Overhead"
  int time_usage = 0;          // "Time Usage", percent more (or less) than the formula
  bool mcts = false;           // the Monte-Carlo search plays this move
  bool ponder_credit = false;  // the previous move was pondered on
};

// Target and hard limit (seconds) of a timed "go" without move time, depth or node limit.
void clock_allotment(const SearchLimits& lim, int ply, int threads, const TimeOptions& o, double& target,
                     double& hard);

// Deadlines of a search that started at g_ctl.start with this target and hard limit
// (fixed_time: "go movetime", where the target is the whole budget).
void set_deadlines(double target, double hard, int ply, bool fixed_time);

// After a completed iteration d with score s (previous completed score prev, game phase
// phase): moves the soft deadline unless the search is already stopping.
void update_soft_time(int d, int s, int prev, int phase, bool stopping);

// After a completed iteration: whether the clock (or a forced answer) ends the search
// once pondering is over; sets g_ctl.iteration_done.
bool iteration_time_up(int s, int d, int root_moves);

// Clock side of the periodic check at time now: true (and thread 0 told to stop) when a
// deadline has passed or the last iteration's verdict stands.
bool deadline_passed(double now);

}  // namespace quorix
