// The shared transposition table: four 16-byte slots per 64-byte cluster, no locks.
// The cluster array is also the hash file format (saved and loaded byte for byte).
#pragma once
#include <cstdint>
#include <string>

#include "board/types.h"

namespace quorix {

// One slot, 16 bytes, little-endian, exactly in this field order.
struct TTEntry {
  uint32_t key32;      // upper 32 bits of the position key; 0 = empty slot
  int16_t score;       // node-relative for mate scores
  uint16_t move;       // best or refuting move, 0 = none
  int16_t depth;       // remaining depth; TT_DEPTH_EVAL_ONLY / TT_DEPTH_BUSY are markers
  int16_t eval;        // static evaluation, TT_NO_EVAL = none
  uint8_t bound;       // TT_UPPER | TT_LOWER (both = exact), TT_NO_MOVES for mate/stalemate nodes
  int8_t retain;       // replacement protection bonus
  uint8_t generation;  // generation of the search that wrote or refreshed the slot
  uint8_t flags;       // TT_FLAG_BUSY, TT_FLAG_PV
};
static_assert(sizeof(TTEntry) == 16);

struct alignas(64) TTCluster {
  TTEntry slot[4];
};
static_assert(sizeof(TTCluster) == 64);

constexpr uint8_t TT_UPPER = 1;
constexpr uint8_t TT_LOWER = 2;
constexpr uint8_t TT_EXACT = 3;
constexpr uint8_t TT_NO_MOVES = 4;  // stored together with TT_EXACT (value 7)
constexpr uint8_t TT_FLAG_BUSY = 1;
constexpr uint8_t TT_FLAG_PV = 2;
constexpr int TT_DEPTH_EVAL_ONLY = -99;  // a slot whose depth is below -98 carries only an eval
constexpr int TT_DEPTH_BUSY = -10;
constexpr int TT_NO_EVAL = -32768;
constexpr int TT_STORE_LIMIT = 32500;  // results beyond +-32500 are never stored
constexpr int TT_SIZE_NONE = -5;       // "current size" before the Hash option allocated anything

struct TranspositionTable {
  uint64_t cluster_count = 0;  // power of two
  uint64_t mask = 0;           // cluster_count - 1
  TTCluster* clusters = nullptr;
  void* allocation = nullptr;  // what is released
  uint64_t alloc_bytes = 0;
  uint64_t byte_size = 0;      // cluster_count * 64: the size of a hash file
  uint32_t generation = 0;     // 0..255
  int current_mb = TT_SIZE_NONE;
  int requested_mb = 256;
  bool table_used = false;
  bool hash_loaded = false;
  bool keep_exact = false;     // set per search by the driver
  bool resident = false;       // every page of the mapping has been touched
  uint64_t root_key = 0;       // root key of the previous search
};

extern TranspositionTable g_tt;

// All threads read and write slots without locks by design (a torn slot only costs a
// checked move candidate); the thread sanitizer is told so.
#define QUORIX_TT_RACY __attribute__((no_sanitize("thread")))

// Mate scores are kept relative to the node that stored them.
inline int score_to_tt(int score, int ply) {
  if (score >= MATE_BOUND) return score + ply;
  if (score <= -MATE_BOUND) return score - ply;
  return score;
}
inline int score_from_tt(int score, int ply) {
  if (score >= MATE_BOUND) return score - ply;
  if (score <= -MATE_BOUND) return score + ply;
  return score;
}

// Number of clusters a request of mb megabytes gets (before any allocation fallback).
uint64_t tt_clusters_for(int mb);
// Allocates a new zeroed table for mb megabytes (halving on failure; exits when nothing fits).
void tt_resize(int mb);
// Releases the table (pointers become null).
void tt_free();
// Zeroes every cluster, generation 0, table_used off.
void tt_clear();
// Faults in every page of a freshly mapped table, keeping its contents, so that the first
// searches do not pay for it on their clock. Never while a search runs.
void tt_make_resident();

// First slot of the key's cluster (slot order 0..3) holding the key, or nullptr.
QUORIX_TT_RACY inline TTEntry* tt_probe(uint64_t key) {
  TTCluster* c = g_tt.clusters + (key & g_tt.mask);
  const uint32_t k32 = uint32_t(key >> 32);
  for (TTEntry& e : c->slot)
    if (e.key32 == k32) return &e;
  return nullptr;
}

// score must already be node-relative (score_to_tt); eval TT_NO_EVAL when there is none.
void tt_store(uint64_t key, int depth, int score, int bound, Move move, int retain, int eval, bool pv);
// Sets or clears the busy mark of the key's slot, taking a victim slot as a placeholder if needed.
void tt_mark_busy(uint64_t key, bool busy);
// Per-mille fill figure: slot 0 of clusters 0..999 written in the current generation.
int tt_hashfull();

// Start of an alpha-beta search: advances the generation when the root differs from the
// previous search's root, marks the table used and sets keep_exact.
void tt_new_search(uint64_t root_key, bool keep_exact);
// keep_exact rule: analysis mode, or no depth limit (above 98) with an untimed allowance.
inline bool tt_keep_exact_for(bool analyse_mode, int max_depth, double time_allowance) {
  return analyse_mode || (max_depth > 98 && time_allowance >= 31622400.0);
}
// Remembers the root key so that the next search of that root keeps the generation
// ("go" after a hash-file load).
inline void tt_remember_root(uint64_t key) { g_tt.root_key = key; }

// Clears the table when a search used it (re-initialisation after option changes).
void tt_reinit_if_used();

// Option handlers; messages as listed in the option table.
void tt_option_hash(int mb);
void tt_option_clear();
void tt_save_file(const std::string& path);
void tt_load_file(const std::string& path);

// Test hook: allocations of more than limit bytes fail (0 = no limit).
void tt_set_alloc_limit(uint64_t limit);

}  // namespace quorix
