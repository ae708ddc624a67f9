// Basic chess types shared by every unit of the engine.
#pragma once
#include <cstdint>
#include <cstddef>

#if defined(QUORIX_AVX2)
#include <immintrin.h>
#endif

namespace quorix {

using Bitboard = uint64_t;
using Move = uint32_t;  // 16 significant bits; held in 32-bit variables

enum Color : int { WHITE = 0, BLACK = 1 };
enum PieceType : int { NO_TYPE = 0, PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };

constexpr int make_piece(int c, int t) { return c * 8 + t; }
constexpr int piece_color(int pc) { return pc >> 3; }
constexpr int piece_type(int pc) { return pc & 7; }

// Move encoding: to in bits 0-5, from in bits 6-11, kind in bits 12-14.
enum MoveKind : int {
  MK_NORMAL = 0, MK_DOUBLE = 1, MK_EP = 2, MK_CASTLE = 3,
  MK_PROMO_Q = 4, MK_PROMO_N = 5, MK_PROMO_R = 6, MK_PROMO_B = 7
};
constexpr Move make_move_code(int from, int to, int kind = MK_NORMAL) {
  return Move(to | (from << 6) | (kind << 12));
}
constexpr int move_to(Move m) { return int(m & 63); }
constexpr int move_from(Move m) { return int((m >> 6) & 63); }
constexpr int move_kind(Move m) { return int((m >> 12) & 7); }
constexpr bool is_promotion(Move m) { return move_kind(m) >= MK_PROMO_Q; }
// Piece type a promotion kind creates: 4 queen, 5 knight, 6 rook, 7 bishop.
constexpr int promo_type(Move m) {
  constexpr int t[8] = {0, 0, 0, 0, QUEEN, KNIGHT, ROOK, BISHOP};
  return t[move_kind(m)];
}

constexpr int square_of(int file, int rank) { return rank * 8 + file; }
constexpr int file_of(int sq) { return sq & 7; }
constexpr int rank_of(int sq) { return sq >> 3; }

constexpr Bitboard FILE_A = 0x0101010101010101ULL;
constexpr Bitboard FILE_H = FILE_A << 7;
constexpr Bitboard RANK_1 = 0xFFULL;
constexpr Bitboard RANK_2 = RANK_1 << 8;
constexpr Bitboard RANK_3 = RANK_1 << 16;
constexpr Bitboard RANK_6 = RANK_1 << 40;
constexpr Bitboard RANK_7 = RANK_1 << 48;
constexpr Bitboard RANK_8 = RANK_1 << 56;

constexpr Bitboard sq_bb(int sq) { return Bitboard(1) << sq; }

inline int popcount(Bitboard b) { return __builtin_popcountll(b); }
inline int lsb(Bitboard b) { return __builtin_ctzll(b); }
inline int msb(Bitboard b) { return 63 - __builtin_clzll(b); }
inline int pop_lsb(Bitboard& b) {
  int s = lsb(b);
  b &= b - 1;  // compiles to blsr with BMI
  return s;
}
inline bool more_than_one(Bitboard b) { return (b & (b - 1)) != 0; }

// Scores
constexpr int MATE = 32000;
constexpr int MATE_BOUND = 31800;  // |score| >= this is a mate score
constexpr int TB_WIN = 31800;
constexpr int NO_SCORE = 32001;

}  // namespace quorix
