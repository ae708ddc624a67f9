#include "board/movegen.h"

#include <cstdint>

#include "board/makemove.h"

namespace quorix {

Bitboard slider_attacks_by(const Position& p, int c) {
  const Bitboard occ = p.bb[14];
  Bitboard a = 0, b = p.pieces(c, BISHOP) | p.pieces(c, QUEEN);
  while (b) a |= bishop_attacks(pop_lsb(b), occ);
  b = p.pieces(c, ROOK) | p.pieces(c, QUEEN);
  while (b) a |= rook_attacks(pop_lsb(b), occ);
  return a;
}

Bitboard leaper_attacks_by(const Position& p, int c) {
  Bitboard a = pawns_attack_bb(c, p.pieces(c, PAWN));
  Bitboard b = p.pieces(c, KNIGHT);
  while (b) a |= knight_attacks(pop_lsb(b));
  b = p.pieces(c, KING);
  while (b) a |= king_attacks(pop_lsb(b));
  return a;
}

Bitboard attacks_by(const Position& p, int c) { return slider_attacks_by(p, c) | leaper_attacks_by(p, c); }

bool king_attacked(const Position& p, int c) {
  int o = c ^ 1;
  Bitboard kb = p.pieces(c, KING);
  if (!kb) return false;
  int k = lsb(kb);
  Bitboard occ = p.bb[14];
  if (knight_attacks(k) & p.pieces(o, KNIGHT)) return true;
  if (king_attacks(k) & p.pieces(o, KING)) return true;
  if (bishop_attacks(k, occ) & (p.pieces(o, BISHOP) | p.pieces(o, QUEEN))) return true;
  if (rook_attacks(k, occ) & (p.pieces(o, ROOK) | p.pieces(o, QUEEN))) return true;
  if (pawn_attacks(c, k) & p.pieces(o, PAWN)) return true;
  return false;
}

Bitboard attackers_to(const Position& p, int sq, Bitboard occ) {
  return (pawn_attacks(WHITE, sq) & p.bb[8]) | (pawn_attacks(BLACK, sq) & p.bb[1]) |
         (knight_attacks(sq) & (p.bb[2] | p.bb[9])) | (king_attacks(sq) & (p.bb[6] | p.bb[13])) |
         (bishop_attacks(sq, occ) & (p.bb[3] | p.bb[5] | p.bb[10] | p.bb[12])) |
         (rook_attacks(sq, occ) & (p.bb[4] | p.bb[5] | p.bb[11] | p.bb[12]));
}

namespace {

void insertion_sort_entries(uint32_t* list, int n) {
  for (int i = 1; i < n; i++) {
    uint32_t e = list[i];
    int32_t key = int32_t(e & 0xFFFF0000u);
    int j = i - 1;
    while (j >= 0 && int32_t(list[j] & 0xFFFF0000u) < key) {
      list[j + 1] = list[j];
      j--;
    }
    list[j + 1] = e;
  }
}

#if defined(QUORIX_AVX2)
// Longer lists are ordered by rank instead: every entry gets a distinct sort value (its
// score above, 0xFFFF - index below, so that equal scores keep generation order), and its
// place is the number of values greater than its own. Eight ranks are counted at a time
// without a single data-dependent branch; insertion sort mispredicts once per entry.
constexpr int RANK_SORT_MIN = 7;

void rank_sort_entries(uint32_t* list, int n) {
  alignas(32) int32_t value[MAX_MOVES + 8];
  alignas(32) int32_t rank[MAX_MOVES + 8];
  uint32_t entry[MAX_MOVES];
  const int padded = (n + 7) & ~7;
  for (int i = 0; i < n; i++) {
    entry[i] = list[i];
    value[i] = int32_t((list[i] & 0xFFFF0000u) | (0xFFFFu - uint32_t(i)));
  }
  // Padding lanes rank themselves and are never stored.
  for (int i = n; i < padded; i++) value[i] = INT32_MIN;
  for (int b = 0; b < padded; b += 8) {
    const __m256i mine = _mm256_load_si256(reinterpret_cast<const __m256i*>(value + b));
    __m256i count = _mm256_setzero_si256();
    for (int j = 0; j < n; j++)
      count = _mm256_sub_epi32(count, _mm256_cmpgt_epi32(_mm256_set1_epi32(value[j]), mine));
    _mm256_store_si256(reinterpret_cast<__m256i*>(rank + b), count);
  }
  for (int i = 0; i < n; i++) list[rank[i]] = entry[i];
}
#endif

}  // namespace

void sort_entries(uint32_t* list, int n) {
#if defined(QUORIX_AVX2)
  if (n >= RANK_SORT_MIN) {
    // Lists already in order (e.g. all scores equal, as with empty history tables) stay as they are.
    int i = 1;
    while (i < n && int32_t(list[i] & 0xFFFF0000u) <= int32_t(list[i - 1] & 0xFFFF0000u)) i++;
    if (i == n) return;
    rank_sort_entries(list, n);
    return;
  }
#endif
  insertion_sort_entries(list, n);
}

namespace {

inline Bitboard promo_rank(int s) { return s == WHITE ? RANK_8 : RANK_1; }

// Whether a knight on sq attacks the enemy king of side s.
inline bool knight_checks(const Position& p, int s, int sq) {
  return (knight_attacks(sq) & p.pieces(s ^ 1, KING)) != 0;
}

// Castling moves of the side to move (king side first).
int gen_castling(const Position& p, uint32_t* list) {
  if (p.in_check) return 0;
  int s = p.side(), n = 0;
  Bitboard enemy_att = 0;
  bool have_att = false;
  for (int i = s * 2; i < s * 2 + 2; i++) {
    if (p.castle_lost & (1 << i)) continue;
    if (p.bb[14] & castle_keep[i] & castle_span[i]) continue;
    if (!have_att) { enemy_att = attacks_by(p, s ^ 1); have_att = true; }
    if (enemy_att & castle_path[i]) continue;
    int k = p.king_sq[s], r = castle_rook_sq[i];
    Move m = make_move_code(k, r, MK_CASTLE);
    list[n++] = m;
  }
  return n;
}

// Adds pawn moves landing on `targets` shifted from origin by `delta`.
inline int add_pawn_moves(uint32_t* list, Bitboard targets, int delta, int kind) {
  int n = 0;
  while (targets) {
    int to = pop_lsb(targets);
    list[n++] = make_move_code(to - delta, to, kind);
  }
  return n;
}

inline int add_promos(uint32_t* list, int from, int to, bool q, bool nt, bool r, bool b) {
  int n = 0;
  if (q) list[n++] = make_move_code(from, to, MK_PROMO_Q);
  if (nt) list[n++] = make_move_code(from, to, MK_PROMO_N);
  if (r) list[n++] = make_move_code(from, to, MK_PROMO_R);
  if (b) list[n++] = make_move_code(from, to, MK_PROMO_B);
  return n;
}

inline int add_piece_moves(uint32_t* list, int from, Bitboard targets) {
  int n = 0;
  while (targets) list[n++] = make_move_code(from, pop_lsb(targets));
  return n;
}

template <int PT>
inline Bitboard piece_attacks(int sq, Bitboard occ) {
  if constexpr (PT == KNIGHT) return knight_attacks(sq);
  else if constexpr (PT == BISHOP) return bishop_attacks(sq, occ);
  else if constexpr (PT == ROOK) return rook_attacks(sq, occ);
  else if constexpr (PT == QUEEN) return queen_attacks(sq, occ);
  else return king_attacks(sq);
}

template <int PT>
inline int gen_piece(const Position& p, uint32_t* list, Bitboard target) {
  int s = p.side(), n = 0;
  Bitboard b = p.pieces(s, PT);
  while (b) {
    int from = pop_lsb(b);
    n += add_piece_moves(list + n, from, piece_attacks<PT>(from, p.bb[14]) & target);
  }
  return n;
}

inline int up(int s) { return s == WHITE ? 8 : -8; }
inline Bitboard shift_up(int s, Bitboard b) { return s == WHITE ? b << 8 : b >> 8; }
// Pawn captures towards the lower file (left for white) and the higher file.
inline Bitboard cap_left(int s, Bitboard b) { return s == WHITE ? (b & ~FILE_A) << 7 : (b & ~FILE_A) >> 9; }
inline Bitboard cap_right(int s, Bitboard b) { return s == WHITE ? (b & ~FILE_H) << 9 : (b & ~FILE_H) >> 7; }
inline int left_delta(int s) { return s == WHITE ? 7 : -9; }
inline int right_delta(int s) { return s == WHITE ? 9 : -7; }

}  // namespace

int generate_all(const Position& p, uint32_t* list) {
  int s = p.side(), n = 0;
  Bitboard pawns = p.pieces(s, PAWN), empty = ~p.bb[14], enemy = p.pieces(s ^ 1);
  Bitboard pr = promo_rank(s);
  // pushes that promote
  Bitboard t = shift_up(s, pawns) & empty & pr;
  while (t) { int to = pop_lsb(t); n += add_promos(list + n, to - up(s), to, true, true, true, true); }
  n += gen_castling(p, list + n);
  // pawn captures
  for (int dir = 0; dir < 2; dir++) {
    int d = dir ? right_delta(s) : left_delta(s);
    Bitboard c = dir ? cap_right(s, pawns) : cap_left(s, pawns);
    Bitboard caps = c & enemy;
    Bitboard promo = caps & pr;
    caps &= ~pr;
    while (promo) { int to = pop_lsb(promo); n += add_promos(list + n, to - d, to, true, true, true, true); }
    n += add_pawn_moves(list + n, caps, d, MK_NORMAL);
    if (c & p.ep_bb) n += add_pawn_moves(list + n, p.ep_bb, d, MK_EP);
  }
  // single pushes
  Bitboard single = shift_up(s, pawns) & empty;
  n += add_pawn_moves(list + n, single & ~pr, up(s), MK_NORMAL);
  n += gen_piece<KNIGHT>(p, list + n, ~p.pieces(s));
  n += gen_piece<BISHOP>(p, list + n, ~p.pieces(s));
  n += gen_piece<ROOK>(p, list + n, ~p.pieces(s));
  n += gen_piece<QUEEN>(p, list + n, ~p.pieces(s));
  n += gen_piece<KING>(p, list + n, ~p.pieces(s));
  Bitboard dbl = shift_up(s, shift_up(s, pawns & second_rank[s]) & empty) & empty;
  n += add_pawn_moves(list + n, dbl, 2 * up(s), MK_DOUBLE);
  return n;
}

int generate_captures(const Position& p, uint32_t* list) {
  int s = p.side(), n = 0;
  Bitboard pawns = p.pieces(s, PAWN), empty = ~p.bb[14], enemy = p.pieces(s ^ 1);
  Bitboard pr = promo_rank(s);
  for (int dir = 0; dir < 2; dir++) {
    int d = dir ? right_delta(s) : left_delta(s);
    Bitboard c = dir ? cap_right(s, pawns) : cap_left(s, pawns);
    Bitboard caps = c & enemy;
    while (caps) {
      int to = pop_lsb(caps), from = to - d;
      if (sq_bb(to) & pr) {
        list[n++] = make_move_code(from, to, MK_PROMO_Q);
        if (knight_checks(p, s, to)) list[n++] = make_move_code(from, to, MK_PROMO_N);
      } else {
        list[n++] = make_move_code(from, to);
      }
    }
  }
  if (p.ep_bb) {
    int to = lsb(p.ep_bb);
    Bitboard att = pawn_attacks(s ^ 1, to) & pawns;
    while (att) {
      list[n++] = make_move_code(pop_lsb(att), to, MK_EP);
    }
  }
  Bitboard t = shift_up(s, pawns) & empty & pr;
  while (t) {
    int to = pop_lsb(t), from = to - up(s);
    list[n++] = make_move_code(from, to, MK_PROMO_Q);
    if (knight_checks(p, s, to)) list[n++] = make_move_code(from, to, MK_PROMO_N);
  }
  n += gen_piece<KNIGHT>(p, list + n, enemy);
  n += gen_piece<BISHOP>(p, list + n, enemy);
  n += gen_piece<ROOK>(p, list + n, enemy);
  n += gen_piece<QUEEN>(p, list + n, enemy);
  n += gen_piece<KING>(p, list + n, enemy);
  return n;
}

int generate_quiets(const Position& p, uint32_t* list) {
  int s = p.side(), n = 0;
  Bitboard pawns = p.pieces(s, PAWN), empty = ~p.bb[14], enemy = p.pieces(s ^ 1);
  Bitboard pr = promo_rank(s);
  n += gen_castling(p, list + n);
  n += add_pawn_moves(list + n, shift_up(s, pawns) & empty & ~pr, up(s), MK_NORMAL);
  n += gen_piece<KNIGHT>(p, list + n, empty);
  n += gen_piece<BISHOP>(p, list + n, empty);
  n += gen_piece<ROOK>(p, list + n, empty);
  n += gen_piece<QUEEN>(p, list + n, empty);
  n += gen_piece<KING>(p, list + n, empty);
  n += add_pawn_moves(list + n, shift_up(s, shift_up(s, pawns & second_rank[s]) & empty) & empty, 2 * up(s),
                      MK_DOUBLE);
  // promotions not produced by the captures stage
  Bitboard t = shift_up(s, pawns) & empty & pr;
  while (t) {
    int to = pop_lsb(t);
    n += add_promos(list + n, to - up(s), to, false, !knight_checks(p, s, to), true, true);
  }
  for (int dir = 0; dir < 2; dir++) {
    int d = dir ? right_delta(s) : left_delta(s);
    Bitboard c = (dir ? cap_right(s, pawns) : cap_left(s, pawns)) & enemy & pr;
    while (c) {
      int to = pop_lsb(c);
      n += add_promos(list + n, to - d, to, false, !knight_checks(p, s, to), true, true);
    }
  }
  return n;
}

namespace {

// Every capture of a checker on square c (pawns with all promotions, pieces).
int gen_checker_captures(const Position& p, uint32_t* list, int c) {
  int s = p.side(), n = 0;
  Bitboard occ = p.bb[14];
  Bitboard pw = pawn_attacks(s ^ 1, c) & p.pieces(s, PAWN);
  while (pw) {
    int from = pop_lsb(pw);
    if (sq_bb(c) & promo_rank(s)) n += add_promos(list + n, from, c, true, true, true, true);
    else list[n++] = make_move_code(from, c);
  }
  Bitboard kn = knight_attacks(c) & p.pieces(s, KNIGHT);
  while (kn) list[n++] = make_move_code(pop_lsb(kn), c);
  Bitboard diag = bishop_attacks(c, occ) & (p.pieces(s, BISHOP) | p.pieces(s, QUEEN));
  while (diag) list[n++] = make_move_code(pop_lsb(diag), c);
  Bitboard line = rook_attacks(c, occ) & (p.pieces(s, ROOK) | p.pieces(s, QUEEN));
  while (line) list[n++] = make_move_code(pop_lsb(line), c);
  return n;
}

// Interpositions on the squares of B.
int gen_interpositions(const Position& p, uint32_t* list, Bitboard B) {
  int s = p.side(), n = 0;
  Bitboard pawns = p.pieces(s, PAWN), empty = ~p.bb[14], occ = p.bb[14];
  Bitboard single = shift_up(s, pawns) & empty;
  Bitboard t = single & B;
  while (t) {
    int to = pop_lsb(t), from = to - up(s);
    if (sq_bb(to) & promo_rank(s)) n += add_promos(list + n, from, to, true, true, false, false);
    else list[n++] = make_move_code(from, to);
  }
  Bitboard dbl = shift_up(s, single & (s == WHITE ? RANK_3 : RANK_6)) & empty & B;
  n += add_pawn_moves(list + n, dbl, 2 * up(s), MK_DOUBLE);
  Bitboard b = p.pieces(s, KNIGHT);
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, knight_attacks(f) & B); }
  b = p.pieces(s, BISHOP);
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, bishop_attacks(f, occ) & B); }
  b = p.pieces(s, ROOK);
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, rook_attacks(f, occ) & B); }
  b = p.pieces(s, QUEEN);
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, queen_attacks(f, occ) & B); }
  return n;
}

}  // namespace

