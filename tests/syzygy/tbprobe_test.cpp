#include "syzygy/tbprobe.h"

#include <gtest/gtest.h>

#include "syzygy/tb_test_util.h"
#include "test_util.h"

namespace quorix {
namespace {

using test::read_tb_cases;
using test::swap_colours;
using test::table_dir;

class Tablebases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::internal::CaptureStdout();
    tb::init(table_dir());
    testing::internal::GetCapturedStdout();
  }
  static void TearDownTestSuite() { tb::release(); }
};

// Every annotated position, as given and with colours swapped.
TEST_F(Tablebases, AnnotatedPositionsBothOrientations) {
  for (const char* file : {"endgame.epd", "endgame-dm-4-syzygy.epd"}) {
    auto cases = read_tb_cases(table_dir() + "/" + file);
    ASSERT_GT(cases.size(), 40u) << file;
    for (const auto& c : cases)
      for (const std::string& fen : {c.fen, swap_colours(c.fen)}) {
        Position p;
        test::setup(p, fen);
        bool ok_w = false, ok_d = false;
        EXPECT_EQ(tb::probe_wdl(p, ok_w), c.wdl) << fen;
        EXPECT_EQ(tb::probe_dtz(p, ok_d), c.dtz) << fen;
        EXPECT_TRUE(ok_w && ok_d) << fen;
      }
  }
}

}  // namespace
}  // namespace quorix
