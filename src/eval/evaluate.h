// The evaluation entry: static score of a position from the side to move's view.
#pragma once
#include "board/position.h"

namespace quorix {

// alpha/beta: the search window in centipawns (-35000/35000 for none). *lazy is set
// when the classical evaluation answered with its quick estimate.
int evaluate(Position& p, int alpha, int beta, bool* lazy = nullptr);

// Recomputes the evaluation's start-up tables from the options (personality etc.).
void apply_eval_settings();

}  // namespace quorix