int generate_evasions(const Position& p, uint32_t* list) {
  int s = p.side(), o = s ^ 1, n = 0;
  int k = p.king_sq[s];
  Bitboard occ = p.bb[14];
  Bitboard kn = knight_attacks(k) & p.pieces(o, KNIGHT);
  Bitboard pw = pawn_attacks(s, k) & p.pieces(o, PAWN);
  if (kn) {
    n += gen_checker_captures(p, list + n, lsb(kn));
  } else if (pw) {
    n += gen_checker_captures(p, list + n, lsb(pw));
    if (p.ep_bb) {
      int to = lsb(p.ep_bb);
      Bitboard att = pawn_attacks(o, to) & p.pieces(s, PAWN);
      while (att) list[n++] = make_move_code(pop_lsb(att), to, MK_EP);
    }
  } else {
    Bitboard diag = bishop_attacks(k, occ) & (p.pieces(o, BISHOP) | p.pieces(o, QUEEN));
    while (diag) {
      int c = pop_lsb(diag);
      n += gen_checker_captures(p, list + n, c);
      n += gen_interpositions(p, list + n, between_bb[k][c]);
    }
    Bitboard line = rook_attacks(k, occ) & (p.pieces(o, ROOK) | p.pieces(o, QUEEN));
    while (line) {
      int c = pop_lsb(line);
      n += gen_checker_captures(p, list + n, c);
      n += gen_interpositions(p, list + n, between_bb[k][c]);
    }
  }
  // King moves to unattacked squares (attacks computed without the king).
  Bitboard targets = king_attacks(k) & ~p.pieces(s);
  if (targets) {
    Bitboard occ2 = occ ^ sq_bb(k);
    Bitboard att = pawns_attack_bb(o, p.pieces(o, PAWN));
    if (p.pieces(o, KING)) att |= king_attacks(p.king_sq[o]);
    Bitboard b = p.pieces(o, KNIGHT);
    while (b) att |= knight_attacks(pop_lsb(b));
    b = p.pieces(o, BISHOP) | p.pieces(o, QUEEN);
    while (b) att |= bishop_attacks(pop_lsb(b), occ2);
    b = p.pieces(o, ROOK) | p.pieces(o, QUEEN);
    while (b) att |= rook_attacks(pop_lsb(b), occ2);
    n += add_piece_moves(list + n, k, targets & ~att);
  }
  return n;
}

