#include "board/attacks.h"

#include <cstdlib>

namespace quorix {

Bitboard slider_table[SLIDER_TABLE_SIZE];
Bitboard between_bb[64][64];
Bitboard line_bb[64][64];
int distance[64][64];

static void fill_slider(const MagicEntry* mg, int shift, const int (*dirs)[2]) {
  for (int sq = 0; sq < 64; sq++) {
    Bitboard mask = mg[sq].mask, sub = 0;
    do {
      Bitboard idx = mg[sq].offset + ((sub * mg[sq].magic) >> shift);
      slider_table[idx] = detail::ray_attacks(sq, sub, dirs);
      sub = (sub - mask) & mask;
    } while (sub);
  }
}

void init_attack_tables() {
  static bool done = false;
  if (done) return;
  done = true;
  fill_slider(ROOK_MAGIC_INIT, 52, detail::RO_D);
  fill_slider(BISHOP_MAGIC_INIT, 55, detail::BI_D);
  for (int a = 0; a < 64; a++)
    for (int b = 0; b < 64; b++) {
      int df = std::abs(file_of(a) - file_of(b)), dr = std::abs(rank_of(a) - rank_of(b));
      distance[a][b] = df > dr ? df : dr;
      between_bb[a][b] = 0;
      line_bb[a][b] = 0;
      if (a == b) continue;
      Bitboard ab = sq_bb(a) | sq_bb(b);
      if (LT.rook_ray[a] & sq_bb(b)) {
        between_bb[a][b] = rook_attacks(a, ab) & rook_attacks(b, ab);
        line_bb[a][b] = (LT.rook_ray[a] & LT.rook_ray[b]) | ab;
      } else if (LT.bishop_ray[a] & sq_bb(b)) {
        between_bb[a][b] = bishop_attacks(a, ab) & bishop_attacks(b, ab);
        line_bb[a][b] = (LT.bishop_ray[a] & LT.bishop_ray[b]) | ab;
      }
    }
}

}  // namespace quorix
