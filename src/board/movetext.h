// UCI move text and perft.
#pragma once
#include <string>

#include "board/position.h"

namespace quorix {

// Writes the UCI text of m (castling per the current UCI_Chess960 setting); "0000" for 0.
void move_to_text(const Position& p, Move m, char* out);
std::string move_to_text(const Position& p, Move m);

// Makes the move named by text on cur into child. Returns true when a legal move was made.
bool apply_move_text(const Position& cur, Position& child, const char* text);

extern uint64_t perft_count;
void perft(const Position& p, int depth);
// Runs perft and prints "<count>, MNPS=<speed>".
void timed_perft(const Position& p, int depth);

}  // namespace quorix
