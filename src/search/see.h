// Static exchange tests and capture ordering values.
#pragma once
#include "board/position.h"

namespace quorix {

// Ordering value of a captured piece by type (0 empty .. 6 king).
extern int capture_value[8];
// Sets the ordering values from the material values pawn..queen (halves them).
void set_capture_values(const int material[6]);

bool see_bad(const Position& p, Move m);
bool see_bad_q(const Position& p, Move m);
bool see_below(const Position& p, Move m, int threshold);
bool quiet_safe(const Position& p, Move m);
bool gives_check(const Position& p, Move m);

}  // namespace quorix
