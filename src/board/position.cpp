#include "board/position.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"

namespace quorix {

#include "board/polyglot_random.inc"

int castle_rook_sq[4] = {7, 0, 63, 56};
uint8_t castle_mask[64];
Bitboard castle_keep[4];
Bitboard castle_span[4];
Bitboard castle_path[4];
uint64_t psq_table[2][8][64];
const char PIECE_CHARS[16] = " PNBRQK  pnbrqk";

namespace xnnue {
bool g_flip = false;
}

static Bitboard squares_between_inclusive(int a, int b) {
  if (a > b) { int t = a; a = b; b = t; }
  Bitboard r = 0;
  for (int s = a; s <= b; s++) r |= sq_bb(s);
  return r;
}

static int min3(int a, int b, int c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }
static int max3(int a, int b, int c) { return a > b ? (a > c ? a : c) : (b > c ? b : c); }

// Grants castling right `idx` (0 K, 1 Q, 2 k, 3 q) with the rook on r, if the
// king and rook really stand on their back rank.
static void grant_castle(Position& p, int idx, int r) {
  int c = idx >> 1;
  int k = p.king_sq[c];
  int back = c == WHITE ? 0 : 7;
  if (r < 0 || r > 63 || rank_of(r) != back || rank_of(k) != back) return;
  if (p.board[r] != make_piece(c, ROOK) || p.board[k] != make_piece(c, KING)) return;
  bool king_side = (idx & 1) == 0;
  if (king_side != (r > k)) return;  // the rook must stand on the named side of the king
  int base = back * 8;
  p.castle_lost &= uint8_t(~(1u << idx));
  castle_rook_sq[idx] = r;
  castle_mask[r] = uint8_t(1u << idx);
  castle_mask[k] |= uint8_t(c == WHITE ? 3 : 12);
  if (king_side) {
    int f = base + 5, g = base + 6;
    castle_span[idx] = squares_between_inclusive(min3(r, k, f), max3(r, k, g));
    castle_path[idx] = squares_between_inclusive(k, g);
  } else {
    int cc = base + 2, d = base + 3;
    castle_span[idx] = squares_between_inclusive(min3(r, k, cc), max3(r, k, d));
    castle_path[idx] = squares_between_inclusive(k, cc);
  }
}

void build_piece_state(Position& p) {
  auto& pi = p.kst.pi;
  for (auto& id : pi.ids) id = xnnue::I_NONE;
  std::memset(pi.list, 0, sizeof(pi.list));
  p.kst.count = 0;
  uint32_t next_id = 0;
  for (int r = 7; r >= 0; r--)
    for (int f = 0; f < 8; f++) {
      int sq = square_of(f, r), pc = p.board[sq];
      if (!pc) continue;
      uint32_t id;
      if (piece_type(pc) == KING)
        id = piece_color(pc) == WHITE ? xnnue::KING_ID_WHITE : xnnue::KING_ID_BLACK;
      else if (next_id < 30)
        id = next_id++;
      else
        continue;
      pi.ids[sq] = uint8_t(id);
      pi.list[0][id] = xnnue::code_w(pc, sq);
      pi.list[1][id] = xnnue::code_b(pc, sq);
    }
  p.acc_computed = 0;
  p.nn_eval_valid = 0;
}

uint64_t compute_key(const Position& p) {
  uint64_t k = zobrist[0][0][p.side()];
  for (int sq = 0; sq < 64; sq++)
    if (p.board[sq]) k ^= zobrist[piece_color(p.board[sq])][piece_type(p.board[sq])][sq];
  k ^= castle_keys[p.castle_lost];
  if (p.ep_bb) k ^= zobrist[1][0][lsb(p.ep_bb)];
  return k;
}

uint64_t compute_pawn_key(const Position& p) {
  uint64_t k = 0;
  for (int sq = 0; sq < 64; sq++)
    if (p.board[sq]) k ^= pawn_zobrist[piece_color(p.board[sq])][piece_type(p.board[sq])][sq];
  return k ^ castle_keys[p.castle_lost];
}

uint64_t compute_mat_key(const Position& p, bool plain) {
  uint64_t k = 0;
  for (int sq = 0; sq < 64; sq++) {
    int pc = p.board[sq];
    if (!pc || piece_type(pc) == KING) continue;
    k += uint64_t(material_keys[piece_color(pc)][piece_type(pc) * 2 + (plain ? 0 : square_color(sq))]);
  }
  return k;
}

uint64_t compute_psq(const Position& p) {
  uint64_t s = 0;
  for (int sq = 0; sq < 64; sq++) {
    int pc = p.board[sq];
    if (pc) s += psq_table[piece_color(pc)][piece_type(pc)][sq];
  }
  return s;
}

int compute_phase(const Position& p) {
  return 3 * popcount(p.bb[2] | p.bb[9]) + 4 * popcount(p.bb[3] | p.bb[10]) +
         8 * popcount(p.bb[4] | p.bb[11]) + 18 * popcount(p.bb[5] | p.bb[12]);
}

void set_fen(Position& p, const char* fen) {
  if (!fen || !*fen) fen = START_FEN;
  std::memset(static_cast<void*>(&p), 0, sizeof(Position));
  p.his = nullptr;
  p.castle_lost = 15;
  p.ply = 0xFFFF;
  p.static_eval = 999999;
  std::memset(castle_mask, 0, sizeof(castle_mask));

  char buf[256];
  std::strncpy(buf, fen, 254);
  buf[254] = 0;
  for (auto& id : p.kst.pi.ids) id = xnnue::I_NONE;

  const char* c = buf;
  int s = 0;
  while (*c && !std::isspace(static_cast<unsigned char>(*c))) {
    char ch = *c++;
    if (ch >= '0' && ch <= '9') {
      s += ch - '0';
    } else if (ch == '/') {
      s = (s + 7) & ~7;
    } else {
      const char* hit = std::strchr(PIECE_CHARS, ch);
      int pc = (hit && ch != ' ') ? int(hit - PIECE_CHARS) : 0;
      if (pc && s < 64) {
        int sq = s ^ 56;
        int col = piece_color(pc), t = piece_type(pc);
        p.bb[col * 7 + t] |= sq_bb(sq);
        p.board[sq] = uint8_t(pc);
        if (t == KING) p.king_sq[col] = sq;
      }
      s++;
    }
    if (s > 64) s = 64;
  }
  for (int col = 0; col < 2; col++)
    for (int t = PAWN; t <= KING; t++) p.bb[col * 7] |= p.bb[col * 7 + t];
  // A square written twice keeps only its last piece in the board array; keep the bitboards in step.
  build_piece_state(p);

  while (*c && std::isspace(static_cast<unsigned char>(*c))) c++;
  if (*c == 'w') p.ply = 0;
  else if (*c == 'b') p.ply = 1;
  else {
    std::fprintf(stderr, "Error in ctm for fen \"%s\"\n", buf);
    std::fflush(stderr);
    std::_Exit(1);  // no static destructors: other threads are still running
  }
  c++;

  // Castling
  castle_rook_sq[0] = 7; castle_rook_sq[1] = 0; castle_rook_sq[2] = 63; castle_rook_sq[3] = 56;
  for (int i = 0; i < 4; i++) castle_span[i] = castle_path[i] = 0;
  int scanned[4] = {-1, -1, -1, -1};
  for (int col = 0; col < 2; col++) {
    int base = col * 56, rook = make_piece(col, ROOK), king = make_piece(col, KING);
    for (int f = 7; f >= 0; f--) {
      int pc = p.board[base + f];
      if (pc == king) break;
      if (pc == rook) { scanned[col * 2] = base + f; break; }
    }
    for (int f = 0; f < 8; f++) {
      int pc = p.board[base + f];
      if (pc == king) break;
      if (pc == rook) { scanned[col * 2 + 1] = base + f; break; }
    }
  }
  while (*c && std::isspace(static_cast<unsigned char>(*c))) c++;
  while (*c && !std::isspace(static_cast<unsigned char>(*c))) {
    char ch = *c++;
    if (ch == 'K') grant_castle(p, 0, scanned[0]);
    else if (ch == 'Q') grant_castle(p, 1, scanned[1]);
    else if (ch == 'k') grant_castle(p, 2, scanned[2]);
    else if (ch == 'q') grant_castle(p, 3, scanned[3]);
    else if (ch >= 'A' && ch <= 'H') {
      int r = ch - 'A';
      grant_castle(p, r <= file_of(p.king_sq[0]) ? 1 : 0, r);
    } else if (ch >= 'a' && ch <= 'h') {
      int r = 56 + (ch - 'a');
      grant_castle(p, file_of(r) <= file_of(p.king_sq[1]) ? 3 : 2, r);
    }
  }
  for (int i = 0; i < 4; i++)
    castle_keep[i] = ~(sq_bb(castle_rook_sq[i]) | sq_bb(p.king_sq[i >> 1]));

  p.bb[14] = p.bb[0] | p.bb[7];
  p.piece_count = uint32_t(popcount(p.bb[14]));
  p.in_check = (attacks_by(p, p.side() ^ 1) & p.pieces(p.side(), KING)) ? 1 : 0;

  p.key = compute_key(p);  // no en-passant square yet
  p.pawn_key = compute_pawn_key(p);
  p.mat_key = compute_mat_key(p, false);
  p.mat_key_plain = compute_mat_key(p, true);

  // En passant
  while (*c && std::isspace(static_cast<unsigned char>(*c))) c++;
  if (*c >= 'a' && *c <= 'h' && c[1] >= '1' && c[1] <= '8') {
    int e = (*c - 'a') + 8 * (c[1] - '1');
    int from, to;
    if (c[1] == '3') { from = e - 8; to = e + 8; }
    else { from = e + 8; to = e - 8; }
    if (from >= 0 && from < 64 && to >= 0 && to < 64) {
      p.last_move = make_move_code(from, to);
      int us = p.side(), them = us ^ 1;
      // The capture needs the pushed pawn on `to`, empty squares behind it and the
      // en-passant square on the rank the side to move captures onto.
      bool sane = rank_of(e) == (us == WHITE ? 5 : 2) && p.board[to] == make_piece(them, PAWN) &&
                  !p.board[e] && !p.board[from];
      Bitboard beside = (sq_bb(to) << 1 & ~FILE_A) | (sq_bb(to) >> 1 & ~FILE_H);
      if (sane && (beside & p.pieces(us, PAWN))) {
        p.ep_bb = sq_bb(e);
        p.key ^= zobrist[1][0][e];
      }
    }
  }
  p.psq = compute_psq(p);
  p.phase = int16_t(compute_phase(p));
  p.fifty = 0;
}

void get_fen(const Position& p, char* out) {
  char* o = out;
  for (int r = 7; r >= 0; r--) {
    int empty = 0;
    for (int f = 0; f < 8; f++) {
      int pc = p.board[square_of(f, r)];
      if (!pc) { empty++; continue; }
      if (empty) { o += std::sprintf(o, "%d", empty); empty = 0; }
      *o++ = (piece_color(pc) == WHITE ? "-PNBRQK" : "-pnbrqk")[piece_type(pc)];
    }
    if (empty) o += std::sprintf(o, "%d", empty);
    if (r) *o++ = '/';
  }
  o += std::sprintf(o, p.side() == WHITE ? " w " : " b ");
  if (p.castle_lost == 15) *o++ = '-';
  else {
    const char* letters = "KQkq";
    for (int i = 0; i < 4; i++)
      if (!(p.castle_lost & (1 << i))) *o++ = letters[i];
  }
  *o++ = ' ';
  bool ep = false;
  if (p.ep_bb) {
    int e = lsb(p.ep_bb);
    ep = (pawn_attacks(p.side() ^ 1, e) & p.pieces(p.side(), PAWN)) != 0;
    if (ep) { *o++ = char('a' + file_of(e)); *o++ = char('1' + rank_of(e)); }
  }
  if (!ep) *o++ = '-';
  std::sprintf(o, " %d %d", int(p.fifty), int(int16_t(p.ply)) / 2 + 1);
}

uint64_t polyglot_key(const Position& p) {
  uint64_t k = 0;
  for (int sq = 0; sq < 64; sq++) {
    int pc = p.board[sq];
    if (!pc) continue;
    int kind = 2 * (piece_type(pc) - 1) + (piece_color(pc) == WHITE ? 1 : 0);
    k ^= POLYGLOT_RANDOM[64 * kind + sq];
  }
  for (int i = 0; i < 4; i++)
    if (!(p.castle_lost & (1 << i))) k ^= POLYGLOT_RANDOM[768 + i];
  if (p.ep_bb) k ^= POLYGLOT_RANDOM[772 + file_of(lsb(p.ep_bb))];
  if (p.side() == WHITE) k ^= POLYGLOT_RANDOM[780];
  return k;
}

}  // namespace quorix
