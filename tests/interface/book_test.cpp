// The opening book: reference entries of the test books, move choice, the
// book-move limit, damaged and hostile files, and failing reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/book.h"
#include "test_util.h"

namespace quorix {
namespace {

const std::string kBookDir = test::shared_dir() + "/testdata/polyglot/";

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_record(std::vector<unsigned char>& out, uint64_t key, uint16_t move, uint16_t weight, uint32_t learn = 0) {
  for (int i = 7; i >= 0; i--) out.push_back(uint8_t(key >> (8 * i)));
  out.push_back(uint8_t(move >> 8));
  out.push_back(uint8_t(move));
  out.push_back(uint8_t(weight >> 8));
  out.push_back(uint8_t(weight));
  for (int i = 3; i >= 0; i--) out.push_back(uint8_t(learn >> (8 * i)));
}

// Book move field of a move given as text ("e2e4", "e7e8q").
uint16_t field(const char* t) {
  int promo = 0;
  if (t[4]) promo = int(std::strchr("nbrq", t[4]) - "nbrq") + 1;
  return uint16_t((promo << 12) | ((t[1] - '1') << 9) | ((t[0] - 'a') << 6) | ((t[3] - '1') << 3) | (t[2] - 'a'));
}

// A book file in the temporary directory, removed at the end of the test.
class TempBook {
 public:
  explicit TempBook(const std::vector<unsigned char>& bytes) {
    static int serial = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("quorix_book_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + ".bin"))
                .string();
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  ~TempBook() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::vector<BookRecord> find_all(const std::string& path, uint64_t key) {
  PolyglotBook b;
  EXPECT_TRUE(b.open(path)) << path;
  std::vector<BookRecord> out;
  EXPECT_TRUE(b.find(key, out));
  return out;
}

std::vector<std::string> legal_texts(const Position& p) {
  Move legal[MAX_MOVES];
  const int n = legal_moves(p, legal);
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) out.push_back(move_to_text(p, legal[i]));
  return out;
}

const char* kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Every block of the reference file: the records for the key, their move texts in
// book form and UCI form, and the candidate list built from them.
TEST(Book, ReproducesReferenceEntries) {
  std::ifstream in(kBookDir + "book-expected.txt");
  ASSERT_TRUE(in.good());
  struct Entry { std::string pg, uci; unsigned weight; uint32_t learn; unsigned raw; bool legal; };
  std::string line, name, book, fen;
  uint64_t key = 0;
  std::vector<Entry> expected;
  int blocks = 0;
  static Position p;
  while (std::getline(in, line)) {
    std::istringstream ss(line);
    std::string tag;
    ss >> tag;
    if (tag == "position") ss >> name, expected.clear();
    else if (tag == "book") ss >> book;
    else if (tag == "fen") fen = line.substr(4);
    else if (tag == "key") { std::string h; ss >> h; key = std::stoull(h, nullptr, 16); }
    else if (tag == "entry") {
      Entry e;
      std::string raw, legal;
      ss >> e.pg >> e.uci >> e.weight >> e.learn >> raw >> legal;
      e.raw = unsigned(std::stoul(raw, nullptr, 16));
      e.legal = legal == "legal";
      expected.push_back(e);
    } else if (tag == "end") {
      SCOPED_TRACE(name);
      blocks++;
      test::setup(p, fen);
      ASSERT_EQ(polyglot_key(p), key);
      const std::vector<BookRecord> recs = find_all(kBookDir + book, key);
      ASSERT_EQ(recs.size(), expected.size());
      const std::vector<std::string> legal = legal_texts(p);
      bool all_legal = true;
      for (size_t i = 0; i < recs.size(); i++) {
        const Entry& e = expected[i];
        EXPECT_EQ(recs[i].key, key);
        EXPECT_EQ(recs[i].move, e.raw);
        EXPECT_EQ(recs[i].weight, e.weight);
        EXPECT_EQ(recs[i].learn, e.learn);
        EXPECT_EQ(book_move_text(p, recs[i].move, false), e.pg);
        const std::string uci = book_move_text(p, recs[i].move, true);
        EXPECT_EQ(uci, e.uci);
        EXPECT_EQ(std::count(legal.begin(), legal.end(), uci) == 1, e.legal);
        all_legal = all_legal && e.legal;
      }
      const std::vector<BookCandidate> c = book_candidates(p, recs, false);
      if (all_legal) {
        ASSERT_EQ(c.size(), recs.size());
        for (size_t i = 0; i < c.size(); i++) {
          EXPECT_EQ(move_to_text(p, c[i].move), expected[i].uci);
          EXPECT_EQ(c[i].weight, expected[i].weight);
        }
      } else {
        EXPECT_TRUE(c.empty());
      }
    }
  }
  EXPECT_EQ(blocks, 14);
}

// A small synthetic book around the start position's key.
TEST(Book, SearchFindsRunsAndMisses) {
  static Position p;
  test::setup(p, kStart);
  const uint64_t k = polyglot_key(p);
  std::vector<unsigned char> bytes;
  put_record(bytes, 1, field("a2a3"), 1);
  put_record(bytes, k - 1, field("a2a3"), 1);
  put_record(bytes, k, field("e2e4"), 5);
  put_record(bytes, k, field("d2d4"), 3);
  put_record(bytes, k, field("g1f3"), 0);
  put_record(bytes, k + 1, field("a2a3"), 1);
  put_record(bytes, ~0ULL - 1, field("a2a3"), 1);

  TempBook book(bytes);
  EXPECT_EQ(find_all(book.path(), k).size(), 3u);
  for (uint64_t miss : {uint64_t(0), uint64_t(2), k - 2, k + 2, ~uint64_t(0)})  // below, between, above every key
    EXPECT_TRUE(find_all(book.path(), miss).empty()) << miss;
  EXPECT_EQ(find_all(book.path(), ~0ULL - 1).size(), 1u);  // the last record
  EXPECT_EQ(find_all(book.path(), 1).size(), 1u);           // the first record

  // A run that starts at record 0 and fills the whole file.
  std::vector<unsigned char> same;
  for (int i = 0; i < 37; i++) put_record(same, k, field("e2e4"), uint16_t(i + 1));
  TempBook whole(same);
  const std::vector<BookRecord> recs = find_all(whole.path(), k);
  ASSERT_EQ(recs.size(), 37u);
  EXPECT_EQ(recs.front().weight, 1);
  EXPECT_EQ(recs.back().weight, 37);

  // Trailing bytes that do not make a whole record are never read; a file shorter
  // than one record has no records.
  std::vector<unsigned char> odd = bytes;
  odd.resize(odd.size() - 9);  // the last record is cut
  TempBook cut(odd);
  EXPECT_TRUE(find_all(cut.path(), ~0ULL - 1).empty());
  EXPECT_EQ(find_all(cut.path(), k).size(), 3u);
  for (size_t len : {size_t(0), size_t(1), size_t(15)}) {
    TempBook tiny(std::vector<unsigned char>(bytes.begin(), bytes.begin() + long(len)));
    EXPECT_TRUE(find_all(tiny.path(), 1).empty()) << len;
  }
}

TEST(Book, OpenRejectsMissingFilesAndDirectories) {
  PolyglotBook b;
  EXPECT_FALSE(b.open("/nonexistent/quorix/book.bin"));
  EXPECT_FALSE(b.open(std::filesystem::temp_directory_path().string()));
  EXPECT_FALSE(b.is_open());
  EXPECT_TRUE(b.open(kBookDir + "lasker-trap.bin"));
  EXPECT_TRUE(b.is_open());
}

TEST(Book, CandidatesNeedEveryWeightedMoveLegal) {
  static Position p;
  test::setup(p, kStart);
  auto recs = [](std::initializer_list<std::pair<const char*, int>> moves) {
    std::vector<BookRecord> out;
    for (auto [t, w] : moves) out.push_back({0, field(t), uint16_t(w), 0});
    return out;
  };
  EXPECT_EQ(book_candidates(p, recs({{"e2e4", 4}, {"d2d4", 2}}), false).size(), 2u);
  // One move the position does not allow spoils the list, wherever it stands.
  EXPECT_TRUE(book_candidates(p, recs({{"e2e4", 4}, {"e2e5", 2}}), false).empty());
  EXPECT_TRUE(book_candidates(p, recs({{"e7e5", 1}, {"e2e4", 4}}), false).empty());
  // Records of weight 0 take no part, even illegal ones.
  EXPECT_EQ(book_candidates(p, recs({{"e2e4", 4}, {"e2e5", 0}}), false).size(), 1u);
  EXPECT_TRUE(book_candidates(p, recs({{"e2e4", 0}, {"d2d4", 0}}), false).empty());
  // An empty move field and the promotion codes that do not exist match nothing.
  std::vector<BookRecord> bad = {{0, 0, 1, 0}};
  EXPECT_TRUE(book_candidates(p, bad, false).empty());
  bad[0].move = uint16_t(field("e2e4") | (5 << 12));
  EXPECT_EQ(book_move_text(p, bad[0].move, true), "e2e4?");
  EXPECT_TRUE(book_candidates(p, bad, false).empty());

  // Castling: translated when the king stands on its start square, not otherwise;
  // with Chess960 move text the book form is the engine's own.
  test::setup(p, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  EXPECT_EQ(book_move_text(p, field("e1h1"), true), "e1g1");
  EXPECT_EQ(book_move_text(p, field("e1a1"), true), "e1c1");
  EXPECT_EQ(book_move_text(p, field("e8h8"), true), "e8g8");
  EXPECT_EQ(book_move_text(p, field("e8a8"), true), "e8c8");
  EXPECT_EQ(book_candidates(p, recs({{"e1h1", 1}, {"e1a1", 1}}), false).size(), 2u);
  test::setup(p, "r3k2r/8/8/8/8/8/8/R2K3R w kq - 0 1");
  EXPECT_EQ(book_move_text(p, field("e1h1"), true), "e1h1");
}

TEST(Book, WeightedChoice) {
  const Move a = make_move_code(12, 28), b = make_move_code(11, 27), c = make_move_code(6, 21);
  const std::vector<BookCandidate> cands = {{c, 5}, {a, 10}, {b, 10}};
  auto tally = [&](bool best_line) {
    std::map<Move, int> n;
    for (int v = 0; v < 32768; v++) n[book_choose(cands, best_line, v)]++;
    return n;
  };
  // Every draw picks a move, in proportion to the weights.
  std::map<Move, int> all = tally(false);
  EXPECT_EQ(all.count(0), 0u);
  EXPECT_NEAR(all[c], 32768 / 5, 2);
  EXPECT_NEAR(all[a], 2 * 32768 / 5, 2);
  EXPECT_NEAR(all[b], 2 * 32768 / 5, 2);
  // Best line: only the two heaviest, with equal chances.
  std::map<Move, int> best = tally(true);
  EXPECT_EQ(best.count(c), 0u);
  EXPECT_EQ(best.count(0), 0u);
  EXPECT_EQ(best[a], 16384);
  EXPECT_EQ(best[b], 16384);
  EXPECT_EQ(book_choose({{a, 7}}, true, 32767), a);
  EXPECT_EQ(book_choose({}, false, 0), 0);
  EXPECT_EQ(book_choose({{a, 0}}, false, 0), 0);
}

TEST(Book, MoveLimitFollowsSkill) {
  struct Case { int book_moves, skill, limit; };
  const Case cases[] = {{1000, 25, 1000}, {1000, 20, 18}, {1000, 2, 0}, {1000, 1, 0}, {1000, 0, 0},
                        {5, 20, 5},       {0, 25, 0},      {0, 20, 0},   {7, 25, 7}};
  for (const Case& c : cases)
    EXPECT_EQ(book_move_limit(c.book_moves, c.skill), c.limit) << c.book_moves << " " << c.skill;
}

// ---- failing streams ----

// A stream over bytes in memory whose n-th seek or n-th read fails.
struct FailingSource {
  std::vector<unsigned char> bytes;
  off64_t pos = 0;
  int seeks = 0, reads = 0;
  int fail_seek = -1, fail_read = -1;

  static ssize_t read(void* c, char* buf, size_t size) {
    auto* s = static_cast<FailingSource*>(c);
    if (++s->reads == s->fail_read) {
      errno = EIO;
      return -1;
    }
    const off64_t left = off64_t(s->bytes.size()) - s->pos;
    const size_t n = left > 0 ? std::min(size, size_t(left)) : 0;
    std::memcpy(buf, s->bytes.data() + s->pos, n);
    s->pos += off64_t(n);
    return ssize_t(n);
  }
  static int seek(void* c, off64_t* off, int whence) {
    auto* s = static_cast<FailingSource*>(c);
    if (++s->seeks == s->fail_seek) {
      errno = ESPIPE;
      return -1;
    }
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->pos : off64_t(s->bytes.size());
    s->pos = base + *off;
    *off = s->pos;
    return 0;
  }
  std::FILE* open() {
    cookie_io_functions_t io{};
    io.read = &FailingSource::read;
    io.seek = &FailingSource::seek;
    std::FILE* f = fopencookie(this, "rb", io);
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
  }
};

// A read or seek failure at any point of a probe gives no records and a message;
// failures after the binary search close the book (the engine goes on without
// it), failures in the binary search leave it open. Nothing ends the process.
TEST(Book, ReadAndSeekFailuresAreSurvived) {
  static Position p;
  test::setup(p, kStart);
  const uint64_t k = polyglot_key(p);
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 40; i++) put_record(bytes, uint64_t(i) * 1000, field("a2a3"), 1);
  for (int i = 0; i < 6; i++) put_record(bytes, k, field("e2e4"), 1);
  for (int i = 0; i < 40; i++) put_record(bytes, k + 1 + uint64_t(i), field("a2a3"), 1);

  const char* kept_open[] = {"info Error with fseek in binary search\n", "info Error with fread opening book\n"};
  const char* closing[] = {"Error with initial fseek of opening book\n", "Error with fseek in back up\n",
                           "Error with fread opening book\n", "Error with fseek in collection\n"};
  std::map<std::string, int> seen;
  for (int kind = 0; kind < 2; kind++) {
    for (int n = 1;; n++) {
      FailingSource src;
      src.bytes = bytes;
      (kind == 0 ? src.fail_seek : src.fail_read) = n;
      PolyglotBook book;
      book.adopt(src.open());
      std::vector<BookRecord> out;
      testing::internal::CaptureStderr();
      const bool ok = book.find(k, out);
      const std::string err = testing::internal::GetCapturedStderr();
      if (ok) {  // past the last seek or read of a probe
        EXPECT_EQ(out.size(), 6u);
        EXPECT_TRUE(err.empty());
        EXPECT_GT(n, 2);
        break;
      }
      SCOPED_TRACE(err);
      EXPECT_TRUE(out.empty());
      const std::string last = err.substr(err.rfind('\n', err.size() - 2) + 1);
      bool open_message = std::count(std::begin(kept_open), std::end(kept_open), last) > 0 &&
                          last.rfind("info ", 0) == 0;
      bool close_message = std::count(std::begin(closing), std::end(closing), last) > 0;
      ASSERT_TRUE(open_message || close_message);
      EXPECT_EQ(book.is_open(), open_message);
      // A seek failure also names the system's reason on the line before.
      if (kind == 0) {
        EXPECT_NE(err.find('\n'), err.size() - 1);
      }
      seen[last]++;
      if (book.is_open()) {  // the next probe works again
        out.clear();
        EXPECT_TRUE(book.find(k, out));
        EXPECT_EQ(out.size(), 6u);
      }
    }
  }
  for (const char* m : kept_open) EXPECT_GT(seen[m], 0) << m;
  for (const char* m : closing) EXPECT_GT(seen[m], 0) << m;
}

// ---- hostile files ----

// Truncated, bit-flipped and random books: every probe ends, reads stay inside
// the file (the sanitizer builds check that) and any move chosen is legal.
TEST(Book, DamagedAndRandomFilesAreHarmless) {
  static Position pos[4];
  const char* fens[] = {kStart, "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1",
                        "rnbqk1nr/ppp2ppp/8/4P3/1BP5/8/PP2KpPP/RN1Q1BNR b kq - 1 7",
                        "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"};
  uint64_t keys[4];
  for (int i = 0; i < 4; i++) {
    test::setup(pos[i], fens[i]);
    keys[i] = polyglot_key(pos[i]);
  }
  auto probe_all = [&](const std::vector<unsigned char>& bytes) {
    TempBook file(bytes);
    PolyglotBook book;
    if (!book.open(file.path())) return;
    for (int i = 0; i < 4; i++) {
      std::vector<BookRecord> recs;
      if (!book.find(keys[i], recs)) continue;
      ASSERT_LE(recs.size(), size_t(PolyglotBook::MAX_RUN));
      for (const BookRecord& r : recs) ASSERT_EQ(r.key, keys[i]);
      for (int v : {0, 16384, 32767}) {
        const Move m = book_choose(book_candidates(pos[i], recs, false), i & 1, v);
        if (!m) continue;
        Position child;
        ASSERT_TRUE(is_pseudo_legal(pos[i], m));
        ASSERT_TRUE(make_move(pos[i], child, m));
      }
    }
  };

  std::mt19937_64 rng(20261210);
  const std::vector<unsigned char> lasker = read_bytes(kBookDir + "lasker-trap.bin");
  ASSERT_EQ(lasker.size(), 7u * 16);
  for (size_t len = 0; len <= lasker.size(); len++)
    probe_all(std::vector<unsigned char>(lasker.begin(), lasker.begin() + long(len)));
  // A slice of the large book around the start position, truncated and flipped.
  const std::vector<unsigned char> big = read_bytes(kBookDir + "performance.bin");
  ASSERT_GT(big.size(), 16u * 4096);
  std::vector<unsigned char> slice(big.begin(), big.begin() + 16 * 4096);
  for (int i = 0; i < 3; i++) put_record(slice, keys[0], field("e2e4"), 1);
  for (int round = 0; round < 60; round++) {
    std::vector<unsigned char> b = round < 30 ? lasker : slice;
    const int flips = 1 + int(rng() % 24);
    for (int f = 0; f < flips; f++) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
    if (round % 3 == 0) b.resize(rng() % (b.size() + 1));
    probe_all(b);
  }
  // Random files, some made of records that carry the probed keys (long runs,
  // any move field, any order).
  for (int round = 0; round < 60; round++) {
    std::vector<unsigned char> b;
    if (round % 2 == 0) {
      b.resize(rng() % 2048);
      for (auto& x : b) x = uint8_t(rng());
    } else {
      std::vector<BookRecord> recs(rng() % 300);
      for (auto& r : recs) r = {keys[rng() % 4], uint16_t(rng()), uint16_t(rng() % 3), uint32_t(rng())};
      if (round % 4 == 1)
        std::sort(recs.begin(), recs.end(), [](const BookRecord& x, const BookRecord& y) { return x.key < y.key; });
      for (const auto& r : recs) put_record(b, r.key, r.move, r.weight, r.learn);
      b.resize(b.size() + rng() % 16);
    }
    probe_all(b);
  }
}

}  // namespace
}  // namespace quorix
