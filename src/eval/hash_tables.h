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

// Table set of one search thread: creation, release and lookup helpers.
constexpr int MAT_TABLE_BYTES = MAT_TABLE_ENTRIES * int(sizeof(MaterialEntry));
// Pawn table entries for a thread: smallest power of two at least
// ((table_memory_mb MiB - 64 KiB) / threads / 96).
uint64_t pawn_table_entries(int table_memory_mb, int threads);
// Allocates zeroed tables (message and exit status -1 when memory is short) and sets g_pawn_mask.
void create_tables(MaterialEntry*& mat, PawnEntry*& pawn, int table_memory_mb, int threads);
void free_tables(MaterialEntry*& mat, PawnEntry*& pawn);
// "Table Memory" value the current tables were built with (0 before the first build).
extern int g_tables_memory_mb;
// Test hook: table allocations above limit bytes fail (0 = no limit).
void set_table_alloc_limit(uint64_t limit);

inline MaterialEntry* mat_slot(MaterialEntry* table, uint64_t mat_key) {
  return table + (mat_key & (MAT_TABLE_ENTRIES - 1));
}
// True (and scale/value filled) when the slot holds this material key.
inline bool mat_lookup(const MaterialEntry* table, uint64_t mat_key, float& scale, int& value) {
  const MaterialEntry& e = table[mat_key & (MAT_TABLE_ENTRIES - 1)];
  if (e.key != mat_key) return false;
  scale = e.scale;
  value = e.value;
  return true;
}
inline void mat_store(MaterialEntry* table, uint64_t mat_key, float scale, int value) {
  MaterialEntry& e = table[mat_key & (MAT_TABLE_ENTRIES - 1)];
  e.key = mat_key;
  e.scale = scale;
  e.value = value;
}
// The pawn table slot of a pawn key (hit when its key equals the pawn key).
inline PawnEntry* pawn_slot(PawnEntry* table, uint64_t pawn_key) {
  return table + (uint32_t(pawn_key) & g_pawn_mask);
}

}  // namespace quorix
