// Tablebase hooks of the protocol front end: (re)initialisation from the
// options and the root move filter of the search driver.
#include <string>

#include "interface/option_hooks.h"
#include "interface/options.h"
#include "interface/root_hooks.h"
#include "interface/uci.h"
#include "syzygy/tbprobe.h"

namespace quorix {
namespace {
// A path change that arrives while threads may be probing waits for the next search.
bool reinit_pending = false;
std::string pending_path;
}  // namespace

void tablebase_reinit(const std::string& path) {
  if (searching) {
    reinit_pending = true;
    pending_path = path;
    return;
  }
  reinit_pending = false;
  tb::init(path);
}

void tablebase_apply_pending() {
  if (!reinit_pending) return;
  reinit_pending = false;
  tb::init(pending_path);
}

int tablebase_largest() { return tb::largest(); }
int tb_largest_pieces() { return tb::largest(); }

int tb_root_filter(const Position& root, RootMove* moves, int& score) {
  tb::RootResult kept[MAX_ROOT_MOVES + 1];
  int n = tb::root_filter_dtz(root, kept, score);
  if (!n) n = tb::root_filter_wdl(root, opt::syzygy_50_move_rule != 0, kept, score);
  // The root's probes count as tablebase hits (the search itself then probes nothing).
  if (n > 0) g_tb_hits.fetch_add(uint64_t(n) + 1, std::memory_order_relaxed);
  for (int i = 0; i < n; i++) {
    moves[i].move = kept[i].move;
    moves[i].score = -NO_SCORE;
    moves[i].pv[0] = 0;
  }
  return n;
}

}  // namespace quorix
