#include <gtest/gtest.h>

#include <cstdlib>

#include "board/movetext.h"
#include "search/perft.h"
#include "interface/options.h"
#include "test_util.h"

namespace quorix {
namespace {

// CI runs every depth whose count stays below this; the "full" label runs all.
constexpr uint64_t CI_LEAF_LIMIT = 1000000;

void run_suite(const char* file, bool chess960, bool all) {
  auto cases = test::read_perft_suite(test::shared_dir() + "/testdata/perft/" + file);
  ASSERT_FALSE(cases.empty()) << file;
  opt::chess960 = chess960;
  static Position root;
  for (const auto& c : cases) {
    set_fen(root, c.fen.c_str());
    for (auto [d, n] : c.counts) {
      if (!all && n > CI_LEAF_LIMIT) continue;
      EXPECT_EQ(perft(thread_rec(0), root, d), n) << c.fen << " depth " << d;
    }
  }
  opt::chess960 = 0;
}

TEST(Perft, StandardSuite) { run_suite("perft.epd", false, false); }
TEST(Perft, Chess960Suite) { run_suite("perft960.epd", true, false); }
TEST(PerftFull, StandardSuite) { run_suite("perft.epd", false, std::getenv("QUORIX_PERFT_ALL") != nullptr); }
TEST(PerftFull, Chess960Suite) { run_suite("perft960.epd", true, std::getenv("QUORIX_PERFT_ALL") != nullptr); }

}  // namespace
}  // namespace quorix
