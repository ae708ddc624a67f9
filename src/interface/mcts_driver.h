// The Monte-Carlo search driver (the entry `mcts_think` is declared with the other root hooks).
#pragma once
#include "board/position.h"
#include "search/search.h"

namespace quorix {

// The playout loop of thread 0 over the prepared tree: releases the workers, polls input and
// the clock, applies the soft-limit rule and stops on a full pool or, with a single root move,
// after 10 root visits. The workers are stopped again on return.
void mcts_search(SearchData& sd, const Position& root, bool infinite);

}  // namespace quorix
