// Making a move inside the search: the board's copy-make plus what the search keeps
// per node (node count and limit, continuation rows, prefetches of the tables the
// child will probe first).
#pragma once
#include "board/makemove.h"
#include "eval/hash_tables.h"
#include "search/thread.h"
#include "search/tt_prefetch.h"

namespace quorix {

// Continuation rows of child (made from parent by m; 0 = null move) in th's table.
inline void link_cont_rows(SearchThread& th, const Position& parent, Position& child, Move m) {
  const int row = m ? (parent.board[move_from(m)] * 64 + move_to(m)) : parent.side() * 8;
  child.cont[0] = th.cont_history + size_t(row) * CONT_ROW_SIZE;
  child.cont[1] = parent.cont[0];
  child.cont[2] = parent.his ? parent.his->cont[1] : th.cont_history;
}

// make_move for a search node of thread th. piece_state: the network evaluation is
// in use (the search fixes this when it starts). Counts the node and raises th's
// stop flag at the node limit.
inline int search_make(SearchThread& th, const Position& parent, Position& child, Move m, bool piece_state) {
  const int legal = make_move(parent, child, m, piece_state);
  link_cont_rows(th, parent, child, m);
  if (!th.stop.load(std::memory_order_relaxed)) {
    if (++th.nodes >= g_node_limit) th.stop.store(1);
  }
  if (legal) {
    tt_prefetch(child.key);
    if (m && child.pawn_table) __builtin_prefetch(child.pawn_table + (uint32_t(child.pawn_key) & g_pawn_mask));
  }
  return legal;
}

}  // namespace quorix
