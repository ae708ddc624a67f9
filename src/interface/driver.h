// The search driver: clock allotment, per-search settings and iterative deepening.
#pragma once
#include <string>

#include "board/position.h"
#include "interface/uci.h"

namespace quorix {

// Live skill level (0..25): "Skill", or the self-adjusting level with "Auto Skill".
extern int g_live_skill;
// Benchmark mode: searches print no reports and no "bestmove".
extern bool g_bench_quiet;
// Best move and ponder move texts of the last search.
extern char g_best_text[16];
extern char g_ponder_text[16];
// Evaluation noise amplitude and search-depth limit of the live skill level.
extern int g_skill_noise;
extern int g_skill_depth;

// Target and hard limit (seconds) of a timed "go" without move time, depth or node limit.
void clock_allotment(const SearchLimits& lim, int ply, int threads, double& target, double& hard);

// Runs one search of root and prints "bestmove" (unless in benchmark mode).
// The search's periodic check (thread 0, every node): serves input, checks the clock;
// true when the search must end.
bool poll_check();
void think(Position& root, double target, int max_depth, const std::string& searchmoves, double hard, bool infinite);

}  // namespace quorix
