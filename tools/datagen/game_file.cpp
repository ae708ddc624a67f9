#include "game_file.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "board/makemove.h"
#include "board/movegen.h"

namespace quorix::datagen {

namespace {

void put_u16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put_u32(uint8_t* p, uint32_t x) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(x >> (8 * i));
}
uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t get_u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

constexpr uint8_t MAGIC[4] = {'Q', 'G', 'D', 'B'};

bool parse_count(const std::string& s, long max) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return std::stol(s) <= max;
}

}  // namespace

int sorted_legal_moves(const Position& p, Move* out) {
  const int k = legal_moves(p, out);
  std::sort(out, out + k);
  return k;
}

bool fen_is_sound(const std::string& fen, std::string& err) {
  std::istringstream in(fen);
  std::string placement, side, castle, ep, half, full, extra;
  in >> placement >> side >> castle >> ep;
  if (ep.empty()) {
    err = "FEN has fewer than four fields";
    return false;
  }
  in >> half >> full >> extra;
  if (!extra.empty()) {
    err = "FEN has more than six fields";
    return false;
  }
  // Piece placement: eight ranks of exactly eight squares.
  int count[16] = {};
  int rank = 0, file = 0;
  for (char ch : placement) {
    if (ch == '/') {
      if (file != 8 || ++rank > 7) {
        err = "FEN rank does not hold eight squares";
        return false;
      }
      file = 0;
    } else if (ch >= '1' && ch <= '8') {
      file += ch - '0';
    } else {
      const char* hit = std::strchr(PIECE_CHARS, ch);
      if (!hit || ch == ' ') {
        err = std::string("unknown piece letter '") + ch + "' in FEN";
        return false;
      }
      const int pc = int(hit - PIECE_CHARS);
      if (piece_type(pc) == PAWN && (rank == 0 || rank == 7)) {
        err = "pawn on the first or last rank in FEN";
        return false;
      }
      count[pc]++;
      file++;
    }
    if (file > 8) {
      err = "FEN rank does not hold eight squares";
      return false;
    }
  }
  if (rank != 7 || file != 8) {
    err = "FEN placement does not have eight full ranks";
    return false;
  }
  for (int c = 0; c < 2; c++) {
    const int* n = count + c * 8;
    if (n[KING] != 1) {
      err = "FEN needs exactly one king per side";
      return false;
    }
    // Promoted pieces beyond the initial set must be paid for by missing pawns.
    const int extra_pieces = std::max(0, n[QUEEN] - 1) + std::max(0, n[ROOK] - 2) + std::max(0, n[BISHOP] - 2) +
                             std::max(0, n[KNIGHT] - 2);
    if (n[PAWN] > 8 || extra_pieces > 8 - n[PAWN]) {
      err = "FEN material cannot arise in a game";
      return false;
    }
  }
  if (side != "w" && side != "b") {
    err = "FEN side to move is not w or b";
    return false;
  }
  if (castle != "-") {
    if (castle.size() > 4) {
      err = "bad castling field in FEN";
      return false;
    }
    for (char ch : castle)
      if (!std::strchr("KQkqABCDEFGHabcdefgh", ch)) {
        err = "bad castling field in FEN";
        return false;
      }
  }
  if (ep != "-" && !(ep.size() == 2 && ep[0] >= 'a' && ep[0] <= 'h' && (ep[1] == '3' || ep[1] == '6'))) {
    err = "bad en-passant field in FEN";
    return false;
  }
  if ((!half.empty() && !parse_count(half, 9999)) || (!full.empty() && !parse_count(full, 99999))) {
    err = "bad move counters in FEN";
    return false;
  }
  Position p;
  set_fen(p, fen.c_str());
  if (king_attacked(p, p.side() ^ 1)) {
    err = "side not to move is in check in FEN";
    return false;
  }
  return true;
}

void setup_position(Position& p, const std::string& fen) {
  set_fen(p, fen.c_str());
  std::istringstream in(fen);
  std::string skip, half;
  in >> skip >> skip >> skip >> skip >> half;
  if (!half.empty() && parse_count(half, 9999)) p.fifty = int16_t(std::stoi(half));
}

void append_game(std::vector<uint8_t>& raw, const GameRecord& g) {
  raw.push_back(uint8_t(g.fen.size()));
  raw.insert(raw.end(), g.fen.begin(), g.fen.end());
  raw.push_back(g.result);
  put_u16(raw, uint32_t(g.index.size()));
  for (size_t i = 0; i < g.index.size(); i++) {
    raw.push_back(g.index[i]);
    put_u16(raw, uint16_t(g.score[i]));
  }
}

bool write_block(std::FILE* f, const std::vector<uint8_t>& raw, std::string& err) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(9);
  if (!c) {
    err = "cannot allocate the compressor";
    return false;
  }
  std::vector<uint8_t> out(BLOCK_HEADER_BYTES + libdeflate_zlib_compress_bound(c, raw.size()));
  const size_t n = libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data() + BLOCK_HEADER_BYTES,
                                            out.size() - BLOCK_HEADER_BYTES);
  libdeflate_free_compressor(c);
  if (n == 0) {
    err = "compression failed";
    return false;
  }
  std::memcpy(out.data(), MAGIC, 4);
  put_u32(out.data() + 4, uint32_t(n));
  put_u32(out.data() + 8, uint32_t(raw.size()));
  out.resize(BLOCK_HEADER_BYTES + n);
  if (std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fflush(f) != 0) {
    err = "write failed";
    return false;
  }
  return true;
}

