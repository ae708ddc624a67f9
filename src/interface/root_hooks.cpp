// Inert root hooks: no book, no tablebases, no Monte-Carlo search in this build.
#include "interface/root_hooks.h"

namespace quorix {

Move book_probe_root(const Position&) { return 0; }
int tb_root_filter(const Position&, RootMove*, int& score) {
  score = 0;
  return 0;
}
int tb_largest_pieces() { return 0; }
bool mcts_think(Position&, bool, double) { return false; }

}  // namespace quorix
