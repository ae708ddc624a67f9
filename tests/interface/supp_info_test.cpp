// supp_info: every value of its feature line checked against a plain square-by-square
// computation from the FEN, on positions of random games; malformed input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "board/position.h"
#include "interface/supp_info.h"

namespace quorix {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr const char* INVALID = "error: invalid pos_str argument";

// A board read from FEN text by hand: board[sq] is a FEN letter or 0, a1 = 0.
struct RefBoard {
  char board[64] = {};
  bool white_to_move = true;
  std::string castling, ep;

  explicit RefBoard(const std::string& fen) {
    std::istringstream in(fen);
    std::string placement, side;
    in >> placement >> side >> castling >> ep;
    int rank = 7, file = 0;
    for (char c : placement) {
      if (c == '/') { rank--; file = 0; }
      else if (c >= '1' && c <= '8') file += c - '0';
      else board[rank * 8 + file++] = c;
    }
    white_to_move = side == "w";
  }
  static bool on(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }
  char at(int f, int r) const { return board[r * 8 + f]; }
  static uint64_t bit(int f, int r) { return uint64_t(1) << (r * 8 + f); }
  static bool white(char c) { return c >= 'A' && c <= 'Z'; }

  uint64_t pieces(char letter) const {
    uint64_t b = 0;
    for (int s = 0; s < 64; s++)
      if (board[s] == letter) b |= uint64_t(1) << s;
    return b;
  }

