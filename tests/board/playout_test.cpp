// Random playouts: every incrementally kept field equals its from-scratch value.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "board/makemove.h"
#include "board/movegen.h"
#include "interface/options.h"
#include "test_util.h"

namespace quorix {
namespace {

// Structural check of the network piece state against the board.
void check_piece_state(const Position& p) {
  const auto& pi = p.kst.pi;
  bool used[32] = {};
  for (int sq = 0; sq < 64; sq++) {
    int pc = p.board[sq];
    uint32_t id = pi.ids[sq];
    if (!pc) {
      ASSERT_EQ(id, xnnue::I_NONE) << "square " << sq;
      continue;
    }
    ASSERT_LT(id, 32u) << "square " << sq;
    ASSERT_FALSE(used[id]);
    used[id] = true;
    if (piece_type(pc) == KING) {
      ASSERT_EQ(id, piece_color(pc) == WHITE ? 30u : 31u);
    }
    ASSERT_EQ(pi.list[0][id], xnnue::code_w(pc, sq)) << "square " << sq;
    ASSERT_EQ(pi.list[1][id], xnnue::code_b(pc, sq)) << "square " << sq;
  }
  for (int id = 0; id < 30; id++) {
    if (!used[id]) {
      ASSERT_EQ(pi.list[0][id] | pi.list[1][id], 0) << "id " << id;
    }
  }
}

void check_fields(const Position& p) {
  ASSERT_EQ(p.key, compute_key(p));
  ASSERT_EQ(p.pawn_key, compute_pawn_key(p));
  ASSERT_EQ(p.mat_key, compute_mat_key(p, false));
  ASSERT_EQ(p.mat_key_plain, compute_mat_key(p, true));
  ASSERT_EQ(p.psq, compute_psq(p));
  ASSERT_EQ(p.piece_count, uint32_t(popcount(p.bb[14])));
  ASSERT_EQ(p.phase, compute_phase(p));
  for (int c = 0; c < 2; c++) {
    Bitboard all = 0;
    for (int t = PAWN; t <= KING; t++) all |= p.bb[c * 7 + t];
    ASSERT_EQ(all, p.bb[c * 7]);
  }
  for (int sq = 0; sq < 64; sq++) {
    int pc = p.board[sq];
    if (pc) {
      ASSERT_TRUE(p.bb[piece_color(pc) * 7 + piece_type(pc)] & sq_bb(sq));
    } else {
      ASSERT_FALSE(p.bb[14] & sq_bb(sq));
    }
  }
  check_piece_state(p);
}

// First four FEN fields.
std::string fen4(const Position& p) {
  char buf[128];
  get_fen(p, buf);
  std::string f = buf;
  size_t cut = f.size();
  for (int i = 0; i < 2; i++) cut = f.rfind(' ', cut - 1);
  return f.substr(0, cut);
}

TEST(Playout, IncrementalFieldsMatchScratch) {
  // A non-trivial piece-square table so psq sums are really checked.
  uint64_t saved[2][8][64];
  std::memcpy(saved, psq_table, sizeof saved);
  std::mt19937_64 rng(2024);
  for (auto& a : psq_table)
    for (auto& b : a)
      for (auto& v : b) v = (uint64_t(rng() % 2000) << 32) + (rng() % 2000);

  const char* starts[] = {
      START_FEN,
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "rnbqkb1r/pp1p1ppp/5n2/2pPp3/8/8/PPP1PPPP/RNBQKBNR w KQkq c6 0 4",
      "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9",
      "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
  };
  static Position line[260];
  int plies = 0, games = 0;
  for (int g = 0; g < 400; g++) {
    const char* fen = starts[g % 6];
    opt::chess960 = (g % 6 == 4);
    set_fen(line[0], fen);
    ASSERT_NO_FATAL_FAILURE(check_fields(line[0]));
    int n = 0;
    while (n < 250) {
      Position& cur = line[n];
      uint32_t list[MAX_MOVES];
      int cnt = generate_all(cur, list);
      // Occasionally a null move (never while in check).
      if (!cur.in_check && rng() % 16 == 0) {
        ASSERT_EQ(make_move(cur, line[n + 1], 0), 1);
        line[n + 1].in_check = 0;
      } else {
        bool made = false;
        for (int tries = 0; tries < cnt && !made; tries++) {
          Move m = entry_move(list[(rng() % cnt + tries) % cnt]);
          if (make_move(cur, line[n + 1], m)) made = true;
        }
        if (!made) break;
        line[n + 1].in_check = king_attacked(line[n + 1], line[n + 1].side()) ? 1 : 0;
      }
      n++;
      ASSERT_NO_FATAL_FAILURE(check_fields(line[n])) << "game " << g << " ply " << n;
      Position again;
      set_fen(again, fen4(line[n]).c_str());
      ASSERT_EQ(fen4(again), fen4(line[n]));
      ASSERT_EQ(again.key, line[n].key) << fen4(line[n]);
      set_fen(line[0], fen);  // castling geometry belongs to the game being played
      plies++;
    }
    games++;
  }
  opt::chess960 = 0;
  std::memcpy(psq_table, saved, sizeof saved);
  EXPECT_GT(plies, 20000);
}

}  // namespace
}  // namespace quorix
