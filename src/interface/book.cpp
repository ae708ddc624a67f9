#include "interface/book.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/options.h"

namespace quorix {

namespace {

constexpr int RECORD_BYTES = 16;

void print_errno() { std::fprintf(stderr, "%s\n", std::strerror(errno)); }

}  // namespace

BookRecord decode_book_record(const unsigned char* b) {
  BookRecord r;
  for (int i = 0; i < 8; i++) r.key = (r.key << 8) | b[i];
  r.move = uint16_t((b[8] << 8) | b[9]);
  r.weight = uint16_t((b[10] << 8) | b[11]);
  r.learn = (uint32_t(b[12]) << 24) | (uint32_t(b[13]) << 16) | (uint32_t(b[14]) << 8) | b[15];
  return r;
}

std::string book_move_text(const Position& p, uint16_t field, bool translate_castling) {
  if ((field & 0xFFF) == 0) return "0000";
  const int to_file = field & 7, to_rank = (field >> 3) & 7;
  const int from_file = (field >> 6) & 7, from_rank = (field >> 9) & 7;
  const int promo = (field >> 12) & 7;
  std::string t;
  t += char('a' + from_file);
  t += char('1' + from_rank);
  t += char('a' + to_file);
  t += char('1' + to_rank);
  // Codes 5..7 do not exist; "?" keeps such a record from matching any move.
  if (promo) t += "nbrq???"[promo - 1];
  if (translate_castling) {
    if (p.board[4] == make_piece(WHITE, KING)) {
      if (t == "e1h1") t = "e1g1";
      else if (t == "e1a1") t = "e1c1";
    }
    if (p.board[60] == make_piece(BLACK, KING)) {
      if (t == "e8h8") t = "e8g8";
      else if (t == "e8a8") t = "e8c8";
    }
  }
  return t;
}

// ---- the book file ----

bool PolyglotBook::open(const std::string& path) {
  close();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  file_ = f;
  return true;
}

void PolyglotBook::adopt(std::FILE* f) {
  close();
  file_ = f;
}

void PolyglotBook::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

PolyglotBook::Io PolyglotBook::read_at(uint64_t index, BookRecord& r) {
  if (fseeko(file_, off_t(index * RECORD_BYTES), SEEK_SET) != 0) return Io::SEEK;
  return read_next(r);
}

PolyglotBook::Io PolyglotBook::read_next(BookRecord& r) {
  unsigned char b[RECORD_BYTES];
  if (std::fread(b, 1, RECORD_BYTES, file_) != RECORD_BYTES) return Io::READ;
  r = decode_book_record(b);
  return Io::OK;
}

void PolyglotBook::fail(Io what, const char* seek_message, const char* read_message, bool close_book) {
  if (what == Io::SEEK) {
    print_errno();
    std::fputs(seek_message, stderr);
  } else {
    std::fputs(read_message, stderr);
  }
  std::fflush(stderr);
  // The stream's position is unknown now; a later probe would read nonsense.
  if (close_book) close();
}

bool PolyglotBook::find(uint64_t key, std::vector<BookRecord>& out) {
  if (!file_) return true;
  std::clearerr(file_);
  const size_t first_out = out.size();
  auto give_up = [&](Io what, const char* seek_message, const char* read_message, bool close_book) {
    fail(what, seek_message, read_message, close_book);
    out.resize(first_out);
    return false;
  };
  // The size is taken at every probe: the file may have changed since it was opened.
  off_t size = -1;
  if (fseeko(file_, 0, SEEK_END) == 0) size = ftello(file_);
  if (size < 0)
    return give_up(Io::SEEK, "Error with initial fseek of opening book\n", "", true);
  const uint64_t n = uint64_t(size) / RECORD_BYTES;

  // Binary search for any record with the key.
  uint64_t lo = 0, hi = n, found = n;
  BookRecord r;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    const Io io = read_at(mid, r);
    if (io != Io::OK)
      return give_up(io, "info Error with fseek in binary search\n", "info Error with fread opening book\n", false);
    if (r.key == key) {
      found = mid;
      break;
    }
    if (r.key < key) lo = mid + 1;
    else hi = mid;
  }
  if (found == n) return true;

