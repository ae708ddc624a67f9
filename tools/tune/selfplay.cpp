// quorix_selfplay: plays fixed-depth games of the engine against itself with the
// classical evaluation and writes "FEN result" lines for quorix_tune.
// Usage: quorix_selfplay OUT GAMES [DEPTH] [RANDOM_PLIES] [SEED] [PARAMS_A PARAMS_B]
// With two constant files (written by quorix_tune) it plays a match: A has White in even
// games and Black in odd ones, each side evaluating with its own constants.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "eval/tuner.h"
#include "interface/driver.h"
#include "interface/options.h"
#include "interface/startup.h"
#include "search/control.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"
#include "legal_moves.h"

using namespace quorix;

namespace {

constexpr int MAX_GAME_PLIES = 400;

// All tunable constants as one flat list.
std::vector<int> snapshot() {
  std::vector<int> v;
  for (const TunableParam* p = tunable_params(); p->name; p++) v.insert(v.end(), p->values, p->values + p->count);
  return v;
}
void restore(const std::vector<int>& v) {
  size_t i = 0;
  for (const TunableParam* p = tunable_params(); p->name; p++)
    for (int k = 0; k < p->count; k++) p->values[k] = v[i++];
}
std::vector<int> load_set(const char* path) {
  const std::vector<int> base = snapshot();
  std::string err;
  if (!tune::read_params(path, err)) {
    std::fprintf(stderr, "%s\n", err.c_str());
    std::exit(1);
  }
  std::vector<int> v = snapshot();
  restore(base);
  return v;
}

long parse_arg(const char* s, long lo, long hi, const char* what) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < lo || v > hi) {
    std::fprintf(stderr, "bad %s: %s\n", what, s);
    std::exit(2);
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: quorix_selfplay OUT GAMES [DEPTH=6] [RANDOM_PLIES=8] [SEED=1] [PARAMS_A PARAMS_B]\n");
    return 2;
  }
  const long games = parse_arg(argv[2], 1, 100000000, "game count");
  const int depth = argc > 3 ? int(parse_arg(argv[3], 1, 40, "depth")) : 6;
  const int random_plies = argc > 4 ? int(parse_arg(argv[4], 0, 40, "random plies")) : 8;
  const unsigned seed = argc > 5 ? unsigned(parse_arg(argv[5], 0, 4000000000L, "seed")) : 1;
  std::FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }

  engine_startup();
  opt::use_regular_eval = 1;
  g_bench_quiet = true;
  const bool match = argc > 7;
  std::vector<int> set_a, set_b;
  long a_points2 = 0;  // half points of A
  if (match) {
    set_a = load_set(argv[6]);
    set_b = load_set(argv[7]);
    // Small tables: they are cleared whenever the constants change sides.
    opt::table_memory = 1;
    threads_resize(1);
    tt_resize(16);
  }
  std::mt19937 rng(seed);
  static Position game[MAX_GAME_PLIES + 2];
  long positions = 0, results[3] = {0, 0, 0};

  for (long g = 0; g < games; g++) {
    set_fen(game[0], START_FEN);
    std::vector<std::string> fens;
    double result = 0.5;
    int ply = 0;
    for (;; ply++) {
      Position& cur = game[ply];
      std::vector<Move> moves = legal_move_vector(cur);
      if (moves.empty()) {
        result = cur.in_check ? (cur.side() == WHITE ? 0.0 : 1.0) : 0.5;
        break;
      }
      if (cur.fifty >= 100 || insufficient_material(cur) || repetitions(game, ply) >= 3 || ply >= MAX_GAME_PLIES) break;
      Move m;
      if (ply < random_plies) {
        m = moves[rng() % moves.size()];
        make_move(cur, game[ply + 1], m);
      } else {
        if (match) {
          bool a_moves = (cur.side() == WHITE) == (g % 2 == 0);
          restore(a_moves ? set_a : set_b);
          apply_eval_settings();
          cur.psq = compute_psq(cur);
          SearchThread& th = g_threads[0];
          std::memset(th.mat_table, 0, MAT_TABLE_ENTRIES * sizeof(MaterialEntry));
          std::memset(th.pawn_table, 0, (g_pawn_mask + 1) * sizeof(PawnEntry));
          tt_clear();
        }
        g_move_time = 0;
        g_node_limit = ~uint64_t(0);
        think(cur, UNTIMED, depth, "", UNTIMED, false);
        if (!apply_move_text(cur, game[ply + 1], g_best_text)) break;  // no move found: stop the game
        m = game[ply + 1].last_move;
        bool quiet = !cur.board[move_to(m)] && move_kind(m) != MK_EP && !is_promotion(m);
        if (!cur.in_check && quiet) {
          char fen[128];
          get_fen(cur, fen);
          fens.push_back(fen);
        }
      }
      Position& next = game[ply + 1];
      next.in_check = king_attacked(next, next.side());
    }
    const char* text = result == 1.0 ? "1-0" : result == 0.0 ? "0-1" : "1/2-1/2";
    for (const std::string& f : fens) std::fprintf(out, "%s %s\n", f.c_str(), text);
    positions += long(fens.size());
    results[result == 1.0 ? 0 : result == 0.0 ? 2 : 1]++;
    if (match) a_points2 += long(2 * (g % 2 == 0 ? result : 1.0 - result));
    if ((g + 1) % 10 == 0 || g + 1 == games)
      std::fprintf(stderr, "%ld games (+%ld =%ld -%ld), %ld positions%s", g + 1, results[0], results[1], results[2],
                   positions, match ? "" : "\n");
    if (match && ((g + 1) % 10 == 0 || g + 1 == games))
      std::fprintf(stderr, ", A scores %.1f of %ld\n", a_points2 / 2.0, g + 1);
  }
  std::fclose(out);
  return 0;
}
