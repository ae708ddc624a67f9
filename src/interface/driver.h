// The search driver: "go" limits and options into a search, input served while it runs,
// and the final "bestmove".
#pragma once
#include <string>

#include "board/position.h"
#include "interface/uci.h"
#include "search/deepen.h"  // g_best_text, g_ponder_text: the answer of the last search
#include "search/timeman.h"

namespace quorix {

// Live skill level (0..25): "Skill", or the self-adjusting level with "Auto Skill".
extern int g_live_skill;
// Benchmark mode: searches print no reports and no "bestmove".
extern bool g_bench_quiet;

// The search's periodic check (thread 0, every node): serves input, checks the clock;
// true when the search must end.
bool poll_check();
// Runs one search of root and prints "bestmove" (unless in benchmark mode).
void think(Position& root, double target, int max_depth, const std::string& searchmoves, double hard, bool infinite);

}  // namespace quorix
