// The search driver: turns "go" limits and the options into a search (settings, deadlines,
// root moves), runs it, serves input while it runs and answers with "bestmove".
#include "interface/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "eval/eval_params.h"
#include "eval/evaluate.h"
#include "interface/option_hooks.h"
#include "interface/options.h"
#include "interface/report.h"
#include "interface/root_hooks.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/deepen.h"
#include "search/search.h"
#include "search/settings.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"

namespace quorix {

int g_live_skill = 25;
bool g_bench_quiet = false;

namespace {

bool mcts_active_last = false;  // the previous search ran the Monte-Carlo search
int last_root_ply = -1;

TimeOptions time_options() {
  TimeOptions o;
  o.overhead_ms = opt::overhead_ms;
  o.time_usage = opt::time_usage;
  o.mcts = opt::use_mcts != 0;
  o.ponder_credit = ponder_credit > 0;
  return o;
}

Armageddon armageddon_option() {
  if (opt::armageddon == "White Must Win") return Armageddon::WhiteMustWin;
  if (opt::armageddon == "Black Must Win") return Armageddon::BlackMustWin;
  return Armageddon::Off;
}

// What the per-search settings are worked out from: the options and the game.
SettingsRequest settings_request(const Position& root, double target, int max_depth, bool infinite) {
  SettingsRequest r;
  r.personality = g_personality;
  r.armageddon = armageddon_option();
  r.dynamism = opt::dynamism;
  r.contempt = opt::contempt;
  r.white_contempt = opt::white_contempt != 0;
  r.classical = opt::use_regular_eval != 0;
  r.mcts = opt::use_mcts != 0;
  r.after_mcts = mcts_active_last;
  r.skill = g_live_skill;
  r.variety = opt::variety;
  r.null_move_pruning = opt::null_move_pruning != 0;
  r.analyse_mode = opt::analyse_mode != 0;
  r.multipv = opt::multipv;
  r.threads = g_thread_count;
  r.side = root.side();
  r.infinite = infinite;
  r.max_depth = max_depth;
  r.target = target;
  return r;
}

// Clock and answer of a new search.
void reset_search_state(int max_depth) {
  g_ctl = SearchControl();
  g_ctl.start = elapsed_seconds();
  g_ctl.quiet = g_bench_quiet;
  g_ctl.max_depth = max_depth;
  std::strcpy(g_best_text, "0000");
  g_ponder_text[0] = 0;
}

// Works out this search's settings from the options and installs them.
void set_up_settings(const Position& root, double target, int max_depth, bool infinite) {
  g_live_skill = std::clamp(opt::auto_skill ? g_live_skill : opt::skill, 0, 25);
  reseed_random();
  apply_search_settings(search_settings(settings_request(root, target, max_depth, infinite)), g_random_seed);
}

// Search tables, the evaluation set-up of a new game and the thread pool ("Threads" may
// have changed); attaches the root to thread 0's tables.
void prepare_tables(Position& root) {
  build_search_tables(g_thread_count, false);
  if (int(root.ply) < last_root_ply) apply_eval_settings();
  last_root_ply = root.ply;
  searching = 1;
  if (opt::threads != g_thread_count) {
    threads_resize(opt::threads);
    std::printf("info string Threads now set to %d\n", g_thread_count);
    std::fflush(stdout);
    build_search_tables(g_thread_count, false);
  }
  // The game's records may point at thread tables of an earlier pool.
  attach_to_thread(root, g_threads[0]);
}

// Legal moves of the root, filtered by the searchmoves text; the stored move goes first.
int build_root_moves(Position& root, const std::string& searchmoves) {
  Move legal[MAX_MOVES];
  const int n = legal_moves(root, legal);
  int count = 0;
  for (int i = 0; i < n && count < MAX_ROOT_MOVES; i++) {
    const Move m = legal[i];
    if (!searchmoves.empty()) {
      char text[16];
      move_to_text(root, m, text);
      if (searchmoves.find(text) == std::string::npos) continue;
    }
    g_root_moves[count].move = m;
    g_root_moves[count].score = -NO_SCORE;
    g_root_moves[count].pv[0] = 0;
    count++;
  }
  if (g_tt.clusters) {
    TTEntry* e = tt_probe(root.key);
    Move hm = e && e->depth > -98 ? e->move : 0;
    for (int i = 1; i < count && hm; i++)
      if (g_root_moves[i].move == hm) {
        std::swap(g_root_moves[0], g_root_moves[i]);
        break;
      }
  }
  return count;
}

// The root moves: the tablebase filter when the root is in the tablebases, else every
// legal move that searchmoves allows.
void choose_root_moves(Position& root, double target, const std::string& searchmoves) {
  tablebase_apply_pending();
  g_tb_hits.store(0, std::memory_order_relaxed);
  int tb_limit = opt::use_syzygy && target > 0.1 ? std::min(opt::syzygy_probe_limit, tb_largest_pieces()) : 0;
  g_tb_probe_limit = tb_limit;
  g_root_move_count = 0;
  if (tb_limit && int(root.piece_count) <= tb_limit) {
    int score = 0;
    int n = tb_root_filter(root, g_root_moves, score);
    if (n > 0) {
      g_root_move_count = n;
      if (!opt::syzygy_50_move_rule && std::abs(score) >= 1) score = score > 0 ? 31799 : -31799;
      g_ctl.tb_root_score = score;
      g_tb_probe_limit = 0;
    }
  }
  if (!g_root_move_count) g_root_move_count = build_root_moves(root, searchmoves);
}

void log_search_start(const Position& root, int static_eval, double target, int max_depth) {
  char fen[128];
  get_fen(root, fen);
  log_printf("fen: %s\n", fen);
  char lm[16] = "0000";
  if (root.his && root.last_move) move_to_text(*root.his, root.last_move, lm);
  log_printf("lastmove: %s\n", lm);
  log_printf("eval: %d\n", static_eval);
  if (pondering) log_printf("ponder ply: %d\n", int(root.ply));
  else log_printf("search ply: %d\n", int(root.ply));
  log_printf("target: %0.3f\n", target);
  log_printf("depth: %d\n", max_depth);
}

// Everything about the root before the threads start: counters, the check flag, the root
// moves, the lazy margin from the root's evaluation, the table generation and the shared
// root copy. Returns the root's game phase.
int prepare_root(Position& root, double target, int max_depth, const std::string& searchmoves) {
  // Every counter restarts so that reported totals cover this search only.
  for (int i = 0; i < g_thread_count; i++) g_threads[i].nodes = 0;
  g_threads[0].stop.exchange(0);
  const int phase = compute_phase(root);
  root.in_check = king_attacked(root, root.side()) ? 1 : 0;
  choose_root_moves(root, target, searchmoves);
  g_threads[0].nodes = 0;
  const int static_eval = root.in_check ? 0 : evaluate(root, -35000, 35000);
  g_lazy_margin = std::min(std::max(std::abs(static_eval), 350), 1050) + 150;
  log_search_start(root, static_eval, target, max_depth);
  tt_new_search(root.key, tt_keep_exact_for(opt::analyse_mode != 0, max_depth, target));
  std::memcpy(static_cast<void*>(&g_root_position), &root, sizeof(Position));
  g_shared_best_score.store(0, std::memory_order_relaxed);
  return phase;
}

// The Monte-Carlo search, when chosen and available; true when it answered.
bool monte_carlo_search(Position& root, bool infinite, double target) {
  mcts_active_last = false;
  if (opt::use_mcts && g_root_move_count > 0 && popcount(root.occupied()) >= 6 && mcts_think(root, infinite, target))
    mcts_active_last = true;
  return mcts_active_last;
}

// Alpha-beta: releases the workers, deepens on thread 0 and stops the workers again.
DeepeningResult alpha_beta_search(const Position& root, int phase, bool infinite) {
  SearchData& sd = g_sdata[0];
  prepare_thread_root(sd);
  g_threads[0].nodes = 0;
  sd.searching = true;
  threads_start_search();
  const DeepeningResult res = iterative_deepening(sd, root, phase, infinite);
  if (res.book_move) {
    move_to_text(root, res.book_move, g_best_text);
    if (!g_ctl.quiet) std::printf("info book move is %s\n", g_best_text);
  }
  threads_stop_search();
  sd.searching = false;
  if (!g_threads[0].stop.load()) log_printf("iteration: completed\n");
  log_printf("itcomp: %d out of %d  %s\n", sd.root_done, g_root_move_count,
             sd.last_bound == 0 ? "exact" : sd.last_bound == 1 ? "high" : "low");
  // A search stopped before its first iteration still answers with a legal move.
  if (!res.book_move && std::strcmp(g_best_text, "0000") == 0 && g_root_move_count > 0)
    move_to_text(root, g_root_moves[0].move, g_best_text);
  return res;
}

// Serves one queued command, if any; "quit" ends the program here.
void serve_input() {
  process_command();
  if (quit_requested.load()) shutdown_and_exit(0);
}

// Ponder and infinite searches answer only after "stop" or "ponderhit".
void wait_for_release(bool infinite) {
  while ((pondering || infinite) && !g_threads[0].stop.load() && !stop_requested) {
    if (input_pending()) serve_input();
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// "Auto Skill": the level follows the score of the game (the evaluation at low levels).
void adjust_auto_skill(Position& root, int last_depth) {
  if (!opt::auto_skill) return;
  int v = last_depth > 0 ? g_sdata[0].iter_score[last_depth] : 0;
  if (g_live_skill < 9) v = root.in_check ? 0 : evaluate(root, -35000, 35000);
  if (v >= 76) g_live_skill--;
  else if (v < -150) g_live_skill++;
  g_live_skill = std::min(g_live_skill, opt::skill + 3);
  g_live_skill = std::max(g_live_skill, opt::skill - 5);
  g_live_skill = std::clamp(g_live_skill, 1, 25);
}

void announce_best_move() {
  if (g_ponder_text[0]) std::printf("bestmove %s ponder %s\n", g_best_text, g_ponder_text);
  else std::printf("bestmove %s\n", g_best_text);
  log_printf("bestmove: %s\n", g_best_text);
  if (g_ponder_text[0]) log_printf("ponder: %s\n", g_ponder_text);
  std::fflush(stdout);
}

void end_search() {
  release_search_settings();
  searching = 0;
}

}  // namespace

void go_command(const SearchLimits& limits, Position& root) {
  if (hash_loaded_flag || g_tt.hash_loaded) {
    hash_loaded_flag = false;
    g_tt.hash_loaded = false;
    tt_remember_root(root.key);
  }
  double target, hard;
  int depth = 99;
  if (limits.depth > 0 || limits.infinite) {
    target = hard = UNTIMED;
    depth = limits.infinite ? 99 : limits.depth;
  } else if (limits.movetime > 0) {
    target = limits.movetime;
    hard = UNTIMED;
  } else if (limits.nodes != ~uint64_t(0)) {
    target = hard = UNTIMED;
  } else {
    clock_allotment(limits, root.ply, g_thread_count, time_options(), target, hard);
  }
  think(root, target, depth, limits.searchmoves, hard, limits.infinite);
  // The game record keeps no pointers into the thread tables (the pool may be rebuilt).
  root.pawn_table = nullptr;
  root.mat_table = nullptr;
  root.cont[0] = root.cont[1] = root.cont[2] = nullptr;
}

bool poll_check() {
  if (input_pending()) serve_input();
  if (g_threads[0].stop.load(std::memory_order_relaxed)) return true;
  if (--g_ctl.clock_countdown > 0) return false;
  g_ctl.clock_countdown = 256;
  const double now = elapsed_seconds();
  if (g_ctl.alpha_beta && now >= g_ctl.poll_time) {
    if (!g_ctl.quiet) report_nodes();  // the benchmark prints only its own lines
    g_ctl.poll_time = now + 2.0;
  }
  if (pondering) return false;
  return deadline_passed(now);
}

void think(Position& root, double target, int max_depth, const std::string& searchmoves, double hard, bool infinite) {
  reset_search_state(max_depth);
  root.null_marker = 0;
  root.ext_byte = 1;
  set_up_settings(root, target, max_depth, infinite);
  prepare_tables(root);
  set_deadlines(target, hard, root.ply, g_move_time > 0);
  g_ctl.alpha_beta = true;
  const int phase = prepare_root(root, target, max_depth, searchmoves);
  if (monte_carlo_search(root, infinite, target)) return end_search();
  const DeepeningResult res = alpha_beta_search(root, phase, infinite);
  wait_for_release(infinite);
  g_ctl.alpha_beta = false;
  if (!g_ctl.quiet) {  // the benchmark answers nothing
    report_final();
    adjust_auto_skill(root, res.last_depth);
    announce_best_move();
  }
  end_search();
}

}  // namespace quorix
