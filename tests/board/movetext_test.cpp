#include <gtest/gtest.h>

#include "board/movegen.h"
#include "board/movetext.h"
#include "search/perft.h"
#include "search/thread.h"
#include "interface/options.h"
#include "test_util.h"

namespace quorix {
namespace {

// Applies text to fen; returns the FEN after it, or "" when no move was made.
std::string after(const char* fen, const char* text) {
  static Position a, b;
  set_fen(a, fen);
  if (!apply_move_text(a, b, text)) return "";
  char buf[128];
  get_fen(b, buf);
  return buf;
}

TEST(MoveText, TextCases) {
  struct Case { bool c960; const char* fen; const char* text; const char* result; };
  const Case cases[] = {
      {false, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1g1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1"},
      {false, "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "e8c8", "2kr3r/8/8/8/8/8/8/R3K2R w KQ - 1 2"},
      {true, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1h1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1"},
      {true, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1g1", ""},           // no such king step
      {true, "4k3/8/8/8/8/8/8/5KR1 w K -", "f1g1", "4k3/8/8/8/8/8/8/5RK1 b - - 1 1"},  // king and rook swap
      {false, "4k3/4P3/8/8/8/8/8/4K3 w - -", "e7e8", ""},               // promotion needs its letter
      {false, "3k4/4P3/8/8/8/8/8/4K3 w - -", "e7e8Q", ""},              // upper case is not a letter
      {false, "3k4/4P3/8/8/8/8/8/4K3 w - -", "e7e8n", "3kN3/8/8/8/8/8/8/4K3 b - - 0 1"},
      {false, "rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6", "e5d6",
       "rnbqkbnr/ppp1pppp/3P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1"},
      {false, "4k3/8/8/8/8/8/8/4K3 w - -", "z9z9", ""},
      {false, "4k3/8/8/8/8/8/8/4K3 w - -", "e1", ""},
  };
  for (const auto& c : cases) {
    opt::chess960 = c.c960;
    EXPECT_EQ(after(c.fen, c.text), c.result) << c.fen << " " << c.text;
  }
  opt::chess960 = 0;
}

TEST(MoveText, WritesCastlingPerMode) {
  Position p;
  set_fen(p, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  Move oo = make_move_code(4, 7, MK_CASTLE);
  EXPECT_EQ(move_to_text(p, oo), "e1g1");
  opt::chess960 = 1;
  EXPECT_EQ(move_to_text(p, oo), "e1h1");
  opt::chess960 = 0;
  EXPECT_EQ(move_to_text(p, 0), "0000");
  EXPECT_EQ(move_to_text(p, make_move_code(52, 60, MK_PROMO_B)), "e7e8b");
}

TEST(MoveText, PerftCountsFromStart) {
  Position p;
  set_fen(p, START_FEN);
  const uint64_t expected[] = {20, 20, 400, 8902, 197281};
  for (int d = 0; d <= 4; d++) {
    EXPECT_EQ(perft(thread_rec(0), p, d), expected[d]) << "depth " << d;
  }
}

}  // namespace
}  // namespace quorix