GameFileReader::GameFileReader(const std::string& path) : path_(path) {
  f_ = std::fopen(path.c_str(), "rb");
  if (!f_) err_ = "cannot open " + path;
}

GameFileReader::~GameFileReader() {
  if (f_) std::fclose(f_);
}

bool GameFileReader::next_block(std::vector<GameRecord>& games) {
  if (!f_ || !err_.empty()) return false;
  auto fail = [&](const std::string& why) {
    err_ = path_ + ": " + why + " in block " + std::to_string(blocks_ + 1) + " at byte " + std::to_string(offset_) +
           "; rest of the file skipped";
    return false;
  };
  uint8_t head[BLOCK_HEADER_BYTES];
  const size_t got = std::fread(head, 1, sizeof head, f_);
  if (got == 0) return false;  // clean end
  if (got < sizeof head) return fail("truncated block header");
  if (std::memcmp(head, MAGIC, 4) != 0) return fail("bad block magic");
  const uint32_t csize = get_u32(head + 4), rsize = get_u32(head + 8);
  if (csize == 0 || csize > MAX_BLOCK_BYTES || rsize > MAX_BLOCK_BYTES) return fail("implausible block sizes");
  std::vector<uint8_t> comp(csize);
  if (std::fread(comp.data(), 1, csize, f_) != csize) return fail("truncated block data");
  std::vector<uint8_t> raw(rsize);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return fail("cannot allocate the decompressor");
  size_t used = 0, actual = 0;
  const libdeflate_result r = libdeflate_zlib_decompress_ex(d, comp.data(), csize, raw.data(), rsize, &used, &actual);
  libdeflate_free_decompressor(d);
  // The stream must fill the block exactly: a size field that grew would hide trailing bytes.
  if (r != LIBDEFLATE_SUCCESS || used != csize || actual != rsize) return fail("corrupt compressed data");
  std::string why;
  if (!parse_games(raw.data(), raw.size(), games, why)) return fail(why);
  offset_ += BLOCK_HEADER_BYTES + csize;
  blocks_++;
  return true;
}

bool parse_games(const uint8_t* raw, size_t size, std::vector<GameRecord>& games, std::string& err) {
  size_t at = 0;
  while (at < size) {
    GameRecord g;
    const size_t fen_len = raw[at];
    if (fen_len == 0 || size - at < 1 + fen_len + 3) {
      err = "truncated or empty game header";
      return false;
    }
    g.fen.assign(reinterpret_cast<const char*>(raw + at + 1), fen_len);
    at += 1 + fen_len;
    g.result = raw[at];
    const size_t n = get_u16(raw + at + 1);
    at += 3;
    if (g.result > RESULT_WHITE_WON) {
      err = "bad game result";
      return false;
    }
    if ((size - at) / 3 < n) {
      err = "truncated move records";
      return false;
    }
    g.index.resize(n);
    g.score.resize(n);
    for (size_t i = 0; i < n; i++, at += 3) {
      g.index[i] = raw[at];
      g.score[i] = int16_t(get_u16(raw + at + 1));
    }
    games.push_back(std::move(g));
  }
  return true;
}

bool unpack_game(const GameRecord& g, std::vector<uint8_t>& out, std::string& err) {
  if (!fen_is_sound(g.fen, err)) {
    err += " (\"" + g.fen + "\")";
    return false;
  }
  const size_t start = out.size();
  Position pos[2];
  setup_position(pos[0], g.fen);
  Move moves[MAX_MOVES];
  for (size_t ply = 0; ply < g.index.size(); ply++) {
    Position& cur = pos[ply & 1];
    Position& next = pos[(ply + 1) & 1];
    const int n = sorted_legal_moves(cur, moves);
    if (g.index[ply] >= n) {
      out.resize(start);
      err = "move index " + std::to_string(g.index[ply]) + " out of range (" + std::to_string(n) +
            " legal moves) at ply " + std::to_string(ply);
      return false;
    }
    const Move m = moves[g.index[ply]];
    const int kind = move_kind(m);
    const bool capture = kind == MK_EP || (kind != MK_CASTLE && cur.board[move_to(m)] != 0);
    const int score = g.score[ply];
    uint8_t rec[POS_RECORD_BYTES];
    std::memcpy(rec, cur.board, 64);
    rec[64] = uint8_t(cur.side());
    rec[65] = uint8_t((cur.in_check ? 1 : 0) | (capture ? 2 : 0) | (is_promotion(m) ? 4 : 0) |
                      (std::abs(score) >= MATE_RANGE_SCORE ? 8 : 0));
    rec[66] = uint8_t(uint16_t(score));
    rec[67] = uint8_t(uint16_t(score) >> 8);
    rec[68] = g.result;
    rec[69] = uint8_t(std::min<int>(std::max<int>(cur.fifty, 0), 255));
    rec[70] = uint8_t(ply);
    rec[71] = uint8_t(ply >> 8);
    out.insert(out.end(), rec, rec + POS_RECORD_BYTES);
    make_move(cur, next, m);
    next.his = nullptr;  // the other buffer is about to be overwritten
    next.in_check = king_attacked(next, next.side()) ? 1 : 0;
  }
  return true;
}

}  // namespace quorix::datagen
