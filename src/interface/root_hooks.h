// Root decisions of subsystems that are not part of this build yet: the opening book,
// tablebase root filtering and the Monte-Carlo search. Each hook answers "nothing".
#pragma once
#include "board/position.h"
#include "search/search.h"

namespace quorix {

// Book move for the root, 0 when the book has none.
Move book_probe_root(const Position& root);
// Tablebase root filter: fills moves and returns their count (0 = no result) and a score.
int tb_root_filter(const Position& root, RootMove* moves, int& score);
// Largest piece count the tablebases cover (0 = none).
int tb_largest_pieces();
// Monte-Carlo search of root; false when it did not run.
bool mcts_think(Position& root, bool infinite, double target);

}  // namespace quorix
