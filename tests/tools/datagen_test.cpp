// Game files of the self-play generator: encoding, unpacked records, damaged input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "game_file.h"

using namespace quorix;
using namespace quorix::datagen;

namespace {

struct Played {
  GameRecord rec;
  std::vector<Position> positions;  // the position before each recorded move
  std::vector<Move> moves;
};

void set_check(Position& p) { p.in_check = king_attacked(p, p.side()) ? 1 : 0; }

// Records a game given as UCI moves from fen; scores are 10 * ply - 25.
Played play_text(const std::string& fen, const std::vector<std::string>& moves, uint8_t result) {
  Played g;
  g.rec.fen = fen;
  g.rec.result = result;
  std::vector<Position> line(moves.size() + 1);
  setup_position(line[0], fen);
  Move legal[MAX_MOVES];
  for (size_t i = 0; i < moves.size(); i++) {
    const int n = sorted_legal_moves(line[i], legal);
    EXPECT_TRUE(apply_move_text(line[i], line[i + 1], moves[i].c_str())) << moves[i];
    const Move m = line[i + 1].last_move & 0xFFFF;
    set_check(line[i + 1]);
    const int idx = int(std::find(legal, legal + n, m) - legal);
    EXPECT_LT(idx, n);
    g.rec.index.push_back(uint8_t(idx));
    g.rec.score.push_back(int16_t(10 * int(i) - 25));
    g.positions.push_back(line[i]);
    g.moves.push_back(m);
  }
  return g;
}

// A game of random legal moves (stops early at mate or stalemate).
Played play_random(unsigned seed, int plies) {
  Played g;
  std::mt19937 rng(seed);
  g.rec.fen = START_FEN;
  g.rec.result = uint8_t(seed % 3);
  std::vector<Position> line(size_t(plies) + 1);
  setup_position(line[0], START_FEN);
  Move legal[MAX_MOVES];
  for (int i = 0; i < plies; i++) {
    const int n = sorted_legal_moves(line[i], legal);
    if (n == 0) break;
    const int idx = int(rng() % unsigned(n));
    make_move(line[i], line[i + 1], legal[idx]);
    set_check(line[i + 1]);
    g.rec.index.push_back(uint8_t(idx));
    g.rec.score.push_back(int16_t(int(rng() % 65536) - 32768));
    g.positions.push_back(line[i]);
    g.moves.push_back(legal[idx]);
  }
  return g;
}

// Unique per process and test: ctest runs tests (and build configurations) side by side.
std::string temp_path(const char* name) {
  const auto* t = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "quorix-" + std::to_string(::getpid()) + "-" + (t ? t->name() : "") + "-" + name;
}

void write_file(const std::string& path, const std::vector<std::vector<GameRecord>>& blocks) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  for (const auto& games : blocks) {
    std::vector<uint8_t> raw;
    for (const GameRecord& g : games) append_game(raw, g);
    std::string err;
    ASSERT_TRUE(write_block(f, raw, err)) << err;
  }
  std::fclose(f);
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> v;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  int c;
  while ((c = std::fgetc(f)) != EOF) v.push_back(uint8_t(c));
  std::fclose(f);
  return v;
}

void write_bytes(const std::string& path, const uint8_t* data, size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  if (n) {
    ASSERT_EQ(std::fwrite(data, 1, n, f), n);
  }
  std::fclose(f);
}

// Reads a whole file; unpacks every game returned (damage may surface there too).
struct ReadResult {
  std::vector<GameRecord> games;
  size_t unpacked_games = 0;
  std::string error;
};
ReadResult read_all(const std::string& path, bool unpack = true) {
  ReadResult r;
  GameFileReader reader(path);
  while (reader.next_block(r.games)) {
  }
  r.error = reader.error();
  for (const GameRecord& g : r.games) {
    if (!unpack) break;
    std::vector<uint8_t> out;
    std::string err;
    if (!unpack_game(g, out, err)) break;
    EXPECT_EQ(out.size(), g.index.size() * POS_RECORD_BYTES);
    r.unpacked_games++;
  }
  return r;
}

int16_t rec_score(const uint8_t* r) { return int16_t(r[66] | r[67] << 8); }

// Special moves: en passant, castling both ways round, capture-promotion, under-promotion.
const char* SPECIAL_FEN = "r3k2r/1P3ppp/8/3pP3/8/8/P4PPP/R3K2R w KQkq d6 3 20";
const std::vector<std::string> SPECIAL_MOVES = {"e5d6", "e8g8", "b7a8q", "f8a8", "e1g1", "a8a2", "d6d7", "a2a1",
                                                "f1a1", "g8f8", "d7d8n"};

