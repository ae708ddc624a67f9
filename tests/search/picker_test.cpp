// The staged move picker hands out exactly the moves its stages promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "search/movepick.h"
#include "search/search.h"
#include "interface/options.h"
#include "test_util.h"

namespace quorix {
namespace {

std::vector<Move> pick_all(const Position& root, int kind, Move hash = 0, Move k1 = 0, Move k2 = 0, Move cm = 0,
                           int depth = 20) {
  Position p = root;
  attach_to_thread(p, thread_rec(0));
  MovePicker mp;
  mp.init(&p, &thread_rec(0), kind, hash, k1, k2, cm, depth);
  std::vector<Move> out;
  Move m;
  while ((m = next_move(mp)) != 0) {
    out.push_back(m);
    if (out.size() > 1000) break;
  }
  return out;
}

std::multiset<Move> as_set(const uint32_t* list, int n) {
  std::multiset<Move> s;
  for (int i = 0; i < n; i++) s.insert(entry_move(list[i]));
  return s;
}

std::set<std::string> texts(const Position& p, const std::vector<Move>& v) {
  std::set<std::string> s;
  for (Move m : v) s.insert(move_to_text(p, m));
  return s;
}

TEST(Picker, KindZeroReturnsEveryGeneratedMoveOnce) {
  for (const char* file : {"perft.epd", "perft960.epd"}) {
    opt::chess960 = std::string(file) == "perft960.epd";
    for (const auto& c : test::read_perft_suite(test::shared_dir() + "/testdata/perft/" + file)) {
      Position p;
      set_fen(p, c.fen.c_str());
      uint32_t list[MAX_MOVES];
      int n = generate_all(p, list);
      auto expected = as_set(list, n);
      auto got = pick_all(p, PK_MAIN);
      EXPECT_EQ(std::multiset<Move>(got.begin(), got.end()), expected) << c.fen;
      // With special moves set, nothing is lost or duplicated either.
      if (n >= 3) {
        Move h = entry_move(list[n - 1]), k1 = entry_move(list[0]), k2 = entry_move(list[1]);
        got = pick_all(p, 0, h, k1, k2, entry_move(list[n / 2]));
        EXPECT_EQ(std::multiset<Move>(got.begin(), got.end()), expected) << c.fen;
        EXPECT_EQ(got.front(), h) << c.fen;
      }
    }
  }
  opt::chess960 = 0;
}

TEST(Picker, CaptureStageSplitsPromotions) {
  Position p;
  set_fen(p, "8/1P1k4/8/8/8/8/8/4K3 w - -");
  auto caps = texts(p, pick_all(p, PK_TACTICAL));  // hash, captures, end
  EXPECT_EQ(caps, (std::set<std::string>{"b7b8q", "b7b8n"}));  // the knight checks d7
  auto all = texts(p, pick_all(p, PK_MAIN));
  EXPECT_TRUE(all.count("b7b8r") && all.count("b7b8b"));
  set_fen(p, "8/1P6/8/8/8/8/7k/4K3 w - -");
  EXPECT_EQ(texts(p, pick_all(p, PK_TACTICAL)), (std::set<std::string>{"b7b8q"}));
}

TEST(Picker, KillerThatCapturesComesFromCaptureStage) {
  Position p;
  test::setup(p, "4k3/8/8/3p4/4P3/8/8/4K3 w - -");
  Move cap = make_move_code(28, 35);  // e4xd5
  MovePicker mp;
  mp.init(&p, &thread_rec(0), PK_MAIN, 0, cap, 0, 0, 5);
  int seen = 0;
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (m == cap) {
      seen++;
      EXPECT_EQ(mp.stage, ST_CAPTURES);
    }
  }
  EXPECT_EQ(seen, 1);
}

TEST(Picker, EvasionsCoverCheckerAndBlocks) {
  Position p;
  // Knight check: every capture of the knight is among the evasions.
  set_fen(p, "4k3/8/8/8/8/3n4/2B1P3/R3K3 w Q -");
  auto ev = texts(p, pick_all(p, PK_EVASIONS));
  EXPECT_TRUE(ev.count("e2d3") && ev.count("c2d3"));
  EXPECT_FALSE(ev.count("e1c1"));
  // A capture of the checker on the last rank gives all four promotions.
  set_fen(p, "2r1k3/1P6/8/8/8/8/8/2K5 w - -");
  ev = texts(p, pick_all(p, PK_EVASIONS));
  EXPECT_TRUE(ev.count("b7c8q") && ev.count("b7c8n") && ev.count("b7c8r") && ev.count("b7c8b"));
  // A check blocked only by a push onto the last rank: queen and knight promotions.
  set_fen(p, "K6r/1P6/8/8/8/8/8/7k w - -");
  ev = texts(p, pick_all(p, PK_EVASIONS));
  EXPECT_TRUE(ev.count("b7b8q") && ev.count("b7b8n"));
  EXPECT_FALSE(ev.count("b7b8r") || ev.count("b7b8b"));
}

TEST(Picker, CastlingNeedsSafePath) {
  Position p;
  set_fen(p, "4k3/8/8/8/8/8/8/4K2R w K -");
  EXPECT_TRUE(texts(p, pick_all(p, PK_MAIN)).count("e1g1"));
  set_fen(p, "4kr2/8/8/8/8/8/8/4K2R w K -");  // f1 attacked
  EXPECT_FALSE(texts(p, pick_all(p, PK_MAIN)).count("e1g1"));
  set_fen(p, "4k2r/8/8/8/8/8/8/4K2R w K -");  // only the rook's square attacked
  EXPECT_TRUE(texts(p, pick_all(p, PK_MAIN)).count("e1g1"));
}

TEST(Picker, QuiescenceKindsGiveTheirStages) {
  Position p;
  set_fen(p, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  uint32_t list[MAX_MOVES];
  int n = generate_captures(p, list);
  auto caps = as_set(list, n);
  auto got = pick_all(p, PK_Q_CAPTURES);  // hash, captures, end
  EXPECT_EQ(std::multiset<Move>(got.begin(), got.end()), caps);
  n = generate_quiet_checks(p, list, false);
  auto checks = as_set(list, n);
  got = pick_all(p, PK_Q_CHECKS);  // hash, captures, quiet checks, end
  std::multiset<Move> both = caps;
  both.insert(checks.begin(), checks.end());
  EXPECT_EQ(std::multiset<Move>(got.begin(), got.end()), both);
  // Every quiet check really gives check and is quiet.
  for (Move m : checks) {
    Position c;
    if (!make_move(p, c, m)) continue;
    EXPECT_TRUE(king_attacked(c, c.side())) << move_to_text(p, m);
    EXPECT_EQ(p.board[move_to(m)], 0) << move_to_text(p, m);
  }
}

}  // namespace
}  // namespace quorix
