// Inert root hooks: no book and no tablebases in this build.
#include "interface/root_hooks.h"

namespace quorix {

Move book_probe_root(const Position&) { return 0; }
int tb_root_filter(const Position&, RootMove*, int& score) {
  score = 0;
  return 0;
}
int tb_largest_pieces() { return 0; }

}  // namespace quorix
