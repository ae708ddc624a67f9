// Allocation and sizing of the per-thread material and pawn tables.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "eval/hash_tables.h"

namespace quorix {

int g_tables_memory_mb = 0;

namespace {

uint64_t alloc_limit = 0;

void* alloc_table(uint64_t bytes, const char* name) {
  void* p = nullptr;
  // Large tables sit on 2 MB boundaries and ask for huge pages: make_move prefetches a
  // random entry at every node, and with small pages each of those is a TLB miss.
  constexpr uint64_t HUGE = uint64_t(2) << 20;
  const bool huge = bytes >= HUGE;
  const uint64_t size = huge ? (bytes + HUGE - 1) / HUGE * HUGE : (bytes + 63) / 64 * 64;
  if (!alloc_limit || bytes <= alloc_limit) p = std::aligned_alloc(huge ? HUGE : 64, size_t(size));
#ifdef MADV_HUGEPAGE
  if (p && huge) madvise(p, size_t(size), MADV_HUGEPAGE);
#endif
  if (!p) {
    std::fprintf(stderr, "Unable to allocate %d bytes of memory for %s\n", int(bytes), name);
    std::fflush(nullptr);
    std::_Exit(-1);
  }
  std::memset(p, 0, size_t(bytes));
  return p;
}

}  // namespace

void set_table_alloc_limit(uint64_t limit) { alloc_limit = limit; }

uint64_t pawn_table_entries(int table_memory_mb, int threads) {
  if (threads < 1) threads = 1;
  double q = (double(table_memory_mb) * 1048576.0 - 65536.0) / double(threads) / 96.0;
  uint64_t n = q > 4.0 ? uint64_t(q) : 4;
  // Smallest 2^k - 1 not below n - 1, plus one.
  uint64_t m = n - 1;
  for (int s = 1; s < 64; s <<= 1) m |= m >> s;
  return m + 1;
}

void create_tables(MaterialEntry*& mat, PawnEntry*& pawn, int table_memory_mb, int threads) {
  free_tables(mat, pawn);
  const uint64_t entries = pawn_table_entries(table_memory_mb, threads);
  mat = static_cast<MaterialEntry*>(alloc_table(MAT_TABLE_BYTES, "mat_hash"));
  pawn = static_cast<PawnEntry*>(alloc_table(entries * sizeof(PawnEntry), "pawn_hash"));
  g_pawn_mask = entries - 1;
  g_tables_memory_mb = table_memory_mb;
}

void free_tables(MaterialEntry*& mat, PawnEntry*& pawn) {
  std::free(mat);
  std::free(pawn);
  mat = nullptr;
  pawn = nullptr;
}

}  // namespace quorix
