#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "interface/commands.h"
#include "interface/option_table.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "test_util.h"

namespace quorix {
namespace {

// Saves and restores every global the evaluation reads, and starts from neutral values.
class EvalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_regular_ = opt::use_regular_eval;
    saved_scale_ = opt::nnue_scale;
    g_contempt[0] = g_contempt[1] = 0;
    g_contempt_mg = 0;
    g_noise_range = 0;
    g_noise_seed = 0;
    g_lazy_margin = 500;
    g_network_stub = nullptr;
  }
  void TearDown() override {
    opt::use_regular_eval = saved_regular_;
    opt::nnue_scale = saved_scale_;
    g_contempt[0] = g_contempt[1] = 0;
    g_contempt_mg = 0;
    g_noise_range = 0;
    g_network_stub = nullptr;
  }
  static Position pos(const std::string& fen) {
    Position p;
    test::setup(p, fen);
    return p;
  }
  int saved_regular_ = 0, saved_scale_ = 65;
};

int network_123(Position&) { return 123; }

TEST_F(EvalTest, NetworkPathScaleContemptAndClamp) {
  opt::nnue_scale = 65;
  Position w = pos("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
  Position b = pos("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 2 3");
  EXPECT_EQ(finish_network_score(w, 200), 130);
  EXPECT_EQ(finish_network_score(w, -200), -130);
  EXPECT_EQ(finish_network_score(w, 60000), 25000);
  EXPECT_EQ(finish_network_score(w, -60000), -25000);
  // White contempt (tapered /960) helps White whichever side is to move.
  g_contempt[WHITE] = make_score(200, 80);
  int c = (200 * w.phase + 80 * (96 - w.phase)) / 960;
  EXPECT_EQ(finish_network_score(w, 200), 130 + c);
  EXPECT_EQ(finish_network_score(b, 200), 130 - c);
}

TEST_F(EvalTest, QuickMaterialTestAndSeventhRankPawn) {
  opt::use_regular_eval = 0;
  g_network_stub = network_123;
  const int net = int(123 * 65 * 0.01);
  opt::nnue_scale = 65;
  // White is a queen and a rook up: far outside a narrow window, the classical answer is used.
  Position up = pos("4k3/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQ - 0 1");
  int v = evaluate(up, -20, 20);
  EXPECT_NE(v, net);
  EXPECT_GT(v, 500);
  // Inside a wide window the network answers.
  EXPECT_EQ(evaluate(up, -35000, 35000), net);
  // A white pawn on the seventh rank skips the quick test: always the network.
  Position seventh = pos("4k3/1Ppppppp/8/8/8/8/P1PPPPPP/RNBQKBNR w KQ - 0 1");
  EXPECT_EQ(evaluate(seventh, -20, 20), net);
  // With "Use Regular Eval" the network is never asked.
  opt::use_regular_eval = 1;
  EXPECT_NE(evaluate(seventh, -35000, 35000), net);
}

TEST_F(EvalTest, RegularEvalIsNotClampedButNetworkPathIs) {
  Position p = pos("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
  g_noise_range = 100000;
  g_noise_seed = p.key ^ uint64_t(99999);  // (seed ^ key) % r = r - 1: the largest noise
  opt::use_regular_eval = 1;
  int v = evaluate(p, -35000, 35000);
  EXPECT_GT(v, 25000);
  opt::use_regular_eval = 0;
  g_network_stub = network_123;
  EXPECT_EQ(evaluate(p, -35000, 35000), 25000);
}

TEST_F(EvalTest, BareKingsGiveOnlyContempt) {
  Position w = pos("8/8/3k4/8/8/3K4/8/8 w - - 0 1");
  Position b = pos("8/8/3k4/8/8/3K4/8/8 b - - 0 1");
  EXPECT_EQ(classical(w, -35000, 35000, nullptr), 0);
  g_contempt[WHITE] = make_score(100, 40);
  EXPECT_EQ(classical(w, -35000, 35000, nullptr), 40 * 96 / 960);
  EXPECT_EQ(classical(b, -35000, 35000, nullptr), -(40 * 96 / 960));
}

TEST_F(EvalTest, SpecialMaterialRows) {
  Position kqk = pos("8/8/3k4/8/8/3K4/8/3Q4 w - - 0 1");
  float scale = 0;
  EXPECT_EQ(material(kqk, scale), 96 * 8000);
  EXPECT_EQ(scale, 1.0f);
  // An evaluator row answers for the position at hand and is never cached.
  Position kpk_win = pos("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1");
  EXPECT_EQ(material(kpk_win, scale), 96 * (6500 + 160 * 4));
  EXPECT_EQ(scale, 0.0f);
  Position kpk_draw = pos("k7/8/1K6/P7/8/8/8/8 w - - 0 1");
  EXPECT_EQ(material(kpk_draw, scale), 96 * 30);
  // Both positions share one material key.
  EXPECT_EQ(kpk_win.mat_key == kpk_draw.mat_key, true);
}

TEST_F(EvalTest, LargeMaterialDifferencesAreDampedByPhase) {
  // Eight pawns against none: far above 76800 tapered units.
  Position p = pos("4k3/8/8/8/8/8/PPPPPPPP/4K3 w - - 0 1");
  p.mat_table = nullptr;
  float scale = 0;
  int at[3];
  const int phases[3] = {0, 48, 96};
  for (int i = 0; i < 3; i++) {
    p.phase = int16_t(phases[i]);
    at[i] = material(p, scale);
  }
  int undamped = int(1.3 * (96.0 * 8 * 1141)) * 97 / 100 * 105 / 100;
  EXPECT_EQ(at[0], undamped);
  EXPECT_LT(at[1], at[0]);
  EXPECT_LT(at[2], at[1]);
  EXPECT_GT(at[2], 76800);
}

TEST_F(EvalTest, LazyExitOutsideTheWindow) {
  Position p = pos("4k3/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQ - 0 1");
  bool lazy = false;
  int full = classical(p, -35000, 35000, &lazy);
  EXPECT_FALSE(lazy);
  int quick = classical(p, 0, 10, &lazy);  // Black to move, far below alpha
  EXPECT_TRUE(lazy);
  EXPECT_LT(quick, 0);
  EXPECT_LT(full, -500);
}

// Colour-mirrored FEN: ranks flipped, colours, side to move, castling and en passant swapped.
std::string mirror_fen(const std::string& fen) {
  std::istringstream in(fen);
  std::string board, side, castle, ep, half = "0", full = "1";
  in >> board >> side >> castle >> ep >> half >> full;
  std::vector<std::string> ranks;
  std::string cur;
  for (char ch : board) {
    if (ch == '/') {
      ranks.push_back(cur);
      cur.clear();
    } else {
      cur += char(std::isupper(static_cast<unsigned char>(ch)) ? std::tolower(ch) : std::toupper(ch));
    }
  }
  ranks.push_back(cur);
  std::string out;
  for (size_t i = ranks.size(); i-- > 0;) out += ranks[i] + (i ? "/" : "");
  std::string mc;
  for (char ch : castle)
    mc += ch == '-' ? '-' : char(std::isupper(static_cast<unsigned char>(ch)) ? std::tolower(ch) : std::toupper(ch));
  std::string mep = ep;
  if (ep != "-") mep[1] = char('1' + ('8' - ep[1]));
  return out + " " + (side == "w" ? "b" : "w") + " " + mc + " " + mep + " " + half + " " + full;
}

TEST_F(EvalTest, ColourMirrorGivesTheSameScoreForTheSideToMove) {
  opt::use_regular_eval = 1;
  // Random games; the game positions (incremental piece-square sums, thread caches) are
  // evaluated as they arise. set_fen rebuilds the process-wide castling geometry, so the
  // FEN round trips wait until all games are played.
  std::mt19937 rng(12345);
  std::vector<std::pair<std::string, int>> seen;
  for (int game = 0; game < 120; game++) {
    static Position line[220];
    test::setup(line[0], START_FEN);
    for (int ply = 0; ply < 200; ply++) {
      Position& cur = line[ply];
      Move moves[MAX_MOVES];
      const std::vector<Move> legal(moves, moves + legal_moves(cur, moves));
      if (legal.empty() || cur.fifty >= 100) break;
      make_move(cur, line[ply + 1], legal[rng() % legal.size()]);
      Position& next = line[ply + 1];
      next.in_check = king_attacked(next, next.side());
      char fen[128];
      get_fen(next, fen);
      seen.push_back({fen, evaluate(next, -35000, 35000)});
    }
  }
  // Private caches for the FEN positions, none for the mirrored ones: also checks the caches.
  std::vector<MaterialEntry> mat(MAT_TABLE_ENTRIES);
  std::vector<PawnEntry> pawns(g_pawn_mask + 1);
  int nonzero = 0;
  for (const auto& [fen, game_value] : seen) {
    Position a, b;
    test::setup(a, fen);
    test::setup(b, mirror_fen(fen));
    a.mat_table = mat.data();
    a.pawn_table = pawns.data();
    b.mat_table = nullptr;
    b.pawn_table = nullptr;
    int va = evaluate(a, -35000, 35000);
    ASSERT_EQ(va, evaluate(b, -35000, 35000)) << fen << " | " << mirror_fen(fen);
    ASSERT_EQ(va, game_value) << fen;
    nonzero += va != 0;
  }
  EXPECT_GT(seen.size(), 5000u);
  EXPECT_GT(nonzero, int(seen.size()) / 2);
}

// Positions no game reaches still evaluate without overflow or out-of-range reads
// (run under the sanitizers).
TEST_F(EvalTest, OddPositionsStayFinite) {
  opt::use_regular_eval = 1;
  const char* fens[] = {
      "QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/8/8/8/k6K w - - 0 1",
      "qqqqqqqq/qqqqqqqq/qqqqqqqq/1qqqqqqq/8/8/PPPPPPPP/k6K b - - 0 1",
      "P6k/8/8/8/8/8/8/K6p w - - 0 1",           // pawns on the back ranks
      "8/8/8/8/8/8/8/8 w - - 0 1",               // no kings at all
      "k7/PPPPPPPP/PPPPPPPP/8/8/pppppppp/pppppppp/7K w - - 0 1",
      "kbbbbbbb/bbbbbbbb/8/8/8/8/NNNNNNNN/NNNNNNNK w - - 0 1",
  };
  for (const char* fen : fens) {
    for (bool cached : {false, true}) {
      Position p = pos(fen);
      if (!cached) p.mat_table = nullptr, p.pawn_table = nullptr;
      int v = evaluate(p, -35000, 35000);
      EXPECT_LT(std::abs(v), 100000) << fen;
      EXPECT_EQ(evaluate(p, -35000, 35000), v) << fen;
    }
  }
}

TEST_F(EvalTest, EveryPersonalityBuildsSaneTables) {
  const std::string saved = opt::personality;
  opt::use_regular_eval = 1;
  for (const PersonalityRow& row : personality_rows) {
    opt::personality = row.name;
    apply_eval_settings();
    EXPECT_EQ(&personality_rows[g_personality], &row);
    Position q = pos("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
    q.mat_table = nullptr;
    q.pawn_table = nullptr;
    int v = evaluate(q, -35000, 35000);
    EXPECT_GT(v, -150) << row.name;
    EXPECT_LT(v, 150) << row.name;
    EXPECT_GT(g_piece_value_cp[QUEEN], 8 * g_piece_value_cp[PAWN]) << row.name;
  }
  opt::personality = "aggressive";  // names are case-sensitive: falls back to the default row
  apply_eval_settings();
  EXPECT_EQ(g_personality, PERS_DEFAULT);
  opt::personality = saved;
  apply_eval_settings();
}

// Search threads read the tables without locks: a changed personality applied while a
// search runs waits for the next call outside the search.
TEST_F(EvalTest, SettingsChangeOnlyOutsideASearch) {
  const std::string saved = opt::personality;
  const uint64_t knight_before = psq_table[WHITE][KNIGHT][0];
  const int pawn_before = g_piece_value_cp[PAWN];
  // A change that arrives during a search waits for its end.
  const std::string line = "setoption name Personality value Endgame";
  searching = 1;
  dispatch_command(split_tokens(line), line);
  EXPECT_EQ(g_personality, PERS_DEFAULT);
  EXPECT_EQ(g_piece_value_cp[PAWN], pawn_before);
  searching = 0;
  apply_deferred_options();
  EXPECT_EQ(opt::personality, "Endgame");
  EXPECT_EQ(g_personality, PERS_ENDGAME);
  EXPECT_GT(g_piece_value_cp[PAWN], pawn_before);
  opt::personality = saved;
  apply_eval_settings();
  EXPECT_EQ(psq_table[WHITE][KNIGHT][0], knight_before);
  EXPECT_EQ(g_piece_value_cp[PAWN], pawn_before);
}

}  // namespace
}  // namespace quorix
