// The UCI command handlers.
#pragma once
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix {

// Runs the command of a tokenised line (raw = the untouched line).
void dispatch_command(const std::vector<std::string>& tok, const std::string& raw);
// Sets the stop flag of every search thread.
void request_stop_all();

// "position": returns false (and leaves the game untouched) when the line is rejected.
bool position_command(const std::vector<std::string>& tok);
// Checks a position set from FEN for what the engine cannot play from; empty when fine.
std::string position_problem(const Position& p);
// "attacks" output for a position.
std::string attacks_text(const Position& p);

}  // namespace quorix
