// The network tools: move probabilities, the test positions, "nntest" with and
// without a network, and the "nneval"/"nndebug" command lines as a user runs them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "engine_process.h"
#include "interface/options.h"
#include "interface/tools.h"
#include "xnnue/network.h"
#include "xnnue/nnue_test_util.h"

namespace quorix {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;
using test::EngineProcess;

std::set<std::string> legal_move_texts(const Position& p) {
  Move legal[MAX_MOVES];
  std::set<std::string> out;
  const int n = legal_moves(p, legal);
  for (int i = 0; i < n; i++) out.insert(move_to_text(p, legal[i]));
  return out;
}

// Every legal move once, probabilities summing to 1 in descending order, and the
// search finding the move that matters.
TEST(ToolPolicy, ProbabilitiesCoverLegalMovesAndFollowTheSearch) {
  struct Case {
    const char* fen;
    const char* best;  // expected top move, "" for none
    double min_prob;
  };
  const Case cases[] = {
      {START_FEN, "", 0},
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "a1a8", 0.99},      // mate in one
      {"4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1", "d1d5", 0.9},        // free queen
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "", 0},          // castling both ways
      {"4k3/8/8/8/8/8/5PPP/r5K1 w - - 0 1", "", 0},             // mated: no moves
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "", 0},                // stalemate
      {"4k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "", 0},               // promotions
  };
  Position p;
  for (const Case& c : cases) {
    set_fen(p, c.fen);
    const std::vector<MoveProbability> moves = move_probabilities(p);
    std::set<std::string> texts;
    double sum = 0;
    for (size_t i = 0; i < moves.size(); i++) {
      texts.insert(moves[i].text);
      sum += moves[i].prob;
      if (i) {
        EXPECT_LE(moves[i].prob, moves[i - 1].prob) << c.fen;
      }
    }
    EXPECT_EQ(texts, legal_move_texts(p)) << c.fen;
    EXPECT_EQ(texts.size(), moves.size()) << c.fen;
    if (!moves.empty()) {
      EXPECT_NEAR(sum, 1.0, 1e-9) << c.fen;
    }
    if (*c.best) {
      ASSERT_FALSE(moves.empty());
      EXPECT_STREQ(moves[0].text, c.best) << c.fen;
      EXPECT_GE(moves[0].prob, c.min_prob) << c.fen;
    }
  }
}

TEST(ToolPositions, OpeningLinesReachTheirFens) {
  const std::vector<ToolTestPosition>& tests = tool_test_positions();
  ASSERT_EQ(tests.size(), 128u);
  std::set<std::string> fens;
  Position cur, next;
  for (size_t i = 0; i < tests.size(); i++) {
    fens.insert(tests[i].fen);
    if (i < 16) {
      EXPECT_GE(tests[i].moves.size(), 12u) << "line " << i << " stopped early";
    }
    set_fen(cur, START_FEN);
    for (const std::string& m : tests[i].moves) {
      ASSERT_TRUE(apply_move_text(cur, next, m.c_str())) << m;
      cur = next;
    }
    char fen[128];
    get_fen(cur, fen);
    EXPECT_EQ(tests[i].fen, fen);
  }
  EXPECT_EQ(fens.size(), tests.size());
}

