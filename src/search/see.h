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

// What makes the check test cheap for every move of one node: filled on first use
// (many nodes test a move or two and never need it).
struct CheckInfo {
  Bitboard squares[8];   // by piece type: squares from which such a piece attacks the enemy king
  Bitboard discoverers;  // own pieces whose leaving opens a line from an own slider to that king
  int king;              // the enemy king's square, -1 when there is none
  bool ready = false;
};

// gives_check for a move of the node that ci belongs to (same answers; castling, en
// passant and promotions take the full test).
bool gives_check(const Position& p, Move m, CheckInfo& ci);

}  // namespace quorix
