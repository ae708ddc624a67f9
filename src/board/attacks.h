// Attack tables: leapers, magic sliders, between/line sets, distances.
#pragma once
#include "board/types.h"

namespace quorix {

struct MagicEntry {
  Bitboard mask;
  Bitboard magic;
  int offset;
};

namespace detail {
constexpr Bitboard leaper(int sq, const int (*d)[2], int n) {
  Bitboard b = 0;
  for (int i = 0; i < n; i++) {
    int f = file_of(sq) + d[i][0], r = rank_of(sq) + d[i][1];
    if (f >= 0 && f < 8 && r >= 0 && r < 8) b |= sq_bb(square_of(f, r));
  }
  return b;
}
constexpr int KN_D[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int KI_D[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
constexpr int WP_D[2][2] = {{-1, 1}, {1, 1}};
constexpr int BP_D[2][2] = {{-1, -1}, {1, -1}};
constexpr int RO_D[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int BI_D[4][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
constexpr Bitboard ray_attacks(int sq, Bitboard occ, const int (*d)[2]) {
  Bitboard b = 0;
  for (int i = 0; i < 4; i++) {
    int f = file_of(sq), r = rank_of(sq);
    for (;;) {
      f += d[i][0]; r += d[i][1];
      if (f < 0 || f > 7 || r < 0 || r > 7) break;
      b |= sq_bb(square_of(f, r));
      if (occ & sq_bb(square_of(f, r))) break;
    }
  }
  return b;
}
struct LeaperTables {
  Bitboard knight[64], king[64], pawn[2][64], bishop_ray[64], rook_ray[64], queen_ray[64];
  constexpr LeaperTables() : knight(), king(), pawn(), bishop_ray(), rook_ray(), queen_ray() {
    for (int s = 0; s < 64; s++) {
      knight[s] = leaper(s, KN_D, 8);
      king[s] = leaper(s, KI_D, 8);
      pawn[0][s] = leaper(s, WP_D, 2);
      pawn[1][s] = leaper(s, BP_D, 2);
      bishop_ray[s] = ray_attacks(s, 0, BI_D);
      rook_ray[s] = ray_attacks(s, 0, RO_D);
      queen_ray[s] = bishop_ray[s] | rook_ray[s];
    }
  }
};
}  // namespace detail

inline constexpr detail::LeaperTables LT{};

#include "board/magics.inc"

extern Bitboard slider_table[SLIDER_TABLE_SIZE];
extern Bitboard between_bb[64][64];
extern Bitboard line_bb[64][64];  // full line through a and b (0 when not aligned)
extern int distance[64][64];

constexpr const MagicEntry* rook_magic = ROOK_MAGIC_INIT;
constexpr const MagicEntry* bishop_magic = BISHOP_MAGIC_INIT;

inline Bitboard knight_attacks(int sq) { return LT.knight[sq]; }
inline Bitboard king_attacks(int sq) { return LT.king[sq]; }
inline Bitboard pawn_attacks(int c, int sq) { return LT.pawn[c][sq]; }
inline Bitboard rook_attacks(int sq, Bitboard occ) {
  const MagicEntry& m = ROOK_MAGIC_INIT[sq];
  return slider_table[m.offset + (((occ & m.mask) * m.magic) >> 52)];
}
inline Bitboard bishop_attacks(int sq, Bitboard occ) {
  const MagicEntry& m = BISHOP_MAGIC_INIT[sq];
  return slider_table[m.offset + (((occ & m.mask) * m.magic) >> 55)];
}
inline Bitboard queen_attacks(int sq, Bitboard occ) { return rook_attacks(sq, occ) | bishop_attacks(sq, occ); }

constexpr Bitboard second_rank[2] = {RANK_2, RANK_7};
constexpr Bitboard seventh_rank[2] = {RANK_7, RANK_2};
constexpr int push_offset[2] = {8, -8};

// White pawns shifted one rank up (black: down).
inline Bitboard pawn_push_bb(int c, Bitboard b) { return c == WHITE ? b << 8 : b >> 8; }
inline Bitboard pawns_attack_bb(int c, Bitboard b) {
  return c == WHITE ? ((b & ~FILE_A) << 7) | ((b & ~FILE_H) << 9)
                    : ((b & ~FILE_A) >> 9) | ((b & ~FILE_H) >> 7);
}

// 1 for a dark square (a1 is dark).
constexpr int square_color(int sq) { return ((file_of(sq) + rank_of(sq)) & 1) == 0 ? 1 : 0; }
constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ULL;

// Fills the slider table, between/line sets and distances. Idempotent.
void init_attack_tables();

}  // namespace quorix
