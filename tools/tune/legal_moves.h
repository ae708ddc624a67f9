// Legal move list and game-end tests for the tools that play whole games move by move.
#pragma once
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"

namespace quorix {

inline std::vector<Move> legal_move_vector(const Position& p) {
  Move list[MAX_MOVES];
  return std::vector<Move>(list, list + legal_moves(p, list));
}

// No pawns, rooks or queens, and at most one minor piece in all.
inline bool insufficient_material(const Position& p) {
  if (p.bb[1] | p.bb[8] | p.bb[4] | p.bb[5] | p.bb[11] | p.bb[12]) return false;
  return popcount(p.bb[2] | p.bb[3] | p.bb[9] | p.bb[10]) <= 1;
}

// Occurrences of game[ply]'s position since the last irreversible move, itself included.
inline int repetitions(const Position* game, int ply) {
  int n = 0;
  for (int i = ply; i >= 0 && i >= ply - game[ply].fifty; i -= 2) n += game[i].key == game[ply].key;
  return n;
}

}  // namespace quorix
