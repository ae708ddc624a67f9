// Time and reporting state of the running search, shared by the driver and thread 0.
#pragma once
#include <climits>
#include <cstdint>

namespace quorix {

constexpr double UNTIMED = 31622400.0;  // 366 days: "no time limit"

struct SearchControl {
  double start = 0;       // seconds since program start when the search began
  double target = 0;
  double soft = 0, early = 0, hard = 0;
  double t3 = 0, t2 = 0, t15 = 0;
  double poll_time = 0;
  bool iteration_done = false;
  double instability = 0, step_weight = 1;
  bool changes = false;
  bool failing_low = false;
  bool accepted_fail_high = false;
  bool quiet = false;           // benchmark: no reports
  bool alpha_beta = false;      // the periodic "info nodes" line belongs to alpha-beta searches
  int tb_root_score = INT_MAX;  // score of a tablebase root, INT_MAX = none
  int clock_countdown = 0;
  int max_depth = 99;           // depth limit of the search (iterations; tree depth figure)
  bool fixed_time = false;      // "go movetime": the target is the whole budget
};

extern SearchControl g_ctl;

// Set while a "go ponder" search waits for "ponderhit" (written by the commands, read by
// the search while it runs).
extern volatile uint8_t pondering;

// Sum of the node counters of all search threads.
uint64_t total_nodes();

}  // namespace quorix
