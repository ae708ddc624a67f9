// Temporary "go" handler until the search lands: answers with the first legal move.
#include <cstdio>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/uci.h"

namespace quorix {

void go_command(const SearchLimits& limits, Position& root) {
  (void)limits;
  uint32_t list[MAX_MOVES];
  int n = generate_all(root, list);
  Position child;
  Move best = 0;
  for (int i = 0; i < n && !best; i++)
    if (make_move(root, child, entry_move(list[i]))) best = entry_move(list[i]);
  std::printf("bestmove %s\n", move_to_text(root, best).c_str());
  std::fflush(stdout);
}

}  // namespace quorix
