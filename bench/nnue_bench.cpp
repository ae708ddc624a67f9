// Network inference speed with a random H = 256, L = 24 network: full accumulator
// refreshes, and incremental evaluations (one quiet move's update plus the layers).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "xnnue/network_impl.h"
#include "xnnue/writer.h"

namespace quorix {
namespace {

const xnnue::Network& bench_net() {
  static std::unique_ptr<xnnue::Network> net = [] {
    xnnue::RandomNetwork r;
    r.h = 256;
    r.l = 24;
    r.seed = 11;
    auto bytes = xnnue::random_plain_network(r);
    xnnue::MemorySource src(bytes.data(), bytes.size());
    return xnnue::read_network(src);
  }();
  return *net;
}

// A parent and a child after a quiet non-king move, from random games.
struct Pair {
  Position parent, child;
};

std::vector<std::unique_ptr<Pair>>& pairs() {
  static std::vector<std::unique_ptr<Pair>> out = [] {
    std::vector<std::unique_ptr<Pair>> v;
    std::mt19937 rng(5);
    static Position line[128];
    xnnue::g_flip = bench_net().flip();
    while (v.size() < 1024) {
      set_fen(line[0], nullptr);
      int plies = 8 + int(rng() % 80);
      for (int ply = 0; ply < plies; ply++) {
        uint32_t list[MAX_MOVES];
        int n = generate_all(line[ply], list);
        bool moved = false;
        while (n > 0 && !moved) {
          int i = int(rng() % uint32_t(n));
          Move m = entry_move(list[i]);
          list[i] = list[--n];
          moved = make_move(line[ply], line[ply + 1], m) != 0;
        }
        if (!moved) break;
        line[ply + 1].in_check = king_attacked(line[ply + 1], line[ply + 1].side()) ? 1 : 0;
        if (ply + 1 == plies) {
          auto p = std::make_unique<Pair>();
          p->parent = line[ply + 1];
          p->parent.his = nullptr;
          uint32_t q[MAX_MOVES];
          int k = generate_quiets(p->parent, q);
          for (int i = 0; i < k; i++) {
            Move m = entry_move(q[i]);
            if (piece_type(p->parent.board[move_from(m)]) == KING) continue;
            if (make_move(p->parent, p->child, m)) {
              v.push_back(std::move(p));
              break;
            }
          }
        }
      }
    }
    return v;
  }();
  return out;
}

void BM_NnueFullRefresh(benchmark::State& state) {
  const auto& net = bench_net();
  auto& ps = pairs();
  alignas(64) uint8_t buf[512];
  size_t i = 0;
  for (auto _ : state) {
    Position& p = ps[i++ & 1023]->parent;
    p.acc_computed = 0;
    net.transformer().transform(p, buf, false);
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_NnueFullRefresh);

void BM_NnueIncrementalEval(benchmark::State& state) {
  const auto& net = bench_net();
  auto& ps = pairs();
  for (auto& p : ps) net.evaluate(p->parent);
  size_t i = 0;
  for (auto _ : state) {
    Position& c = ps[i++ & 1023]->child;
    c.acc_computed = 0;
    benchmark::DoNotOptimize(net.evaluate(c));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_NnueIncrementalEval);

// The layers alone, for the split of the incremental figure.
void BM_NnueLayers(benchmark::State& state) {
  const auto& net = bench_net();
  auto& ps = pairs();
  for (auto& p : ps) net.evaluate(p->parent);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(net.output(ps[i++ & 1023]->parent, false));
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_NnueLayers);

// Start-up cost of the network linked into the program: inflating and parsing the
// embedded block (skipped when the build embeds none).
void BM_EmbeddedNetworkLoad(benchmark::State& state) {
  const uint8_t* data;
  size_t len;
  xnnue::embedded_blob(data, len);
  if (len == 0) {
    state.SkipWithError("no embedded network in this build");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(xnnue::read_packed_network(data, len));
}
BENCHMARK(BM_EmbeddedNetworkLoad)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorix
