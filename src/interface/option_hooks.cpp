// Placeholder bodies until the book and Monte-Carlo code provide them (tablebases: tb_hooks.cpp).
#include "interface/option_hooks.h"

namespace quorix {

void book_reopen() {}
void mcts_table_resize(int) {}

}  // namespace quorix
