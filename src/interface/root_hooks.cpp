// Inert root hooks: no book, no Monte-Carlo search in this build (tablebases: tb_hooks.cpp).
#include "interface/root_hooks.h"

namespace quorix {

Move book_probe_root(const Position&) { return 0; }
bool mcts_think(Position&, bool, double) { return false; }

}  // namespace quorix
