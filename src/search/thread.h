// Per-thread search records: ordering tables, node counter, stop flag.
#pragma once
#include <atomic>
#include <cstdint>

#include "board/types.h"
#include "eval/hash_tables.h"

namespace quorix {

constexpr int MAX_PLY = 128;
constexpr int CONT_ROWS = 16 * 64;      // one row per (piece code, to square)
constexpr int CONT_ROW_SIZE = 16 * 64;  // cells per row

// Node counter: written only by its own thread, read by others without locking
// (relaxed atomics compile to plain loads and stores).
struct NodeCounter {
  std::atomic<uint64_t> v{0};
  uint64_t operator++() {
    uint64_t n = v.load(std::memory_order_relaxed) + 1;
    v.store(n, std::memory_order_relaxed);
    return n;
  }
  NodeCounter& operator=(uint64_t x) {
    v.store(x, std::memory_order_relaxed);
    return *this;
  }
  operator uint64_t() const { return v.load(std::memory_order_relaxed); }
};

struct alignas(64) SearchThread {
  // Move ordering tables (owned by this thread only).
  uint32_t history[16 * 4096];
  uint32_t capture_history[16][64][16];
  uint32_t counter_moves[16 * 4096];
  uint32_t killers[MAX_PLY + 2][2];
  uint16_t cont_history[CONT_ROWS * CONT_ROW_SIZE];

  NodeCounter nodes;
  std::atomic<uint8_t> stop{0};
  int index = 0;

  MaterialEntry* mat_table = nullptr;
  PawnEntry* pawn_table = nullptr;

  void reset_ordering_tables();
};

// The thread records (at least one, thread 0, always exists once init_thread_records ran).
extern SearchThread* g_threads;
extern int g_thread_count;
// Node limit of the current "go" (all ones = none).
extern uint64_t g_node_limit;

// Allocates n records with initial table values (thread objects are managed by the search).
void init_thread_records(int n);
inline SearchThread& thread_rec(int i) { return g_threads[i]; }

}  // namespace quorix
