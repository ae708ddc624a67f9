// The Monte-Carlo search of one "go": time set-up, seeding, tree reuse and the playout loop
// with its stopping rules. Reports and input go through the search hooks.
#pragma once
#include "board/position.h"
#include "search/search.h"

namespace quorix {

// Sets the time rules and parameters for an allowance of `target` seconds, seeds the hash
// table with a short search of the root and reuses the tree of the previous search when it
// holds this root (otherwise starts a fresh one).
void mcts_prepare(SearchData& sd, const Position& root, double target);

// The playout loop of thread 0 over the prepared tree: releases the workers, polls input and
// the clock, applies the soft-limit rule and stops on a full pool or, with a single root move,
// after 10 root visits. The workers are stopped again on return.
void mcts_search(SearchData& sd, bool infinite);

// Mean value and visit count of a node (relaxed reads of the shared statistics).
double mcts_mean_of(uint32_t node);
uint64_t mcts_count_of(uint32_t node);

// Principal variation along the most visited children (0-terminated; returns its length).
int mcts_tree_pv(Move* pv, int max);

// A legal answer when the tree has no root children yet (stopped during the root's expansion):
// the seeding search's hash move when it is a root move, else the first root move.
Move mcts_fallback_move(const Position& root);

}  // namespace quorix
