#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "board/attacks.h"
#include "board/movetext.h"
#include "board/position.h"
#include "test_util.h"

namespace quorix {
namespace {

std::string fen_of(const Position& p) {
  char buf[128];
  get_fen(p, buf);
  return buf;
}

TEST(Tables, KeyConstantsAndGeometry) {
  EXPECT_EQ(zobrist[0][0][0], 0x3DA95170C7B58B9AULL);
  EXPECT_EQ(zobrist[0][0][1], 0xF30A07E75EAB0939ULL);
  for (int c = 0; c < 2; c++)
    for (int t = 0; t < 7; t++)
      for (int s = 0; s < 64; s++) ASSERT_NE(zobrist[c][t][s], 0u);
  EXPECT_EQ(pawn_zobrist[0][KNIGHT][10], 0u);
  EXPECT_NE(material_keys[0][6], material_keys[0][7]);    // bishops by square colour
  EXPECT_EQ(material_keys[1][4], material_keys[1][5]);    // knights are not
  EXPECT_EQ(rook_attacks(0, 0), 0x01010101010101FEULL);
  EXPECT_EQ(between_bb[0][63], 0x0040201008040200ULL);    // b2..g7
  EXPECT_EQ(between_bb[0][17], 0u);                       // a1, b3: not aligned
  EXPECT_EQ(distance[0][63], 7);
  // Every slider lookup matches a slow ray walk on random occupancies.
  uint64_t s = 12345;
  for (int i = 0; i < 20000; i++) {
    s ^= s << 13; s ^= s >> 7; s ^= s << 17;
    Bitboard occ = s & (s >> 3);
    int sq = int(s % 64);
    ASSERT_EQ(rook_attacks(sq, occ), detail::ray_attacks(sq, occ, detail::RO_D));
    ASSERT_EQ(bishop_attacks(sq, occ), detail::ray_attacks(sq, occ, detail::BI_D));
  }
}

TEST(Fen, RoundTripsAndIgnoresCounters) {
  Position a, b;
  set_fen(a, "");
  set_fen(b, START_FEN);
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(fen_of(a), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  set_fen(a, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 12 40");
  std::string f = fen_of(a);
  EXPECT_EQ(f.substr(f.size() - 12), "b KQkq - 0 1");
  // An unknown letter is one empty square.
  set_fen(a, "4k3/8/8/8/8/8/8/x3K3 w - -");
  EXPECT_EQ(a.board[4], make_piece(WHITE, KING));
  EXPECT_EQ(fen_of(a), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
}

TEST(Fen, EnPassantSquareOnlyWhenCapturable) {
  struct Case { const char* fen; bool ep; };
  const Case cases[] = {
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", false},
      {"rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3", true},
      {"rnbqkbnr/ppppp1pp/8/8/4Pp2/8/PPPP1PPP/RNBQKBNR b KQkq e3", true},
      {"rnbqkbnr/pppppppp/8/8/p3P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", false},
  };
  for (const auto& c : cases) {
    Position p;
    set_fen(p, c.fen);
    EXPECT_EQ(p.ep_bb != 0, c.ep) << c.fen;
    EXPECT_EQ(p.last_move, make_move_code(12, 28)) << c.fen;
    EXPECT_EQ(p.key, compute_key(p)) << c.fen;
    EXPECT_EQ(fen_of(p).find(" e3 ") != std::string::npos, c.ep) << c.fen;
  }
}

TEST(Fen, CastlingLetters) {
  Position a, b;
  set_fen(a, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha -");
  set_fen(b, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(a.castle_lost, 0);
  EXPECT_EQ(a.key, b.key);
  // Chess960: K picks the outermost rook right of the king.
  set_fen(a, "1rk3rr/8/8/8/8/8/8/1RK3RR w KQkq -");
  EXPECT_EQ(castle_rook_sq[0], 7);
  EXPECT_EQ(castle_rook_sq[1], 1);
  EXPECT_EQ(castle_rook_sq[2], 63);
  // A right whose rook is missing is not granted.
  set_fen(a, "4k3/8/8/8/8/8/8/4K3 w KQkq -");
  EXPECT_EQ(a.castle_lost, 15);
  EXPECT_EQ(fen_of(a), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
}

TEST(Fen, MaterialKeysTellBishopColours) {
  Position a, b;
  set_fen(a, "4k3/8/8/8/8/8/8/2B1K3 w - -");
  set_fen(b, "4k3/8/8/8/8/8/8/3BK3 w - -");
  EXPECT_NE(a.mat_key, b.mat_key);
  EXPECT_EQ(a.mat_key_plain, b.mat_key_plain);
}

// Published Polyglot keys and the reference entries of the test books.
TEST(Polyglot, KnownKeys) {
  struct Case { const char* moves; uint64_t key; };
  const Case cases[] = {
      {"", 0x463b96181691fc9cULL},
      {"e2e4", 0x823c9b50fd114196ULL},
      {"e2e4 d7d5", 0x0756b94461c50fb0ULL},
      {"e2e4 d7d5 e4e5", 0x662fafb965db29d4ULL},
      {"e2e4 d7d5 e4e5 f7f5", 0x22a48b5a8e47ff78ULL},
      {"e2e4 d7d5 e4e5 f7f5 e1e2", 0x652a607ca3f242c1ULL},
      {"e2e4 d7d5 e4e5 f7f5 e1e2 e8f7", 0x00fdd303c946bdd9ULL},
      {"a2a4 b7b5 h2h4 b5b4 c2c4", 0x3c8123ea7b067637ULL},
      {"a2a4 b7b5 h2h4 b5b4 c2c4 b4c3 a1a3", 0x5c3f9b829b279560ULL},
  };
  static Position line[16];
  for (const auto& c : cases) {
    set_fen(line[0], START_FEN);
    std::stringstream ss(c.moves);
    std::string mv;
    int n = 0;
    while (ss >> mv) {
      ASSERT_TRUE(apply_move_text(line[n], line[n + 1], mv.c_str())) << mv;
      n++;
    }
    EXPECT_EQ(polyglot_key(line[n]), c.key) << c.moves;
  }
  std::ifstream in(test::shared_dir() + "/testdata/polyglot/book-expected.txt");
  std::string l, fen;
  int checked = 0;
  while (std::getline(in, l)) {
    if (l.rfind("fen ", 0) == 0) fen = l.substr(4);
    if (l.rfind("key ", 0) == 0) {
      Position p;
      set_fen(p, fen.c_str());
      EXPECT_EQ(polyglot_key(p), std::stoull(l.substr(4), nullptr, 16)) << fen;
      checked++;
    }
  }
  EXPECT_GE(checked, 14);
}

}  // namespace
}  // namespace quorix
