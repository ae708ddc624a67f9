// Minimal view of the transposition table used by make_move for prefetching.
#pragma once
#include <cstdint>

namespace quorix {

// Base of the cluster array (64-byte clusters) and the cluster index mask;
// maintained by the transposition table. Null when no table is allocated.
extern char* g_tt_clusters;
extern uint64_t g_tt_mask;

inline void tt_prefetch(uint64_t key) {
  if (g_tt_clusters) __builtin_prefetch(g_tt_clusters + (key & g_tt_mask) * 64);
}

}  // namespace quorix
