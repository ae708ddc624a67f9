// quorix_pgn_samples: turns match games (PGN) into labelled positions for quorix_tune.
//
// Usage: quorix_pgn_samples OUT [--engine NAME | --both] [--lambda L] [--k K] PGN...
//
// Every position where NAME (default "quorix"; with --both, either side) was to move,
// was not in check, played a quiet move (no capture or promotion) and left a score
// comment such as "{+0.22/11 0.240s}" becomes one line "FEN target". The target blends the game result
// with the mover's own search score, both from White's view:
//     target = L * result + (1 - L) / (1 + 10^(-K * score / 400))
// so that the evaluation is fitted to what a deeper search thought of the position as
// well as to how the game ended. Mate scores and games without a result are skipped.
// With --both the opponents' scores are used as they are: engines report centipawns on
// roughly the same scale (a pawn is about 100), which is close enough for labels.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/makemove.h"
#include "board/material.h"
#include "board/movegen.h"
#include "search/thread.h"
#include "legal_moves.h"

using namespace quorix;

namespace {

struct Counts {
  long games = 0, skipped_games = 0, positions = 0, bad_moves = 0;
};

bool is_capture(const Position& p, Move m) {
  return move_kind(m) == MK_EP || (move_kind(m) != MK_CASTLE && p.board[move_to(m)] != 0);
}

// Standard algebraic text without check marks; promotions without '='.
std::string san(const Position& p, Move m, const std::vector<Move>& legal) {
  const int from = move_from(m), to = move_to(m);
  if (move_kind(m) == MK_CASTLE) return file_of(to) > file_of(from) ? "O-O" : "O-O-O";
  const int type = piece_type(p.board[from]);
  std::string s;
  auto sq = [](int x) { return std::string{char('a' + file_of(x)), char('1' + rank_of(x))}; };
  if (type == PAWN) {
    if (is_capture(p, m)) s += char('a' + file_of(from)), s += 'x';
    s += sq(to);
    if (is_promotion(m)) s += " PNBRQK"[promo_type(m)];
    return s;
  }
  s += " PNBRQK"[type];
  bool clash = false, same_file = false, same_rank = false;
  for (Move o : legal) {
    if (o == m || move_to(o) != to || move_from(o) == from || move_kind(o) == MK_CASTLE) continue;
    if (piece_type(p.board[move_from(o)]) != type) continue;
    clash = true;
    same_file |= file_of(move_from(o)) == file_of(from);
    same_rank |= rank_of(move_from(o)) == rank_of(from);
  }
  if (clash) {
    if (!same_file) s += char('a' + file_of(from));
    else if (!same_rank) s += char('1' + rank_of(from));
    else s += sq(from);
  }
  if (is_capture(p, m)) s += 'x';
  return s + sq(to);
}

std::string normalise(std::string t) {
  while (!t.empty() && std::strchr("+#!?", t.back())) t.pop_back();
  std::string out;
  for (char c : t)
    if (c != '=') out += c == '0' ? 'O' : c;
  return out;
}

// "+0.22/11 0.240s" -> centipawns from the mover's view; false for mates or no score.
bool parse_score(const std::string& comment, int& cp) {
  size_t i = comment.find_first_not_of(" \t\r\n");
  if (i == std::string::npos) return false;
  const char* s = comment.c_str() + i;
  if (*s != '+' && *s != '-') return false;
  if (s[1] == 'M' || s[1] == '#') return false;
  char* end = nullptr;
  double v = std::strtod(s, &end);
  if (end == s || *end != '/') return false;
  cp = int(std::lround(v * 100));
  return true;
}

struct Game {
  std::string white, black, result, fen;
  std::string movetext;
};

// Reads the next game; false at end of input.
bool read_game(std::istream& in, Game& g) {
  g = Game();
  std::string line;
  bool any = false, in_moves = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!in_moves && line.empty()) continue;
    if (!in_moves && line[0] == '[') {
      any = true;
      size_t sp = line.find(' '), q1 = line.find('"'), q2 = line.rfind('"');
      if (sp == std::string::npos || q1 == std::string::npos || q2 <= q1) continue;
      std::string tag = line.substr(1, sp - 1), val = line.substr(q1 + 1, q2 - q1 - 1);
      if (tag == "White") g.white = val;
      else if (tag == "Black") g.black = val;
      else if (tag == "Result") g.result = val;
      else if (tag == "FEN") g.fen = val;
      continue;
    }
    if (line.empty() && in_moves) return true;
    if (line.empty()) continue;
    in_moves = any = true;
    g.movetext += line + "\n";
  }
  return any;
}