  // Squares attacked by the pieces of this letter, walking the board.
  uint64_t attacks(char letter) const {
    static const int knight[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    static const int king[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    const char t = char(letter | 0x20);
    uint64_t a = 0;
    for (int r = 0; r < 8; r++)
      for (int f = 0; f < 8; f++) {
        if (at(f, r) != letter) continue;
        if (t == 'p') {
          int dr = white(letter) ? 1 : -1;
          for (int df : {-1, 1})
            if (on(f + df, r + dr)) a |= bit(f + df, r + dr);
        } else if (t == 'n' || t == 'k') {
          for (const auto& d : (t == 'n' ? knight : king))
            if (on(f + d[0], r + d[1])) a |= bit(f + d[0], r + d[1]);
        } else {
          for (const auto& d : king) {
            const bool diagonal = d[0] != 0 && d[1] != 0;
            if ((t == 'b' && !diagonal) || (t == 'r' && diagonal)) continue;
            for (int x = f + d[0], y = r + d[1]; on(x, y); x += d[0], y += d[1]) {
              a |= bit(x, y);
              if (at(x, y)) break;
            }
          }
        }
      }
    return a;
  }

  // Passed, isolated, side-by-side and free-not-passed pawns of a colour.
  std::vector<uint64_t> pawn_sets(bool for_white) const {
    const char own = for_white ? 'P' : 'p', enemy = for_white ? 'p' : 'P';
    const int up = for_white ? 1 : -1;
    std::vector<uint64_t> s(4, 0);
    for (int r = 0; r < 8; r++)
      for (int f = 0; f < 8; f++) {
        if (at(f, r) != own) continue;
        bool free = true, passed = true;
        for (int y = r + up; on(f, y); y += up)
          if (at(f, y) == 'P' || at(f, y) == 'p') free = false;
        for (int y = r; on(f, y); y += up)  // own square and every square ahead
          for (int df : {-1, 1})
            if (on(f + df, y + up) && at(f + df, y + up) == enemy) passed = false;
        bool neighbour_file = false, beside = false, enemy_on_file = false;
        for (int y = 0; y < 8; y++) {
          for (int df : {-1, 1})
            if (on(f + df, y) && at(f + df, y) == own) neighbour_file = true;
          if (at(f, y) == enemy) enemy_on_file = true;
        }
        for (int df : {-1, 1})
          if (on(f + df, r) && at(f + df, r) == own) beside = true;
        const bool own_half = for_white ? r <= 3 : r >= 4;
        if (free && passed) s[0] |= bit(f, r);
        if (!neighbour_file) s[1] |= bit(f, r);
        if (own_half && beside && !enemy_on_file) s[2] |= bit(f, r);
        if (free && !passed) s[3] |= bit(f, r);
      }
    return s;
  }

  // Pieces alone between a slider of the attacking colour and the other king.
  uint64_t pins(bool white_sliders) const {
    const char k = white_sliders ? 'k' : 'K';
    int kf = -1, kr = -1;
    for (int s = 0; s < 64; s++)
      if (board[s] == k) kf = s % 8, kr = s / 8;
    uint64_t out = 0;
    for (int df = -1; df <= 1; df++)
      for (int dr = -1; dr <= 1; dr++) {
        if (!df && !dr) continue;
        const bool diagonal = df && dr;
        int count = 0, pf = -1, pr = -1;
        for (int x = kf + df, y = kr + dr; on(x, y); x += df, y += dr) {
          const char c = at(x, y);
          if (!c) continue;
          const char t = char(c | 0x20);
          const bool slider = white(c) == white_sliders && (t == 'q' || t == (diagonal ? 'b' : 'r'));
          if (slider && count == 1) out |= bit(pf, pr);
          if (slider || ++count > 1) break;
          pf = x, pr = y;
        }
      }
    return out;
  }

  int count(char letter) const { return __builtin_popcountll(pieces(letter)); }
};

std::vector<std::string> split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> v;
  for (std::string w; in >> w;) v.push_back(w);
  return v;
}

// The feature line the reference computes (all but the material value and scale).
std::vector<unsigned long long> reference(const std::string& fen, int fifty) {
  RefBoard b(fen);
  std::vector<unsigned long long> v;
  for (char c : std::string("PNBRQKpnbrqk")) v.push_back(b.pieces(c));
  v.push_back(b.ep == "-" ? 0 : uint64_t(1) << ((b.ep[1] - '1') * 8 + (b.ep[0] - 'a')));
  for (char c : std::string("PNBRQKpnbrqk")) v.push_back(b.attacks(c));
  for (bool w : {true, false})
    for (uint64_t s : b.pawn_sets(w)) v.push_back(s);
  v.push_back(b.pins(false));
  v.push_back(b.pins(true));
  v.push_back(b.white_to_move);
  v.push_back(!b.white_to_move);
  v.push_back(unsigned(fifty));
  for (char c : std::string("KQkq")) v.push_back(b.castling.find(c) == std::string::npos);
  for (char c : std::string("PNBRQpnbrq")) v.push_back(unsigned(b.count(c)));
  v.push_back(unsigned(3 * (b.count('N') + b.count('n')) + 4 * (b.count('B') + b.count('b')) +
                       8 * (b.count('R') + b.count('r')) + 18 * (b.count('Q') + b.count('q'))));
  return v;
}

std::vector<unsigned long long> parse_prefix(const std::vector<std::string>& words, size_t n) {
  std::vector<unsigned long long> v;
  for (size_t i = 0; i < n && i < words.size(); i++) v.push_back(std::strtoull(words[i].c_str(), nullptr, 10));
  return v;
}

// 1,000 positions of seeded random games, given both as a move list from the start
// and as the FEN the engine writes, against the reference.
TEST(SuppInfo, MatchesReferenceOnRandomGames) {
  std::mt19937 rng(20261210);
  int checked = 0, with_ep = 0, with_pins = 0, with_passed = 0;
  static Position line[201];
  while (checked < 1000) {
    set_fen(line[0], START_FEN);
    std::string moves;
    int fifty = 0;
    for (int ply = 0; ply < 200 && checked < 1000; ply++) {
      Move list[MAX_MOVES];
      const std::vector<Move> legal(list, list + legal_moves(line[ply], list));
      if (legal.empty()) break;
      const Move m = legal[rng() % legal.size()];
      const std::string text = move_to_text(line[ply], m);
      const bool resets = line[ply].board[move_from(m)] % 8 == PAWN || line[ply].board[move_to(m)] != 0 ||
                          move_kind(m) == MK_EP;
      ASSERT_TRUE(apply_move_text(line[ply], line[ply + 1], text.c_str()));
      fifty = resets ? 0 : fifty + 1;
      moves += " " + text;
      if (rng() % 3) continue;
      char fen[128];
      get_fen(line[ply + 1], fen);
      const std::vector<unsigned long long> want_moves = reference(fen, fifty);
      const std::vector<unsigned long long> want_fen = reference(fen, 0);
      const bool by_moves = checked % 2 == 0;
      const std::string arg = by_moves ? "position startpos moves" + moves : std::string("position fen ") + fen;
      const std::vector<std::string> got = split(supp_info(arg.c_str()));
      ASSERT_EQ(got.size(), 55u) << arg;
      const auto& want = by_moves ? want_moves : want_fen;
      ASSERT_EQ(parse_prefix(got, want.size()), want) << arg;
      EXPECT_EQ(got[54].find('.'), got[54].size() - 7) << "six decimals: " << got[54];
      with_ep += want[12] != 0;
      with_pins += (want[33] | want[34]) != 0;
      with_passed += (want[25] | want[29]) != 0;
      checked++;
    }
  }
  // Hand-picked positions for what random games rarely reach: en passant, pins
  // through both colours, side-by-side and passed pawns on both wings.
  const char* const extra[] = {
      "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
      "rnbqkbnr/pppp1ppp/8/8/3Pp3/5N2/PPP1PPPP/RNBQKB1R b KQkq d3 0 3",
      "4k3/4r3/8/b7/8/2N5/3PB3/r2QK2q w - - 0 1",
      "1k6/1p6/8/2Pp4/8/8/8/3QK2r w - d6 0 2",
      "4k3/pp3ppp/8/1P1P2P1/2P5/8/P6P/4K3 b - - 0 1",
      "4k3/8/8/3pp3/3PP3/8/8/4K3 w - - 0 1",
  };
  for (const char* fen : extra) {
    const std::string arg = std::string("position fen ") + fen;
    const std::vector<unsigned long long> want = reference(fen, 0);
    const std::vector<std::string> got = split(supp_info(arg.c_str()));
    ASSERT_EQ(got.size(), 55u) << arg;
    EXPECT_EQ(parse_prefix(got, want.size()), want) << arg;
    with_ep += want[12] != 0;
    with_pins += (want[33] | want[34]) != 0;
  }
  // The sample reaches the rarer sets.
  EXPECT_GE(with_ep, 3);
  EXPECT_GT(with_pins, 50);
  EXPECT_GT(with_passed, 50);
}

TEST(SuppInfo, StartPositionAndSharedBuffer) {
  const char* first = supp_info("position startpos");
  const std::string start = first;
  const std::vector<std::string> v = split(start);
  ASSERT_EQ(v.size(), 55u);
  EXPECT_EQ(v[0], "65280");
  EXPECT_EQ(v[12], "0");
  EXPECT_EQ(v[52], "96");
  EXPECT_EQ(v[53], "0");
  EXPECT_EQ(start.back(), ' ');
  EXPECT_EQ(start, supp_info("anything fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
  const char* second = supp_info("position startpos moves e2e4");
  EXPECT_EQ(first, second);
  EXPECT_NE(start, first);  // overwritten by the second call
  EXPECT_EQ(split(second)[0], std::to_string(65280 - (1 << 12) + (1 << 28)));
  // Material: a queen up is a large positive figure, a scale is printed.
  const std::vector<std::string> q = split(supp_info("position fen 4k3/8/8/8/8/8/8/3QK3 b - - 0 1"));
  EXPECT_GT(std::atoi(q[53].c_str()), 500);
}

// Moves that cannot be made are skipped (the position stays as before them) and the
// rest of the list still applies.
TEST(SuppInfo, UnplayableMovesAreSkipped) {
  CaptureStderr();
  const std::string got = supp_info("position startpos moves e2e4 zz99 e7e5 e1e3 g1f3");
  const std::string err = GetCapturedStderr();
  const std::string want = supp_info("position startpos moves e2e4 e7e5 g1f3");
  EXPECT_EQ(got, want);
  EXPECT_NE(err.find("zz99"), std::string::npos);
  EXPECT_NE(err.find("e1e3"), std::string::npos);
}

TEST(SuppInfo, MalformedInputGivesErrorOrSoundResult) {
  const std::string big_garbage(100 * 1024, 'x');
  std::string shuffle = "position startpos moves";
  while (shuffle.size() < 100 * 1024) shuffle += " g1f3 g8f6 f3g1 f6g8";
  std::string many_bad = "position startpos moves";
  while (many_bad.size() < 100 * 1024) many_bad += " a9z0";
  const std::string nul_in_fen = std::string("position fen ") + std::string(300, '/') + " w - -";
  struct Case {
    std::string text;
    bool error;
  };
  const Case cases[] = {
      {"", true},
      {"position", true},
      {"   \t\r\n ", true},
      {"position nonsense", true},
      {"position fen", true},
      {"position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq", true},
      {"position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq -", true},
      {"position fen 8/8/8/8/8/8/8/8 w - -", true},                     // no kings
      {"position fen QQQQQQQQ/QQQQQQQQ/8/8/8/8/k7/K7 w - -", true},     // impossible material
      {"position fen 4k3/8/8/8/8/8/8/4K2P w - -", true},                // pawn on the last rank
      {"position fen 4k3/8/8/8/8/8/8/4K2R b K - 0 1 moves", false},
      {"position fen 99999999999/pppppppppppp/" + big_garbage + " w - -", true},
      {"position " + big_garbage, true},
      {"position fen " + big_garbage, true},
      {nul_in_fen, true},
      {"position fen rnbqkbnr/pppp\vx/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", true},
      {"position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR white KQkq -", true},
      {shuffle, false},
      {many_bad, false},
  };
  CaptureStderr();
  for (const Case& c : cases) {
    const std::string got = supp_info(c.text.c_str());
    if (c.error) {
      EXPECT_EQ(got, INVALID) << c.text.substr(0, 80);
    } else {
      EXPECT_EQ(split(got).size(), 55u) << c.text.substr(0, 80);
    }
  }
  EXPECT_EQ(std::string(supp_info(nullptr)), INVALID);
  GetCapturedStderr();
  // The knight shuffle keeps its move count in the fifty-move counter.
  const std::vector<std::string> v = split(supp_info(shuffle.c_str()));
  EXPECT_EQ(v[37], std::to_string((split(shuffle).size() - 3)));
}

}  // namespace
}  // namespace quorix
