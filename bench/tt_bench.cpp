// Transposition table probe and store on a 256 MB table (far beyond the caches).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "search/tt.h"
#include "search/tt_prefetch.h"

namespace quorix {
namespace {

constexpr int TABLE_MB = 256;
constexpr size_t KEY_COUNT = 1 << 20;

const std::vector<uint64_t>& keys() {
  static std::vector<uint64_t> k = [] {
    std::mt19937_64 rng(2024);
    std::vector<uint64_t> v(KEY_COUNT);
    for (auto& x : v) x = rng();
    return v;
  }();
  return k;
}

// A 256 MB table with every page touched and about half the slots in use.
void prepare_table() {
  static bool done = false;
  if (done) return;
  done = true;
  tt_resize(TABLE_MB);
  tt_clear();
  std::mt19937_64 rng(7);
  for (uint64_t i = 0; i < g_tt.cluster_count * 2; i++)
    tt_store(rng(), int(rng() % 30), int(rng() % 400) - 200, TT_LOWER, Move(rng() & 0xfff), 0, 0, false);
}

void BM_TTProbe(benchmark::State& state) {
  prepare_table();
  const auto& k = keys();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tt_probe(k[i]));
    i = (i + 1) & (KEY_COUNT - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TTProbe);

// Each key depends on the previous probe's result: one full miss per probe (latency).
void BM_TTProbeDependent(benchmark::State& state) {
  prepare_table();
  const auto& k = keys();
  size_t i = 0;
  uint64_t prev = 0;
  for (auto _ : state) {
    const uint64_t key = k[i] ^ prev;
    benchmark::DoNotOptimize(tt_probe(key));
    prev = g_tt.clusters[key & g_tt.mask].slot[0].key32 & 1;  // a data dependency, not a branch
    i = (i + 1) & (KEY_COUNT - 1);
  }
  benchmark::DoNotOptimize(prev);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TTProbeDependent);

// As make_move does: the cluster is prefetched some work ahead of the probe.
void BM_TTProbePrefetched(benchmark::State& state) {
  prepare_table();
  const auto& k = keys();
  size_t i = 0;
  for (auto _ : state) {
    tt_prefetch(k[(i + 8) & (KEY_COUNT - 1)]);
    benchmark::DoNotOptimize(tt_probe(k[i]));
    i = (i + 1) & (KEY_COUNT - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TTProbePrefetched);

void BM_TTStore(benchmark::State& state) {
  prepare_table();
  const auto& k = keys();
  size_t i = 0;
  for (auto _ : state) {
    tt_store(k[i], int(i & 15), int(i & 255), TT_LOWER, Move(i & 0xfff), 1, 0, false);
    i = (i + 1) & (KEY_COUNT - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TTStore);

// Cache-resident clusters: the instruction cost alone.
void BM_TTProbeHot(benchmark::State& state) {
  prepare_table();
  const auto& k = keys();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tt_probe(k[i]));
    i = (i + 1) & 63;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TTProbeHot);

}  // namespace
}  // namespace quorix