// The two computations of "nntest" agree with the classical evaluation and with a
// network, whose values are really used.
TEST(ToolNntest, PassesWithClassicalAndWithNetwork) {
  const bool saved_flip = xnnue::g_flip;
  xnnue::release_network();
  CaptureStdout();
  EXPECT_EQ(run_nntest(), 0);
  EXPECT_NE(GetCapturedStdout().find("nn test passed\n"), std::string::npos);

  Position p;
  set_fen(p, tool_test_positions()[0].fen.c_str());
  const int classical = tool_evaluation(p);
  test::TempFile net(test::plain_net(64, 16), "tools_net");
  CaptureStdout();
  CaptureStderr();
  ASSERT_TRUE(xnnue::load_network_file(net.path));
  const int run = run_nntest();
  const std::string out = GetCapturedStdout();
  GetCapturedStderr();
  EXPECT_EQ(run, 0);
  EXPECT_NE(out.find("nn test passed\n"), std::string::npos) << out.substr(0, 2000);
  int direct = 0;
  ASSERT_TRUE(xnnue::network_score(p, opt::nnue_scale, direct));
  EXPECT_EQ(tool_evaluation(p), direct);
  EXPECT_NE(tool_evaluation(p), classical);
  xnnue::release_network();
  xnnue::g_flip = saved_flip;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TempText {
  std::string path;
  TempText(const std::string& name, const std::string& text) : path(test::temp_path(name)) {
    std::ofstream(path) << text;
  }
  ~TempText() { std::remove(path.c_str()); }
};

// FENs of seeded random games.
std::vector<std::string> random_game_fens(size_t count) {
  std::mt19937 rng(7);
  std::vector<std::string> out;
  Position cur, next;
  while (out.size() < count) {
    set_fen(cur, START_FEN);
    for (int ply = 0; ply < 160 && out.size() < count; ply++) {
      std::set<std::string> moves = legal_move_texts(cur);
      if (moves.empty()) break;
      auto it = moves.begin();
      std::advance(it, rng() % moves.size());
      if (!apply_move_text(cur, next, it->c_str())) break;
      cur = next;
      cur.his = nullptr;
      char fen[128];
      get_fen(cur, fen);
      out.push_back(fen);
    }
  }
  return out;
}

TEST(NnevalTool, ArgumentsEmptyInputAndUnreadableFiles) {
  {
    EngineProcess e({"nneval", "16", "only_one_file"});
    EXPECT_EQ(e.wait_exit(30), 0);
    EXPECT_NE(e.stderr_text().find(" nneval 16|32 file_with_fens output_file\n"), std::string::npos);
  }
  TempText empty("nneval_empty", "");
  const std::string out = test::temp_path("nneval_empty_out");
  {
    EngineProcess e({"nneval", "32", empty.path, out});
    EXPECT_EQ(e.wait_exit(30), 0);
  }
  std::ifstream made(out);
  EXPECT_TRUE(made.good());
  EXPECT_EQ(read_file(out), "");
  std::remove(out.c_str());
  {
    EngineProcess e({"nneval", "16", test::temp_path("no_such_input"), out});
    EXPECT_EQ(e.wait_exit(30), 1);
    EXPECT_NE(e.stderr_text().find("cannot open"), std::string::npos);
  }
}

// FENs of random games plus lines the engine cannot use: one block per usable FEN in the
// documented layout; unusable lines are reported and skipped.
TEST(NnevalTool, WritesOneBlockPerFen) {
  const std::vector<std::string> fens = random_game_fens(300);
  std::string input;
  for (size_t i = 0; i < fens.size(); i++) {
    input += fens[i] + "\n";
    if (i == 10) input += "\n8/8/8/8/8/8/8/8 w - -\nnot a fen\n\r\n" + std::string("4k3\0 w - -\n", 11);
  }
  TempText in("nneval_in", input);
  const std::string out = test::temp_path("nneval_out");
  const auto t0 = std::chrono::steady_clock::now();
  {
    EngineProcess e({"nneval", "16", in.path, out});
    EXPECT_EQ(e.wait_exit(300), 0);
    const std::string err = e.stderr_text();
    EXPECT_NE(err.find("line 13 skipped"), std::string::npos) << err;
    EXPECT_NE(err.find("line 14 skipped"), std::string::npos) << err;
    EXPECT_NE(err.find("line 16 skipped"), std::string::npos) << err;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("nneval: %zu FENs in %.2f s\n", fens.size(), secs);

  std::istringstream text(read_file(out));
  std::remove(out.c_str());
  Position p;
  std::string fen_line, eval_line, moves_line, blank;
  for (const std::string& fen : fens) {
    ASSERT_TRUE(std::getline(text, fen_line) && std::getline(text, eval_line) && std::getline(text, moves_line) &&
                std::getline(text, blank));
    ASSERT_EQ(fen_line, fen);
    ASSERT_EQ(blank, "");
    char* end = nullptr;
    const double v = std::strtod(eval_line.c_str(), &end);
    EXPECT_EQ(*end, 0) << eval_line;
    EXPECT_EQ(eval_line.size() - eval_line.find('.'), 6u) << eval_line;
    EXPECT_LE(std::fabs(v), 32000.0);
    set_fen(p, fen.c_str());
    std::istringstream mv(moves_line);
    std::set<std::string> listed;
    std::string move, prob;
    double sum = 0, last = 2;
    while (mv >> move >> prob) {
      listed.insert(move);
      const double x = std::stod(prob);
      EXPECT_LE(x, last);
      EXPECT_EQ(prob.size(), 7u) << prob;
      last = x;
      sum += x;
    }
    EXPECT_TRUE(moves_line.empty() || moves_line.back() == ' ');
    EXPECT_EQ(listed, legal_move_texts(p)) << fen;
    if (!listed.empty()) {
      EXPECT_NEAR(sum, 1.0, 0.0005 * double(listed.size())) << fen;
    }
  }
  EXPECT_FALSE(std::getline(text, fen_line));
}

TEST(NetworkTools, NndebugAndNntestFromTheCommandLine) {
  {
    EngineProcess e({"nndebug"});
    EXPECT_EQ(e.wait_exit(30), 0);
    int evals = 0;
    for (const std::string& l : e.output()) evals += l.rfind("eval: ", 0) == 0;
    EXPECT_EQ(evals, 16);
  }
  {
    EngineProcess e({"nntest"});
    EXPECT_EQ(e.wait_exit(120), 0);
    EXPECT_EQ(e.output().back(), "nn test passed");
  }
}

}  // namespace
}  // namespace quorix
