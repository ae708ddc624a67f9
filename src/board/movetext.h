// UCI move text.
#pragma once
#include <string>

#include "board/position.h"

namespace quorix {

// Castling text: nonzero = king takes rook (Chess960), 0 = king's destination square.
// Stored here and bound to the "UCI_Chess960" option.
extern int g_chess960_text;

// Writes the UCI text of m (castling per g_chess960_text); "0000" for 0.
void move_to_text(const Position& p, Move m, char* out);
std::string move_to_text(const Position& p, Move m);

// Makes the move named by text on cur into child. Returns true when a legal move was made.
bool apply_move_text(const Position& cur, Position& child, const char* text);

}  // namespace quorix
