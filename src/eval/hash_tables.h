// Per-thread material and pawn hash tables of the classical evaluation.
#pragma once
#include <cstdint>

namespace quorix {

struct MaterialEntry {
  uint64_t key;
  float scale;
  int32_t value;
};
static_assert(sizeof(MaterialEntry) == 16);

struct PawnEntry {
  uint8_t passed[2][8];    // passed pawn squares per colour, list ends at the first 0
  uint64_t key;
  uint64_t score;          // packed mg/eg, white minus black
  int16_t shelter[2];
  uint8_t file_group[2];
  uint8_t king_wings;
  uint8_t open_files;
  uint8_t closed;
  uint8_t unused1;
  uint8_t rams;
  uint8_t unused2[5];
};
static_assert(sizeof(PawnEntry) == 48);

constexpr int MAT_TABLE_ENTRIES = 4096;
extern uint64_t g_pawn_mask;

}  // namespace quorix
