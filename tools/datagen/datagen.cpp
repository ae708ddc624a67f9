// quorix_datagen: self-play training data.
//   gen OUTDIR --nodes N --seed S [--games G] [--games-per-file K] [--weights FILE] [--eval network|classical]
//       [--prefix P]
//   unpack OUT.qpos IN.qgd...
//   stats IN.qgd...
// Formats and settings: tools/datagen/README.md.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "game_file.h"
#include "../tune/legal_moves.h"
#include "interface/driver.h"
#include "interface/options.h"
#include "interface/startup.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/tt.h"
#include "xnnue/network.h"

using namespace quorix;
using namespace quorix::datagen;

namespace {

// Adjudication and game settings (documented in the README).
constexpr int MAX_RECORDED_PLIES = 400;   // a longer game counts as a draw
constexpr int WIN_SCORE = 1000;           // |score| at least this ...
constexpr int WIN_PLIES = 4;              // ... for this many plies in a row, both sides agreeing
constexpr int DRAW_FROM_PLY = 80;         // game ply (random plies included) from which draws are adjudicated
constexpr int DRAW_SCORE = 10;            // |score| at most this ...
constexpr int DRAW_PLIES = 12;            // ... for this many plies in a row
constexpr int OPENING_MAX_SCORE = 300;    // an opening is kept when the search scores it within this
constexpr int GAMES_PER_BLOCK = 50;

std::atomic<bool> g_stop{false};
void on_signal(int) { g_stop.store(true); }

// One search of `root` limited to `nodes`; returns the score of the move in g_best_text.
int search_nodes(Position& root, uint64_t nodes) {
  g_move_time = 0;
  g_node_limit = nodes;
  think(root, UNTIMED, 64, "", UNTIMED, false);
  const SearchData& sd = g_sdata[0];
  for (int d = ITER_SLOTS - 1; d >= 1; d--)
    if (sd.iter_score[d] > -NO_SCORE && sd.depth_pv[d][0]) return sd.iter_score[d];
  return 0;
}

long parse_long(const char* s, long lo, long hi, const char* what) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < lo || v > hi) {
    std::fprintf(stderr, "bad %s: %s\n", what, s);
    std::exit(2);
  }
  return v;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

struct GenSettings {
  std::string outdir;
  std::string prefix = "gen1";
  uint64_t nodes = 5000;
  unsigned long seed = 1;
  long games = 0;  // 0 = until stopped
  long games_per_file = 1000;
  std::string weights;
  bool classical = false;  // the classical evaluation even with a network loaded
};

class Generator {
 public:
  explicit Generator(const GenSettings& s) : s_(s) {}