  // Back up to the first record of the run.
  uint64_t first = found;
  while (first > 0 && found - first < uint64_t(MAX_RUN)) {
    const Io io = read_at(first - 1, r);
    if (io != Io::OK) return give_up(io, "Error with fseek in back up\n", "Error with fread opening book\n", true);
    if (r.key != key) break;
    first--;
  }

  // Collect the run.
  if (fseeko(file_, off_t(first * RECORD_BYTES), SEEK_SET) != 0)
    return give_up(Io::SEEK, "Error with fseek in collection\n", "", true);
  for (uint64_t i = first; i < n && out.size() - first_out < size_t(MAX_RUN); i++) {
    const Io io = read_next(r);
    if (io != Io::OK) return give_up(io, "Error with fseek in collection\n", "Error with fread opening book\n", true);
    if (r.key != key) break;
    out.push_back(r);
  }
  return true;
}

// ---- choosing a move ----

std::vector<BookCandidate> book_candidates(const Position& p, const std::vector<BookRecord>& records,
                                           bool chess960) {
  std::vector<BookCandidate> out;
  Move legal[MAX_MOVES];
  char texts[MAX_MOVES][8];
  int count = 0;
  bool generated = false;
  for (const BookRecord& rec : records) {
    if (rec.weight == 0) continue;
    if (!generated) {
      generated = true;
      count = legal_moves(p, legal);
      for (int i = 0; i < count; i++) move_to_text(p, legal[i], texts[i]);
    }
    const std::string text = book_move_text(p, rec.move, !chess960);
    int i = 0;
    while (i < count && text != texts[i]) i++;
    if (i == count) return {};  // a move the position does not allow: the entry is not for this position
    out.push_back({legal[i], rec.weight});
  }
  return out;
}

Move book_choose(std::vector<BookCandidate> c, bool best_line, int v) {
  if (best_line && c.size() >= 2) {
    std::stable_sort(c.begin(), c.end(),
                     [](const BookCandidate& a, const BookCandidate& b) { return a.weight > b.weight; });
    size_t keep = 1;
    while (keep < c.size() && c[keep].weight == c[0].weight) keep++;
    c.resize(keep);
  }
  uint64_t total = 0;
  for (const BookCandidate& x : c) total += x.weight;
  if (total == 0) return 0;
  // r stays below the total, so some candidate is always reached.
  const uint64_t r = uint64_t(std::clamp(v, 0, 32767)) * total / 32768;
  uint64_t sum = 0;
  for (const BookCandidate& x : c) {
    sum += x.weight;
    if (sum > r) return x.move;
  }
  return 0;
}

int book_move_limit(int book_moves, int skill) {
  if (skill < 25) return std::min(book_moves, std::max(skill, 2) - 2);
  return book_moves;
}

// ---- the engine's book ----

namespace {

PolyglotBook g_book;
std::string g_notice;  // pending message about a book file that could not be opened

}  // namespace

void book_reopen() {
  g_book.close();
  g_notice.clear();
  const std::string& path = opt::book_file;
  // GUIs send "<empty>" (or nothing) for an empty text: no book, nothing to report.
  if (opt::book_moves == 0 || path.empty() || path == "<empty>") return;
  if (!g_book.open(path)) g_notice = "info string failed to open " + path + "\n";
}

void book_print_notice() {
  if (g_notice.empty()) return;
  std::fputs(g_notice.c_str(), stdout);
  std::fflush(stdout);
  g_notice.clear();
}

bool book_is_open() { return g_book.is_open(); }

Move book_probe(const Position& root) {
  if (!g_book.is_open() || !opt::own_book) return 0;
  if (int(root.ply) / 2 >= book_move_limit(opt::book_moves, opt::skill)) return 0;
  std::vector<BookRecord> records;
  if (!g_book.find(polyglot_key(root), records) || records.empty()) return 0;
  std::vector<BookCandidate> c = book_candidates(root, records, opt::chess960 != 0);
  if (c.empty()) return 0;
  return book_choose(std::move(c), opt::best_book_line != 0, std::rand() & 0x7FFF);
}

}  // namespace quorix
