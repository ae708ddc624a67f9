// Temporary material-only evaluation until the full evaluation lands.
#include "eval/evaluate.h"

namespace quorix {

int evaluate(Position& p, int alpha, int beta, bool* lazy) {
  (void)alpha;
  (void)beta;
  if (lazy) *lazy = false;
  static const int value[7] = {0, 100, 320, 330, 500, 950, 0};
  int score = 0;
  for (int t = PAWN; t <= QUEEN; t++) score += value[t] * (popcount(p.pieces(WHITE, t)) - popcount(p.pieces(BLACK, t)));
  return p.side() == WHITE ? score : -score;
}

void apply_eval_settings() {}

}  // namespace quorix
