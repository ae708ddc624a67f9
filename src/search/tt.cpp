// Transposition table: sizing, replacement, busy marks, aging and the hash file.
#include "search/tt.h"

#include <sys/mman.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "search/tt_prefetch.h"

namespace quorix {

char* g_tt_clusters = nullptr;
uint64_t g_tt_mask = 0;
TranspositionTable g_tt;

namespace {

constexpr uint64_t HUGE_PAGE = 2ull << 20;
constexpr uint64_t SAVE_CHUNK = 2147483648ull;
constexpr uint64_t LOAD_CHUNK = 1073741824ull;
uint64_t alloc_limit = 0;

void publish() {
  g_tt_clusters = reinterpret_cast<char*>(g_tt.clusters);
  g_tt_mask = g_tt.mask;
}

// Anonymous mappings come back zeroed; large ones are aligned to a huge page and
// advised to use transparent huge pages.
bool map_clusters(uint64_t count) {
  const uint64_t bytes = count * sizeof(TTCluster);
  if (alloc_limit && bytes > alloc_limit) return false;
  const uint64_t align = bytes >= HUGE_PAGE ? HUGE_PAGE : 64;
  const uint64_t total = bytes + (align > 64 ? align : 0);
  void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return false;
  uintptr_t start = (reinterpret_cast<uintptr_t>(base) + align - 1) & ~uintptr_t(align - 1);
#ifdef MADV_HUGEPAGE
  if (align == HUGE_PAGE) madvise(reinterpret_cast<void*>(start), bytes, MADV_HUGEPAGE);
#endif
  g_tt.allocation = base;
  g_tt.alloc_bytes = total;
  g_tt.clusters = reinterpret_cast<TTCluster*>(start);
  g_tt.cluster_count = count;
  g_tt.mask = count - 1;
  g_tt.byte_size = bytes;
  g_tt.resident = false;
  return true;
}

// Higher value = better victim: age counts 8 per generation against depth, retain and bound.
QUORIX_TT_RACY inline int replace_value(const TTEntry& e, uint32_t gen) {
  return int((gen - e.generation) & 255) * 8 - e.depth - e.retain - int8_t(e.bound);
}

QUORIX_TT_RACY TTEntry* pick_victim(TTCluster* c) {
  TTEntry* victim = &c->slot[0];
  int best = replace_value(c->slot[0], g_tt.generation);
  for (int i = 1; i < 4; i++) {
    int v = replace_value(c->slot[i], g_tt.generation);
    if (v > best) {
      best = v;
      victim = &c->slot[i];
    }
  }
  return victim;
}

void reset_generations() {
  for (uint64_t i = 0; i < g_tt.cluster_count; i++)
    for (TTEntry& e : g_tt.clusters[i].slot) {
      e.generation = 0;
      // No thread searches anything between searches: marks from the file are stale.
      e.flags &= uint8_t(~TT_FLAG_BUSY);
    }
  g_tt.generation = 0;
  g_tt.hash_loaded = true;
}

}  // namespace

void tt_set_alloc_limit(uint64_t limit) { alloc_limit = limit; }

uint64_t tt_clusters_for(int mb) {
  uint64_t n = uint64_t(double(mb) * 16384.0 * 0.51);
  if (n < 2) return 1;
  n--;
  for (int s = 1; s < 64; s <<= 1) n |= n >> s;
  return n + 1;
}

void tt_free() {
  if (g_tt.allocation) munmap(g_tt.allocation, g_tt.alloc_bytes);
  g_tt.allocation = nullptr;
  g_tt.alloc_bytes = 0;
  g_tt.clusters = nullptr;
  g_tt.cluster_count = 0;
  g_tt.mask = 0;
  g_tt.byte_size = 0;
  publish();
}

void tt_resize(int mb) {
  tt_free();
  uint64_t count = tt_clusters_for(mb);
  while (!map_clusters(count)) {
    if (count <= 7) {
      std::fprintf(stderr, "Hash table must be bigger than 0\n");
      std::fflush(nullptr);
      std::_Exit(1);
    }
    count /= 2;
  }
  publish();
  g_tt.generation = 0;
  g_tt.table_used = false;
}

void tt_clear() {
  if (g_tt.clusters) std::memset(static_cast<void*>(g_tt.clusters), 0, g_tt.byte_size);
  g_tt.resident = g_tt.clusters != nullptr;
  g_tt.generation = 0;
  g_tt.table_used = false;
}

QUORIX_TT_RACY void tt_store(uint64_t key, int depth, int score, int bound, Move move, int retain, int eval,
                             bool pv) {
  if (score < -TT_STORE_LIMIT || score > TT_STORE_LIMIT) return;
  TTCluster* c = g_tt.clusters + (key & g_tt.mask);
  const uint32_t k32 = uint32_t(key >> 32);
  const uint8_t gen = uint8_t(g_tt.generation);
  for (TTEntry& e : c->slot) {
    if (e.key32 != 0 && e.key32 != k32) continue;
    if (move == 0) move = e.move;
    const bool same = e.key32 == k32 && k32 != 0;
    const bool slot_exact = (e.bound & TT_EXACT) == TT_EXACT;
    if (same && g_tt.keep_exact && slot_exact && e.depth > depth) {
      e.generation = gen;
      e.move = uint16_t(move);
      e.flags = uint8_t((e.flags & ~TT_FLAG_PV) | (pv ? TT_FLAG_PV : 0));
      return;
    }
    if (same && e.generation == gen && e.depth >= depth + 2 && (bound & TT_EXACT) != TT_EXACT) {
      const bool slot_lower = e.bound & TT_LOWER, slot_upper = e.bound & TT_UPPER;
      const bool new_lower = bound & TT_LOWER, new_upper = bound & TT_UPPER;
      const bool keep = slot_exact ||
                        (slot_lower && !slot_upper && new_lower && !new_upper && e.score > score) ||
                        (new_upper && !new_lower && !slot_lower && e.score < score);
      if (keep) {
        e.move = uint16_t(move);
        return;
      }
    }
    e.key32 = k32;
    e.depth = int16_t(depth);
    e.move = uint16_t(move);
    e.generation = gen;
    e.score = int16_t(score);
    e.bound = uint8_t(bound);
    e.retain = int8_t(retain);
    e.eval = int16_t(eval);
    e.flags = uint8_t((e.flags & TT_FLAG_BUSY) | (pv ? TT_FLAG_PV : 0));
    return;
  }
  TTEntry* v = pick_victim(c);
  v->key32 = k32;
  v->depth = int16_t(depth);
  v->move = uint16_t(move);
  v->generation = gen;
  v->score = int16_t(score);
  v->bound = uint8_t(bound);
  v->retain = int8_t(retain);
  v->eval = int16_t(eval);
  // The previous occupant's busy mark belongs to another position.
  v->flags = pv ? TT_FLAG_PV : 0;
}

QUORIX_TT_RACY void tt_mark_busy(uint64_t key, bool busy) {
  TTCluster* c = g_tt.clusters + (key & g_tt.mask);
  const uint32_t k32 = uint32_t(key >> 32);
  for (TTEntry& e : c->slot)
    if (e.key32 == k32) {
      e.flags = uint8_t((e.flags & ~TT_FLAG_BUSY) | (busy ? TT_FLAG_BUSY : 0));
      return;
    }
  TTEntry* v = pick_victim(c);
  std::memset(reinterpret_cast<char*>(v) + 4, 0, sizeof(TTEntry) - 4);
  v->key32 = k32;
  v->depth = TT_DEPTH_BUSY;
  v->eval = int16_t(TT_NO_EVAL);
  v->generation = uint8_t(g_tt.generation);
  v->flags = busy ? TT_FLAG_BUSY : 0;
}

QUORIX_TT_RACY int tt_hashfull() {
  if (!g_tt.clusters) return 0;
  const uint64_t n = g_tt.cluster_count < 1000 ? g_tt.cluster_count : 1000;
  uint64_t count = 0;
  for (uint64_t i = 0; i < n; i++) count += g_tt.clusters[i].slot[0].generation == g_tt.generation;
  return int(count * 1000 / n);
}

void tt_new_search(uint64_t root_key, bool keep_exact) {
  if (root_key != g_tt.root_key && g_tt.clusters) {
    g_tt.generation = (g_tt.generation + 1) & 255;
    g_tt.root_key = root_key;
  }
  g_tt.table_used = true;
  g_tt.keep_exact = keep_exact;
}

void tt_make_resident() {
  if (g_tt.resident || !g_tt.clusters) return;
  // Rewriting one byte per page with its own value commits the page without changing it.
  volatile char* base = reinterpret_cast<volatile char*>(g_tt.clusters);
  for (uint64_t off = 0; off < g_tt.byte_size; off += 4096) base[off] = base[off];
  g_tt.resident = true;
}

void tt_reinit_if_used() {
  if (g_tt.table_used) tt_clear();
}

void tt_option_hash(int mb) {
  if (mb < 1) mb = 1;
  if (mb > 65536) mb = 65536;
  g_tt.requested_mb = mb;
  if (mb == g_tt.current_mb) {
    tt_clear();
    return;
  }
  tt_resize(mb);
  std::printf("info string Hash table size is now %d meg\n", mb);
  std::fflush(stdout);
  g_tt.current_mb = mb;
}

void tt_option_clear() {
  tt_clear();
  std::printf("info string Clearing Hash\n");
  std::fflush(stdout);
}

void tt_save_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::printf("info string failed to open %s\n", path.c_str());
    std::fflush(stdout);
    return;
  }
  std::printf("info string Saving Hash\n");
  std::fflush(stdout);
  const char* p = reinterpret_cast<const char*>(g_tt.clusters);
  uint64_t left = g_tt.clusters ? g_tt.byte_size : 0;
  bool ok = true;
  while (left > 0) {
    size_t chunk = size_t(left < SAVE_CHUNK ? left : SAVE_CHUNK);
    if (std::fwrite(p, 1, chunk, f) != chunk) {
      ok = false;
      break;
    }
    p += chunk;
    left -= chunk;
  }
  // Buffered data reaches the file only at close: a failing close is a failed write too.
  if (std::fclose(f) != 0) ok = false;
  if (ok)
    std::printf("info string Hash Saved\n");
  else
    std::printf("info string error writing file %s\n", path.c_str());
  std::fflush(stdout);
}

void tt_load_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::printf("info string no such file %s\n", path.c_str());
  } else {
    std::printf("info string Loading Hash from %s\n", path.c_str());
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size < 0 || uint64_t(size) != g_tt.byte_size || !g_tt.clusters) {
      std::printf("info string File size does not match Hash size\n");
    } else {
      char* p = reinterpret_cast<char*>(g_tt.clusters);
      uint64_t left = g_tt.byte_size;
      bool ok = true;
      while (left > 0) {
        size_t chunk = size_t(left < LOAD_CHUNK ? left : LOAD_CHUNK);
        if (std::fread(p, 1, chunk, f) != chunk) {
          ok = false;
          break;
        }
        p += chunk;
        left -= chunk;
      }
      std::printf(ok ? "info string Hash Loaded\n" : "info string Error: could not read full file.\n");
    }
    std::fclose(f);
  }
  std::fflush(stdout);
  reset_generations();
}

}  // namespace quorix
