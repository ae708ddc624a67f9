#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "eval/tuner.h"

namespace quorix {
namespace {

TEST(Tuner, ParsesResultFormatsAndRejectsBadLines) {
  std::string fen;
  double r = -1;
  struct Case {
    const char* line;
    bool ok;
    double result;
  } cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 1-0", true, 1.0},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0-1", true, 0.0},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1 [1/2-1/2]", true, 0.5},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0.25", true, 0.25},
      {"4k3/8/8/8/8/8/8/4K3 w \"0.75\"", true, 0.75},
      {"4k3/8/8/8/8/8/8/4K3 x - - 1-0", false, 0},     // side to move
      {"4k3/8/8/8/8/8/8/4K3 w - - 1.5", false, 0},     // result out of range
      {"4k3/8/8/8/8/8/8/8 w - - 1-0", false, 0},       // a king missing
      {"4k3/8/8/8/8/8/8/4K3/8 w - - 1-0", false, 0},   // nine ranks
      {"4k3/8/8/9/8/8/8/4K3 w - - 1-0", false, 0},     // rank too long
      {"4k3/8/8/8/8/8/8/4K3 w", false, 0},             // no result
      {"# a comment 1-0", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tune::parse_line(c.line, fen, r), c.ok) << c.line;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(r, c.result) << c.line;
    }
  }
  ASSERT_TRUE(tune::parse_line("4k3/8/8/8/8/8/8/4K3 w - - 0 1 1-0", fen, r));
  EXPECT_EQ(fen, "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
}

// Labels drawn from the engine's own evaluation: after one constant is pushed off,
// tuning that constant alone brings it back near its value and lowers the loss.
TEST(Tuner, RecoversADisturbedConstantOnSyntheticData) {
  const double k = 1.0;
  std::string path = ::testing::TempDir() + "quorix_tune_data.txt";
  std::mt19937 rng(7);
  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    static Position line[80];
    int written = 0;
    while (written < 400) {
      set_fen(line[0], START_FEN);
      for (int ply = 0; ply < 60 && written < 400; ply++) {
        Move moves[MAX_MOVES];
        const std::vector<Move> legal(moves, moves + legal_moves(line[ply], moves));
        if (legal.empty()) break;
        make_move(line[ply], line[ply + 1], legal[rng() % legal.size()]);
        Position& p = line[ply + 1];
        p.in_check = king_attacked(p, p.side());
        if (ply < 8 || ply % 4) continue;
        Position q = p;
        q.mat_table = nullptr;
        q.pawn_table = nullptr;
        int v = classical(q, -35000, 35000, nullptr);
        if (q.side() == BLACK) v = -v;
        char fen[128];
        get_fen(p, fen);
        std::fprintf(f, "%s %.6f\n", fen, 1.0 / (1.0 + std::pow(10.0, -k * v / 400.0)));
        written++;
      }
    }
    std::fprintf(f, "this line is not a position\n");
    std::fclose(f);
  }
  std::vector<tune::Sample> data;
  size_t skipped = 0;
  ASSERT_EQ(tune::load_samples(path, data, &skipped), 400u);
  EXPECT_EQ(skipped, 1u);

  const TunableParam* mob = tunable_params();
  while (mob->name && std::string(mob->name) != "mob_mg") mob++;
  ASSERT_NE(mob->name, nullptr);
  const int original = mob->values[1];  // bishop mobility, middlegame
  tune::refresh(data);
  EXPECT_LT(tune::mean_loss(data, k), 1e-6);
  EXPECT_NEAR(tune::fit_k(data), k, 0.05);

  mob->values[1] = original + 60;
  tune::refresh(data);
  double disturbed = tune::mean_loss(data, k);
  tune::Options opt;
  opt.groups = {"mob_mg"};
  opt.step = 5;
  // A heavy ridge penalty holds every value at its starting point.
  opt.reg = 0.5;
  tune::tune(data, k, opt, nullptr);
  EXPECT_EQ(mob->values[1], original + 60);
  opt.reg = 0;
  double after = tune::tune(data, k, opt, nullptr);
  EXPECT_LT(after, disturbed / 4);
  EXPECT_NEAR(mob->values[1], original, 15);

  // Writing and reading the constants round-trips; a bad file changes nothing.
  std::string params = ::testing::TempDir() + "quorix_tune_params.txt";
  mob->values[1] = original;
  std::FILE* f = std::fopen(params.c_str(), "w");
  ASSERT_NE(f, nullptr);
  tune::write_params(f);
  std::fclose(f);
  mob->values[1] = original + 100;
  std::string err;
  ASSERT_TRUE(tune::read_params(params, err)) << err;
  EXPECT_EQ(mob->values[1], original);
  f = std::fopen(params.c_str(), "w");
  std::fprintf(f, "mob_mg 1 2 3 4\nmob_eg 1 2\n");
  std::fclose(f);
  EXPECT_FALSE(tune::read_params(params, err));
  EXPECT_NE(err.find("mob_eg"), std::string::npos);
  EXPECT_EQ(mob->values[1], original);
  apply_eval_settings();
  std::remove(path.c_str());
  std::remove(params.c_str());
}

}  // namespace
}  // namespace quorix