int generate_moves(const Position& p, uint32_t* list, int what) {
  if (what == 0) return generate_captures(p, list);
  if (what == 1) return generate_evasions(p, list);
  return 0;
}

int generate_quiet_checks(const Position& p, uint32_t* list, bool deep) {
  int s = p.side(), o = s ^ 1, n = 0;
  if (!p.pieces(o, KING)) return 0;
  int ek = p.king_sq[o];
  Bitboard occ = p.bb[14], empty = ~occ, own = p.pieces(s);
  Bitboard pr = promo_rank(s);
  // Discovering pieces: own pieces alone between an own slider and the enemy king.
  Bitboard disc = 0;
  Bitboard snipers = (bishop_attacks(ek, 0) & (p.pieces(s, BISHOP) | p.pieces(s, QUEEN))) |
                     (rook_attacks(ek, 0) & (p.pieces(s, ROOK) | p.pieces(s, QUEEN)));
  while (snipers) {
    int sn = pop_lsb(snipers);
    Bitboard bt = between_bb[ek][sn] & occ;
    if (bt && !more_than_one(bt) && (bt & own)) disc |= bt;
  }
  Bitboard d = disc;
  while (d) {
    int from = pop_lsb(d);
    int pt = piece_type(p.board[from]);
    Bitboard off_line = ~line_bb[ek][from];
    if (pt == PAWN) {
      int to = from + up(s);
      if (!(sq_bb(to) & occ) && !(sq_bb(to) & pr)) {
        if (sq_bb(to) & off_line) list[n++] = make_move_code(from, to);
        int to2 = to + up(s);
        if ((sq_bb(from) & second_rank[s]) && !(sq_bb(to2) & occ) && (sq_bb(to2) & off_line))
          list[n++] = make_move_code(from, to2, MK_DOUBLE);
      }
    } else if (pt == KING) {
      n += add_piece_moves(list + n, from, king_attacks(from) & empty & off_line);
    } else {
      Bitboard att = pt == KNIGHT ? knight_attacks(from)
                     : pt == BISHOP ? bishop_attacks(from, occ)
                     : pt == ROOK ? rook_attacks(from, occ)
                                  : queen_attacks(from, occ);
      n += add_piece_moves(list + n, from, att & empty & off_line);
    }
  }
  // Direct checks by pawn pushes.
  Bitboard pawns = p.pieces(s, PAWN) & ~disc;
  Bitboard ptarget = pawn_attacks(o, ek) & empty & ~pr;
  Bitboard single = shift_up(s, pawns) & empty;
  n += add_pawn_moves(list + n, single & ptarget, up(s), MK_NORMAL);
  Bitboard dbl = shift_up(s, single & (s == WHITE ? RANK_3 : RANK_6)) & empty & ptarget;
  n += add_pawn_moves(list + n, dbl, 2 * up(s), MK_DOUBLE);
  // Direct checks by pieces.
  Bitboard unsafe_p = 0, unsafe_n = 0;
  if (!deep) {
    unsafe_p = pawns_attack_bb(o, p.pieces(o, PAWN));
    Bitboard b = p.pieces(o, KNIGHT);
    while (b) unsafe_n |= knight_attacks(pop_lsb(b));
  }
  Bitboard n_tg = knight_attacks(ek) & empty & ~unsafe_p;
  Bitboard r_tg = rook_attacks(ek, occ) & empty & ~unsafe_p;
  Bitboard b_tg = bishop_attacks(ek, occ) & empty & ~unsafe_p;
  Bitboard b = p.pieces(s, KNIGHT) & ~disc;
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, knight_attacks(f) & n_tg); }
  b = (p.pieces(s, ROOK) | p.pieces(s, QUEEN)) & ~disc;
  while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, rook_attacks(f, occ) & r_tg & ~unsafe_n); }
  if (deep) {
    b = (p.pieces(s, BISHOP) | p.pieces(s, QUEEN)) & ~disc;
    while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, bishop_attacks(f, occ) & b_tg); }
  } else {
    b = p.pieces(s, BISHOP) & ~disc;
    while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, bishop_attacks(f, occ) & b_tg); }
    b = p.pieces(s, QUEEN) & ~disc;
    while (b) { int f = pop_lsb(b); n += add_piece_moves(list + n, f, bishop_attacks(f, occ) & b_tg & ~unsafe_n); }
  }
  return n;
}

