#include "syzygy/tbprobe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "syzygy/tb_test_util.h"
#include "test_util.h"

namespace quorix {
namespace {

namespace fs = std::filesystem;
using test::read_tb_cases;
using test::swap_colours;
using test::table_dir;

void quiet_init(const std::string& path) {
  testing::internal::CaptureStdout();
  tb::init(path);
  testing::internal::GetCapturedStdout();
}

class Tablebases : public ::testing::Test {
 protected:
  void SetUp() override { quiet_init(table_dir()); }
  void TearDown() override { tb::release(); }
};

// Every annotated position, as given and with colours swapped.
TEST_F(Tablebases, AnnotatedPositionsBothOrientations) {
  for (const char* file : {"endgame.epd", "endgame-dm-4-syzygy.epd"}) {
    auto cases = read_tb_cases(table_dir() + "/" + file);
    ASSERT_GT(cases.size(), 40u) << file;
    for (const auto& c : cases)
      for (const std::string& fen : {c.fen, swap_colours(c.fen)}) {
        Position p;
        test::setup(p, fen);
        bool ok_w = false, ok_d = false;
        EXPECT_EQ(tb::probe_wdl(p, ok_w), c.wdl) << fen;
        EXPECT_EQ(tb::probe_dtz(p, ok_d), c.dtz) << fen;
        EXPECT_TRUE(ok_w && ok_d) << fen;
      }
  }
}

// Random positions of every table agree with a one-ply search over their children:
// the WDL value exactly, the DTZ of a win within one ply (DTZ files may store moves).
TEST_F(Tablebases, OnePlySearchAgreesOnEveryTable) {
  std::mt19937_64 rng(20261210);
  for (const auto& mat : test::shipped_materials()) {
    for (int n = 0; n < 60; n++) {
      const std::string fen = test::random_position(mat, rng);
      Position p;
      test::setup(p, fen);
      p.in_check = king_attacked(p, p.side()) ? 1 : 0;
      bool ok;
      const int w = tb::probe_wdl(p, ok);
      ASSERT_TRUE(ok) << fen;
      uint32_t list[MAX_MOVES];
      const int count = generate_all(p, list);
      int best = -3, legal = 0, fastest = 1 << 20;
      for (int i = 0; i < count; i++) {
        Position c;
        if (!make_move(p, c, entry_move(list[i]))) continue;
        legal++;
        const int cw = tb::probe_wdl(c, ok);
        ASSERT_TRUE(ok) << fen;
        best = std::max(best, -cw);
        if (cw != -2) continue;
        if (c.fifty == 0) {
          fastest = 1;
        } else {
          const int cd = tb::probe_dtz(c, ok);
          ASSERT_TRUE(ok) << fen;
          fastest = std::min(fastest, 1 - cd);
        }
      }
      if (!legal) best = p.in_check ? -2 : 0;
      EXPECT_EQ(w, best) << fen;
      if (w == 2) {
        const int d = tb::probe_dtz(p, ok);
        EXPECT_TRUE(ok && std::abs(d - fastest) <= 1) << fen << " dtz " << d << " search " << fastest;
      }
    }
  }
}

TEST_F(Tablebases, PositionsOutsideTheTables) {
  struct Case {
    const char* fen;
    bool wdl_ok, dtz_ok;
  };
  const Case cases[] = {
      {"8/8/3k4/8/8/3K4/8/8 w - - 0 1", true, false},             // kings only: a draw, no DTZ file
      {"8/8/3k4/8/2q5/8/3QR3/4K3 w - - 0 1", false, false},       // five pieces
      {"r3k3/8/8/8/8/8/8/4K3 b q - 0 1", false, false},            // castling rights
      {"4k3/8/8/8/8/8/8/R3K3 w Q - 0 1", false, false},
  };
  for (const auto& c : cases) {
    Position p;
    test::setup(p, c.fen);
    bool ok_w, ok_d;
    EXPECT_EQ(tb::probe_wdl(p, ok_w), 0) << c.fen;
    tb::probe_dtz(p, ok_d);
    EXPECT_EQ(ok_w, c.wdl_ok) << c.fen;
    EXPECT_EQ(ok_d, c.dtz_ok) << c.fen;
    tb::RootResult out[256];
    int score = 1;
    EXPECT_EQ(tb::root_filter_dtz(p, out, score), 0) << c.fen;
    if (!c.wdl_ok) {
      EXPECT_EQ(tb::root_filter_wdl(p, true, out, score), 0) << c.fen;
    }
  }
}

// Child value of a root move: the opponent's WDL after it.
int child_wdl(const Position& p, Move m) {
  Position c;
  EXPECT_TRUE(make_move(p, c, m));
  bool ok;
  int w = tb::probe_wdl(c, ok);
  EXPECT_TRUE(ok);
  return -w;
}

int legal_moves(const Position& p, std::vector<Move>& out) {
  Move list[MAX_MOVES];
  const int n = legal_moves(p, list);
  out.insert(out.end(), list, list + n);
  return int(out.size());
}

TEST_F(Tablebases, RootFilterByDtzKeepsFastWinsFirst) {
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1");
  p.in_check = 0;
  tb::RootResult out[256];
  int score = 0;
  const int n = tb::root_filter_dtz(p, out, score);
  std::vector<Move> all;
  legal_moves(p, all);
  ASSERT_GT(n, 0);
  EXPECT_EQ(score, 31799);
  EXPECT_EQ(out[n].move, 0);
  int winning = 0;
  for (Move m : all) winning += child_wdl(p, m) == 2;
  EXPECT_EQ(n, winning);  // every winning move converts well within fifty moves here
  for (int i = 0; i < n; i++) {
    EXPECT_EQ(child_wdl(p, out[i].move), 2);
    EXPECT_GT(out[i].value, 0);
    EXPECT_LE(out[i].value, 99);
    if (i) {
      EXPECT_LE(out[i - 1].value, out[i].value);
    }
  }
}

TEST_F(Tablebases, RootFilterByDtzNearTheFiftyMoveLimit) {
  // A won KQ-K position far from mate; with a high counter the win is spoilt.
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1");
  bool ok;
  const int d = tb::probe_dtz(p, ok);
  ASSERT_TRUE(ok && d > 2);
  tb::RootResult out[256];
  int score = 0;
  p.fifty = int16_t(100 - d + 1);  // d + c = 101: a cursed win
  const int c = p.fifty;
  const int n = tb::root_filter_dtz(p, out, score);
  ASSERT_GT(n, 0);
  EXPECT_EQ(score, (200 - (c + d)) / 2);
  for (int i = 0; i < n; i++) EXPECT_EQ(out[i].value, out[0].value);  // only the fastest moves
  EXPECT_EQ(out[0].value, d);

  // The defender's side of it: a loss the counter saves.
  Position q;
  test::setup(q, "8/8/8/4k3/8/8/8/1Q2K3 b - - 0 1");
  const int dq = tb::probe_dtz(q, ok);
  ASSERT_TRUE(ok && dq < -2);
  q.fifty = int16_t(100 + dq + 1);  // c - d = 101
  const int cq = q.fifty;
  const int nq = tb::root_filter_dtz(q, out, score);
  ASSERT_GT(nq, 0);
  EXPECT_EQ(score, -((dq - cq + 200) / 2));
}

TEST_F(Tablebases, RootFilterByDtzDrawKeepsDrawingMoves) {
  // KR-KR: moves that hang the rook lose.
  Position p;
  test::setup(p, "8/r7/3k4/8/8/8/7R/3K4 w - - 0 1");
  tb::RootResult out[256];
  int score = 7;
  const int n = tb::root_filter_dtz(p, out, score);
  ASSERT_GT(n, 0);
  EXPECT_EQ(score, 0);
  std::vector<Move> all;
  legal_moves(p, all);
  int drawing = 0;
  for (Move m : all) drawing += child_wdl(p, m) == 0;
  EXPECT_EQ(n, drawing);
  for (int i = 0; i < n; i++) EXPECT_EQ(out[i].value, 0);
}

TEST_F(Tablebases, RootFilterByWdlKeepsEveryWinningMoveInOrder) {
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1");
  std::vector<Move> all, winning;
  legal_moves(p, all);
  for (Move m : all)
    if (child_wdl(p, m) == 2) winning.push_back(m);
  for (bool rule50 : {true, false}) {
    tb::RootResult out[256];
    int score = 0;
    const int n = tb::root_filter_wdl(p, rule50, out, score);
    EXPECT_EQ(score, 31799);
    ASSERT_EQ(n, int(winning.size()));
    for (int i = 0; i < n; i++) {
      EXPECT_EQ(out[i].move, winning[i]);  // generation order
      EXPECT_EQ(out[i].value, 2);
    }
  }
}

// ---------------------------------------------------------------------------- files

class TablebaseFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quorix_tb_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
  }
  void TearDown() override {
    tb::release();
    fs::remove_all(root_);
  }
  void copy_table(const std::string& name, const fs::path& dir, size_t keep = SIZE_MAX) {
    for (const char* ext : {".rtbw", ".rtbz"}) {
      std::ifstream in(table_dir() + "/" + name + ext, std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), {});
      if (keep < data.size()) data.resize(keep);
      std::ofstream(dir / (name + ext), std::ios::binary) << data;
    }
  }
  struct Out {
    std::string out, err;
  };
  Out init(const std::string& path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tb::init(path);
    Out o;
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
  }
  fs::path root_;
};

