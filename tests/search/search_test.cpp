// Search, driver and report behaviour checked in-process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/driver.h"
#include "interface/options.h"
#include "interface/report.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/history.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"
#include "test_util.h"

namespace quorix {
namespace {

struct Outcome {
  std::string out;         // everything printed
  std::string best;        // move text after "bestmove"
  std::string ponder;      // move text after "ponder" (may be empty)
  std::string score;       // score text of the last PV line
  int last_depth = 0;      // depth of the last PV line
};

std::string field_after(const std::string& line, const std::string& key, const std::string& until) {
  size_t a = line.find(key);
  if (a == std::string::npos) return "";
  a += key.size();
  size_t b = until.empty() ? std::string::npos : line.find(until, a);
  return line.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

void reset_limits() {
  g_move_time = 0;
  g_node_limit = ~uint64_t(0);
  pondering = 0;
  stop_requested = 0;
}

Outcome search(Position& p, int depth, const std::string& searchmoves = "", double target = UNTIMED) {
  reset_limits();
  testing::internal::CaptureStdout();
  think(p, target, depth, searchmoves, UNTIMED, false);
  Outcome o;
  o.out = testing::internal::GetCapturedStdout();
  std::istringstream in(o.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("bestmove ", 0) == 0) {
      std::istringstream l(line);
      std::string w;
      l >> w >> o.best >> w >> o.ponder;
    } else if (line.find(" score ") != std::string::npos && line.find(" pv ") != std::string::npos) {
      o.score = field_after(line, " score ", " nps");
      o.last_depth = std::atoi(field_after(line, "info depth ", " ").c_str());
    }
  }
  return o;
}

// Position from FEN text with the half-move counter taken from the fifth field.
void setup_with_fifty(Position& p, const std::string& fen, int fifty) {
  test::setup(p, fen);
  p.fifty = int16_t(fifty);
}

bool legal_text(const Position& p, const std::string& text) {
  Position child;
  return apply_move_text(p, child, text.c_str());
}

TEST(History, BonusTablesAreFilledAtStartUp) {
  // engine_startup() ran before the tests; nothing here refills the tables.
  EXPECT_EQ(history_bonus(10), 2513);
  EXPECT_EQ(capture_bonus(10), 524);
}

TEST(History, BonusTablesAndGravityBounds) {
  init_history_bonus();
  EXPECT_EQ(history_bonus(2), 281);
  EXPECT_EQ(history_bonus(10), 2513);
  EXPECT_EQ(history_bonus(30), 11453);
  EXPECT_EQ(history_bonus(0), history_bonus(2));
  EXPECT_EQ(history_bonus(31), 0);
  EXPECT_EQ(capture_bonus(2), 20);
  EXPECT_EQ(capture_bonus(10), 524);
  EXPECT_EQ(capture_bonus(30), 2904);
  EXPECT_EQ(capture_bonus(31), 0);
  uint32_t top = 32000, bottom = 0, mid = 16000;
  history_add(top, 11453);
  history_sub(bottom, 11453);
  history_add(mid, 281);
  EXPECT_EQ(top, 32000u);
  EXPECT_EQ(bottom, 0u);
  EXPECT_EQ(mid, 16281u);
  uint32_t cap_hi = 13000, cap_lo = 3000;
  capture_history_add(cap_hi, 2904);
  capture_history_add(cap_lo, -2904);
  EXPECT_EQ(cap_hi, 13000u);
  EXPECT_EQ(cap_lo, 3000u);
}

TEST(History, QuietUpdateRules) {
  init_history_bonus();
  SearchThread& th = g_threads[0];
  Position p;
  test::setup(p, START_FEN);
  const Move e4 = make_move_code(12, 28, MK_DOUBLE), d4 = make_move_code(11, 27, MK_DOUBLE),
             nf3 = make_move_code(6, 21);
  auto cell = [&](Move m) { return th.history[p.board[move_from(m)] * 4096 + (m & 4095)]; };
  const uint32_t e4_before = cell(e4), d4_before = cell(d4), nf3_before = cell(nf3);
  Move tried[2] = {e4, d4};
  th.killers[3][0] = nf3;
  th.killers[3][1] = 0;
  // The first quiet tried keeps its history when the node's evaluation is far below beta.
  update_quiet_stats(th, p, 3, nf3, tried, 2, 10, true);
  EXPECT_EQ(cell(e4), e4_before);
  EXPECT_LT(cell(d4), d4_before);
  EXPECT_GT(cell(nf3), nf3_before);
  // A killer equal to the cutting move leaves both slots alone.
  EXPECT_EQ(th.killers[3][0], nf3);
  EXPECT_EQ(th.killers[3][1], 0u);
  // Deep nodes change no history.
  const uint32_t d4_now = cell(d4);
  update_quiet_stats(th, p, 3, e4, &d4, 1, 31, false);
  EXPECT_EQ(cell(d4), d4_now);
  EXPECT_EQ(th.killers[3][0], e4);
  EXPECT_EQ(th.killers[3][1], nf3);
  th.reset_ordering_tables();
}

TEST(Reports, ScoreTexts) {
  struct Case {
    int v, bound;
    const char* text;
  } cases[] = {
      {31999, 0, "mate 1"},        {-31998, 0, "mate -1"},           {31997, 0, "mate 2"},
      {30000, 0, "cp 25000"},      {-30000, 0, "cp -25000"},         {35, 1, "cp 35 lowerbound"},
      {-12, 2, "cp -12 upperbound"}, {31800, 0, "mate 101"},         {0, 0, "cp 0"},
  };
  for (const auto& c : cases) {
    char buf[64];
    score_text(c.v, c.bound, buf, sizeof buf);
    EXPECT_STREQ(buf, c.text) << c.v;
  }
}

TEST(Driver, ClockAllotmentAtTheStartPosition) {
  SearchLimits lim;
  lim.wtime = lim.btime = 60.0;
  double target = 0, hard = 0;
  const TimeOptions o;  // the option defaults, no ponder credit
  clock_allotment(lim, 0, 1, o, target, hard);
  EXPECT_NEAR(target, 1.217, 1e-9);
  EXPECT_NEAR(hard, 57.504, 1e-9);
  lim.movestogo = 10;
  clock_allotment(lim, 0, 1, o, target, hard);
  EXPECT_NEAR(target, 60.0 / 12 * 1.2 * 1.1 - 0.051, 1e-9);
  EXPECT_NEAR(hard, 0.9 * (60 - 0.1), 1e-9);
  lim.movestogo = 0;
  lim.wtime = 0.02;  // below the overhead: a few milliseconds for depth 1, within the clock
  clock_allotment(lim, 0, 1, o, target, hard);
  EXPECT_GT(target, 0.0);
  EXPECT_NEAR(hard, 0.005, 1e-12);
  lim.wtime = 0.004;
  clock_allotment(lim, 0, 1, o, target, hard);
  EXPECT_NEAR(hard, 0.002, 1e-12);
  lim.wtime = 0;  // no clock at all
  clock_allotment(lim, 0, 1, o, target, hard);
  EXPECT_EQ(hard, 0.0);
}

TEST(Search, LegalBestMovesFromThePerftSuites) {
  const int max_depth = 6;
  for (const char* file : {"perft.epd", "perft960.epd"}) {
    opt::chess960 = std::string(file) == "perft960.epd";
    for (const auto& c : test::read_perft_suite(test::shared_dir() + "/testdata/perft/" + file)) {
      Position p;
      test::setup(p, c.fen);
      for (int d = 1; d <= max_depth; d++) {
        Outcome o = search(p, d);
        ASSERT_TRUE(legal_text(p, o.best)) << c.fen << " depth " << d << " bestmove " << o.best;
        if (!o.ponder.empty()) {
          Position child;
          ASSERT_TRUE(apply_move_text(p, child, o.best.c_str()));
          EXPECT_TRUE(legal_text(child, o.ponder)) << c.fen << " ponder " << o.ponder;
        }
      }
    }
  }
  opt::chess960 = 0;
}

TEST(SearchFull, LegalBestMovesFromThePerftSuitesToDepthTen) {
  for (const char* file : {"perft.epd", "perft960.epd"}) {
    opt::chess960 = std::string(file) == "perft960.epd";
    for (const auto& c : test::read_perft_suite(test::shared_dir() + "/testdata/perft/" + file)) {
      Position p;
      test::setup(p, c.fen);
      for (int d = 1; d <= 10; d++) {
        Outcome o = search(p, d);
        ASSERT_TRUE(legal_text(p, o.best)) << c.fen << " depth " << d << " bestmove " << o.best;
      }
    }
  }
  opt::chess960 = 0;
}

TEST(Search, MatesStalematesAndDraws) {
  struct Case {
    const char* fen;
    int fifty, depth;
    const char* best;  // "" = any legal move
    const char* score;
  } cases[] = {
      {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", 0, 4, "d1d8", "mate 1"},
      {"kbK5/pp6/1P6/8/8/8/8/R7 w - -", 0, 6, "a1a6", "mate 2"},
      {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 b - -", 0, 4, "", "cp"},      // no mate for the defender
      {"5k2/5P2/5K2/8/8/8/8/8 b - -", 0, 3, "0000", "cp 0"},       // stalemated at the root
      {"3R2k1/5ppp/8/8/8/8/5PPP/6K1 b - -", 0, 3, "0000", "mate"},  // checkmated at the root
      {"k7/8/1QK5/8/8/8/8/8 w - -", 0, 5, "b6b7", "mate 1"},        // Qb7 mates, Qa6/Qc7 stalemate traps
      {"7k/8/6K1/8/8/8/8/6Q1 w - -", 99, 4, "", "cp 0"},             // every move reaches the fifty-move limit
      {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", 99, 4, "d1d8", "mate 1"},  // mate on the 100th half-move counts
  };
  for (const auto& c : cases) {
    Position p;
    setup_with_fifty(p, c.fen, c.fifty);
    Outcome o = search(p, c.depth);
    if (*c.best) {
      EXPECT_EQ(o.best, c.best) << c.fen << "\n" << o.out;
    } else {
      EXPECT_TRUE(legal_text(p, o.best)) << c.fen;
    }
    EXPECT_EQ(o.score.rfind(c.score, 0), 0u) << c.fen << " score " << o.score << "\n" << o.out;
  }
}

TEST(Search, RepetitionAtTheRootNeedsTwoEarlierOccurrences) {
  // Black can repeat the start position a third time; with "White Must Win" a draw is worth
  // +2000 to Black, so the repetition is chosen and scored as the draw.
  std::vector<Position> game(8);
  test::setup(game[0], START_FEN);
  const char* moves[] = {"g1f3", "g8f6", "f3g1", "f6g8", "g1f3", "g8f6", "f3g1"};
  for (int i = 0; i < 7; i++) ASSERT_TRUE(apply_move_text(game[size_t(i)], game[size_t(i) + 1], moves[i]));
  opt::armageddon = "White Must Win";
  Outcome o = search(game[7], 4);
  EXPECT_EQ(o.best, "f6g8");
  EXPECT_EQ(o.score, "cp 2000");
  // One move earlier the repetition would be only the second occurrence: no draw yet.
  Outcome early = search(game[3], 4);
  EXPECT_NE(early.score, "cp 2000") << early.out;
  opt::armageddon = "Off";
}

TEST(Search, GarbageTableSlotsAreNotPlayed) {
  // Slots as a corrupt hash file could leave them: moves that are not even pseudo-legal,
  // out-of-range scores and evaluations, for the root and every child of the root.
  Position p;
  test::setup(p, START_FEN);
  uint32_t list[MAX_MOVES];
  int n = generate_all(p, list);
  tt_clear();
  for (int i = -1; i < n; i++) {
    Position child;
    const Position* at = &p;
    if (i >= 0) {
      if (!make_move(p, child, entry_move(list[i]))) continue;
      at = &child;
    }
    TTEntry* e = nullptr;
    tt_store(at->key, 40, 12345, TT_EXACT | TT_NO_MOVES, make_move_code(0, 63), 2, 31000, true);
    e = tt_probe(at->key);
    ASSERT_NE(e, nullptr);
    e->score = 32767;
    e->eval = -32767;
  }
  Outcome o = search(p, 6);
  EXPECT_TRUE(legal_text(p, o.best)) << o.out;
  EXPECT_NE(o.score.find("cp"), std::string::npos) << o.score;
  tt_clear();
}

TEST(Search, SearchmovesRestrictTheRoot) {
  Position p;
  test::setup(p, START_FEN);
  Outcome o = search(p, 4, "a2a3 h2h4 ");
  EXPECT_TRUE(o.best == "a2a3" || o.best == "h2h4") << o.best;
}

TEST(Reports, HashfullFromDepth18AndMinimalReporting) {
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/4K3/8 w - -");  // bare kings: every depth is instant
  Outcome o = search(p, 19);
  std::istringstream in(o.out);
  std::string line;
  int pv_lines = 0;
  while (std::getline(in, line)) {
    if (line.find(" pv ") == std::string::npos) continue;
    pv_lines++;
    int d = std::atoi(field_after(line, "info depth ", " ").c_str());
    EXPECT_EQ(line.find(" hashfull ") != std::string::npos, d >= 18) << line;
    // Field order: depth time nodes score nps [hashfull] tbhits pv.
    EXPECT_LT(line.find(" time "), line.find(" nodes "));
    EXPECT_LT(line.find(" nodes "), line.find(" score "));
    EXPECT_LT(line.find(" score "), line.find(" nps "));
    EXPECT_LT(line.find(" nps "), line.find(" tbhits "));
    EXPECT_LT(line.find(" tbhits "), line.find(" pv "));
  }
  EXPECT_EQ(pv_lines, 19);
  EXPECT_NE(o.out.find("\ninfo time "), std::string::npos);
  opt::minimal_reporting = 10;
  o = search(p, 12);
  opt::minimal_reporting = 0;
  std::istringstream again(o.out);
  std::vector<int> reported;
  while (std::getline(again, line))
    if (line.find(" pv ") != std::string::npos) reported.push_back(std::atoi(field_after(line, "info depth ", " ").c_str()));
  EXPECT_EQ(reported, (std::vector<int>{11, 12}));
}

TEST(Reports, MultiPvLinesAndLogCopy) {
  Position p;
  test::setup(p, "r1bqr1k1/1p3pbp/2pp1np1/p1nPp3/2P1P3/2N2N2/PP3PPP/1RBQRBK1 w - -");
  const std::string log = ::testing::TempDir() + "quorix_search_log.txt";
  std::remove(log.c_str());
  log_open(log);
  opt::multipv = 3;
  Outcome o = search(p, 6);
  opt::multipv = 1;
  log_close();
  // Three lines per depth, best first.
  std::istringstream in(o.out);
  std::string line;
  std::vector<int> scores;
  int lines = 0;
  while (std::getline(in, line)) {
    if (line.rfind("info multipv ", 0) != 0) continue;
    lines++;
    if (line.find(" depth 6 ") == std::string::npos) continue;
    scores.push_back(std::atoi(field_after(line, " score cp ", " ").c_str()));
    EXPECT_EQ(line.rfind("info multipv " + std::to_string(scores.size()) + " depth 6 time ", 0), 0u) << line;
  }
  EXPECT_EQ(lines, 18);
  ASSERT_EQ(scores.size(), 3u);
  EXPECT_GE(scores[0], scores[1]);
  EXPECT_GE(scores[1], scores[2]);
  // The log keeps the search's records.
  std::ifstream f(log);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  for (const char* rec : {"fen: r1bqr1k1/", "lastmove: 0000", "search ply: ", "target: ", "depth: 6", "itcomp: ",
                          "bestmove: "})
    EXPECT_NE(text.find(rec), std::string::npos) << rec << "\n" << text;
  std::remove(log.c_str());
  // A PV line's log copy: depth, seconds, score, bound mark, moves cut to whole moves.
  log_open(log);
  search(p, 2);
  log_close();
  std::ifstream g(log);
  std::string text2((std::istreambuf_iterator<char>(g)), std::istreambuf_iterator<char>());
  EXPECT_NE(text2.find(" info:   2 "), std::string::npos) << text2;
  EXPECT_NE(text2.find(" --  "), std::string::npos) << text2;
  std::remove(log.c_str());
}

TEST(Driver, SingleLegalMoveStopsAfterDepthFive) {
  Position p;
  test::setup(p, "7k/8/8/8/8/8/6r1/7K w - -");  // only Kxg2
  Move legal[MAX_MOVES];
  ASSERT_EQ(legal_moves(p, legal), 1);
  Outcome o = search(p, 99, "", 1000.0);
  EXPECT_EQ(o.last_depth, 5) << o.out;
}

TEST(Driver, SkillZeroSearchesOneIteration) {
  Position p;
  test::setup(p, START_FEN);
  opt::skill = 0;
  Outcome o = search(p, 10);
  opt::skill = 25;
  EXPECT_EQ(o.last_depth, 1) << o.out;
}

TEST(Threads, ParallelSearchGivesLegalMovesAndCountsEveryThread) {
  // A root with game moves behind it: the root's children take continuation rows from its
  // predecessor, which every thread must keep in its own tables.
  std::vector<Position> game(3);
  test::setup(game[0], "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
  ASSERT_TRUE(apply_move_text(game[0], game[1], "e1g1"));
  ASSERT_TRUE(apply_move_text(game[1], game[2], "e8c8"));
  Position& p = game[2];
  // The search itself rebuilds the pool when "Threads" changed; the root's table pointers follow.
  // Three threads also exercise the busy marks of the shared table.
  for (int n : {2, 3}) {
    opt::threads = n;
    for (int d : {1, 3, 8}) {
      Outcome o = search(p, d);
      EXPECT_TRUE(legal_text(p, o.best)) << o.best;
      EXPECT_EQ(o.out.find("info string Threads now set to " + std::to_string(n)) != std::string::npos, d == 1);
    }
    EXPECT_EQ(g_thread_count, n);
    // A search of half a second leaves every worker time to start.
    Outcome timed = search(p, 99, "", 0.5);
    EXPECT_TRUE(legal_text(p, timed.best)) << timed.best;
    EXPECT_GT(uint64_t(g_threads[n - 1].nodes), 0u);
  }
  opt::threads = 1;
  threads_resize(1);
}

TEST(Threads, NumaBindingList) {
  // Two nodes, 8 cores, 16 logical processors, offset 0: four per node, then the SMT siblings alternate.
  std::vector<int> l = numa_binding_list(2, 8, 16, 0);
  std::vector<int> expect = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  EXPECT_EQ(l, expect);
  EXPECT_EQ(numa_binding_list(2, 8, 8, 1), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_TRUE(numa_binding_list(0, 8, 8, 0).empty());
}

}  // namespace
}  // namespace quorix
