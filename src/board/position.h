// The position record, its hash keys and FEN conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "board/attacks.h"
#include "board/types.h"
#include "xnnue/state.h"

namespace quorix {

// Evaluation caches (eval/hash_tables.h); the record only carries pointers to them.
struct PawnEntry;
struct MaterialEntry;

struct alignas(64) Position {
  Bitboard bb[15];          // 0 white, 1..6 white P..K, 7 black, 8..13 black P..K, 14 all
  uint8_t board[64];        // piece code per square
  int32_t king_sq[2];
  Bitboard ep_bb;
  uint64_t key;
  uint64_t pawn_key;
  uint64_t mat_key;
  uint64_t mat_key_plain;
  uint64_t psq;
  Position* his;
  PawnEntry* pawn_table;    // evaluation caches of the searching thread (null: none)
  MaterialEntry* mat_table;
  uint16_t* cont[3];        // continuation-history rows for the moves 1, 2 and 4 plies back (set by the search)
  uint32_t last_move;
  int32_t static_eval;
  int32_t stat_score;       // search field 1
  int32_t search_field2;    // search field 2: last tapered positional score of the classical evaluation
  uint32_t piece_count;
  uint16_t moved_type, moved_piece, captured_type;
  uint16_t ply;
  uint16_t in_check;
  int16_t phase;
  int16_t fifty;
  uint8_t sbyte0, sbyte1, lmr_byte;
  uint8_t castle_lost;
  uint8_t null_marker;
  uint8_t ext_byte;
  xnnue::PieceState kst;
  // Not copied by make_move:
  int32_t nn_eval;          // cached network evaluation
  uint8_t nn_eval_valid;
  uint8_t acc_computed;
  xnnue::Accumulator acc;

  int side() const { return ply & 1; }
  Bitboard pieces(int c, int t) const { return bb[c * 7 + t]; }
  Bitboard pieces(int c) const { return bb[c * 7]; }
  Bitboard occupied() const { return bb[14]; }
};

// Bytes make_move copies: through the end of kst, or through the search bytes only.
constexpr size_t POS_COPY_FULL = offsetof(Position, nn_eval);
constexpr size_t POS_COPY_REGULAR = offsetof(Position, kst);

// Key tables: fixed constants (hash files depend on them).
namespace detail {
constexpr uint64_t splitmix(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}
struct KeyTables {
  uint64_t zob[2][8][64];
  uint64_t pawn[2][8][64];
  uint64_t castle[16];
  int64_t mat[2][16];
  constexpr KeyTables() : zob(), pawn(), castle(), mat() {
    uint64_t s = 0x51A7E0C0FFEE2024ULL;
    auto next = [&s]() {
      uint64_t v = 0;
      while (v == 0) v = splitmix(s);
      return v;
    };
    for (int c = 0; c < 2; c++)
      for (int t = 0; t < 8; t++)
        for (int q = 0; q < 64; q++) zob[c][t][q] = next();
    zob[0][0][0] = 0x3DA95170C7B58B9AULL;
    zob[0][0][1] = 0xF30A07E75EAB0939ULL;
    for (int c = 0; c < 2; c++)
      for (int t = 0; t < 8; t++)
        for (int q = 0; q < 64; q++) pawn[c][t][q] = (t == PAWN || t == KING) ? next() : 0;
    for (int i = 0; i < 16; i++) castle[i] = next();
    for (int c = 0; c < 2; c++)
      for (int t = PAWN; t <= QUEEN; t++) {
        int64_t v = int64_t(next());
        mat[c][t * 2] = v;
        mat[c][t * 2 + 1] = (t == BISHOP) ? int64_t(next()) : v;
      }
  }
};
}  // namespace detail
inline constexpr detail::KeyTables KEYS{};
inline constexpr const auto& zobrist = KEYS.zob;            // [colour][type][sq]; type 0 rows: side / ep keys
inline constexpr const auto& pawn_zobrist = KEYS.pawn;
inline constexpr const auto& castle_keys = KEYS.castle;     // by castle_lost value
inline constexpr const auto& material_keys = KEYS.mat;      // [colour][type*2 + square colour]

// Castling geometry (rebuilt by every set_fen). Index 0 K, 1 Q, 2 k, 3 q.
extern int castle_rook_sq[4];
extern uint8_t castle_mask[64];
extern Bitboard castle_keep[4];
extern Bitboard castle_span[4];
extern Bitboard castle_path[4];

// Packed piece-square table of the classical evaluation [colour][type][square].
extern uint64_t psq_table[2][8][64];
constexpr int PHASE_WEIGHT[8] = {0, 0, 3, 4, 8, 18, 0, 0};

extern const char PIECE_CHARS[16];  // " PNBRQK  pnbrqk"

constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Fills p from FEN text (empty = start position). Exits with status 1 on a bad side-to-move field.
// The record gets no table pointers: the search attaches its own.
void set_fen(Position& p, const char* fen);
// Writes the FEN of p into out (at least 100 bytes).
void get_fen(const Position& p, char* out);
uint64_t polyglot_key(const Position& p);
uint64_t compute_psq(const Position& p);
int compute_phase(const Position& p);
// Rebuilds the network piece state from the board (used by set_fen and tests).
void build_piece_state(Position& p);

// Key helpers computed from scratch (tests and set_fen).
uint64_t compute_key(const Position& p);
uint64_t compute_pawn_key(const Position& p);
uint64_t compute_mat_key(const Position& p, bool plain);

}  // namespace quorix