  int run() {
    // First file number not used yet by this prefix and seed; a restart continues after it
    // with a different random stream so no opening sequence repeats.
    while (exists(file_name(file_no_)) || exists(file_name(file_no_) + ".part")) file_no_++;
    rng_.seed(uint64_t(s_.seed) * 0x9E3779B97F4A7C15ULL + uint64_t(file_no_));
    const auto t0 = std::chrono::steady_clock::now();
    auto last_report = t0;
    long games = 0;
    std::vector<uint8_t> raw;
    long block_games = 0;
    while (!g_stop.load() && (s_.games == 0 || games < s_.games)) {
      GameRecord g;
      if (!play_game(g)) continue;
      append_game(raw, g);
      block_games++;
      games++;
      positions_ += long(g.index.size());
      results_[g.result]++;
      if (block_games == GAMES_PER_BLOCK || file_games_ + block_games >= s_.games_per_file) {
        if (!flush(raw, block_games)) return 1;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now - last_report >= std::chrono::seconds(30)) {
        last_report = now;
        report(games, std::chrono::duration<double>(now - t0).count());
      }
    }
    if (!flush(raw, block_games) || !close_file()) return 1;
    report(games, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
  }

 private:
  GenSettings s_;
  std::mt19937_64 rng_;
  Position game_[MAX_RECORDED_PLIES + 2];
  int file_no_ = 1;
  std::FILE* file_ = nullptr;
  long file_games_ = 0;
  long positions_ = 0;
  long results_[3] = {0, 0, 0};

  std::string file_name(int n) const {
    return s_.outdir + "/" + s_.prefix + "-s" + std::to_string(s_.seed) + "-" + std::to_string(n) + ".qgd";
  }

  void report(long games, double secs) {
    std::fprintf(stderr, "games %ld positions %ld (%.1f/s) W/D/L %ld/%ld/%ld avg length %.1f\n", games, positions_,
                 secs > 0 ? positions_ / secs : 0.0, results_[2], results_[1], results_[0],
                 games ? double(positions_) / games : 0.0);
  }

  bool flush(std::vector<uint8_t>& raw, long& block_games) {
    if (block_games == 0) return true;
    if (!file_) {
      const std::string part = file_name(file_no_) + ".part";
      file_ = std::fopen(part.c_str(), "wb");
      if (!file_) {
        std::fprintf(stderr, "cannot write %s\n", part.c_str());
        return false;
      }
    }
    std::string err;
    if (!write_block(file_, raw, err)) {
      std::fprintf(stderr, "%s: %s\n", file_name(file_no_).c_str(), err.c_str());
      return false;
    }
    file_games_ += block_games;
    raw.clear();
    block_games = 0;
    if (file_games_ >= s_.games_per_file) return close_file();
    return true;
  }

  // Closes the current file and gives it its final name (it holds whole blocks only).
  bool close_file() {
    if (!file_) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    const std::string name = file_name(file_no_);
    if (!ok || std::rename((name + ".part").c_str(), name.c_str()) != 0) {
      std::fprintf(stderr, "cannot finish %s\n", name.c_str());
      return false;
    }
    std::fprintf(stderr, "finished %s (%ld games)\n", name.c_str(), file_games_);
    file_no_++;
    file_games_ = 0;
    return true;
  }

  void new_game_state() {
    tt_clear();
    g_threads[0].reset_ordering_tables();
  }

  // Random plies from the start position, kept when a short search finds them balanced.
  std::string make_opening(int& plies_out) {
    Move moves[MAX_MOVES];
    for (;;) {
      const int plies = 7 + int(rng_() % 3);
      set_fen(game_[0], START_FEN);
      bool ok = true;
      for (int i = 0; i < plies && ok; i++) {
        const int n = sorted_legal_moves(game_[i], moves);
        if (n == 0) {
          ok = false;
          break;
        }
        make_move(game_[i], game_[i + 1], moves[rng_() % uint64_t(n)]);
        game_[i + 1].in_check = king_attacked(game_[i + 1], game_[i + 1].side()) ? 1 : 0;
      }
      if (!ok || sorted_legal_moves(game_[plies], moves) == 0) continue;
      char fen[128];
      get_fen(game_[plies], fen);
      Position root;
      setup_position(root, fen);
      new_game_state();
      if (std::abs(search_nodes(root, s_.nodes)) > OPENING_MAX_SCORE) continue;
      plies_out = plies;
      return fen;
    }
  }

  // Plays one game into g; false when the game had to be dropped.
  bool play_game(GameRecord& g) {
    int opening_plies = 0;
    g.fen = make_opening(opening_plies);
    setup_position(game_[0], g.fen);
    new_game_state();
    Move moves[MAX_MOVES];
    int white_wins = 0, black_wins = 0, quiet = 0;
    g.result = RESULT_DRAW;
    for (int ply = 0;; ply++) {
      Position& cur = game_[ply];
      const int n = sorted_legal_moves(cur, moves);
      if (n == 0) {
        g.result = !cur.in_check ? RESULT_DRAW : cur.side() == WHITE ? RESULT_BLACK_WON : RESULT_WHITE_WON;
        return true;
      }
      if (cur.fifty >= 100 || insufficient_material(cur) || repetitions(game_, ply) >= 3 ||
          ply >= MAX_RECORDED_PLIES)
        return true;  // draw
      const int score = search_nodes(cur, s_.nodes);
      Position& next = game_[ply + 1];
      if (!apply_move_text(cur, next, g_best_text)) {
        std::fprintf(stderr, "search returned no legal move (%s); game dropped\n", g_best_text);
        return false;
      }
      const Move m = next.last_move & 0xFFFF;
      const int idx = int(std::find(moves, moves + n, m) - moves);
      if (idx >= n) {
        std::fprintf(stderr, "played move %s not in the legal list; game dropped\n", g_best_text);
        return false;
      }
      next.in_check = king_attacked(next, next.side()) ? 1 : 0;
      g.index.push_back(uint8_t(idx));
      g.score.push_back(int16_t(std::clamp(score, -32767, 32767)));
      const int white_score = cur.side() == WHITE ? score : -score;
      white_wins = white_score >= WIN_SCORE ? white_wins + 1 : 0;
      black_wins = white_score <= -WIN_SCORE ? black_wins + 1 : 0;
      quiet = (opening_plies + ply >= DRAW_FROM_PLY && std::abs(score) <= DRAW_SCORE) ? quiet + 1 : 0;
      if (white_wins >= WIN_PLIES) {
        g.result = RESULT_WHITE_WON;
        return true;
      }
      if (black_wins >= WIN_PLIES) {
        g.result = RESULT_BLACK_WON;
        return true;
      }
      if (quiet >= DRAW_PLIES) return true;  // draw
    }
  }
};

int cmd_gen(int argc, char** argv) {
  if (argc < 3) return 2;
  GenSettings s;
  s.outdir = argv[2];
  for (int i = 3; i < argc; i++) {
    const std::string a = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "missing value for %s\n", a.c_str());
      return 2;
    }
    const char* v = argv[++i];
    if (a == "--nodes") s.nodes = uint64_t(parse_long(v, 1, 100000000, "node count"));
    else if (a == "--seed") s.seed = (unsigned long)parse_long(v, 0, 4000000000L, "seed");
    else if (a == "--games") s.games = parse_long(v, 1, 1000000000L, "game count");
    else if (a == "--games-per-file") s.games_per_file = parse_long(v, 1, 10000000L, "games per file");
    else if (a == "--weights") s.weights = v;
    else if (a == "--prefix") s.prefix = v;
    else if (a == "--eval") {
      const std::string e = v;
      if (e != "network" && e != "classical") {
        std::fprintf(stderr, "--eval takes network or classical, not %s\n", v);
        return 2;
      }
      s.classical = e == "classical";
    }
    else {
      std::fprintf(stderr, "unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  ::mkdir(s.outdir.c_str(), 0755);
  engine_startup();
  g_bench_quiet = true;
  opt::hash_mb = 16;
  tt_resize(16);
  if (!s.weights.empty()) {
    opt::weights_file = s.weights;
    if (!xnnue::load_network_file(s.weights)) {
      std::fprintf(stderr, "cannot load network %s\n", s.weights.c_str());
      return 1;
    }
  }
  if (s.classical) opt::use_regular_eval = 1;
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  std::signal(SIGHUP, on_signal);
  std::fprintf(stderr, "generating into %s: %llu nodes per move, seed %lu\n", s.outdir.c_str(),
               (unsigned long long)s.nodes, s.seed);
  static Generator gen(s);  // large: keep it off the stack
  return gen.run();
}

struct FileStats {
  long games = 0, positions = 0, results[3] = {0, 0, 0};
};

// Reads every game of the listed files; calls per_game for each. Returns the number of damaged files.
template <class F>
int for_each_game(int first, int argc, char** argv, F per_game) {
  int damaged = 0;
  for (int i = first; i < argc; i++) {
    GameFileReader r(argv[i]);
    std::vector<GameRecord> games;
    bool bad = false;
    while (r.next_block(games)) {
      for (const GameRecord& g : games) {
        std::string err;
        if (!per_game(g, err)) {
          std::fprintf(stderr, "%s: block %llu: %s; rest of the file skipped\n", argv[i],
                       (unsigned long long)r.blocks_read(), err.c_str());
          bad = true;
          break;
        }
      }
      games.clear();
      if (bad) break;
    }
    if (!r.error().empty()) {
      std::fprintf(stderr, "%s\n", r.error().c_str());
      bad = true;
    }
    damaged += bad;
  }
  return damaged;
}

int cmd_unpack(int argc, char** argv) {
  if (argc < 4) return 2;
  engine_startup();
  const std::string out_name = argv[2], part = out_name + ".part";
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", part.c_str());
    return 1;
  }
  FileStats st;
  bool write_ok = true;
  std::vector<uint8_t> buf;
  const int damaged = for_each_game(3, argc, argv, [&](const GameRecord& g, std::string& err) {
    buf.clear();
    if (!unpack_game(g, buf, err)) return false;
    write_ok = write_ok && std::fwrite(buf.data(), 1, buf.size(), out) == buf.size();
    st.games++;
    st.positions += long(g.index.size());
    return true;
  });
  write_ok = std::fclose(out) == 0 && write_ok;
  if (!write_ok || std::rename(part.c_str(), out_name.c_str()) != 0) {
    std::fprintf(stderr, "cannot write %s\n", out_name.c_str());
    return 1;
  }
  std::fprintf(stderr, "%ld games, %ld positions written to %s\n", st.games, st.positions, out_name.c_str());
  if (damaged) std::fprintf(stderr, "%d damaged file(s): only their readable games were written\n", damaged);
  return damaged ? 1 : 0;
}

int cmd_stats(int argc, char** argv) {
  if (argc < 3) return 2;
  engine_startup();
  FileStats st;
  const int damaged = for_each_game(2, argc, argv, [&](const GameRecord& g, std::string& err) {
    std::vector<uint8_t> buf;
    if (!unpack_game(g, buf, err)) return false;  // full check: FEN and every move index
    st.games++;
    st.positions += long(g.index.size());
    st.results[g.result]++;
    return true;
  });
  uint64_t bytes = 0;
  for (int i = 2; i < argc; i++) {
    struct stat s;
    if (::stat(argv[i], &s) == 0) bytes += uint64_t(s.st_size);
  }
  std::printf("files %d (damaged %d)\ngames %ld\npositions %ld\nwhite won %ld, draws %ld, black won %ld\n",
              argc - 2, damaged, st.games, st.positions, st.results[2], st.results[1], st.results[0]);
  std::printf("average game length %.1f plies\nbytes %llu (%.3f per position)\n",
              st.games ? double(st.positions) / st.games : 0.0, (unsigned long long)bytes,
              st.positions ? double(bytes) / st.positions : 0.0);
  return damaged ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage =
      "usage: quorix_datagen gen OUTDIR --nodes N --seed S [--games G] [--games-per-file K] [--weights FILE] "
      "[--eval network|classical] [--prefix P]\n"
      "       quorix_datagen unpack OUT.qpos IN.qgd...\n"
      "       quorix_datagen stats IN.qgd...\n";
  int rc = 2;
  if (argc >= 2 && !std::strcmp(argv[1], "gen")) rc = cmd_gen(argc, argv);
  else if (argc >= 2 && !std::strcmp(argv[1], "unpack")) rc = cmd_unpack(argc, argv);
  else if (argc >= 2 && !std::strcmp(argv[1], "stats")) rc = cmd_stats(argc, argv);
  if (rc == 2) std::fprintf(stderr, "%s", usage);
  std::fflush(stdout);
  std::_Exit(rc);  // engine threads may still be parked
}