int generate_queen_checks(const Position& p, uint32_t* list) {
  int s = p.side(), o = s ^ 1, n = 0;
  if (!p.pieces(o, KING)) return 0;
  Bitboard occ = p.bb[14];
  Bitboard tg = queen_attacks(p.king_sq[o], occ) & ~occ;
  Bitboard q = p.pieces(s, QUEEN);
  while (q) { int f = pop_lsb(q); n += add_piece_moves(list + n, f, queen_attacks(f, occ) & tg); }
  return n;
}

int generate_pushes_to_seventh(const Position& p, uint32_t* list) {
  int s = p.side();
  Bitboard empty = ~p.bb[14];
  Bitboard t = shift_up(s, p.pieces(s, PAWN)) & empty & seventh_rank[s] & shift_up(s ^ 1, empty);
  return add_pawn_moves(list, t, up(s), MK_NORMAL);
}

bool is_pseudo_legal(const Position& p, Move m) {
  if (m == 0 || (m & 0x8000)) return false;
  int s = p.side();
  int kind = move_kind(m), from = move_from(m), to = move_to(m);
  if (kind == MK_CASTLE) {
    uint32_t tmp[2];
    int n = gen_castling(p, tmp);
    for (int i = 0; i < n; i++)
      if (entry_move(tmp[i]) == m) return true;
    return false;
  }
  if (kind == MK_EP) {
    if (!p.ep_bb || to != lsb(p.ep_bb)) return false;
    return (pawn_attacks(s ^ 1, to) & p.pieces(s, PAWN) & sq_bb(from)) != 0;
  }
  int pc = p.board[from];
  if (!pc || piece_color(pc) != s) return false;
  if (p.board[to] && piece_color(p.board[to]) == s) return false;
  int pt = piece_type(pc);
  if (pt != PAWN) {
    if (kind != MK_NORMAL) return false;
    if (pt == KNIGHT) return (knight_attacks(from) & sq_bb(to)) != 0;
    if (pt == KING) return (king_attacks(from) & sq_bb(to)) != 0;
    Bitboard rays = pt == BISHOP ? LT.bishop_ray[from] : pt == ROOK ? LT.rook_ray[from] : LT.queen_ray[from];
    return (rays & sq_bb(to)) && !(between_bb[from][to] & p.bb[14]);
  }
  int one = from + up(s);
  if (one < 0 || one > 63) return false;
  bool promo_move = (sq_bb(one) & promo_rank(s)) != 0;
  if (kind >= MK_PROMO_Q) {
    if (!promo_move) return false;
  } else if (promo_move) {
    return false;
  }
  if (p.board[to]) {
    if (kind == MK_DOUBLE) return false;
    return rank_of(to) == rank_of(one) && (file_of(to) - file_of(one) == 1 || file_of(one) - file_of(to) == 1);
  }
  if (p.board[one]) return false;
  if (to == one) return kind != MK_DOUBLE;
  return kind == MK_DOUBLE && (sq_bb(from) & second_rank[s]) && to == one + up(s);
}

bool has_legal_evasion(const Position& p) {
  uint32_t list[MAX_MOVES];
  int n = generate_evasions(p, list);
  Position child;
  for (int i = 0; i < n; i++)
    if (make_move(p, child, entry_move(list[i]))) return true;
  return false;
}

}  // namespace quorix
