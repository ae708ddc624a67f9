// Material evaluation and the classical (hand-written) evaluation.
#include <cmath>

#include "board/material.h"
#include "eval/eval_internal.h"

namespace quorix {

namespace {

constexpr float PAWN_G[4] = {0.05f, 0.11f, 0.20f, 0.28f};
constexpr float PAWN_H[6] = {0.40f, 0.50f, 0.62f, 0.72f, 0.82f, 0.90f};
constexpr double RAM_FACTOR[9] = {1.0, 1.0, 0.95, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4};
constexpr int WIN_ADJUST[9] = {12, 10, 8, 6, 4, 2, 0, -2, -4};
constexpr Bitboard KNIGHT_CENTER = 0x00003C3C3C3C0000ULL;  // counted twice in knight mobility

inline int tapered(Score s, int phase) { return mg_value(s) * phase + eg_value(s) * (96 - phase); }
inline int capped_phase(const Position& p) { return p.phase > 96 ? 96 : p.phase < 0 ? 0 : p.phase; }

// Side-level material sum S of colour c (step 3 of the material evaluation).
struct Counts {
  int P, N, B, R, Q, light, dark;
};

Counts count_side(const Position& p, int c) {
  Counts k;
  k.P = popcount(p.pieces(c, PAWN));
  k.N = popcount(p.pieces(c, KNIGHT));
  k.B = popcount(p.pieces(c, BISHOP));
  k.R = popcount(p.pieces(c, ROOK));
  k.Q = popcount(p.pieces(c, QUEEN));
  k.dark = popcount(p.pieces(c, BISHOP) & DARK_SQUARES);
  k.light = k.B - k.dark;
  return k;
}

int side_sum(const Counts& s, const Counts& o, const Counts& tot) {
  const int* v = g_et.piece_value;
  int cP = 10 * tot.N - 37 * tot.R - 65 * tot.Q;
  int cN = 25 * tot.P + 32 * tot.B - 29 * tot.R + 32 * tot.Q;
  int cB = 25 * tot.N + 3 * tot.R + 33 * tot.Q;
  int cR = -48 * tot.P - 24 * tot.N - tot.B - 150 * tot.R - 114 * tot.Q;
  int cQ = -77 * tot.P + 31 * tot.N + 41 * tot.B - 130 * tot.R - 270 * tot.Q;
  int S = (v[PAWN] + cP) * s.P + (v[KNIGHT] + cN) * s.N + (v[BISHOP] + cB) * s.B + (v[ROOK] + cR) * s.R +
          (v[QUEEN] + cQ) * s.Q;
  if (s.N >= 2) S -= 18;
  if (s.B >= 2) {
    S += 556 - 52 * s.Q - 11 * s.P;
    if (o.N + o.B == 0) S += 41;
    if (o.N > 0 && o.B == 0) S += 20;
  }
  if (s.N + s.B >= o.N + o.B + 3) S += 200;
  if (s.B > 0 && o.N == 0 && o.B <= 1) {
    bool same_colour_pair = s.B == 1 && o.B == 1 && s.dark == o.dark;
    if (!same_colour_pair) S += 30;
  }
  return S;
}

}  // namespace

int material(Position& p, float& scale) {
  const uint64_t key = p.mat_key;
  if (p.mat_table) {
    const MaterialEntry& e = p.mat_table[key & (MAT_TABLE_ENTRIES - 1)];
    if (e.key == key) {
      scale = e.scale;
      return e.value;
    }
  }
  if (const MatSignature* sig = find_signature(key)) {
    if (sig->special != SE_NONE) return 96 * run_special_eval(*sig, p, scale);
    scale = sig->scale;
    int v = 96 * sig->value;
    if (p.mat_table) p.mat_table[key & (MAT_TABLE_ENTRIES - 1)] = MaterialEntry{key, scale, v};
    return v;
  }

  const int phase = capped_phase(p);
  Counts w = count_side(p, WHITE), b = count_side(p, BLACK);
  Counts tot{w.P + b.P, w.N + b.N, w.B + b.B, w.R + b.R, w.Q + b.Q, 0, 0};
  int Sw = side_sum(w, b, tot), Sb = side_sum(b, w, tot);

  int npw_w = 24 * w.N + 28 * w.B + 40 * w.R + 72 * w.Q;
  int npw_b = 24 * b.N + 28 * b.B + 40 * b.R + 72 * b.Q;
  float sc = 1.0f;
  if (tot.P && npw_w == 0) sc = npw_b == 0 ? 1.3f : 1.0f;
  else if ((npw_w == 40 && npw_b == 40) || (npw_w == 72 && npw_b == 72)) sc = 0.9f;
  bool opposite_bishops = w.B == 1 && b.B == 1 && w.dark != b.dark;
  if (opposite_bishops && npw_w == 28 && npw_b == 28) sc = 0.64f;

  int d = npw_w / 8 - npw_b / 8;
  if (d < 0) d = -d;
  if (tot.P) {
    if (phase > 0) {
      if (Sw != Sb) {
        int n = Sw > Sb ? w.P : b.P, other = Sw > Sb ? b.P : w.P;
        if (n > 5) {
        } else if (n == 0 && other <= 1 && d <= 3) {
          sc *= PAWN_G[d];
        } else {
          sc *= PAWN_H[n];
        }
      } else {
        int n = w.P > b.P ? w.P : b.P;
        if (n < 2 && d <= 3) sc *= PAWN_G[d];
        else if (n <= 5) sc *= PAWN_H[n];
      }
    }
  } else if (d <= 3) {
    sc *= PAWN_G[d];
  }

  // 64-bit steps: positions with dozens of queens must not overflow.
  int64_t v = 96 * int64_t(Sw - Sb);
  if (opposite_bishops) v = int64_t(std::fma(0.001666666, double(phase), 0.8) * double(v));
  v = int64_t(double(sc) * double(v));
  if (v > 76800) v -= (v - 76800) * phase / 288;
  else if (v < -76800) v -= (v + 76800) * phase / 288;
  v = v * 97 / 100 * 105 / 100;
  sc *= g_et.phase_scale[phase];
  const int result = int(v);
  if (p.mat_table) p.mat_table[key & (MAT_TABLE_ENTRIES - 1)] = MaterialEntry{key, sc, result};
  scale = sc;
  return result;
}

namespace {

struct EvalState {
  Bitboard pawn_att[2];
  Bitboard att[2];
  Bitboard att_by[2][8];
  Bitboard zone[2];
  Bitboard pinned[2];
  int units[2];      // attack units against colour c's king
  int attackers[2];  // pieces of the other colour attacking c's king zone
};

Bitboard pinned_to_king(const Position& p, int c) {
  int k = p.king_sq[c], o = c ^ 1;
  Bitboard snipers = (LT.bishop_ray[k] & (p.pieces(o, BISHOP) | p.pieces(o, QUEEN))) |
                     (LT.rook_ray[k] & (p.pieces(o, ROOK) | p.pieces(o, QUEEN)));
  Bitboard pinned = 0, occ = p.occupied();
  while (snipers) {
    Bitboard b = between_bb[k][pop_lsb(snipers)] & occ;
    if (b && !more_than_one(b)) pinned |= b & p.pieces(c);
  }
  return pinned;
}

// Terms of colour c's pieces of one kind; attack sets and king-zone counts go into st.
template <int PT>
inline void piece_kind_terms(const Position& p, int c, const PawnEntry& pe, EvalState& st, Score& stat, Score& dyn) {
  Bitboard b = p.pieces(c, PT);
  if (!b) return;
  const EvalTables& t = g_et;
  const int o = c ^ 1;
  const Bitboard occ = p.occupied();
  const Bitboard area = ~(p.pieces(c) | st.pawn_att[o]);
  const int ksq = p.king_sq[c];
  const Bitboard zone = st.zone[o], pinned_set = st.pinned[c];
  const Bitboard near_king = king_attacks(p.king_sq[o]);
  Bitboard all = 0;
  Score s = 0, d = 0;
  int attackers = 0, units = 0;
  do {
    const int sq = pop_lsb(b);
    Bitboard a = PT == KNIGHT   ? knight_attacks(sq)
                 : PT == BISHOP ? bishop_attacks(sq, occ)
                 : PT == ROOK   ? rook_attacks(sq, occ)
                                : queen_attacks(sq, occ);
    // A pinned piece moves along its pin line only and counts as immobile (branch-free: pins are rare
    // but unpredictable).
    const Bitboard pinned = Bitboard(0) - ((pinned_set >> sq) & 1);
    a &= line_bb[ksq][sq] | ~pinned;
    const Bitboard m = a & area & ~pinned;
    int n = popcount(m);
    if constexpr (PT == KNIGHT) n += popcount(m & KNIGHT_CENTER);
    d += t.mobility[PT - KNIGHT][n];
    all |= a;
    if (a & zone) {
      attackers++;
      units += t.zone_weight[PT] + popcount(a & near_king);
    }
    if constexpr (PT == KNIGHT) {
      s += t.knight_king_distance[distance[sq][ksq]];
      s += t.knight_file_group[pe.file_group[o]];
    } else if constexpr (PT == ROOK) {
      const Bitboard file = FILE_A << file_of(sq);
      if (!(file & p.pieces(c, PAWN))) s += (file & p.pieces(o, PAWN)) ? t.rook_semi_open : t.rook_open;
    }
  } while (b);
  st.att_by[c][PT] |= all;
  st.att[c] |= all;
  st.attackers[o] += attackers;
  st.units[o] += units;
  stat += s;
  dyn += d;
}

// Piece terms of colour c except king safety: placement, mobility, king-zone attacks, rooks' files.
// Adds to stat (static part) and dyn (dynamic part).
void piece_terms(const Position& p, int c, const PawnEntry& pe, EvalState& st, Score& stat, Score& dyn) {
  piece_kind_terms<KNIGHT>(p, c, pe, st, stat, dyn);
  piece_kind_terms<BISHOP>(p, c, pe, st, stat, dyn);
  piece_kind_terms<ROOK>(p, c, pe, st, stat, dyn);
  piece_kind_terms<QUEEN>(p, c, pe, st, stat, dyn);
}

Score threats(const Position& p, int c, const EvalState& st) {
  const EvalTables& t = g_et;
  const int o = c ^ 1;
  Score s = 0;
  Bitboard targets = p.pieces(o) & ~p.pieces(o, KING);
  for (Bitboard b = targets & ~p.pieces(o, PAWN) & st.pawn_att[c]; b;) s += t.threat_pawn[piece_type(p.board[pop_lsb(b)])];
  Bitboard weak = ~st.att[o] | p.pieces(o, ROOK) | p.pieces(o, QUEEN);
  for (Bitboard b = targets & weak & (st.att_by[c][KNIGHT] | st.att_by[c][BISHOP]); b;)
    s += t.threat_minor[piece_type(p.board[pop_lsb(b)])];
  Bitboard heavy = st.att_by[c][ROOK] | st.att_by[c][QUEEN] | st.att_by[c][KING];
  Bitboard hang = (targets & ~st.att[o] & heavy) | (p.pieces(o, QUEEN) & st.att_by[c][ROOK]);
  for (Bitboard b = hang; b;) s += t.threat_hanging[piece_type(p.board[pop_lsb(b)])];
  return s;
}

// King-safety penalty of colour c's king.
Score king_safety(const Position& p, int c, const PawnEntry& pe, const EvalState& st) {
  const EvalTables& t = g_et;
  const int o = c ^ 1, k = p.king_sq[c];
  int attack = st.units[c] * g_attack_weight[o] / 100;
  if (st.attackers[c] < 2) attack /= 2;
  int units = t.ks_start - pe.shelter[c] + attack;
  if (!p.pieces(o, QUEEN)) units -= 9;
  if (units < 0) units = 0;
  if (units >= KING_DANGER_SIZE) units = KING_DANGER_SIZE - 1;
  Score s = t.king_danger[units];

  const Bitboard occ = p.occupied();
  Bitboard safe = ~st.att[c] & ~p.pieces(o);
  Bitboard bchk = bishop_attacks(k, occ), rchk = rook_attacks(k, occ);
  Bitboard checks = (knight_attacks(k) & st.att_by[o][KNIGHT]) | (bchk & st.att_by[o][BISHOP]) |
                    (rchk & st.att_by[o][ROOK]) | ((bchk | rchk) & st.att_by[o][QUEEN]);
  int nc = popcount(checks & safe);
  s += t.check_penalty[nc > 7 ? 7 : nc];
  s += t.ring_penalty[popcount(king_attacks(k) & st.att[o] & ~st.pawn_att[c])];
  return s;
}

Score passed_pawns(const Position& p, int c, const PawnEntry& pe, const EvalState& st) {
  const EvalTables& t = g_et;
  const int o = c ^ 1;
  const bool opp_bare = !(p.pieces(o) & ~p.pieces(o, PAWN) & ~p.pieces(o, KING));
  const Score* table = t.passed[opp_bare ? 1 : 0];
  const Bitboard occ = p.occupied();
  Score s = 0;
  for (int i = 0; i < 8 && pe.passed[c][i]; i++) {
    int sq = pe.passed[c][i];
    int r = c == WHITE ? rank_of(sq) : 7 - rank_of(sq);
    int stop = sq + push_offset[c];
    s += table[r];
    Bitboard path = c == WHITE ? FILE_A << sq : FILE_H >> (63 - sq);
    path &= ~sq_bb(sq);
    if (!(path & occ)) s += t.passed_free[r];
    if (path & st.att[o]) s += t.passed_attacked[r];
    else if (st.att[c] & sq_bb(stop)) s += t.passed_defended[r];
    int w = r > 2 ? r - 2 : 0;
    if (w) {
      int dopp = distance[p.king_sq[o]][stop], down = distance[p.king_sq[c]][stop];
      if (dopp > 5) dopp = 5;
      if (down > 5) down = 5;
      s += make_score(0, w * (t.passed_king_opp * dopp - t.passed_king_own * down));
    }
  }
  return s;
}

// Kings on the same wing: attacking potential of each side on that wing.
Score king_wing_term(const Position& p, int c, int wing) {
  const Bitboard files = wing == 1 ? 0xF0F0F0F0F0F0F0F0ULL : 0x0F0F0F0F0F0F0F0FULL;
  // Kings on e-h: White's dark-square bishop, Black's light-square one; on a-d the other way round.
  bool want_dark = (wing == 1) == (c == WHITE);
  Bitboard bishops = p.pieces(c, BISHOP) & (want_dark ? DARK_SQUARES : ~DARK_SQUARES);
  int mg = bishops ? 35 : 0;
  int nq = popcount((p.pieces(c, KNIGHT) | p.pieces(c, QUEEN)) & files);
  mg += nq >= 2 ? 70 : nq == 1 ? 35 : 0;
  mg += 8 * popcount(p.pieces(c, PAWN) & files);
  return make_score(mg, 0);
}

Score shut_in_rook(const Position& p, int c) {
  int k = p.king_sq[c] ^ (c == WHITE ? 0 : 56);
  if (k != 5 && k != 6) return 0;
  Bitboard trap = c == WHITE ? (sq_bb(6) | sq_bb(7) | sq_bb(14) | sq_bb(15))
                             : (sq_bb(62) | sq_bb(63) | sq_bb(54) | sq_bb(55));
  return (p.pieces(c, ROOK) & trap) ? SHUT_IN_ROOK : 0;
}

Score scale_dynamic(Score s) {
  if (g_dynamism_weight_mg == DYNAMISM_NEUTRAL_MG && g_dynamism_weight_eg == DYNAMISM_NEUTRAL_EG) return s;
  return make_score(mg_value(s) * g_dynamism_weight_mg / DYNAMISM_NEUTRAL_MG,
                    eg_value(s) * g_dynamism_weight_eg / DYNAMISM_NEUTRAL_EG);
}

// Lone bishop with rook pawns of the wrong colour: the defending king in the corner holds.
int wrong_bishop_rule(const Position& p, int v) {
  int strong = v > 0 ? WHITE : BLACK, weak = strong ^ 1;
  Bitboard pieces = p.pieces(strong) & ~p.pieces(strong, PAWN) & ~p.pieces(strong, KING);
  if (pieces != p.pieces(strong, BISHOP) || more_than_one(pieces) || !pieces) return v;
  Bitboard pawns = p.pieces(strong, PAWN);
  if (!pawns) return v;
  int file;
  if (!(pawns & ~FILE_A)) file = 0;
  else if (!(pawns & ~FILE_H)) file = 7;
  else return v;
  int queening = strong == WHITE ? 56 + file : file;
  if (square_color(lsb(pieces)) == square_color(queening)) return v;
  if (distance[p.king_sq[weak]][queening] > 1) return v;
  return v / 8;
}

}  // namespace

#ifdef QUORIX_EVAL_STATS
thread_local EvalStats g_eval_stats;
#endif

int classical(Position& p, int alpha, int beta, bool* lazy) {
#ifdef QUORIX_EVAL_STATS
  g_eval_stats.calls++;
#endif
  const EvalTables& t = g_et;
  float scale = 0;
  const int m = material(p, scale);
  const int phase = capped_phase(p);
  if (lazy) *lazy = false;
  const int stm_sign = p.side() == WHITE ? 1 : -1;
  const Score cw = g_contempt[WHITE];

  if (scale == 0.0f) return (m + tapered(cw, phase)) / 960 * stm_sign;

  const bool pawn_on_seventh = (p.pieces(WHITE, PAWN) & RANK_7) || (p.pieces(BLACK, PAWN) & RANK_2);
  if (!pawn_on_seventh) {
    int est = (int(double(scale) * double(last_tapered(p))) + m) / 960;
    if (m > -19200 && m < 19200) est = est * 88 / 100;
    est *= stm_sign;
    if (phase >= 7 && (est < alpha || est > beta)) {
#ifdef QUORIX_EVAL_STATS
      g_eval_stats.lazy++;
#endif
      if (lazy) *lazy = true;
      return est;
    }
  }

  const PawnEntry& pe = probe_pawns(p);

  EvalState st;
  for (int c = WHITE; c <= BLACK; c++) {
    st.pawn_att[c] = pawns_attack_bb(c, p.pieces(c, PAWN));
    Bitboard ka = king_attacks(p.king_sq[c]);
    for (int pt = 0; pt < 8; pt++) st.att_by[c][pt] = 0;
    st.att_by[c][PAWN] = st.pawn_att[c];
    st.att_by[c][KING] = ka;
    st.att[c] = st.pawn_att[c] | ka;
    Bitboard zone = ka | sq_bb(p.king_sq[c]);
    st.zone[c] = zone | pawn_push_bb(c, zone);
    st.pinned[c] = pinned_to_king(p, c);
    st.units[c] = st.attackers[c] = 0;
  }
  Score stat[2] = {0, 0}, dyn[2] = {0, 0};
  for (int c = WHITE; c <= BLACK; c++) piece_terms(p, c, pe, st, stat[c], dyn[c]);
  for (int c = WHITE; c <= BLACK; c++) {
    dyn[c] += threats(p, c, st);
    dyn[c] += king_safety(p, c, pe, st);
    stat[c] += passed_pawns(p, c, pe, st);
    stat[c] += shut_in_rook(p, c);
    if (t.king_wing_term && pe.king_wings) stat[c] += king_wing_term(p, c, pe.king_wings);
  }

  Score total = stat[WHITE] - stat[BLACK] + scale_dynamic(dyn[WHITE]) - scale_dynamic(dyn[BLACK]) + Score(p.psq);
  total = make_score(mg_value(total) * g_positional_weight_mg / 128, eg_value(total) * g_positional_weight_eg / 128);
  total += Score(pe.score) + cw;
  if (phase <= 17) total += t.late_endgame[pe.file_group[WHITE]] - t.late_endgame[pe.file_group[BLACK]];

  const int tap = tapered(total, phase);
  last_tapered(p) = tap;

  if (!pe.passed[WHITE][0] && !pe.passed[BLACK][0] && pe.open_files == 0) scale *= 0.9f;
  int v = int(double(scale) * double(tap));
  if (pe.closed) v = int(double(v) * 0.9);
  v += m;
  const int rams = pe.rams > 8 ? 8 : pe.rams;
  v = int(double(v) * RAM_FACTOR[rams]);

  v = v >= 0 ? (v + 48) / 96 : -((-v + 48) / 96);
  v += rams * rams * g_contempt_mg / 10;

  if (phase >= 4 && phase <= 8 && (v >= 31 || v <= -31)) v = wrong_bishop_rule(p, v);

  int r = p.side() == WHITE ? (v + t.tempo[phase]) / 10 : (v - t.tempo[phase]) / 10;

  if (r != 0) {
    int s = r > 0 ? (r < 150 ? r : 150) : (r > -150 ? r : -150);
    int b = pe.file_group[r > 0 ? WHITE : BLACK];
    r -= s * (96 - phase) * WIN_ADJUST[b > 8 ? 8 : b] / 12288;
  }
  r *= stm_sign;
  if (m > -19200 && m < 19200) r = r * 88 / 100;
  return r;
}

}  // namespace quorix
