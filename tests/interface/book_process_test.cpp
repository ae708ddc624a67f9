// The book as a GUI sees it: the notice about a missing file and book moves in play.
#include <gtest/gtest.h>

#include <string>

#include "engine_process.h"
#include "test_util.h"

namespace quorix {
namespace {

using test::EngineProcess;

int count_prefix(const EngineProcess& e, const std::string& prefix) {
  int n = 0;
  for (const auto& l : e.output())
    if (l.rfind(prefix, 0) == 0) n++;
  return n;
}

void sync(EngineProcess& e) {
  e.send("isready\n");
  ASSERT_EQ(e.wait_for("readyok", 30), "readyok");
}

TEST(BookProcess, MissingFileIsReportedOnce) {
  EngineProcess e;  // the default book file does not exist in the test directory
  e.send("uci\n");
  ASSERT_EQ(e.wait_for("uciok", 20), "uciok");
  EXPECT_EQ(e.wait_for("info string", 5), "info string failed to open vantel.bin");
  e.send("uci\n");
  e.wait_for("uciok", 20);
  sync(e);
  EXPECT_EQ(count_prefix(e, "info string failed"), 1);

  e.send("setoption name Book File value /nonexistent/my book.bin\n");
  EXPECT_EQ(e.wait_for("info string", 5), "info string Book file is /nonexistent/my book.bin");
  EXPECT_EQ(e.wait_for("info string", 5), "info string failed to open /nonexistent/my book.bin");
  e.send("setoption name Book File value " + test::shared_dir() + "/testdata/polyglot/performance.bin\n");
  e.send("setoption name Book File value <empty>\n");
  sync(e);
  EXPECT_EQ(count_prefix(e, "info string failed"), 2);
  // With "Book Moves" 0 the file is not opened, so nothing is reported.
  e.send("setoption name Book Moves value 0\nsetoption name Book File value nothere.bin\n");
  sync(e);
  EXPECT_EQ(count_prefix(e, "info string failed"), 2);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

TEST(BookProcess, BookMovesFollowTheOptions) {
  EngineProcess e;
  e.send("setoption name Use Regular Eval value true\n");
  e.send("setoption name Book File value " + test::shared_dir() + "/testdata/polyglot/performance.bin\n");
  sync(e);
  struct Case {
    const char* setup;     // options and position
    const char* go;
    const char* choices;   // book moves allowed ("" = no book move)
  };
  const Case cases[] = {
      {"position startpos", "go wtime 60000 btime 60000", "e2e4 d2d4 c2c4"},
      {"position startpos moves e2e4", "go movetime 5000", "e7e5 c7c5"},
      {"position startpos moves g1f3 g8f6 g2g3 g7g6 f1g2 f8g7", "go depth 30", "e1g1 c2c4"},
      {"setoption name Best Book Line value true\nposition startpos moves g1f3 g8f6 g2g3 g7g6 f1g2 f8g7",
       "go depth 30", "e1g1"},
      {"position startpos moves g2g4 e7e5 f2f3", "go depth 1", ""},  // not in the book
      {"position startpos", "go depth 2 searchmoves a2a3", ""},        // the book's moves are excluded
      {"position startpos moves e2e4 e7e5", "go depth 2 searchmoves b1c3 g1f3", "g1f3"},
      {"setoption name OwnBook value false\nposition startpos", "go depth 1", ""},
      {"setoption name OwnBook value true\nsetoption name Book Moves value 0\nposition startpos", "go depth 1", ""},
      {"setoption name Book Moves value 1\nposition startpos moves e2e4", "go depth 1", "e7e5 c7c5"},
      {"position startpos moves e2e4 e7e5", "go depth 1", ""},  // move 1 of each side is the limit
      {"setoption name Book Moves value 1000\nsetoption name Skill value 2\nposition startpos", "go depth 1", ""},
      {"setoption name Skill value 25\nposition startpos", "go depth 1", "e2e4 d2d4 c2c4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.setup) + " / " + c.go);
    e.send(std::string(c.setup) + "\n");
    sync(e);
    const int before = count_prefix(e, "info book move");
    e.send(std::string(c.go) + "\n");
    const std::string best = e.wait_for("bestmove", 60);
    ASSERT_EQ(best.rfind("bestmove ", 0), 0u);
    const std::string move = best.substr(9, best.find(' ', 9) - 9);
    const bool book = count_prefix(e, "info book move") > before;
    EXPECT_EQ(book, c.choices[0] != 0);
    if (book) {
      EXPECT_NE(std::string(" ").append(c.choices).append(" ").find(" " + move + " "), std::string::npos) << move;
      std::string last;
      for (const auto& l : e.output())
        if (l.rfind("info book move", 0) == 0) last = l;
      EXPECT_EQ(last, "info book move is " + move);
    }
  }
  // An infinite search never takes a book move.
  e.send("position startpos\ngo infinite\n");
  e.wait_for("\x01", 0.5);
  e.send("stop\n");
  EXPECT_EQ(e.wait_for("bestmove", 10).rfind("bestmove ", 0), 0u);
  sync(e);
  EXPECT_EQ(count_prefix(e, "info book move"), 7);
  e.send("quit\n");
  EXPECT_EQ(e.wait_exit(20), 0);
}

}  // namespace
}  // namespace quorix
