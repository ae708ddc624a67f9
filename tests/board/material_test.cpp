#include <gtest/gtest.h>

#include <string>

#include "board/material.h"
#include "test_util.h"

namespace quorix {
namespace {

Position from_fen(const std::string& fen) {
  Position p;
  test::setup(p, fen);
  return p;
}

TEST(KpkOracle, KnownPositions) {
  struct Case {
    const char* fen;
    bool win;
  } cases[] = {
      {"4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", true},   // king on the sixth in front of the pawn
      {"4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", true},
      {"8/8/4k3/8/4K3/4P3/8/8 w - - 0 1", false},  // the defender keeps the opposition
      {"8/8/4k3/8/4K3/4P3/8/8 b - - 0 1", true},   // the defender must give way
      {"k7/8/1K6/P7/8/8/8/8 w - - 0 1", false},    // rook pawn, defender in the corner
      {"k7/8/1K6/P7/8/8/8/8 b - - 0 1", false},
      {"8/8/8/8/P7/8/8/K6k w - - 0 1", true},      // the king is outside the pawn's square
      {"8/4k3/8/8/P7/8/8/K7 w - - 0 1", false},    // the defender stands inside the square
      {"8/8/8/8/8/6k1/7p/7K w - - 0 1", false},    // black pawn: a draw for the weak white king
      {"8/8/8/8/8/8/5kp1/7K w - - 0 1", true},     // black wins: the queening square is covered
  };
  for (const Case& c : cases) {
    Position p = from_fen(c.fen);
    const MatSignature* e = find_signature(p.mat_key);
    ASSERT_NE(e, nullptr) << c.fen;
    ASSERT_EQ(e->special, SE_KPK) << c.fen;
    float scale = 1;
    int v = run_special_eval(*e, p, scale);
    EXPECT_EQ(scale, 0.0f);
    EXPECT_EQ(std::abs(v) > 6000, c.win) << c.fen << " value " << v;
    int strong = p.pieces(WHITE, PAWN) ? WHITE : BLACK;
    if (c.win) {
      EXPECT_EQ(v > 0, strong == WHITE) << c.fen;
    }
  }
}

// Every win has a winning move and every defence against a win loses; every draw
// has no winning move or a drawing defence.
TEST(KpkOracle, ConsistentWithOneMoveLookahead) {
  int wins = 0, draws = 0;
  for (int wp = 8; wp < 56; wp++)
    for (int wk = 0; wk < 64; wk++)
      for (int bk = 0; bk < 64; bk++) {
        if (wk == bk || wk == wp || bk == wp || distance[wk][bk] <= 1) continue;
        for (int btm = 0; btm < 2; btm++) {
          if (!btm && (pawn_attacks(WHITE, wp) & sq_bb(bk))) continue;  // side not to move in check
          bool win = kpk_win(wk, wp, bk, btm);
          (win ? wins : draws)++;
          if (!btm) {
            bool good = false;
            int q = wp + 8;
            if (rank_of(wp) == 6 && q != wk && q != bk && (distance[bk][q] > 1 || distance[wk][q] == 1)) good = true;
            Bitboard km = king_attacks(wk) & ~sq_bb(wp) & ~king_attacks(bk);
            while (km && !good) good = kpk_win(pop_lsb(km), wp, bk, true);
            if (!good && rank_of(wp) < 6 && q != wk && q != bk) {
              good = kpk_win(wk, q, bk, true);
              if (!good && rank_of(wp) == 1 && q + 8 != wk && q + 8 != bk) good = kpk_win(wk, q + 8, bk, true);
            }
            ASSERT_EQ(win, good) << wk << " " << wp << " " << bk << " white to move";
          } else {
            Bitboard km = king_attacks(bk) & ~king_attacks(wk) & ~pawn_attacks(WHITE, wp);
            bool all_win = km != 0;
            while (km && all_win) {
              int to = pop_lsb(km);
              all_win = to != wp && kpk_win(wk, wp, to, false);
            }
            ASSERT_EQ(win, all_win) << wk << " " << wp << " " << bk << " black to move";
          }
        }
      }
  EXPECT_GT(wins, 100000);
  EXPECT_GT(draws, 30000);
}

TEST(MaterialSignatures, KbnkBothBishopColoursAndMirror) {
  struct Case {
    const char* fen;
    int value;
  } cases[] = {
      // light bishop f1: the weak king on a8 sits in a light corner
      {"k7/8/1K6/8/8/8/8/2N2B2 w - - 0 1", 5000 - 0 - 80 * 2 - 40 * 7},
      // dark bishop c1: a8 is four steps from a1 or h8 away from the right corner
      {"k7/8/1K6/8/8/8/8/2B2N2 w - - 0 1", 5000 - 200 * 7 - 80 * 2 - 40 * 7},
      // the same two positions with colours swapped and the board flipped
      {"2n2b2/8/8/8/8/1k6/8/K7 b - - 0 1", -(5000 - 0 - 80 * 2 - 40 * 7)},
      {"2b2n2/8/8/8/8/1k6/8/K7 b - - 0 1", -(5000 - 200 * 7 - 80 * 2 - 40 * 7)},
  };
  for (const Case& c : cases) {
    Position p = from_fen(c.fen);
    const MatSignature* e = find_signature(p.mat_key);
    ASSERT_NE(e, nullptr) << c.fen;
    EXPECT_EQ(e->special, SE_KBNK) << c.fen;
    float scale = 1;
    EXPECT_EQ(run_special_eval(*e, p, scale), c.value) << c.fen;
    EXPECT_EQ(scale, 0.0f);
  }
}

TEST(MaterialSignatures, RowsMirrorAndKeysMustMatch) {
  Position w = from_fen("8/8/8/3k4/8/8/8/3QK3 w - - 0 1");
  Position b = from_fen("3qk3/8/8/8/3K4/8/8/8 w - - 0 1");
  const MatSignature* ew = find_signature(w.mat_key);
  const MatSignature* eb = find_signature(b.mat_key);
  ASSERT_TRUE(ew && eb);
  EXPECT_EQ(ew->value, 8000);
  EXPECT_EQ(eb->value, -8000);
  EXPECT_EQ(ew->scale, 1.0f);

  Position bare = from_fen("8/8/8/3k4/8/8/8/4K3 w - - 0 1");
  ASSERT_EQ(bare.mat_key, 0u);
  const MatSignature* e0 = find_signature(0);
  ASSERT_NE(e0, nullptr);
  EXPECT_EQ(e0->value, 0);
  EXPECT_EQ(e0->scale, 0.0f);

  // Same slot, different full key: no verdict.
  EXPECT_EQ(find_signature(w.mat_key ^ (uint64_t(1) << 40)), nullptr);
  // A balance without a row (queen and rook against rook) has no verdict either.
  Position none = from_fen("3rk3/8/8/8/8/8/8/2RQK3 w - - 0 1");
  EXPECT_EQ(find_signature(none.mat_key), nullptr);
}

TEST(MaterialSignatures, KnpkAndKrpkr) {
  float scale = 1;
  // Rook pawn on a7, weak king on b8 holds the corner: small value.
  Position p = from_fen("1k6/P7/8/8/8/8/8/K2N4 w - - 0 1");
  const MatSignature* e = find_signature(p.mat_key);
  ASSERT_TRUE(e && e->special == SE_KNPK);
  EXPECT_EQ(run_special_eval(*e, p, scale), (10 - 7) * 5);
  // Black strong side: mirrored board, negated value.
  Position m = from_fen("k2n4/8/8/8/8/8/p7/1K6 w - - 0 1");
  e = find_signature(m.mat_key);
  ASSERT_TRUE(e && e->special == SE_KNPK);
  EXPECT_EQ(run_special_eval(*e, m, scale), -(10 - 7) * 5);

  // Weak king in front of the pawn, weak rook on its first rank, pawn on the sixth.
  Position r = from_fen("4k3/8/4P3/8/8/8/1R6/r3K3 w - - 0 1");
  e = find_signature(r.mat_key);
  ASSERT_TRUE(e && e->special == SE_KRPKR);
  EXPECT_EQ(run_special_eval(*e, r, scale), 50);
  EXPECT_FLOAT_EQ(scale, 0.158f);
  // Weak king away from the pawn's file: the base verdict.
  Position r2 = from_fen("k7/8/4P3/8/8/8/1R6/r3K3 w - - 0 1");
  EXPECT_EQ(run_special_eval(*find_signature(r2.mat_key), r2, scale), 500);
  EXPECT_FLOAT_EQ(scale, 0.5f);
}

}  // namespace
}  // namespace quorix