TEST(DatagenFile, RoundTripReplaysEveryPositionAndMove) {
  std::vector<Played> played = {play_text(SPECIAL_FEN, SPECIAL_MOVES, RESULT_WHITE_WON)};
  for (unsigned s = 1; s <= 6; s++) played.push_back(play_random(s, 150));
  const std::string path = temp_path("roundtrip.qgd");
  write_file(path, {{played[0].rec, played[1].rec}, {played[2].rec}, {played[3].rec, played[4].rec, played[5].rec,
                                                                       played[6].rec}});

  GameFileReader reader(path);
  std::vector<GameRecord> games;
  while (reader.next_block(games)) {
  }
  std::remove(path.c_str());
  EXPECT_EQ(reader.error(), "");
  EXPECT_EQ(reader.blocks_read(), 3u);
  ASSERT_EQ(games.size(), played.size());
  for (size_t g = 0; g < played.size(); g++) {
    SCOPED_TRACE("game " + std::to_string(g));
    const GameRecord& want = played[g].rec;
    EXPECT_EQ(games[g].fen, want.fen);
    EXPECT_EQ(games[g].result, want.result);
    EXPECT_EQ(games[g].index, want.index);
    EXPECT_EQ(games[g].score, want.score);

    std::vector<uint8_t> out;
    std::string err;
    ASSERT_TRUE(unpack_game(games[g], out, err)) << err;
    ASSERT_EQ(out.size(), want.index.size() * POS_RECORD_BYTES);
    for (size_t ply = 0; ply < want.index.size(); ply++) {
      const uint8_t* r = out.data() + ply * POS_RECORD_BYTES;
      const Position& p = played[g].positions[ply];
      const Move m = played[g].moves[ply];
      ASSERT_EQ(std::memcmp(r, p.board, 64), 0) << "ply " << ply;
      EXPECT_EQ(r[64], p.side());
      const bool capture = move_kind(m) == MK_EP || (move_kind(m) != MK_CASTLE && p.board[move_to(m)]);
      EXPECT_EQ(r[65] & 7, (p.in_check ? 1 : 0) | (capture ? 2 : 0) | (is_promotion(m) ? 4 : 0)) << "ply " << ply;
      EXPECT_EQ(rec_score(r), want.score[ply]);
      EXPECT_EQ((r[65] & 8) != 0, std::abs(int(want.score[ply])) >= MATE_RANGE_SCORE);
      EXPECT_EQ(r[68], want.result);
      EXPECT_EQ(r[69], std::min(int(p.fifty), 255));
      EXPECT_EQ(r[70] | r[71] << 8, int(ply));
    }
  }
}

TEST(DatagenFile, RecordLayoutOfKnownPositions) {
  const Played g = play_text(SPECIAL_FEN, SPECIAL_MOVES, RESULT_BLACK_WON);
  std::vector<uint8_t> out;
  std::string err;
  ASSERT_TRUE(unpack_game(g.rec, out, err)) << err;
  const uint8_t* r0 = out.data();
  // Ply 0: White to move, e5xd6 en passant; the FEN's half-move clock carries over.
  EXPECT_EQ(r0[4], make_piece(WHITE, KING));    // e1
  EXPECT_EQ(r0[36], make_piece(WHITE, PAWN));   // e5
  EXPECT_EQ(r0[35], make_piece(BLACK, PAWN));   // d5
  EXPECT_EQ(r0[43], 0);                         // d6
  EXPECT_EQ(r0[56], make_piece(BLACK, ROOK));   // a8
  EXPECT_EQ(r0[64], 0);
  EXPECT_EQ(r0[65], 2);
  EXPECT_EQ(rec_score(r0), -25);
  EXPECT_EQ(r0[66], 0xE7);
  EXPECT_EQ(r0[67], 0xFF);
  EXPECT_EQ(r0[68], RESULT_BLACK_WON);
  EXPECT_EQ(r0[69], 3);
  EXPECT_EQ(r0[70], 0);
  const uint8_t* r1 = out.data() + POS_RECORD_BYTES;  // Black castles: not a capture
  EXPECT_EQ(r1[64], 1);
  EXPECT_EQ(r1[65], 0);
  EXPECT_EQ(r1[69], 0);  // after a capture
  EXPECT_EQ(r1[70], 1);
  const uint8_t* r2 = out.data() + 2 * POS_RECORD_BYTES;  // b7xa8=Q
  EXPECT_EQ(r2[65], 2 | 4);
  const uint8_t* r10 = out.data() + 10 * POS_RECORD_BYTES;  // d7-d8=N
  EXPECT_EQ(r10[65], 4);
  EXPECT_EQ(rec_score(r10), 75);
}

