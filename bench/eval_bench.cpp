// Classical evaluation speed on positions from random games (warm pawn and material tables).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "interface/options.h"

namespace quorix {
namespace {

// Positions 10..90 plies into random games; each keeps its parent's score for a window.
struct Sample {
  Position pos;
  int parent_score;
};

const std::vector<Sample>& samples() {
  static std::vector<Sample> out = [] {
    std::vector<Sample> v;
    std::mt19937 rng(99);
    static Position line[128];
    while (v.size() < 4096) {
      set_fen(line[0], START_FEN);
      for (int ply = 0; ply < 90; ply++) {
        uint32_t moves[MAX_MOVES];
        Position& cur = line[ply];
        int n = cur.in_check ? generate_evasions(cur, moves) : generate_all(cur, moves);
        std::vector<Move> legal;
        for (int i = 0; i < n; i++) {
          Position child;
          if (make_move(cur, child, entry_move(moves[i]))) legal.push_back(entry_move(moves[i]));
        }
        if (legal.empty()) break;
        make_move(cur, line[ply + 1], legal[rng() % legal.size()]);
        line[ply + 1].in_check = king_attacked(line[ply + 1], line[ply + 1].side());
        if (ply >= 10) {
          Sample s{line[ply + 1], -classical(line[ply], -35000, 35000, nullptr)};
          s.pos.his = nullptr;
          v.push_back(s);
        }
      }
    }
    v.resize(4096);
    return v;
  }();
  return out;
}

void BM_ClassicalFull(benchmark::State& state) {
  auto pos = samples();
  for (auto& s : pos) classical(s.pos, -35000, 35000, nullptr);  // warm the caches
  size_t i = 0;
  for (auto _ : state) {
    Sample& s = pos[i++ & (pos.size() - 1)];
    benchmark::DoNotOptimize(classical(s.pos, -35000, 35000, nullptr));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_ClassicalFull);

// Null-window evaluations around the parent's score (as a search asks them); counts the
// share answered by the lazy estimate.
void BM_ClassicalWindow(benchmark::State& state) {
  auto pos = samples();
  for (auto& s : pos) classical(s.pos, -35000, 35000, nullptr);
  const int half = int(state.range(0));
  size_t i = 0;
  int64_t lazy_count = 0;
  for (auto _ : state) {
    Sample& s = pos[i++ & (pos.size() - 1)];
    bool lazy = false;
    benchmark::DoNotOptimize(classical(s.pos, s.parent_score - half, s.parent_score + half, &lazy));
    lazy_count += lazy;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["lazy_share"] = double(lazy_count) / double(state.iterations());
}
BENCHMARK(BM_ClassicalWindow)->Arg(25)->Arg(100);

// The evaluation entry (no network loaded: the classical evaluation answers).
void BM_EvaluateEntry(benchmark::State& state) {
  auto pos = samples();
  for (auto& s : pos) evaluate(s.pos, -35000, 35000);
  size_t i = 0;
  for (auto _ : state) {
    Sample& s = pos[i++ & (pos.size() - 1)];
    benchmark::DoNotOptimize(evaluate(s.pos, -35000, 35000));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_EvaluateEntry);

}  // namespace
}  // namespace quorix
