// Copy-make: produces the child position of a move (or null move).
#pragma once
#include "board/position.h"

namespace quorix {

// Copies parent into child and applies m (0 = null move). Returns 1 when the
// move is legal, 0 when it leaves the mover's king attacked (child is then
// incomplete). The child's in_check is not set for ordinary moves; the
// parent's in_check must be correct (the legality test relies on it).
// piece_state: also update the network piece state (kst); without it the copy
// stops before kst and the child's kst is stale. Search-only fields (continuation
// rows, node counts) are the search's business (search/make.h).
int make_move(const Position& parent, Position& child, Move m, bool piece_state = true);

// The legal moves of p in generation order (out has room for MAX_MOVES); returns their count.
int legal_moves(const Position& p, Move* out);

}  // namespace quorix
