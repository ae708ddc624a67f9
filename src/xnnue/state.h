// Piece state kept for the network inside every position record, and the
// first-layer accumulator.
#pragma once
#include <cstdint>

namespace quorix::xnnue {

constexpr uint32_t I_NONE = 32;   // id of an empty square
constexpr int KING_ID_WHITE = 30;
constexpr int KING_ID_BLACK = 31;
constexpr int MAX_HIDDEN = 256;

// Narrow field types keep the record small: copy-make copies it at every node.
struct PieceIds {
  uint8_t ids[64];         // piece id per square, I_NONE when empty
  uint16_t list[2][32];    // feature code per perspective and id, 0 when off the board
};

struct Change {
  uint16_t old_w, old_b, new_w, new_b;
};

struct PieceState {
  PieceIds pi;
  uint8_t count;           // pieces changed by the move that produced this state (0..2)
  uint8_t changed[2];      // their ids
  uint8_t pad_;
  Change changes[2];
};

struct alignas(32) Accumulator {
  int16_t values[2][MAX_HIDDEN];
};

// Feature bases by piece code (colour*8 + type) for the white and black perspective.
constexpr uint32_t BASE_W[16] = {0, 1, 129, 257, 385, 513, 641, 0, 0, 65, 193, 321, 449, 577, 705, 0};
constexpr uint32_t BASE_B[16] = {0, 65, 193, 321, 449, 577, 705, 0, 0, 1, 129, 257, 385, 513, 641, 0};

// Set by the network loader: black-perspective square transform is sq^56 when set, sq^63 when clear.
extern bool g_flip;
inline uint32_t flip_sq(int sq) { return uint32_t(sq ^ (g_flip ? 56 : 63)); }
inline uint16_t code_w(int pc, int sq) { return uint16_t(BASE_W[pc] + uint32_t(sq)); }
inline uint16_t code_b(int pc, int sq) { return uint16_t(BASE_B[pc] + flip_sq(sq)); }

}  // namespace quorix::xnnue
