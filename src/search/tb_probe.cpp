// Tablebase probes at interior nodes of the alpha-beta search.
#include "search/hooks.h"
#include "search/search.h"
#include "syzygy/tbprobe.h"

namespace quorix {

bool tb_probe_search(const Position& p, int ply, int depth, int& score) {
  const int pieces = int(p.piece_count), limit = g_tb_probe_limit;
  if (!((depth >= 3 && pieces < limit) || (pieces <= limit && depth >= g_search_options.syzygy_probe_depth))) return false;
  bool ok;
  const int w = tb::probe_wdl(p, ok);
  if (!ok) return false;
  g_tb_hits.fetch_add(1, std::memory_order_relaxed);
  if (w == 2 || (w == 1 && !g_search_options.syzygy_50_move_rule)) score = TB_WIN - ply;
  else if (w == -2 || (w == -1 && !g_search_options.syzygy_50_move_rule)) score = ply - TB_WIN;
  else score = 2 * w;  // draw, or a result the fifty-move rule spoils
  return true;
}

}  // namespace quorix