void process(const Game& g, const std::string& engine, bool both, double lambda, double k, std::FILE* out, Counts& c) {
  double result;
  if (g.result == "1-0") result = 1;
  else if (g.result == "0-1") result = 0;
  else if (g.result == "1/2-1/2") result = 0.5;
  else {
    c.skipped_games++;
    return;
  }
  int engine_side = g.white == engine ? WHITE : g.black == engine ? BLACK : -1;
  if (engine_side < 0 && !both) {
    c.skipped_games++;
    return;
  }
  c.games++;
  static Position pos[2];
  int cur = 0;
  set_fen(pos[0], g.fen.empty() ? "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1" : g.fen.c_str());
  const std::string& t = g.movetext;
  bool pending = false;  // a candidate position waits for its score comment
  char pending_fen[128];
  int pending_side = WHITE;
  for (size_t i = 0; i < t.size();) {
    char ch = t[i];
    if (std::isspace((unsigned char)ch)) {
      i++;
      continue;
    }
    if (ch == '{') {
      size_t e = t.find('}', i);
      if (e == std::string::npos) e = t.size();
      int cp;
      if (pending && parse_score(t.substr(i + 1, e - i - 1), cp)) {
        int white_cp = pending_side == WHITE ? cp : -cp;
        double target = lambda * result + (1 - lambda) / (1 + std::pow(10.0, -k * white_cp / 400.0));
        std::fprintf(out, "%s %.4f\n", pending_fen, target);
        c.positions++;
      }
      pending = false;
      i = e + 1;
      continue;
    }
    if (ch == '(' || ch == ';') {  // variations and line comments are not part of the game
      size_t e = t.find(ch == '(' ? ')' : '\n', i);
      i = e == std::string::npos ? t.size() : e + 1;
      continue;
    }
    size_t e = i;
    while (e < t.size() && !std::isspace((unsigned char)t[e]) && t[e] != '{' && t[e] != '(') e++;
    std::string tok = t.substr(i, e - i);
    i = e;
    // Move numbers ("12." / "12...") possibly glued to the move.
    size_t d = 0;
    while (d < tok.size() && std::isdigit((unsigned char)tok[d])) d++;
    if (d > 0 && d < tok.size() && tok[d] == '.') {
      while (d < tok.size() && tok[d] == '.') d++;
      tok = tok.substr(d);
    }
    if (tok.empty() || tok[0] == '$' || tok == "*" || tok == "1-0" || tok == "0-1" || tok == "1/2-1/2") continue;
    Position& p = pos[cur];
    std::vector<Move> legal = legal_move_vector(p);
    const std::string want = normalise(tok);
    Move found = 0;
    for (Move m : legal)
      if (san(p, m, legal) == want) found = m;
    if (!found) {
      c.bad_moves++;
      return;  // the rest of this game cannot be followed
    }
    pending = false;
    if ((both || p.side() == engine_side) && !p.in_check && !is_capture(p, found) && !is_promotion(found)) {
      get_fen(p, pending_fen);
      pending_side = p.side();
      pending = true;
    }
    Position& next = pos[cur ^ 1];
    make_move(p, next, found);
    next.in_check = king_attacked(next, next.side());
    cur ^= 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string engine = "quorix";
  double lambda = 0.5, k = 1.0;
  bool both = false;
  std::vector<std::string> inputs;
  const char* out_path = nullptr;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--engine" && i + 1 < argc) engine = argv[++i];
    else if (a == "--both") both = true;
    else if (a == "--lambda" && i + 1 < argc) lambda = std::atof(argv[++i]);
    else if (a == "--k" && i + 1 < argc) k = std::atof(argv[++i]);
    else if (!out_path) out_path = argv[i];
    else inputs.push_back(a);
  }
  if (!out_path || inputs.empty() || !(lambda >= 0 && lambda <= 1) || !(k > 0 && k < 100)) {
    std::fprintf(stderr, "usage: quorix_pgn_samples OUT [--engine NAME | --both] [--lambda L] [--k K] PGN...\n");
    return 2;
  }
  std::FILE* out = std::fopen(out_path, "w");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", out_path);
    return 1;
  }
  init_attack_tables();
  init_material_signatures();
  init_thread_records(1);
  Counts c;
  for (const std::string& path : inputs) {
    std::ifstream in(path);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      continue;
    }
    Game g;
    while (read_game(in, g)) process(g, engine, both, lambda, k, out, c);
  }
  std::fclose(out);
  std::printf("%ld games used, %ld skipped, %ld stopped at an unreadable move, %ld positions written\n", c.games,
              c.skipped_games, c.bad_moves, c.positions);
  return 0;
}
