#include "search/see.h"

#include "board/movegen.h"

namespace quorix {

int capture_value[8] = {0, 50, 163, 168, 252, 490, 490 + 2500, 0};

void set_capture_values(const int material[6]) {
  for (int t = PAWN; t <= QUEEN; t++) capture_value[t] = material[t - 1] / 2;
  capture_value[KING] = capture_value[QUEEN] + 2500;
}

namespace {

constexpr int V_BAD[7] = {0, 1, 4, 4, 6, 12, 999};
constexpr int V_BAD_Q[7] = {0, 2, 7, 8, 11, 21, 999};
constexpr int V_BELOW[7] = {0, 100, 400, 430, 600, 1200, 999999};
constexpr int V_SAFE[7] = {0, 1, 3, 3, 5, 9, 999};

// Pieces of colour `blockers` that stand alone between square k and a bishop, rook or queen
// of colour `snipers` on a line of that piece's kind.
Bitboard line_blockers(const Position& p, int k, int snipers, int blockers) {
  const Bitboard occ = p.bb[14];
  Bitboard sn = (LT.bishop_ray[k] & (p.pieces(snipers, BISHOP) | p.pieces(snipers, QUEEN))) |
                (LT.rook_ray[k] & (p.pieces(snipers, ROOK) | p.pieces(snipers, QUEEN)));
  Bitboard found = 0;
  while (sn) {
    const Bitboard b = between_bb[k][pop_lsb(sn)] & occ;
    if (b && !more_than_one(b)) found |= b & p.pieces(blockers);
  }
  return found;
}

// Pieces of colour c that shield their own king from an enemy slider.
Bitboard pinned_pieces(const Position& p, int c) {
  const Bitboard kb = p.pieces(c, KING);
  return kb ? line_blockers(p, lsb(kb), c ^ 1, c) : 0;
}

// Swap-off: whether the exchange started by m reaches at least `threshold`.
bool see_at_least(const Position& p, Move m, const int* V, int threshold) {
  int from = move_from(m), to = move_to(m);
  int s = p.side();
  int swap = V[piece_type(p.board[to])] - threshold;
  if (swap < 0) return false;
  swap = V[piece_type(p.board[from])] - swap;
  if (swap <= 0) return true;
  Bitboard occ = p.bb[14] ^ sq_bb(from) ^ sq_bb(to);
  {
    // Cheap test first: nobody of the other side can recapture.
    const int o = s ^ 1;
    Bitboard diag = p.pieces(o, BISHOP) | p.pieces(o, QUEEN), line = p.pieces(o, ROOK) | p.pieces(o, QUEEN);
    bool hit = (pawn_attacks(s, to) & p.pieces(o, PAWN)) || (knight_attacks(to) & p.pieces(o, KNIGHT)) ||
               (king_attacks(to) & p.pieces(o, KING)) ||
               ((LT.bishop_ray[to] & diag) && (bishop_attacks(to, occ) & diag)) ||
               ((LT.rook_ray[to] & line) && (rook_attacks(to, occ) & line));
    if (!hit) return true;
  }
  Bitboard attackers = attackers_to(p, to, occ) & occ;
  Bitboard pinned = pinned_pieces(p, WHITE) | pinned_pieces(p, BLACK);
  Bitboard diag = p.bb[3] | p.bb[5] | p.bb[10] | p.bb[12];
  Bitboard line = p.bb[4] | p.bb[5] | p.bb[11] | p.bb[12];
  int stm = s, res = 1;
  for (;;) {
    stm ^= 1;
    attackers &= occ;
    Bitboard mine = attackers & p.pieces(stm) & ~pinned;
    if (!mine) break;
    res ^= 1;
    int pt;
    Bitboard b = 0;
    for (pt = PAWN; pt <= KING; pt++)
      if ((b = mine & p.pieces(stm, pt))) break;
    if (pt == KING) return (attackers & ~p.pieces(stm) & ~pinned) ? (res ^ 1) : res;
    swap = V[pt] - swap;
    if (swap < res) break;
    occ ^= b & (0 - b);
    if (pt == PAWN || pt == BISHOP || pt == QUEEN) attackers |= bishop_attacks(to, occ) & diag;
    if (pt == ROOK || pt == QUEEN) attackers |= rook_attacks(to, occ) & line;
  }
  return res != 0;
}

inline bool never_bad(const Position& p, Move m) {
  int k = move_kind(m);
  return k == MK_EP || k == MK_CASTLE || piece_type(p.board[move_from(m)]) == KING;
}

}  // namespace

bool see_bad(const Position& p, Move m) {
  if (never_bad(p, m)) return false;
  if (V_BAD[piece_type(p.board[move_to(m)])] >= V_BAD[piece_type(p.board[move_from(m)])]) return false;
  return !see_at_least(p, m, V_BAD, 0);
}

bool see_bad_q(const Position& p, Move m) {
  if (never_bad(p, m)) return false;
  if (V_BAD_Q[piece_type(p.board[move_to(m)])] >= V_BAD_Q[piece_type(p.board[move_from(m)])]) return false;
  return !see_at_least(p, m, V_BAD_Q, 0);
}

bool see_below(const Position& p, Move m, int threshold) {
  if (never_bad(p, m)) return false;
  return !see_at_least(p, m, V_BELOW, threshold);
}

bool quiet_safe(const Position& p, Move m) {
  if (never_bad(p, m)) return true;
  return see_at_least(p, m, V_SAFE, 0);
}

bool gives_check(const Position& p, Move m) {
  int s = p.side(), o = s ^ 1;
  Bitboard ekb = p.pieces(o, KING);
  if (!ekb) return false;
  int ek = lsb(ekb);
  int from = move_from(m), to = move_to(m), kind = move_kind(m);
  Bitboard occ = p.bb[14];
  Bitboard own_diag = p.pieces(s, BISHOP) | p.pieces(s, QUEEN);
  Bitboard own_line = p.pieces(s, ROOK) | p.pieces(s, QUEEN);
  if (kind == MK_CASTLE) {
    int base = from & 56;
    int kt = base + (to > from ? 6 : 2), rt = base + (to > from ? 5 : 3);
    Bitboard occ2 = (occ ^ sq_bb(from) ^ sq_bb(to)) | sq_bb(kt) | sq_bb(rt);
    return (rook_attacks(rt, occ2) & ekb) != 0;
  }
  int pt = kind >= MK_PROMO_Q ? promo_type(m) : piece_type(p.board[from]);
  Bitboard occ2 = (occ ^ sq_bb(from)) | sq_bb(to);
  if (kind == MK_EP) occ2 ^= sq_bb((to & 7) | (from & 56));
  Bitboard att = 0;
  switch (pt) {
    case PAWN: att = pawn_attacks(s, to); break;
    case KNIGHT: att = knight_attacks(to); break;
    case BISHOP: att = bishop_attacks(to, occ2); break;
    case ROOK: att = rook_attacks(to, occ2); break;
    case QUEEN: att = queen_attacks(to, occ2); break;
    default: break;
  }
  if (att & ekb) return true;
  // Discovered lines (also through the captured pawn's square for en passant). Only a
  // square emptied on a line from the king to one of our sliders of that line's kind can
  // open one (our sliders never see the enemy king before the move).
  Bitboard emptied = sq_bb(from);
  if (kind == MK_EP) emptied |= sq_bb((to & 7) | (from & 56));
  const bool diag_open = (LT.bishop_ray[ek] & emptied) && (LT.bishop_ray[ek] & own_diag);
  const bool line_open = (LT.rook_ray[ek] & emptied) && (LT.rook_ray[ek] & own_line);
  if (diag_open && (bishop_attacks(ek, occ2) & own_diag & ~sq_bb(to))) return true;
  if (line_open && (rook_attacks(ek, occ2) & own_line & ~sq_bb(to))) return true;
  return false;
}

namespace {

void fill_check_info(const Position& p, CheckInfo& ci) {
  ci.ready = true;
  const int s = p.side(), o = s ^ 1;
  const Bitboard ekb = p.pieces(o, KING);
  ci.king = ekb ? lsb(ekb) : -1;
  if (!ekb) return;
  const int ek = ci.king;
  const Bitboard occ = p.bb[14];
  ci.squares[0] = 0;
  ci.squares[PAWN] = pawn_attacks(o, ek);
  ci.squares[KNIGHT] = knight_attacks(ek);
  ci.squares[BISHOP] = bishop_attacks(ek, occ);
  ci.squares[ROOK] = rook_attacks(ek, occ);
  ci.squares[QUEEN] = ci.squares[BISHOP] | ci.squares[ROOK];
  ci.squares[KING] = ci.squares[7] = 0;
  ci.discoverers = line_blockers(p, ek, s, s);
}

}  // namespace

bool gives_check(const Position& p, Move m, CheckInfo& ci) {
  const int kind = move_kind(m);
  if (kind == MK_CASTLE || kind == MK_EP || kind >= MK_PROMO_Q) return gives_check(p, m);
  if (!ci.ready) fill_check_info(p, ci);
  if (ci.king < 0) return false;
  const int from = move_from(m), to = move_to(m);
  // Direct: the squares are those of the position before the move; the square left can only
  // lie between the target square and the king when the piece already gave check before.
  if (ci.squares[piece_type(p.board[from])] & sq_bb(to)) return true;
  // Discovered: the piece leaves the line unless it moves along it.
  return (ci.discoverers & sq_bb(from)) && !(line_bb[ci.king][from] & sq_bb(to));
}

}  // namespace quorix
