// Legal move list for the tuning tools (they play whole games move by move).
#pragma once
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"

namespace quorix {

inline std::vector<Move> legal_moves(const Position& p) {
  uint32_t list[MAX_MOVES];
  int n = p.in_check ? generate_evasions(p, list) : generate_all(p, list);
  std::vector<Move> out;
  for (int i = 0; i < n; i++) {
    Position child;
    if (make_move(p, child, entry_move(list[i]))) out.push_back(entry_move(list[i]));
  }
  return out;
}

}  // namespace quorix