TEST_F(TablebaseFiles, DiscoveryMessages) {
  EXPECT_EQ(init("<empty>").out, "");
  EXPECT_EQ(tb::largest(), 0);
  EXPECT_EQ(init("").out, "");
  EXPECT_EQ(init(table_dir()).out, "info string Found 35 WDL and 35 DTZ tablebase files (up to 4-man).\n");
  EXPECT_EQ(tb::largest(), 4);
  EXPECT_EQ(init("/no/such/dir").out, "info string Found 0 WDL and 0 DTZ tablebase files (up to 0-man).\n");
}

TEST_F(TablebaseFiles, SecondDirectoryIsSearchedWithEitherSeparator) {
  copy_table("KQvK", root_ / "b");
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1");
  for (const char sep : {':', ';'}) {
    const std::string path = (root_ / "a").string() + sep + (root_ / "b").string();
    EXPECT_EQ(init(path).out, "info string Found 1 WDL and 1 DTZ tablebase files (up to 3-man).\n");
    bool ok;
    EXPECT_EQ(tb::probe_wdl(p, ok), 2);
    EXPECT_TRUE(ok);
  }
}

TEST_F(TablebaseFiles, IncompleteFileIsReportedAndIgnored) {
  copy_table("KQvK", root_ / "a", 271);  // 271 = 15 mod 64
  const Out o = init((root_ / "a").string());
  EXPECT_EQ(o.out,
            "info string Incomplete tablebase file KQvK.rtbw\n"
            "info string Found 0 WDL and 0 DTZ tablebase files (up to 0-man).\n");
  EXPECT_EQ(o.err, "Incomplete tablebase file KQvK.rtbw\n");
}

