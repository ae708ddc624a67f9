// Searches from tablebase positions, in-process through the driver (one and two threads).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "board/makemove.h"
#include "board/movetext.h"
#include "interface/driver.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/search.h"
#include "search/threads.h"
#include "syzygy/tb_test_util.h"
#include "syzygy/tbprobe.h"
#include "test_util.h"

namespace quorix {
namespace {

struct Result {
  std::string best;
  uint64_t tbhits = 0;  // of the last PV line
  bool any_pv = false;
};

Result run(Position& p, int depth, double target) {
  g_move_time = 0;
  g_node_limit = ~uint64_t(0);
  pondering = 0;
  stop_requested = 0;
  testing::internal::CaptureStdout();
  think(p, target, depth, "", UNTIMED, false);
  std::istringstream in(testing::internal::GetCapturedStdout());
  Result r;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("bestmove ", 0) == 0) {
      r.best = line.substr(9, line.find(' ', 9) - 9);
    } else if (line.find(" pv ") != std::string::npos) {
      size_t at = line.find(" tbhits ");
      if (at != std::string::npos) r.tbhits = std::stoull(line.substr(at + 8));
      r.any_pv = true;
    }
  }
  return r;
}

int wdl_of(const Position& p) {
  bool ok;
  int w = tb::probe_wdl(p, ok);
  EXPECT_TRUE(ok);
  return w;
}

class TablebaseSearchThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStdout();
    tb::init(test::table_dir());
    testing::internal::GetCapturedStdout();
    opt::use_syzygy = 1;
  }
  void TearDown() override {
    tb::release();
    opt::threads = 1;
    threads_resize(1);
  }
};

// The played move keeps the root's result, and the reports count tablebase hits.
TEST_F(TablebaseSearchThreads, MovesKeepTheResult) {
  auto cases = test::read_tb_cases(test::table_dir() + "/endgame.epd");
  ASSERT_EQ(cases.size(), 200u);
  for (int threads : {1, 2}) {
    opt::threads = threads;
    for (size_t i = 0; i < cases.size(); i += 25) {
      for (int depth : {1, 4, 12, 20}) {
        Position p;
        test::setup(p, cases[i].fen);
        const int before = wdl_of(p);
        const Result r = run(p, depth, depth == 20 ? 0.3 : UNTIMED);
        Position c;
        ASSERT_TRUE(apply_move_text(p, c, r.best.c_str())) << cases[i].fen << " " << r.best;
        EXPECT_EQ(-wdl_of(c), before) << cases[i].fen << " depth " << depth << " " << r.best;
        EXPECT_GT(r.tbhits, 0u) << cases[i].fen;
      }
    }
  }
}

// Five pieces: the root is outside the tables, the search probes after captures.
TEST_F(TablebaseSearchThreads, InteriorProbesAfterCaptures) {
  for (int threads : {1, 2}) {
    opt::threads = threads;
    Position p;
    test::setup(p, "8/8/3k4/8/2q5/8/3QR3/4K3 w - - 0 1");
    Result r = run(p, 8, UNTIMED);
    EXPECT_TRUE(r.any_pv);
    EXPECT_GT(r.tbhits, 0u);
    opt::use_syzygy = 0;
    r = run(p, 8, UNTIMED);
    EXPECT_EQ(r.tbhits, 0u);
    opt::use_syzygy = 1;
  }
}

}  // namespace
}  // namespace quorix
