// Pawn-structure evaluation and the pawn table probe.
#include <cstring>

#include "eval/eval_internal.h"

namespace quorix {

namespace {

constexpr Bitboard CENTER_BLOCK = 0x00003C3C3C3C0000ULL;  // c3..f6
constexpr Bitboard EDGE_FILES = FILE_A | FILE_H;

// Squares in front of sq for colour c, on its own file and the two beside it.
struct PawnMasks {
  Bitboard front_file[2][64];
  Bitboard passed_span[2][64];
  Bitboard adjacent_files[8];
  constexpr PawnMasks() : front_file(), passed_span(), adjacent_files() {
    for (int f = 0; f < 8; f++)
      adjacent_files[f] = (f > 0 ? FILE_A << (f - 1) : 0) | (f < 7 ? FILE_A << (f + 1) : 0);
    for (int sq = 0; sq < 64; sq++) {
      Bitboard wf = 0, bf = 0;
      for (int r = rank_of(sq) + 1; r < 8; r++) wf |= sq_bb(square_of(file_of(sq), r));
      for (int r = rank_of(sq) - 1; r >= 0; r--) bf |= sq_bb(square_of(file_of(sq), r));
      front_file[WHITE][sq] = wf;
      front_file[BLACK][sq] = bf;
      Bitboard wl = file_of(sq) > 0 ? wf >> 1 : 0, wr = file_of(sq) < 7 ? wf << 1 : 0;
      Bitboard bl = file_of(sq) > 0 ? bf >> 1 : 0, br = file_of(sq) < 7 ? bf << 1 : 0;
      passed_span[WHITE][sq] = wf | wl | wr;
      passed_span[BLACK][sq] = bf | bl | br;
    }
  }
};
constexpr PawnMasks PM{};

Bitboard fill_up(Bitboard b) {
  b |= b << 8;
  b |= b << 16;
  return b | (b << 32);
}
Bitboard fill_down(Bitboard b) {
  b |= b >> 8;
  b |= b >> 16;
  return b | (b >> 32);
}

int clamp8(int n) { return n > 8 ? 8 : n; }

// Shelter of colour c's king standing on ksq, in king-safety units (higher is safer).
int shelter_at(const Position& p, int c, int ksq) {
  const EvalTables& t = g_et;
  int kf = file_of(ksq);
  if (kf < 1) kf = 1;
  if (kf > 6) kf = 6;
  int kr = rank_of(ksq);
  Bitboard own = p.pieces(c, PAWN), opp = p.pieces(c ^ 1, PAWN);
  int total = 0;
  for (int f = kf - 1; f <= kf + 1; f++) {
    Bitboard file = FILE_A << f;
    Bitboard ahead = c == WHITE ? file & ~((Bitboard(2) << (8 * kr + 7)) - 1) : file & ((Bitboard(1) << (8 * kr)) - 1);
    ahead |= file & (RANK_1 << (8 * kr));  // same rank counts as one rank ahead
    Bitboard o = own & ahead, e = opp & ahead;
    if (o) {
      int sq = c == WHITE ? lsb(o) : msb(o);
      int d = c == WHITE ? rank_of(sq) - kr : kr - rank_of(sq);
      if (d < 1) d = 1;
      total += t.shelter_pawn[d > 3 ? 3 : d - 1];
    } else {
      total += t.shelter_pawn[3];
    }
    if (e) {
      int sq = c == WHITE ? lsb(e) : msb(e);
      int d = c == WHITE ? rank_of(sq) - kr : kr - rank_of(sq);
      if (d < 1) d = 1;
      if (d <= 3) total -= t.shelter_storm[d - 1];
    }
  }
  return total;
}

int king_shelter(const Position& p, int c) {
  int ksq = p.king_sq[c];
  int best = shelter_at(p, c, ksq);
  int back = c == WHITE ? 0 : 56;
  // A king that may still castle is credited with the better shelter of the castled square.
  if (!(p.castle_lost & (c == WHITE ? 1 : 4))) {
    int s = shelter_at(p, c, back + 6) - 1;
    if (s > best) best = s;
  }
  if (!(p.castle_lost & (c == WHITE ? 2 : 8))) {
    int s = shelter_at(p, c, back + 2) - 1;
    if (s > best) best = s;
  }
  return best;
}

}  // namespace

void evaluate_pawns(const Position& p, PawnEntry& e) {
  const EvalTables& t = g_et;
  std::memset(&e, 0, sizeof(e));
  e.key = p.pawn_key;
  Score side[2] = {0, 0};
  Bitboard all_pawns = p.bb[1] | p.bb[8];
  int file_sum = 0, pawn_count = popcount(all_pawns);
  for (Bitboard b = all_pawns; b;) file_sum += file_of(pop_lsb(b));

  for (int c = WHITE; c <= BLACK; c++) {
    Bitboard own = p.pieces(c, PAWN), opp = p.pieces(c ^ 1, PAWN);
    Bitboard own_att = pawns_attack_bb(c, own), opp_att = pawns_attack_bb(c ^ 1, opp);
    Score s = 0;
    s += t.pawn_center[clamp8(popcount(own & CENTER_BLOCK))];
    s += t.pawn_rest[clamp8(popcount(own & ~CENTER_BLOCK))];
    s += t.pawn_edge[clamp8(popcount(own & EDGE_FILES))];
    s += t.pawn_supported[clamp8(popcount(own & own_att))];
    s += t.pawn_attacked[clamp8(popcount(own & opp_att))];

    int isolated = 0, files = 0, npassed = 0;
    for (int f = 0; f < 8; f++) {
      Bitboard on_file = own & (FILE_A << f);
      if (!on_file) continue;
      files |= 1 << f;
      if (!(own & PM.adjacent_files[f])) isolated += popcount(on_file);
      if (more_than_one(on_file)) {
        int front = c == WHITE ? msb(on_file) : lsb(on_file);
        if (!(own_att & sq_bb(front))) s += DOUBLED_PENALTY;
      }
    }
    s += t.pawn_isolated[clamp8(isolated)];

    for (Bitboard b = own; b;) {
      int sq = pop_lsb(b);
      if (rank_of(sq) == 0 || rank_of(sq) == 7) continue;
      if (opp & PM.passed_span[c][sq]) continue;
      if (own & PM.front_file[c][sq]) continue;  // only the front pawn of a file
      if (npassed < 8) e.passed[c][npassed++] = uint8_t(sq);
    }

    if (pawn_count) {
      int mean = file_sum / pawn_count;
      int d = file_of(p.king_sq[c]) - mean;
      s += t.king_pawn_distance[d < 0 ? -d : d];
    }
    e.file_group[c] = t.file_group[files];
    e.shelter[c] = int16_t(king_shelter(p, c));
    side[c] = s;
  }

  Score diff = side[WHITE] - side[BLACK];
  e.score = uint64_t(make_score(mg_value(diff) * 97 / 100, eg_value(diff) * 97 / 100));
  int wkf = file_of(p.king_sq[WHITE]), bkf = file_of(p.king_sq[BLACK]);
  e.king_wings = uint8_t(wkf >= 4 && bkf >= 4 ? 1 : wkf <= 3 && bkf <= 3 ? 2 : 0);
  int open = 0;
  for (int f = 0; f < 8; f++)
    if (!(all_pawns & (FILE_A << f))) open++;
  e.open_files = uint8_t(open);
  Bitboard spans = fill_up(p.bb[1]) | fill_down(p.bb[8]);
  e.closed = popcount((RANK_2 | RANK_7) & ~spans) <= 1;
  e.rams = uint8_t(popcount(p.bb[1] & (p.bb[8] >> 8)));
}

const PawnEntry& probe_pawns(const Position& p) {
  if (!p.pawn_table) {
    static thread_local PawnEntry scratch;
    evaluate_pawns(p, scratch);
    return scratch;
  }
  PawnEntry& e = p.pawn_table[uint32_t(p.pawn_key) & g_pawn_mask];
  if (e.key != p.pawn_key) evaluate_pawns(p, e);
  return e;
}

}  // namespace quorix
