// Opening book in the Polyglot format: 16-byte big-endian records (key, move,
// weight, learn) sorted by key. The file is read in place; it is never trusted:
// any size, order or content gives a move or no move, never a read outside it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix {

struct BookRecord {
  uint64_t key = 0;
  uint16_t move = 0;
  uint16_t weight = 0;
  uint32_t learn = 0;
};

// Decodes one 16-byte record.
BookRecord decode_book_record(const unsigned char* bytes);

// Text of a book move field: from and to squares plus the promotion letter
// ("0000" for an empty field). Book castling is written as king takes own rook;
// with translate_castling it becomes the king's two-square step when that king
// stands on its start square (e1 / e8) in p.
std::string book_move_text(const Position& p, uint16_t field, bool translate_castling);

// An open book file. Reads go through the stdio stream; every failure is
// reported on standard error, and failures that leave the position in the file
// unknown close the book.
class PolyglotBook {
 public:
  // Limits the records read for one key (a sound book has far fewer).
  static constexpr int MAX_RUN = 4096;

  PolyglotBook() = default;
  ~PolyglotBook() { close(); }
  PolyglotBook(const PolyglotBook&) = delete;
  PolyglotBook& operator=(const PolyglotBook&) = delete;

  // Opens path for reading (closing any open book first). Only regular files are
  // accepted. Returns false when the file cannot be opened.
  bool open(const std::string& path);
  // Takes ownership of an already open stream (lets tests supply failing streams).
  void adopt(std::FILE* f);
  void close();
  bool is_open() const { return file_ != nullptr; }

  // Appends the records stored for key, in file order, to out (at most MAX_RUN).
  // Returns false after a read or seek failure (the message is printed; out is
  // then left empty).
  bool find(uint64_t key, std::vector<BookRecord>& out);

 private:
  enum class Io { OK, SEEK, READ };
  Io read_at(uint64_t index, BookRecord& r);
  Io read_next(BookRecord& r);
  void fail(Io what, const char* seek_message, const char* read_message, bool close_book);

  std::FILE* file_ = nullptr;
};

struct BookCandidate {
  Move move;
  uint32_t weight;
};

// Candidate moves of p from the records of its key: records of weight 0 are
// skipped; a record whose move is not legal in p makes the whole list empty.
// Book castling is translated unless Chess960 move text is in use.
std::vector<BookCandidate> book_candidates(const Position& p, const std::vector<BookRecord>& records,
                                           bool chess960);

// Weighted choice among candidates with a draw v in 0..32767. With best_line only
// the candidates sharing the highest weight take part. 0 when there is none.
Move book_choose(std::vector<BookCandidate> candidates, bool best_line, int v);

// Number of moves of each side (root ply / 2) below which the book is used.
int book_move_limit(int book_moves, int skill);

// The engine's book: the file named by "Book File".
// Closes the open book and opens "Book File" unless "Book Moves" is 0 (see option_hooks.h).
void book_reopen();
// Prints the pending "could not open" notice, if any, once.
void book_print_notice();
// Book move for the root from the open book under the current options, 0 for none.
Move book_probe(const Position& root);
// Whether the engine's book file is open.
bool book_is_open();

}  // namespace quorix
