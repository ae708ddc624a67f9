// The option table: registration, "uci" listing and "setoption".
#pragma once
#include <string>
#include <vector>

namespace quorix {

void options_register();
// Prints every "option name ..." line in registration order.
void options_print();
// Handles a "setoption" line; prints "info string <name> not recognized" for unknown names.
void setoption_command(const std::vector<std::string>& tok, const std::string& raw);

}  // namespace quorix
