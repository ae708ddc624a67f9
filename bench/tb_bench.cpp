// Tablebase probes on the shipped 3-4 piece tables: warm WDL and DTZ probes over random
// positions of every table, the first probe of a table (mapping and decoding set-up), and
// the directory scan of an initialisation.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "syzygy/tbprobe.h"

namespace quorix {
namespace {

std::string table_dir() {
  if (const char* d = std::getenv("QUORIX_TB_DIR")) return d;
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../../shared/testdata/syzygy";
}

const char* const MATERIALS[] = {"KQvK",  "KRvK",  "KPvK",  "KQvKR", "KRvKB", "KRvKN", "KQvKP", "KRvKP",
                                 "KBvKP", "KNvKP", "KPvKP", "KPPvK", "KRPvK", "KBNvK", "KBBvK", "KQQvK",
                                 "KRvKR", "KQvKQ", "KQRvK", "KNPvK"};

// Initialises with the "Found ..." line sent to /dev/null.
void quiet_init(const std::string& path) {
  std::fflush(stdout);
  const int saved = ::dup(1), null_fd = ::open("/dev/null", O_WRONLY);
  ::dup2(null_fd, 1);
  tb::init(path);
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(null_fd);
}

// Random legal positions of the listed materials (kings apart, side not to move not in check).
const std::vector<Position>& positions() {
  static std::vector<Position> v = [] {
    std::vector<Position> out;
    std::mt19937_64 rng(99);
    for (const char* mat : MATERIALS)
      for (int n = 0; n < 200;) {
        char board[64] = {};
        bool black = false;
        for (const char* c = mat; *c; c++) {
          if (*c == 'v') {
            black = true;
            continue;
          }
          int sq;
          do sq = int(rng() % 64);
          while (board[sq] || (*c == 'P' && (sq < 8 || sq >= 56)));
          board[sq] = black ? char(*c + 32) : *c;
        }
        std::string fen;
        for (int r = 7; r >= 0; r--) {
          for (int f = 0; f < 8; f++) fen += board[r * 8 + f] ? board[r * 8 + f] : '1';
          if (r) fen += '/';
        }
        fen += (rng() & 1) ? " w - - 0 1" : " b - - 0 1";
        Position p;
        set_fen(p, fen.c_str());
        const int a = p.king_sq[0], b = p.king_sq[1];
        if ((std::abs(a / 8 - b / 8) <= 1 && std::abs(a % 8 - b % 8) <= 1) || king_attacked(p, p.side() ^ 1)) continue;
        out.push_back(p);
        n++;
      }
    return out;
  }();
  return v;
}

void warm_tables() {
  static bool done = false;
  if (done) return;
  done = true;
  quiet_init(table_dir());
  bool ok;
  for (const auto& p : positions()) {
    tb::probe_wdl(p, ok);
    tb::probe_dtz(p, ok);
  }
}

void BM_TBProbeWDL(benchmark::State& state) {
  warm_tables();
  const auto& ps = positions();
  size_t i = 0;
  int sum = 0;
  for (auto _ : state) {
    bool ok;
    sum += tb::probe_wdl(ps[i], ok);
    if (++i == ps.size()) i = 0;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TBProbeWDL);

void BM_TBProbeDTZ(benchmark::State& state) {
  warm_tables();
  const auto& ps = positions();
  size_t i = 0;
  int sum = 0;
  for (auto _ : state) {
    bool ok;
    sum += tb::probe_dtz(ps[i], ok);
    if (++i == ps.size()) i = 0;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TBProbeDTZ);

// First WDL probe after an initialisation: open, map and set up the decoding data of one
// table (the files themselves are in the page cache).
void BM_TBFirstProbe(benchmark::State& state) {
  positions();
  Position p;
  set_fen(p, "8/8/3k4/8/8/8/2R5/1Q2K3 w - - 0 1");  // KQRvK: 4.5 kB WDL file
  for (auto _ : state) {
    state.PauseTiming();
    quiet_init(table_dir());
    state.ResumeTiming();
    bool ok;
    benchmark::DoNotOptimize(tb::probe_wdl(p, ok));
  }
  tb::release();
}
BENCHMARK(BM_TBFirstProbe)->Unit(benchmark::kMicrosecond);

// Registration: 1,511 material names tested in one directory.
void BM_TBInit(benchmark::State& state) {
  for (auto _ : state) quiet_init(table_dir());
  tb::release();
}
BENCHMARK(BM_TBInit)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorix
