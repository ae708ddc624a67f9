// Placeholder bodies until the tablebase and Monte-Carlo code provide them
// (the book's lives in book.cpp).
#include "interface/option_hooks.h"

namespace quorix {

void tablebase_reinit(const std::string&) {}
int tablebase_largest() { return 0; }
void mcts_table_resize(int) {}

}  // namespace quorix
