#include "board/makemove.h"

#include <emmintrin.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"

namespace quorix {

namespace {

inline void move_piece_bb(Position& c, int col, int pt, int from, int to) {
  Bitboard ft = sq_bb(from) ^ sq_bb(to);
  c.bb[col * 7 + pt] ^= ft;
  c.bb[col * 7] ^= ft;
}

// Copies the first N bytes of a position record (both records are 64-byte aligned).
template <size_t N>
inline void copy_prefix(Position& dst, const Position& src) {
#if defined(QUORIX_AVX2)
  constexpr size_t V = N / 32;
  auto* d = reinterpret_cast<__m256i*>(&dst);
  auto* s = reinterpret_cast<const __m256i*>(&src);
  for (size_t i = 0; i < V; i++) _mm256_store_si256(d + i, _mm256_load_si256(s + i));
  if constexpr (N % 32 != 0)
    std::memcpy(reinterpret_cast<char*>(&dst) + V * 32, reinterpret_cast<const char*>(&src) + V * 32, N % 32);
#else
  // SSE2 is part of every x86-64 processor. A plain memcpy of this size becomes
  // "rep movs", whose stores do not forward to the reads that follow at once.
  constexpr size_t V = N / 16;
  auto* d = reinterpret_cast<__m128i*>(&dst);
  auto* s = reinterpret_cast<const __m128i*>(&src);
  for (size_t i = 0; i < V; i++) _mm_store_si128(d + i, _mm_load_si128(s + i));
  if constexpr (N % 16 != 0)
    std::memcpy(reinterpret_cast<char*>(&dst) + V * 16, reinterpret_cast<const char*>(&src) + V * 16, N % 16);
#endif
}

// Whether `from` lies on a diagonal through side s's king with an enemy bishop or queen
// somewhere on those diagonals, or on a rank or file through it with an enemy rook or queen.
inline bool exposes_line(const Position& p, int s, int from) {
  const int k = p.king_sq[s], o = s ^ 1;
  const Bitboard f = sq_bb(from), queens = p.pieces(o, QUEEN);
  return ((LT.bishop_ray[k] & f) && (LT.bishop_ray[k] & (p.pieces(o, BISHOP) | queens))) ||
         ((LT.rook_ray[k] & f) && (LT.rook_ray[k] & (p.pieces(o, ROOK) | queens)));
}

// Castling (king on `from`, rook on `to`), kept out of line: the common path then needs
// fewer registers.
template <bool nn>
[[gnu::noinline]] int make_castling(const Position& parent, Position& child, int s, int from, int to, uint64_t key) {
  const int k = from, r = to;
  const int base = k & 56;
  const int t = base + (r > k ? 6 : 2), u = base + (r > k ? 5 : 3);
  const int king_pc = make_piece(s, KING), rook_pc = parent.board[r];
  if (t != k) {
    key ^= zobrist[s][KING][k] ^ zobrist[s][KING][t];
    child.pawn_key ^= pawn_zobrist[s][KING][k] ^ pawn_zobrist[s][KING][t];
    child.psq += psq_table[s][KING][t] - psq_table[s][KING][k];
    move_piece_bb(child, s, KING, k, t);
    child.board[k] = 0;
    child.board[t] = uint8_t(king_pc);
    child.king_sq[s] = t;
  }
  uint8_t old_cl = child.castle_lost;
  uint8_t new_cl = uint8_t(old_cl | castle_mask[k] | castle_mask[t]);
  key ^= castle_keys[old_cl] ^ castle_keys[new_cl];
  child.pawn_key ^= castle_keys[old_cl] ^ castle_keys[new_cl];
  child.castle_lost = new_cl;
  if (u != r) {
    key ^= zobrist[s][ROOK][r] ^ zobrist[s][ROOK][u];
    child.psq += psq_table[s][ROOK][u] - psq_table[s][ROOK][r];
    move_piece_bb(child, s, ROOK, r, u);
    child.board[u] = uint8_t(rook_pc);
    if (r != t) child.board[r] = 0;
  }
  child.ply++;
  child.bb[14] = child.bb[0] | child.bb[7];
  child.key = key;
  if (nn) {
    auto& pi = child.kst.pi;
    const uint32_t king_id = pi.ids[k], rook_id = pi.ids[r];
    child.kst.count = 2;
    child.kst.changed[0] = uint8_t(king_id);
    child.kst.changed[1] = uint8_t(rook_id);
    auto& c0 = child.kst.changes[0];
    auto& c1 = child.kst.changes[1];
    c0.old_w = pi.list[0][king_id & 31]; c0.old_b = pi.list[1][king_id & 31];
    c1.old_w = pi.list[0][rook_id & 31]; c1.old_b = pi.list[1][rook_id & 31];
    c0.new_w = xnnue::code_w(king_pc, t); c0.new_b = xnnue::code_b(king_pc, t);
    c1.new_w = xnnue::code_w(rook_pc, u); c1.new_b = xnnue::code_b(rook_pc, u);
    pi.ids[k] = xnnue::I_NONE;
    if (r != t) pi.ids[r] = xnnue::I_NONE;
    pi.ids[t] = uint8_t(king_id);
    pi.ids[u] = uint8_t(rook_id);
    if (king_id < 32) { pi.list[0][king_id] = c0.new_w; pi.list[1][king_id] = c0.new_b; }
    if (rook_id < 32) { pi.list[0][rook_id] = c1.new_w; pi.list[1][rook_id] = c1.new_b; }
  }
  return king_attacked(child, s) ? 0 : 1;
}

template <bool nn>
int make_move_impl(const Position& parent, Position& child, Move m) {
  if (nn) copy_prefix<POS_COPY_FULL>(child, parent);
  else copy_prefix<POS_COPY_REGULAR>(child, parent);
  child.his = const_cast<Position*>(&parent);
  child.moved_type = child.moved_piece = child.captured_type = 0;
  child.last_move = m;
  child.static_eval = 999999;
  child.fifty++;
  child.nn_eval_valid = 0;
  child.acc_computed = 0;

  const int s = parent.side(), o = s ^ 1;
  const int from = move_from(m), to = move_to(m);
  if (nn) child.kst.count = 1;

  uint64_t key = parent.key;
  if (parent.ep_bb) {
    key ^= zobrist[1][0][lsb(parent.ep_bb)];
    child.ep_bb = 0;
  }
  key ^= zobrist[0][0][0] ^ zobrist[0][0][1];

  if (m == 0) {
    child.ply++;
    child.in_check = 0;
    child.key = key;
    child.kst.count = 0;
    return 1;
  }

  const int kind = move_kind(m);
  auto& pi = child.kst.pi;

  if (kind == MK_CASTLE) return make_castling<nn>(parent, child, s, from, to, key);

  const int pc = parent.board[from], pt = piece_type(pc);
  const int cap_pc = parent.board[to];
  child.moved_piece = uint16_t(pc);
  child.moved_type = uint16_t(pt);

  key ^= zobrist[s][pt][from] ^ zobrist[s][pt][to];
  child.pawn_key ^= pawn_zobrist[s][pt][from] ^ pawn_zobrist[s][pt][to];
  child.psq += psq_table[s][pt][to] - psq_table[s][pt][from];
  move_piece_bb(child, s, pt, from, to);
  child.board[to] = uint8_t(pc);
  child.board[from] = 0;
  if (pt == KING) child.king_sq[s] = to;

  {
    uint8_t old_cl = child.castle_lost;
    uint8_t new_cl = uint8_t(old_cl | castle_mask[from] | castle_mask[to]);
    if (new_cl != old_cl) {
      key ^= castle_keys[old_cl] ^ castle_keys[new_cl];
      child.pawn_key ^= castle_keys[old_cl] ^ castle_keys[new_cl];
      child.castle_lost = new_cl;
    }
  }

  uint32_t mover_id = pi.ids[from];
  if (nn) {
    auto& c0 = child.kst.changes[0];
    child.kst.changed[0] = uint8_t(mover_id);
    c0.old_w = pi.list[0][mover_id & 31];
    c0.old_b = pi.list[1][mover_id & 31];
    c0.new_w = xnnue::code_w(pc, to);
    c0.new_b = xnnue::code_b(pc, to);
  }

  int cap_sq = -1, cap_code = 0;
  if (kind == MK_DOUBLE) {
    child.fifty = 0;
    Bitboard beside = ((sq_bb(to) << 1) & ~FILE_A) | ((sq_bb(to) >> 1) & ~FILE_H);
    if (beside & parent.pieces(o, PAWN)) {
      int e = (from + to) / 2;
      child.ep_bb = sq_bb(e);
      key ^= zobrist[1][0][e];
    }
  } else if (kind == MK_EP) {
    child.fifty = 0;
    int c = (to & 7) | (from & 56);
    cap_sq = c;
    cap_code = make_piece(o, PAWN);
    key ^= zobrist[o][PAWN][c];
    child.pawn_key ^= pawn_zobrist[o][PAWN][c];
    child.mat_key -= uint64_t(material_keys[o][2 + square_color(to)]);
    child.mat_key_plain -= uint64_t(material_keys[o][2]);
    child.piece_count--;
    child.psq -= psq_table[o][PAWN][c];
    child.board[c] = 0;
    child.bb[o * 7 + PAWN] ^= sq_bb(c);
    child.bb[o * 7] ^= sq_bb(c);
  } else if (cap_pc) {
    int ct = piece_type(cap_pc);
    cap_sq = to;
    cap_code = cap_pc;
    key ^= zobrist[o][ct][to];
    child.pawn_key ^= pawn_zobrist[o][ct][to];
    child.mat_key -= uint64_t(material_keys[o][ct * 2 + square_color(to)]);
    child.mat_key_plain -= uint64_t(material_keys[o][ct * 2]);
    child.piece_count--;
    child.psq -= psq_table[o][ct][to];
    child.phase = int16_t(child.phase - PHASE_WEIGHT[ct]);
    child.bb[o * 7 + ct] ^= sq_bb(to);
    child.bb[o * 7] ^= sq_bb(to);
    child.captured_type = uint16_t(ct);
    child.fifty = 0;
  }

  if (kind >= MK_PROMO_Q) {
    int q = promo_type(m);
    int qpc = make_piece(s, q);
    child.fifty = 0;
    key ^= zobrist[s][PAWN][to] ^ zobrist[s][q][to];
    child.pawn_key ^= pawn_zobrist[s][PAWN][to];
    child.mat_key += uint64_t(material_keys[s][q * 2 + square_color(to)]) - uint64_t(material_keys[s][2 + square_color(to)]);
    child.mat_key_plain += uint64_t(material_keys[s][q * 2]) - uint64_t(material_keys[s][2]);
    child.psq += psq_table[s][q][to] - psq_table[s][PAWN][to];
    child.phase = int16_t(child.phase + PHASE_WEIGHT[q]);
    child.bb[s * 7 + PAWN] ^= sq_bb(to);
    child.bb[s * 7 + q] ^= sq_bb(to);
    child.board[to] = uint8_t(qpc);
    if (nn) {
      child.kst.changes[0].new_w = xnnue::code_w(qpc, to);
      child.kst.changes[0].new_b = xnnue::code_b(qpc, to);
    }
  }

  if (nn) {
    if (cap_sq >= 0) {
      uint32_t cid = pi.ids[cap_sq];
      auto& c1 = child.kst.changes[1];
      child.kst.count = 2;
      child.kst.changed[1] = uint8_t(cid);
      c1.old_w = pi.list[0][cid & 31];
      c1.old_b = pi.list[1][cid & 31];
      c1.new_w = c1.new_b = 0;
      if (cid < 32) pi.list[0][cid] = pi.list[1][cid] = 0;
      pi.ids[cap_sq] = xnnue::I_NONE;
      (void)cap_code;
    }
    pi.ids[from] = xnnue::I_NONE;
    pi.ids[to] = uint8_t(mover_id);
    if (mover_id < 32) {
      pi.list[0][mover_id] = child.kst.changes[0].new_w;
      pi.list[1][mover_id] = child.kst.changes[0].new_b;
    }
  }

  child.bb[14] = child.bb[0] | child.bb[7];
  // A move can expose the own king only when the king moves, the side was in
  // check, the move is en passant, or the piece leaves a line through the king on
  // which an enemy slider of that line's kind stands.
  if (pt == KING || parent.in_check || kind == MK_EP || exposes_line(parent, s, from)) {
    if (king_attacked(child, s)) return 0;
  }
  if (pt == PAWN) child.fifty = 0;
  child.ply++;
  child.key = key;
  return 1;
}

}  // namespace

int make_move(const Position& parent, Position& child, Move m, bool piece_state) {
  return piece_state ? make_move_impl<true>(parent, child, m) : make_move_impl<false>(parent, child, m);
}

int legal_moves(const Position& p, Move* out) {
  uint32_t list[MAX_MOVES];
  const int n = generate_all(p, list);
  Position child;
  int k = 0;
  for (int i = 0; i < n; i++)
    if (make_move(p, child, entry_move(list[i]))) out[k++] = entry_move(list[i]);
  return k;
}

}  // namespace quorix