TEST_F(TablebaseFiles, WrongMagicFailsTheProbeOnce) {
  copy_table("KQvK", root_ / "a");
  {
    std::fstream f(root_ / "a" / "KQvK.rtbw", std::ios::in | std::ios::out | std::ios::binary);
    f.put('\x00');
  }
  init((root_ / "a").string());
  Position p;
  test::setup(p, "8/8/8/4k3/8/8/8/1Q2K3 b - - 0 1");
  testing::internal::CaptureStderr();
  bool ok = true;
  tb::probe_wdl(p, ok);
  EXPECT_FALSE(ok);
  tb::probe_wdl(p, ok);  // no second message for the same file
  EXPECT_FALSE(ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n");
  // A re-initialisation tries the file again.
  init((root_ / "a").string());
  testing::internal::CaptureStderr();
  tb::probe_wdl(p, ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n");
}

// ---------------------------------------------------------------------------- damaged images

// Truncations and bit flips of every shipped table, each probed over many positions:
// a damaged image must be rejected or give some value, never read outside itself.
TEST(TablebaseImages, DamagedTablesAreHandledSafely) {
  std::mt19937_64 rng(77);
  int rejected = 0, probed = 0;
  for (const auto& mat : test::shipped_materials()) {
    std::vector<std::string> fens;
    for (int i = 0; i < 24; i++) fens.push_back(test::random_position(mat, rng));
    for (int kind = 0; kind < 2; kind++) {
      std::ifstream in(table_dir() + "/" + mat + (kind ? ".rtbz" : ".rtbw"), std::ios::binary);
      const std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), {});
      ASSERT_GT(good.size(), 16u);
      std::vector<std::vector<uint8_t>> variants;
      for (size_t keep : {size_t(5), size_t(16), size_t(40), good.size() / 3, good.size() / 2, good.size() - 1})
        variants.emplace_back(good.begin(), good.begin() + std::min(keep, good.size()));
      for (int f = 0; f < 14; f++) {
        auto v = good;
        // Half of the flips hit the headers and index tables at the front.
        const size_t at = f % 2 ? rng() % std::min<size_t>(v.size(), 256) : rng() % v.size();
        v[at] ^= uint8_t(1u << (rng() % 8));
        variants.push_back(std::move(v));
      }
      for (auto& v : variants) {
        // An exact-size heap copy lets the address sanitizer see any read past the end.
        std::unique_ptr<uint8_t[]> img(new uint8_t[v.size()]);
        std::copy(v.begin(), v.end(), img.get());
        if (!tb::load_image(mat, kind, img.get(), v.size())) {
          rejected++;
          continue;
        }
        for (const auto& fen : fens) {
          Position p;
          test::setup(p, fen);
          bool ok;
          const int w = kind ? tb::probe_dtz(p, ok) : tb::probe_wdl(p, ok);
          if (ok && !kind) {
            EXPECT_TRUE(w >= -2 && w <= 2);
          }
          probed++;
        }
        tb::clear_image();
      }
    }
  }
  EXPECT_GT(rejected, 0);
  EXPECT_GT(probed, 0);
}

}  // namespace
}  // namespace quorix
