// Copy-make: produces the child position of a move (or null move).
#pragma once
#include "board/position.h"

namespace quorix {

// Copies parent into child and applies m (0 = null move). Returns 1 when the
// move is legal, 0 when it leaves the mover's king attacked (child is then
// incomplete). The child's in_check is not set for ordinary moves; the
// parent's in_check must be correct (the legality test relies on it).
int make_move(const Position& parent, Position& child, Move m);

}  // namespace quorix
