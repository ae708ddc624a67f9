#include "interface/commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/book.h"
#include "interface/option_hooks.h"
#include "interface/driver.h"
#include "interface/option_table.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/perft.h"
#include "search/thread.h"
#include "search/tt.h"
#include "xnnue/network.h"

namespace quorix {

void request_stop_all() {
  for (int i = 0; i < g_thread_count; i++) g_threads[i].stop.exchange(1);
}

namespace {

void info(const char* text) {
  std::printf("info string %s\n", text);
  std::fflush(stdout);
}

struct CastleGeometry {
  int rook_sq[4];
  uint8_t mask[64];
  Bitboard keep[4], span[4], path[4];
  void save() {
    std::memcpy(rook_sq, castle_rook_sq, sizeof rook_sq);
    std::memcpy(mask, castle_mask, sizeof mask);
    std::memcpy(keep, castle_keep, sizeof keep);
    std::memcpy(span, castle_span, sizeof span);
    std::memcpy(path, castle_path, sizeof path);
  }
  void restore() const {
    std::memcpy(castle_rook_sq, rook_sq, sizeof rook_sq);
    std::memcpy(castle_mask, mask, sizeof mask);
    std::memcpy(castle_keep, keep, sizeof keep);
    std::memcpy(castle_span, span, sizeof span);
    std::memcpy(castle_path, path, sizeof path);
  }
};

Bitboard passed_pawns(const Position& p, int c) {
  Bitboard res = 0, own = p.pieces(c, PAWN), all_pawns = p.bb[1] | p.bb[8];
  Bitboard enemy_att = pawns_attack_bb(c ^ 1, p.pieces(c ^ 1, PAWN));
  Bitboard b = own;
  while (b) {
    int sq = pop_lsb(b);
    Bitboard ahead = 0, path = 0;
    for (int s = sq + push_offset[c]; s >= 0 && s < 64; s += push_offset[c]) ahead |= sq_bb(s);
    path = ahead | sq_bb(sq);
    if (!(ahead & all_pawns) && !(path & enemy_att)) res |= sq_bb(sq);
  }
  return res;
}

void go_parse(const std::vector<std::string>& tok) {
  SearchLimits lim;
  stop_requested = 0;
  g_move_time = 0;
  g_node_limit = ~uint64_t(0);
  ponder_credit--;
  pondering = 0;
  bool collecting = false;
  auto num_u64 = [&](size_t i) -> uint64_t { return i < tok.size() ? std::strtoull(tok[i].c_str(), nullptr, 10) : 0; };
  auto num_l = [&](size_t i) -> long { return i < tok.size() ? std::strtol(tok[i].c_str(), nullptr, 10) : 0; };
  for (size_t i = 1; i < tok.size(); i++) {
    const std::string& t = tok[i];
    if (t == "infinite") { lim.infinite = true; collecting = false; }
    else if (t == "ponder") { pondering = 1; ponder_credit = 2; lim.ponder = true; collecting = false; }
    else if (t == "wtime") { lim.wtime = double(num_u64(++i)) * 0.001; collecting = false; }
    else if (t == "btime") { lim.btime = double(num_u64(++i)) * 0.001; collecting = false; }
    else if (t == "winc") { lim.winc = double(num_u64(++i)) * 0.001; collecting = false; }
    else if (t == "binc") { lim.binc = double(num_u64(++i)) * 0.001; collecting = false; }
    else if (t == "movestogo") { lim.movestogo = int(num_l(++i)); collecting = false; }
    else if (t == "movetime") { lim.movetime = double(num_l(++i)) * 0.001; collecting = false; }
    else if (t == "depth") {
      long d = num_l(++i);
      lim.depth = int(d > 150 ? 150 : d < 0 ? 0 : d);
      collecting = false;
    } else if (t == "nodes") { lim.nodes = num_u64(++i); collecting = false; }
    else if (t == "searchmoves") { collecting = true; }
    else if (collecting) { lim.searchmoves += t; lim.searchmoves += ' '; }
    else break;
  }
  if (lim.movestogo < 0) lim.movestogo = 0;
  if (lim.movetime < 0) lim.movetime = 0;
  g_move_time = lim.movetime;
  g_node_limit = lim.nodes;
  go_command(lim, game_history[game_length]);
}

}  // namespace

std::string position_problem(const Position& p) {
  for (int c = 0; c < 2; c++) {
    if (popcount(p.pieces(c, KING)) != 1) return c == WHITE ? "white must have exactly one king" : "black must have exactly one king";
    int pawns = popcount(p.pieces(c, PAWN));
    int extra = 0;
    extra += popcount(p.pieces(c, QUEEN)) > 1 ? popcount(p.pieces(c, QUEEN)) - 1 : 0;
    for (int t = KNIGHT; t <= ROOK; t++) extra += popcount(p.pieces(c, t)) > 2 ? popcount(p.pieces(c, t)) - 2 : 0;
    if (pawns > 8 || popcount(p.pieces(c)) > 16 || pawns + extra > 8)
      return c == WHITE ? "white has more material than a game allows" : "black has more material than a game allows";
  }
  if ((p.bb[1] | p.bb[8]) & (RANK_1 | RANK_8)) return "pawns on the first or last rank";
  if (king_attacked(p, p.side() ^ 1)) return "the side not to move is in check";
  return "";
}

bool position_command(const std::vector<std::string>& tok) {
  game_time = 0;
  if (tok.size() < 2) {
    info("position needs \"startpos\" or \"fen\"; position unchanged");
    return false;
  }
  std::string fen;
  size_t start;
  if (tok[1] == "fen") {
    if (tok.size() < 6) {
      info("position fen needs at least four fields; position unchanged");
      return false;
    }
    fen = tok[2] + " " + tok[3] + " " + tok[4] + " " + tok[5];
    start = 5;
  } else if (tok[1] == "startpos") {
    fen = START_FEN;
    start = 2;
  } else {
    std::fprintf(stderr, "Error here!\n");
    std::fflush(stderr);
    std::_Exit(1);  // no static destructors: other threads are still running
  }
  size_t mv = tok.size();
  for (size_t i = start; i < tok.size(); i++)
    if (tok[i] == "moves") { mv = i; break; }
  size_t nmoves = mv < tok.size() ? tok.size() - mv - 1 : 0;
  if (nmoves >= size_t(GAME_HISTORY_SIZE)) {
    std::printf("info string too many moves (%zu, at most %d); position unchanged\n", nmoves, GAME_HISTORY_SIZE - 1);
    std::fflush(stdout);
    return false;
  }
  CastleGeometry saved;
  saved.save();
  Position* h = spare_history();
  set_fen(h[0], fen.c_str());
  std::string problem = position_problem(h[0]);
  if (!problem.empty()) {
    saved.restore();
    std::printf("info string illegal position (%s); position unchanged\n", problem.c_str());
    std::fflush(stdout);
    return false;
  }
  int len = 0;
  for (size_t i = mv + 1; i < tok.size(); i++) {
    if (!apply_move_text(h[len], h[len + 1], tok[i].c_str())) {
      saved.restore();
      std::printf("info string illegal move %s; position unchanged\n", tok[i].c_str());
      std::fflush(stdout);
      return false;
    }
    len++;
  }
  game_history = h;
  game_length = len;
  return true;
}

std::string attacks_text(const Position& p) {
  std::string out;
  char buf[32];
  Bitboard occ = p.bb[14];
  for (int c = 0; c < 2; c++) {
    Bitboard v[6] = {pawns_attack_bb(c, p.pieces(c, PAWN)), 0, 0, 0, 0, 0};
    Bitboard b = p.pieces(c, KNIGHT);
    while (b) v[1] |= knight_attacks(pop_lsb(b));
    b = p.pieces(c, BISHOP);
    while (b) v[2] |= bishop_attacks(pop_lsb(b), occ);
    b = p.pieces(c, ROOK);
    while (b) v[3] |= rook_attacks(pop_lsb(b), occ);
    b = p.pieces(c, QUEEN);
    while (b) v[4] |= queen_attacks(pop_lsb(b), occ);
    b = p.pieces(c, KING);
    while (b) v[5] |= king_attacks(pop_lsb(b));
    for (auto x : v) {
      std::snprintf(buf, sizeof buf, "%llu ", (unsigned long long)x);
      out += buf;
    }
  }
  for (int c = 0; c < 2; c++) {
    std::snprintf(buf, sizeof buf, "%llu ", (unsigned long long)passed_pawns(p, c));
    out += buf;
  }
  return out + "\n";
}

void dispatch_command(const std::vector<std::string>& tok, const std::string& raw) {
  const std::string& cmd = tok[0];
  if (cmd == "uci") {
    std::printf("id name %s\n", "Quorix by Vantel Chess  64-bit ");
    std::printf("id author the Quorix developers\n");
    options_print();
    std::printf("uciok\n");
    std::fflush(stdout);
    book_print_notice();  // a book file that could not be opened at start-up
  } else if (cmd == "isready") {
    if (!searching) tt_make_resident();  // a GUI's first "go" follows soon
    std::printf("readyok\n");
    std::fflush(stdout);
  } else if (cmd == "ponderhit") {
    pondering = 0;
  } else if (cmd == "attacks") {
    std::fputs(attacks_text(game_history[game_length]).c_str(), stdout);
    std::fflush(stdout);
  } else if (cmd == "position") {
    if (searching) {
      info("position ignored during a search");
      return;
    }
    position_command(tok);
  } else if (cmd == "quit") {
    quit_requested.exchange(1);
  } else if (cmd == "perft") {
    if (searching) return;
    long d = tok.size() > 1 ? std::strtol(tok[1].c_str(), nullptr, 10) : 1;
    timed_perft(game_history[game_length], int(d < 1 ? 1 : d > 64 ? 64 : d));
  } else if (cmd == "go") {
    if (searching) return;
    go_parse(tok);
    apply_deferred_options();
  } else if (cmd == "ucinewgame") {
    if (searching) return;
    g_live_skill = opt::skill;
    reseed_random();
    tt_make_resident();
    tablebase_reinit(opt::syzygy_path);
  } else if (cmd == "setoption") {
    SetOptionResult r = setoption_command(tok, raw);
    if (r.changed) after_option_change(r.name);
  } else if (cmd == "stop") {
    if (g_thread_count > 0) g_threads[0].stop.exchange(1);
    stop_requested = 1;
  } else if (cmd == "nnue") {
    int score;
    if (xnnue::network_score(game_history[game_length], opt::nnue_scale, score)) std::printf("%d\n", score);
    else info("no network is loaded; set WeightsFile to a network file");
    std::fflush(stdout);
  }
}

}  // namespace quorix
