// Root hooks: the book; no tablebases, no Monte-Carlo search in this build.
#include "interface/root_hooks.h"

#include "interface/book.h"
#include "interface/driver.h"

namespace quorix {

// The benchmark stays book-free so that its node count does not depend on files.
// A book move must also be one of the root moves the search may play ("searchmoves").
Move book_probe_root(const Position& root) {
  if (g_bench_quiet) return 0;
  const Move m = book_probe(root);
  for (int i = 0; m && i < g_root_move_count; i++)
    if (g_root_moves[i].move == m) return m;
  return 0;
}
int tb_root_filter(const Position&, RootMove*, int& score) {
  score = 0;
  return 0;
}
int tb_largest_pieces() { return 0; }
bool mcts_think(Position&, bool, double) { return false; }

}  // namespace quorix