TEST(DatagenFile, MateRangeFlag) {
  Played g = play_text(START_FEN, {"e2e4", "e7e5"}, RESULT_DRAW);
  g.rec.score = {31000, -32000};
  std::vector<uint8_t> out;
  std::string err;
  ASSERT_TRUE(unpack_game(g.rec, out, err));
  EXPECT_EQ(out[65] & 8, 8);
  EXPECT_EQ(rec_score(out.data()), 31000);
  EXPECT_EQ(out[POS_RECORD_BYTES + 65] & 8, 8);
  g.rec.score = {30999, -30999};
  out.clear();
  ASSERT_TRUE(unpack_game(g.rec, out, err));
  EXPECT_EQ(out[65] & 8, 0);
  EXPECT_EQ(out[POS_RECORD_BYTES + 65] & 8, 0);
}

TEST(DatagenFile, UnsoundFensAreRefused) {
  const char* bad[] = {
      "",
      "garbage",
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1",                 // seven ranks
      "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",        // rank of nine
      "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",       // nine pawns on a rank
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1BNR w kq - 0 1",          // no white king
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBKKBNR w kq - 0 1",          // two white kings
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1",        // unknown letter
      "Pnbqkbnr/pppppppp/8/8/8/8/1PPPPPPP/RNBQKBNR w KQkq - 0 1",        // pawn on the last rank
      "QQQQkQQQ/QQQQQQQQ/8/8/8/8/8/QQQQKQQQ w - - 0 1",                  // unreachable material
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1",        // side to move
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkqz - 0 1",       // castling field
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e5 0 1",       // en-passant square
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - x 1",        // counters
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 extra",  // seven fields
      "4k3/4R3/8/8/8/8/8/4K3 w - - 0 1",                                 // side not to move in check
  };
  for (const char* fen : bad) {
    std::string err;
    EXPECT_FALSE(fen_is_sound(fen, err)) << fen;
    EXPECT_FALSE(err.empty()) << fen;
    GameRecord g;
    g.fen = fen;
    g.index = {0};
    g.score = {0};
    std::vector<uint8_t> out;
    EXPECT_FALSE(unpack_game(g, out, err)) << fen;
    EXPECT_TRUE(out.empty());
  }
  std::string err;
  EXPECT_TRUE(fen_is_sound(SPECIAL_FEN, err)) << err;
  EXPECT_TRUE(fen_is_sound("4k3/8/8/8/8/8/8/4K3 b - -", err)) << err;
}

TEST(DatagenFile, MoveIndexOutOfRangeKeepsEarlierRecordsOnly) {
  Played g = play_text(START_FEN, {"e2e4", "e7e5", "g1f3"}, RESULT_DRAW);
  std::vector<uint8_t> out(POS_RECORD_BYTES, 0xAA);  // records of an earlier game stay
  g.rec.index[2] = 200;
  std::string err;
  EXPECT_FALSE(unpack_game(g.rec, out, err));
  EXPECT_NE(err.find("out of range"), std::string::npos) << err;
  EXPECT_EQ(out.size(), POS_RECORD_BYTES);
  // A mated side has no moves: any index is out of range.
  Played mate = play_text(START_FEN, {"f2f3", "e7e5", "g2g4", "d8h4"}, RESULT_BLACK_WON);
  mate.rec.index.push_back(0);
  mate.rec.score.push_back(0);
  out.clear();
  EXPECT_FALSE(unpack_game(mate.rec, out, err));
  EXPECT_TRUE(out.empty());
}

TEST(DatagenFile, DamagedRawBlocksAreRejected) {
  const Played g = play_text(START_FEN, {"e2e4", "e7e5"}, RESULT_DRAW);
  std::vector<uint8_t> raw;
  append_game(raw, g.rec);
  std::vector<GameRecord> games;
  std::string err;
  ASSERT_TRUE(parse_games(raw.data(), raw.size(), games, err));
  ASSERT_EQ(games.size(), 1u);
  for (size_t cut = 0; cut < raw.size(); cut++) {  // every truncation of the only game
    games.clear();
    EXPECT_EQ(parse_games(raw.data(), cut, games, err), cut == 0) << cut;
    EXPECT_TRUE(games.empty());
  }
  std::vector<uint8_t> bad = raw;
  bad[1 + g.rec.fen.size()] = 3;  // result
  games.clear();
  EXPECT_FALSE(parse_games(bad.data(), bad.size(), games, err));
  bad = raw;
  bad[0] = 0;  // empty FEN
  EXPECT_FALSE(parse_games(bad.data(), bad.size(), games, err));
}

class DatagenDamagedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    for (unsigned s = 20; s < 24; s++) played_.push_back(play_random(s, 30));
    write_file(good_, {{played_[0].rec, played_[1].rec}, {played_[2].rec, played_[3].rec}});
    bytes_ = read_bytes(good_);
    ASSERT_GT(bytes_.size(), 2 * BLOCK_HEADER_BYTES);
    GameFileReader r(good_);
    std::vector<GameRecord> g;
    ASSERT_TRUE(r.next_block(g));
    first_block_end_ = BLOCK_HEADER_BYTES + (bytes_[4] | bytes_[5] << 8 | bytes_[6] << 16 | size_t(bytes_[7]) << 24);
  }
  void TearDown() override {
    std::remove(good_.c_str());
    std::remove(bad_.c_str());
  }
  std::vector<Played> played_;
  std::string good_ = temp_path("good.qgd"), bad_ = temp_path("bad.qgd");
  std::vector<uint8_t> bytes_;
  size_t first_block_end_ = 0;
};

TEST_F(DatagenDamagedFile, TruncationKeepsWholeBlocksOnly) {
  for (size_t cut = 0; cut <= bytes_.size(); cut++) {
    write_bytes(bad_, bytes_.data(), cut);
    const ReadResult r = read_all(bad_);
    const size_t want = cut < first_block_end_ ? 0 : cut < bytes_.size() ? 2 : 4;
    ASSERT_EQ(r.games.size(), want) << "cut at " << cut;
    EXPECT_EQ(r.unpacked_games, want);
    const bool clean = cut == 0 || cut == first_block_end_ || cut == bytes_.size();
    EXPECT_EQ(r.error.empty(), clean) << "cut at " << cut << ": " << r.error;
  }
}

TEST_F(DatagenDamagedFile, FlippedBytesNeverGiveWrongGames) {
  for (size_t at = 0; at < bytes_.size(); at++) {
    for (uint8_t mask : {uint8_t(0x01), uint8_t(0xFF)}) {
      std::vector<uint8_t> b = bytes_;
      b[at] ^= mask;
      write_bytes(bad_, b.data(), b.size());
      const ReadResult r = read_all(bad_, false);
      // Whatever is returned is exactly what was written; a damaged block and everything
      // after it is refused with a message (zlib's checksum catches flips in the data).
      ASSERT_LE(r.games.size(), played_.size()) << "byte " << at;
      for (size_t g = 0; g < r.games.size(); g++) {
        EXPECT_EQ(r.games[g].fen, played_[g].rec.fen);
        EXPECT_EQ(r.games[g].result, played_[g].rec.result);
        EXPECT_EQ(r.games[g].index, played_[g].rec.index);
        EXPECT_EQ(r.games[g].score, played_[g].rec.score);
      }
      EXPECT_TRUE(r.games.size() == played_.size() || !r.error.empty()) << "byte " << at;
      if (at < first_block_end_ && !r.error.empty()) {
        EXPECT_TRUE(r.games.empty()) << "byte " << at;
      }
    }
  }
}

TEST_F(DatagenDamagedFile, BadMagicAndMissingFile) {
  std::vector<uint8_t> b = bytes_;
  b[first_block_end_] = 'X';
  write_bytes(bad_, b.data(), b.size());
  ReadResult r = read_all(bad_);
  EXPECT_EQ(r.games.size(), 2u);
  EXPECT_NE(r.error.find("magic"), std::string::npos) << r.error;

  b = bytes_;
  b[8] = 0xFF;  // raw size of the first block far too large
  b[11] = 0xFF;
  write_bytes(bad_, b.data(), b.size());
  r = read_all(bad_);
  EXPECT_TRUE(r.games.empty());
  EXPECT_FALSE(r.error.empty());

  r = read_all(temp_path("no-such-file.qgd"));
  EXPECT_TRUE(r.games.empty());
  EXPECT_NE(r.error.find("cannot open"), std::string::npos);
}

}  // namespace
