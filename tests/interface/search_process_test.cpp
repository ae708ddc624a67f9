// The "go" / "stop" / "ponderhit" cycle as a GUI drives it, over pipes to the real binary.
#include <gtest/gtest.h>

#include <string>

#include "engine_process.h"

namespace quorix {
namespace {

using test::EngineProcess;

int count_prefix(const EngineProcess& e, const std::string& prefix) {
  int n = 0;
  for (const auto& l : e.output())
    if (l.rfind(prefix, 0) == 0) n++;
  return n;
}

// Reads whatever arrives within s seconds (nothing expected to match).
void drain(EngineProcess& e, double s) { e.wait_for("\x01", s); }

void ready(EngineProcess& e) {
  e.send("setoption name Use Regular Eval value true\nisready\n");
  ASSERT_EQ(e.wait_for("readyok", 30), "readyok");
}

TEST(SearchProcess, InfiniteSearchAnswersOnlyAfterStop) {
  EngineProcess e;
  ready(e);
  e.send("position startpos\ngo infinite\n");
  drain(e, 1.0);
  EXPECT_EQ(count_prefix(e, "bestmove"), 0);
  // "isready" is served while the search runs (the infinite search has not answered yet).
  e.send("isready\n");
  EXPECT_EQ(e.wait_for("readyok", 10), "readyok");
  EXPECT_EQ(count_prefix(e, "bestmove"), 0);
  // A second "go" during the search is ignored.
  e.send("go depth 1\n");
  drain(e, 0.5);
  EXPECT_EQ(count_prefix(e, "bestmove"), 0);
  e.send("stop\n");
  EXPECT_EQ(e.wait_for("bestmove", 10).rfind("bestmove ", 0), 0u);
  e.send("isready\n");
  e.wait_for("readyok", 10);
  EXPECT_EQ(count_prefix(e, "bestmove"), 1);
  EXPECT_GE(count_prefix(e, "info time "), 1);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(SearchProcess, PonderhitLetsTheSearchEndOnItsOwnTime) {
  EngineProcess e;
  ready(e);
  e.send("position startpos moves e2e4\ngo ponder wtime 2000 btime 2000\n");
  drain(e, 2.5);  // longer than the whole clock allows: a ponder search still waits
  EXPECT_EQ(count_prefix(e, "bestmove"), 0);
  e.send("ponderhit\n");
  EXPECT_EQ(e.wait_for("bestmove", 5).rfind("bestmove ", 0), 0u);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(SearchProcess, QuitDuringASearchExitsWithoutBestmove) {
  EngineProcess e;
  ready(e);
  e.send("position startpos\ngo infinite\n");
  drain(e, 0.5);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
  EXPECT_EQ(count_prefix(e, "bestmove"), 0);
}

TEST(SearchProcess, OneBestmovePerGoAndRootRestrictions) {
  EngineProcess e;
  ready(e);
  e.send("position startpos\n");
  // A GUI sends the next "go" after the answer: "go" lines that arrive during a search are dropped.
  const char* gos[] = {"go depth 3", "go depth 3", "go depth 3", "go depth 4 searchmoves a2a3 h2h4",
                       "go movetime 200", "go nodes 5000", "go wtime 300 btime 300 winc 10 binc 10",
                       "go wtime 1 btime 1"};
  for (const char* g : gos) {
    e.send(std::string(g) + "\n");
    ASSERT_EQ(e.wait_for("bestmove", 30).rfind("bestmove ", 0), 0u) << g;
  }
  e.send("isready\n");
  ASSERT_EQ(e.wait_for("readyok", 30), "readyok");
  EXPECT_EQ(count_prefix(e, "bestmove"), 8);
  for (const auto& l : e.output()) EXPECT_NE(l, "bestmove 0000");
  std::string restricted;
  int seen = 0;
  for (const auto& l : e.output())
    if (l.rfind("bestmove", 0) == 0 && ++seen == 4) restricted = l;
  EXPECT_TRUE(restricted.rfind("bestmove a2a3", 0) == 0 || restricted.rfind("bestmove h2h4", 0) == 0) << restricted;
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(SearchProcess, DepthIsCappedAt150) {
  EngineProcess e;
  ready(e);
  e.send("position fen 8/8/8/4k3/8/8/4K3/8 w - -\ngo depth 500\n");
  ASSERT_EQ(e.wait_for("bestmove", 60).rfind("bestmove ", 0), 0u);
  int deepest = 0;
  for (const auto& l : e.output())
    if (l.rfind("info depth ", 0) == 0) deepest = std::max(deepest, std::atoi(l.c_str() + 11));
  EXPECT_EQ(deepest, 150);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(SearchProcess, TwoThreadsPlayLegalMoves) {
  EngineProcess e;
  ready(e);
  // The game is set up before the pool is rebuilt: its records must not keep the old tables.
  e.send("position startpos moves e2e4 e7e5\nsetoption name Threads value 2\n");
  EXPECT_EQ(e.wait_for("info string Threads now set to 2", 20), "info string Threads now set to 2");
  e.send("go movetime 500\n");
  std::string bm = e.wait_for("bestmove", 10);
  ASSERT_EQ(bm.rfind("bestmove ", 0), 0u);
  // The answer is a legal move: playing it is accepted by "position".
  std::string mv = bm.substr(9, bm.find(' ', 9) - 9);
  e.send("position startpos moves e2e4 e7e5 " + mv + "\nisready\n");
  e.wait_for("readyok", 10);
  for (const auto& l : e.output()) EXPECT_EQ(l.find("illegal move"), std::string::npos) << l;
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

// "bench [threads [depth [repetitions]]]": one line per depth from 5, the same node total
// on every single-threaded run, and nothing searched for a repetition count of 0.
TEST(BenchTool, LinesPerDepthAndRepeatableTotals) {
  auto run = [](const std::vector<std::string>& args) {
    EngineProcess e(args);
    EXPECT_EQ(e.wait_exit(120), 0);
    std::vector<std::string> lines;
    for (const auto& l : e.output())
      if (l.find(" nds ") != std::string::npos) lines.push_back(l);
    return lines;
  };
  auto total = [](const std::string& l) { return std::atoll(l.c_str() + l.find('.') + 50); };
  std::vector<std::string> a = run({"bench", "1", "6"});
  std::vector<std::string> b = run({"bench", "1", "6"});
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(a[0].rfind(" 5 " + std::string(50, '.'), 0), 0u) << a[0];
  EXPECT_NE(a[1].find(" bf"), std::string::npos) << a[1];
  EXPECT_GT(total(a[0]), 0);
  EXPECT_EQ(total(a[0]), total(b[0]));
  EXPECT_EQ(total(a[1]), total(b[1]));
  EXPECT_TRUE(run({"bench", "1", "6", "0"}).empty());
  EXPECT_TRUE(run({"bench", "1", "4"}).empty());
  EXPECT_EQ(run({"bench", "2", "5", "2"}).size(), 2u);
}

}  // namespace
}  // namespace quorix
