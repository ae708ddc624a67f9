#include "interface/supp_info.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/material.h"
#include "board/movetext.h"
#include "board/position.h"
#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "interface/commands.h"
#include "interface/options.h"
#include "interface/tools.h"
#include "interface/uci.h"
#include "search/thread.h"

namespace quorix {

namespace {

constexpr const char* INVALID = "error: invalid pos_str argument";

// set_fen rebuilds the castling geometry of the game; the caller's game keeps its own.
struct SavedCastling {
  int rook_sq[4];
  uint8_t mask[64];
  Bitboard keep[4], span[4], path[4];
  SavedCastling() {
    std::memcpy(rook_sq, castle_rook_sq, sizeof rook_sq);
    std::memcpy(mask, castle_mask, sizeof mask);
    std::memcpy(keep, castle_keep, sizeof keep);
    std::memcpy(span, castle_span, sizeof span);
    std::memcpy(path, castle_path, sizeof path);
  }
  ~SavedCastling() {
    std::memcpy(castle_rook_sq, rook_sq, sizeof rook_sq);
    std::memcpy(castle_mask, mask, sizeof mask);
    std::memcpy(castle_keep, keep, sizeof keep);
    std::memcpy(castle_span, span, sizeof span);
    std::memcpy(castle_path, path, sizeof path);
  }
};

// Tables the board code needs. Inside the engine they exist already; a program that
// only loaded the library gets them on its first call.
void prepare_tables() {
  static std::once_flag once;
  std::call_once(once, [] {
    init_attack_tables();
    init_material_signatures();
    if (!g_threads) {
      // The features use no evaluation hash tables: keep the record's tables small.
      opt::table_memory = 1;
      init_thread_records(1);
      apply_eval_settings();
    }
  });
}

Bitboard file_span_ahead(int c, int sq) {
  Bitboard b = 0;
  for (int s = sq + push_offset[c]; s >= 0 && s < 64; s += push_offset[c]) b |= sq_bb(s);
  return b;
}

Bitboard adjacent_files(int sq) {
  Bitboard b = 0;
  if (file_of(sq) > 0) b |= FILE_A << (file_of(sq) - 1);
  if (file_of(sq) < 7) b |= FILE_A << (file_of(sq) + 1);
  return b;
}

// Passed (0), isolated (1), side-by-side on its own half of a file free of enemy
// pawns (2), and free but not passed (3) pawns of colour c.
void pawn_sets(const Position& p, int c, Bitboard out[4]) {
  const Bitboard own = p.pieces(c, PAWN), enemy = p.pieces(c ^ 1, PAWN), all = own | enemy;
  const Bitboard enemy_att = pawns_attack_bb(c ^ 1, enemy);
  const Bitboard own_half = c == WHITE ? 0x00000000FFFFFFFFULL : 0xFFFFFFFF00000000ULL;
  out[0] = out[1] = out[2] = out[3] = 0;
  for (Bitboard b = own; b;) {
    const int sq = pop_lsb(b);
    const Bitboard ahead = file_span_ahead(c, sq);
    const Bitboard file = FILE_A << file_of(sq);
    const Bitboard beside = ((sq_bb(sq) << 1) & ~FILE_A) | ((sq_bb(sq) >> 1) & ~FILE_H);
    if (!(ahead & all)) {
      if (!((ahead | sq_bb(sq)) & enemy_att)) out[0] |= sq_bb(sq);
      else out[3] |= sq_bb(sq);
    }
    if (!(adjacent_files(sq) & own)) out[1] |= sq_bb(sq);
    if ((sq_bb(sq) & own_half) && (beside & own) && !(file & enemy)) out[2] |= sq_bb(sq);
  }
}

// Pieces standing alone between a slider of colour `by` and the king of the other colour.
Bitboard pinned_by(const Position& p, int by) {
  const int k = p.king_sq[by ^ 1];
  const Bitboard occ = p.occupied();
  const Bitboard diag = p.pieces(by, BISHOP) | p.pieces(by, QUEEN);
  const Bitboard orth = p.pieces(by, ROOK) | p.pieces(by, QUEEN);
  Bitboard sliders = (diag & LT.bishop_ray[k]) | (orth & LT.rook_ray[k]);
  Bitboard pins = 0;
  while (sliders) {
    const Bitboard between = between_bb[k][pop_lsb(sliders)] & occ;
    if (between && !more_than_one(between)) pins |= between;
  }
  return pins;
}

void put(std::string& out, unsigned long long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llu ", v);
  out += buf;
}

void put_int(std::string& out, long long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%lld ", v);
  out += buf;
}

std::string features(const Position& p) {
  std::string out;
  out.reserve(1024);
  for (int c = 0; c < 2; c++)
    for (int t = PAWN; t <= KING; t++) put(out, p.pieces(c, t));
  put(out, p.ep_bb);
  const Bitboard occ = p.occupied();
  for (int c = 0; c < 2; c++) {
    Bitboard att[6] = {pawns_attack_bb(c, p.pieces(c, PAWN)), 0, 0, 0, 0, 0};
    for (Bitboard b = p.pieces(c, KNIGHT); b;) att[1] |= knight_attacks(pop_lsb(b));
    for (Bitboard b = p.pieces(c, BISHOP); b;) att[2] |= bishop_attacks(pop_lsb(b), occ);
    for (Bitboard b = p.pieces(c, ROOK); b;) att[3] |= rook_attacks(pop_lsb(b), occ);
    for (Bitboard b = p.pieces(c, QUEEN); b;) att[4] |= queen_attacks(pop_lsb(b), occ);
    for (Bitboard b = p.pieces(c, KING); b;) att[5] |= king_attacks(pop_lsb(b));
    for (Bitboard a : att) put(out, a);
  }
  for (int c = 0; c < 2; c++) {
    Bitboard sets[4];
    pawn_sets(p, c, sets);
    for (Bitboard s : sets) put(out, s);
  }
  put(out, pinned_by(p, BLACK));
  put(out, pinned_by(p, WHITE));
  put_int(out, p.side() == WHITE);
  put_int(out, p.side() == BLACK);
  put_int(out, p.fifty);
  for (int i = 0; i < 4; i++) put_int(out, (p.castle_lost >> i) & 1);
  for (int c = 0; c < 2; c++)
    for (int t = PAWN; t <= QUEEN; t++) put_int(out, popcount(p.pieces(c, t)));
  put_int(out, p.phase);
  // The material figure comes from the material rules alone; the thread's material
  // table is neither read nor filled.
  Position copy;
  std::memcpy(static_cast<void*>(&copy), &p, sizeof(Position));
  copy.mat_table = nullptr;
  float scale = 1.0f;
  const int value = material(copy, scale);
  put_int(out, value / 960);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.6f ", double(scale));
  out += buf;
  return out;
}

// The position a pos_str describes, or a reason to reject it.
std::string build_position(const char* pos_str, Position& pos, Position& scratch) {
  if (!pos_str) return "no text";
  const std::vector<std::string> tok = split_tokens(pos_str);
  if (tok.size() < 2) return "needs \"startpos\" or \"fen\" after the first word";
  std::string fen;
  size_t scan;
  if (tok[1] == "fen") {
    if (tok.size() < 6) return "a FEN needs at least four fields";
    fen = tok[2] + " " + tok[3] + " " + tok[4] + " " + tok[5];
    scan = 6;
    while (scan < tok.size() && scan < 8 && tok[scan][0] >= '0' && tok[scan][0] <= '9') fen += " " + tok[scan++];
  } else if (tok[1] == "startpos") {
    fen = START_FEN;
    scan = 2;
  } else {
    return "needs \"startpos\" or \"fen\" after the first word";
  }
  std::string problem = fen_problem(fen);
  if (!problem.empty()) return problem;
  set_fen(pos, fen.c_str());
  problem = position_problem(pos);
  if (!problem.empty()) return problem;
  while (scan < tok.size() && tok[scan] != "moves") scan++;
  for (size_t i = scan + 1; i < tok.size(); i++) {
    std::memcpy(static_cast<void*>(&scratch), &pos, sizeof(Position));
    if (!apply_move_text(scratch, pos, tok[i].c_str())) {
      // A move that cannot be made leaves the position as it was before it.
      std::memcpy(static_cast<void*>(&pos), &scratch, sizeof(Position));
      std::fprintf(stderr, "supp_info: move %s cannot be made, skipped\n", tok[i].c_str());
    }
  }
  pos.bb[14] = pos.bb[0] | pos.bb[7];
  pos.piece_count = uint32_t(popcount(pos.bb[14]));
  pos.phase = int16_t(compute_phase(pos));
  return "";
}

}  // namespace

}  // namespace quorix

extern "C" const char* supp_info(const char* pos_str) {
  using namespace quorix;
  static std::mutex lock;
  static char result[2048];
  static Position pos, scratch;
  std::lock_guard<std::mutex> guard(lock);
  prepare_tables();
  std::string text;
  {
    SavedCastling saved;
    const std::string problem = build_position(pos_str, pos, scratch);
    if (problem.empty()) {
      text = features(pos);
    } else {
      std::fprintf(stderr, "supp_info: %s\n", problem.c_str());
      text = INVALID;
    }
  }
  std::snprintf(result, sizeof result, "%s", text.c_str());
  return result;
}
