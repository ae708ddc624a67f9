// The engine as a GUI sees it: a child process fed over a pipe.
#include <gtest/gtest.h>

#include <random>

#include "engine_process.h"

namespace quorix {
namespace {

using test::EngineProcess;

// "perft N" answers with the leaf count of the current position.
std::string perft_n(EngineProcess& e, int depth) {
  e.send("isready\n");  // drains every earlier reply first
  e.wait_for("readyok", 20);
  e.send("perft " + std::to_string(depth) + "\n");
  std::string l = e.wait_for("", 30);
  while (!l.empty() && l.find("MNPS") == std::string::npos) l = e.wait_for("", 30);
  return l.substr(0, l.find(','));
}

std::string perft1(EngineProcess& e) { return perft_n(e, 1); }

TEST(UciProcess, QuitAndEndOfInputExitCleanly) {
  {
    EngineProcess e;
    e.send("uci\n");
    EXPECT_EQ(e.wait_for("uciok", 20), "uciok");
    e.send("isready\n");
    EXPECT_EQ(e.wait_for("readyok", 20), "readyok");
    e.send("quit\n");
    EXPECT_EQ(e.wait_exit(20), 0);
  }
  {
    EngineProcess e;
    e.send("isready\n");
    e.close_input();
    EXPECT_EQ(e.wait_for("readyok", 20), "readyok");  // queued input is still served
    EXPECT_EQ(e.wait_exit(20), 0);
  }
}

// A new thread pool frees the tables the game's records were used with; perft (and a
// search) afterwards must not reach the old ones.
TEST(UciProcess, PerftAfterThreadCountChange) {
  EngineProcess e;
  e.send("setoption name Threads value 3\n");
  EXPECT_EQ(perft_n(e, 3), "8902");
  e.send("position startpos moves e2e4 e7e5\nsetoption name Threads value 1\n");
  EXPECT_EQ(perft_n(e, 2), "835");
  e.send("setoption name Threads value 2\ngo depth 3\n");
  EXPECT_NE(e.wait_for("bestmove", 60), "");
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(UciProcess, FatalInputKeepsExitCodeOne) {
  {
    EngineProcess e;
    e.send("position fen 8/8/8/8/8/8/8/K6k x - -\n");
    EXPECT_EQ(e.wait_exit(20), 1);
    EXPECT_NE(e.stderr_text().find("Error in ctm for fen \""), std::string::npos);
  }
  {
    EngineProcess e;
    e.send("position somewhere\n");
    EXPECT_EQ(e.wait_exit(20), 1);
    EXPECT_NE(e.stderr_text().find("Error here!"), std::string::npos);
  }
}

TEST(UciProcess, BadPositionLinesLeaveThePositionAlone) {
  EngineProcess e;
  e.send("position startpos moves e2e4\n");
  ASSERT_EQ(perft1(e), "20");
  std::string many = "position startpos moves";
  for (int i = 0; i < 750; i++) many += " g1f3 g8f6 f3g1 f6g8";  // 3000 moves
  const std::string bad[] = {
      "position",
      "position fen",
      "position fen 8/8/8/8/8/8/8/K6k w",
      "position fen 8/8/8/8/8/8/8/K6K w - -",                  // two white kings
      "position fen 8/8/8/8/8/8/8/K7 w - -",                   // no black king
      "position fen 8/8/8/8/8/8/8/KQQQQQQQ/QQQQQQQQ/k7 w - -",
      "position fen kR6/8/8/8/8/8/8/K7 w - -",                 // side not to move in check
      "position fen 4k3/8/8/8/8/8/8/P3K3 w - -",               // pawn on the first rank
      "position startpos moves e2e5",
      "position fen 4k3/4r3/8/8/8/8/4B3/4K3 w - - moves e2d3",  // pinned bishop
      "position startpos moves e7e5",
      "position startpos moves e2",
      "position startpos moves \xff\xfe\x80",
      many,
  };
  for (const auto& line : bad) {
    e.send(line + "\n");
    ASSERT_EQ(perft1(e), "20") << line;
  }
  EXPECT_NE(e.stderr_text().find("Cannot execute move e2d3"), std::string::npos);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(UciProcess, SurvivesGarbage) {
  EngineProcess e;
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 20000; i++) junk += char(rng() % 256);
  e.send(junk + "\n");
  e.send(std::string(100000, 'x') + "\n");
  e.send(std::string(100000, ' ') + "moves\n");
  e.send("position startpos moves " + std::string(100000, 'e') + "\n");
  e.send("\t\tisready\r\n");
  EXPECT_EQ(e.wait_for("readyok", 30), "readyok");
  e.send("  \r\n\f\n\t\r\n perft\r\ngo\tnonsense\nsetoption\nsetoption name\nsetoption value\nunknown stuff\n");
  e.send("position startpos\r\n");
  EXPECT_EQ(perft1(e), "20");
  // Lines are taken as tokens separated by blanks and tabs, CR ends a line.
  e.send("position\tstartpos\t moves  e2e4\r\n");
  EXPECT_EQ(perft1(e), "20");
  e.send("position fen rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1 moves e7e5 g1f3\n");
  EXPECT_EQ(perft1(e), "29");
  e.send("attacks\n");
  EXPECT_FALSE(e.wait_for("", 10).empty());
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(30), 0);
}

}  // namespace
}  // namespace quorix
