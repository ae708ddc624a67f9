#include <gtest/gtest.h>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/options.h"
#include "search/see.h"
#include "test_util.h"

namespace quorix {
namespace {

// Both check tests against the truth (the mover's opponent attacked after the move) for
// every legal move of the suite positions and of their children: castling either way,
// en passant, promotions, discovered and double checks all occur there.
void check_suite(const char* file, bool chess960) {
  auto cases = test::read_perft_suite(test::shared_dir() + "/testdata/perft/" + file);
  ASSERT_FALSE(cases.empty()) << file;
  opt::chess960 = chess960;
  static Position root, node, child;
  int moves_tested = 0, checks = 0;
  for (const auto& c : cases) {
    set_fen(root, c.fen.c_str());
    Move first[MAX_MOVES];
    const int n1 = legal_moves(root, first);
    for (int i = -1; i < n1; i++) {
      if (i < 0) node = root;
      else make_move(root, node, first[i]);
      Move moves[MAX_MOVES];
      const int n = legal_moves(node, moves);
      CheckInfo ci;
      for (int j = 0; j < n; j++) {
        make_move(node, child, moves[j]);
        const bool truth = king_attacked(child, child.side());
        ASSERT_EQ(gives_check(node, moves[j]), truth) << c.fen << " move " << move_to_text(node, moves[j]);
        ASSERT_EQ(gives_check(node, moves[j], ci), truth) << c.fen << " move " << move_to_text(node, moves[j]);
        moves_tested++;
        checks += truth;
      }
    }
  }
  opt::chess960 = 0;
  EXPECT_GT(checks, 100) << "the suite should contain checking moves";
  EXPECT_GT(moves_tested, 10000);
}

TEST(CheckTest, AgreesWithTheBoardOnStandardPositions) { check_suite("perft.epd", false); }
TEST(CheckTest, AgreesWithTheBoardOnChess960Positions) { check_suite("perft960.epd", true); }

}  // namespace
}  // namespace quorix
