// Iterative deepening of the main thread, with the answer it leaves behind.
#pragma once
#include "board/position.h"
#include "search/search.h"

namespace quorix {

// Best and ponder move texts of the last search ("0000" and empty when there are none).
extern char g_best_text[16];
extern char g_ponder_text[16];

struct DeepeningResult {
  Move book_move = 0;  // the book answered before the first iteration (nothing was searched)
  int last_depth = 0;  // deepest iteration that gave a best move (0: none)
};

// Iterations of thread sd (thread 0) on root while the workers search, until the clock, the
// depth or skill limit or a stop ends them. After each completed iteration g_best_text and
// g_ponder_text name its line; the soft deadline and the dynamic contempt follow the score.
// phase: game phase of the root; infinite: "go infinite" (no book move).
DeepeningResult iterative_deepening(SearchData& sd, const Position& root, int phase, bool infinite);

}  // namespace quorix
