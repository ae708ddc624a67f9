// The search driver: "go" limits, per-search settings, iterative deepening with the
// time manager, the periodic check and the final "bestmove".
#include "interface/driver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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
#include "search/search.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"

namespace quorix {

int g_live_skill = 25;
bool g_bench_quiet = false;
char g_best_text[16] = "0000";
char g_ponder_text[16] = "";
int g_skill_noise = 0;
int g_skill_depth = 999;

namespace {

constexpr int SKILL_NOISE_CLASSICAL[26] = {5000, 5000, 3700, 3000, 2000, 1400, 750, 420, 380, 280, 200, 220, 155,
                                           105,  65,   95,   50,   65,   90,   25,  15,  7,   5,   3,   2,   0};
constexpr int SKILL_DEPTH_CLASSICAL[26] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 6, 6, 7, 8, 9, 10, 12, 999};
constexpr int SKILL_DEPTH_NETWORK[26] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 7, 8, 10, 999};
constexpr int SKILL_NOISE_NETWORK[26] = {9000, 9000, 7000, 5500, 4000, 2700, 1600, 900, 1000, 700, 550, 400, 275,
                                         185,  95,   155,  75,   145,  25,   105,  175, 25,  25,  25,  25,  0};

bool mcts_active_last = false;  // the previous search ran the Monte-Carlo search
int last_root_ply = -1;
int search_dynamism = 100;
int search_contempt = 0;       // c of the running search
int contempt_side = WHITE;     // colour that gets +c (the side to move unless "White Contempt")

// Evaluation contempt pair (10c, 10c/4) for contempt_side, negated for the other colour.
// Dynamic contempt changes it between iterations while workers evaluate: like the shared
// hash table, this is a deliberate lock-free write of aligned words (a worker sees the old
// or the new pair), kept out of the thread sanitizer's view.
__attribute__((no_sanitize("thread"))) void set_contempt(int c) {
  const Score v = make_score(10 * c, 10 * c / 4);
  g_contempt[contempt_side] = v;
  g_contempt[contempt_side ^ 1] = -v;
  g_contempt_mg = mg_value(g_contempt[WHITE]);
}

// Legal moves of the root, filtered by the searchmoves text; the stored move goes first.
int build_root_moves(Position& root, const std::string& searchmoves) {
  uint32_t list[MAX_MOVES];
  int n = generate_all(root, list);
  Position child;
  int count = 0;
  for (int i = 0; i < n && count < MAX_ROOT_MOVES; i++) {
    Move m = entry_move(list[i]);
    if (!make_move(root, child, m)) continue;
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

void wait_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

void clock_allotment(const SearchLimits& lim, int ply, int threads, double& target, double& hard) {
  const bool black = ply & 1;
  const double T = black ? lim.btime : lim.wtime;
  const double I = black ? lim.binc : lim.winc;
  const double n = threads;
  const double O = opt::overhead_ms;
  const double U = opt::time_usage;
  const int P = ply;
  const int M = lim.movestogo;
  if (M != 0) {
    double per = T / (M + 2);
    double x;
    if (P <= 77) x = 1.2 * per;
    else if (M <= 40) x = std::pow(2.0, std::pow(0.025 * M, 3.75)) * per;
    else x = 2 * per;
    x *= opt::use_mcts ? 1.55 : 1.1;
    if (ponder_credit > 0) x *= 1.33;
    target = std::max(x * (1 + U / 100) - (n + O) / 1000, 0.005);
    hard = 0.9 * (T - 0.002 * O);
  } else {
    double base = I < O / 1000 ? 20 : 16;
    double t = std::min(std::log2(n), 8.0) + 1;
    double divisor;
    if (P <= 77) {
      double start = (I < O / 1000 ? 50 : 42) - 2 * t;
      divisor = start + (base - start) * (P / 2 + 1) * 0.025;
    } else {
      divisor = base - t;
    }
    double x = (T - I) / divisor;
    if (ponder_credit > 0) x *= 1.3;
    x = x + 1.1 * I;
    if (opt::use_mcts) x *= 2;
    double y = std::min(0.9 * T, x * (1 + U / 100));
    double ms = std::trunc(1000 * y);
    target = std::max((ms - (n + O)) / 1000, 0.004);
    hard = 0.96 * (T - 0.002 * O);
  }
  // Below the overhead the formula leaves no time at all; a clock that still has time left
  // gives depth 1 a few milliseconds so that the answer is a searched move.
  if (T > 0 && hard < 0.005) hard = std::min(0.005, T / 2);
  if (hard < 0) hard = 0;
}

void go_command(const SearchLimits& limits, Position& root) {
  if (hash_loaded_flag || g_tt.hash_loaded) {
    hash_loaded_flag = false;
    g_tt.hash_loaded = false;
    tt_remember_root(root.key);
  }
  double target, hard;
  int depth = 99;
  const int saved_contempt = opt::contempt;
  bool restore_contempt = false;
  if (limits.depth > 0 || limits.infinite) {
    target = hard = UNTIMED;
    depth = limits.infinite ? 99 : limits.depth;
    if (limits.infinite && !opt::white_contempt) {
      opt::contempt = 0;
      restore_contempt = true;
    }
  } else if (limits.movetime > 0) {
    target = limits.movetime;
    hard = UNTIMED;
  } else if (limits.nodes != ~uint64_t(0)) {
    target = hard = UNTIMED;
  } else {
    clock_allotment(limits, root.ply, g_thread_count, target, hard);
  }
  think(root, target, depth, limits.searchmoves, hard, limits.infinite);
  if (restore_contempt) opt::contempt = saved_contempt;
  // The game record keeps no pointers into the thread tables (the pool may be rebuilt).
  root.pawn_table = nullptr;
  root.mat_table = nullptr;
  root.cont[0] = root.cont[1] = root.cont[2] = nullptr;
}

bool poll_check() {
  if (input_pending()) {
    process_command();
    if (quit_requested.load()) shutdown_and_exit(0);
  }
  if (g_threads[0].stop.load(std::memory_order_relaxed)) return true;
  if (--g_ctl.clock_countdown > 0) return false;
  g_ctl.clock_countdown = 256;
  const double now = elapsed_seconds();
  if (g_ctl.alpha_beta && now >= g_ctl.poll_time) {
    if (!g_ctl.quiet) report_nodes();  // the benchmark prints only its own lines
    g_ctl.poll_time = now + 2.0;
  }
  if (pondering) return false;
  if (g_ctl.iteration_done || now >= g_ctl.hard ||
      (now >= g_ctl.t3 && g_sdata[0].root_first && !g_ctl.failing_low)) {
    g_threads[0].stop.exchange(1);
    return true;
  }
  return false;
}

void think(Position& root, double target, int max_depth, const std::string& searchmoves, double hard, bool infinite) {
  g_ctl = SearchControl();
  g_ctl.start = elapsed_seconds();
  g_ctl.quiet = g_bench_quiet;
  g_ctl.max_depth = max_depth;
  std::strcpy(g_best_text, "0000");
  g_ponder_text[0] = 0;

  // 1. Personality and evaluation choice.
  root.null_marker = 0;
  root.ext_byte = 1;
  const int saved_regular = opt::use_regular_eval;
  const int pidx = g_personality >= 0 && g_personality < PERS_COUNT ? g_personality : 0;
  const PersonalityRow& prow = personality_rows[pidx];
  if (pidx != 0) {
    opt::use_regular_eval = 1;
    search_dynamism = prow.dynamism;
  } else {
    search_dynamism = opt::dynamism;
  }
  g_attack_weight[root.side()] = prow.attack_weight_own;
  g_attack_weight[root.side() ^ 1] = prow.attack_weight_opp;
  // 2. Armageddon.
  int shift = 0;
  g_draw_score[WHITE] = g_draw_score[BLACK] = 0;
  if (opt::armageddon == "White Must Win") {
    g_draw_score[WHITE] = -2000;
    g_draw_score[BLACK] = 2000;
    shift = 36;
  } else if (opt::armageddon == "Black Must Win") {
    g_draw_score[WHITE] = 2000;
    g_draw_score[BLACK] = -2000;
    shift = -36;
  }
  // 3. Dynamism grows with the thread count.
  if (!mcts_active_last) {
    search_dynamism += int(5 * std::log2(double(g_thread_count)));
    g_history_prune_threshold = 23000;
    g_history_offset = 17058;
  } else {
    g_history_prune_threshold = 19000;
    g_history_offset = 16000;
  }
  g_dynamism_weight_mg = search_dynamism * 193 / 100;
  g_dynamism_weight_eg = search_dynamism * 160 / 100;
  // 4. Skill.
  g_live_skill = opt::auto_skill ? g_live_skill : opt::skill;
  g_live_skill = std::clamp(g_live_skill, 0, 25);
  reseed_random();
  const bool classical = opt::use_regular_eval != 0;
  g_skill_noise = classical ? SKILL_NOISE_CLASSICAL[g_live_skill] * 2 : SKILL_NOISE_NETWORK[g_live_skill];
  g_skill_depth = classical ? SKILL_DEPTH_CLASSICAL[g_live_skill] : SKILL_DEPTH_NETWORK[g_live_skill];
  if (g_live_skill == 25 && opt::variety != 0) g_skill_noise = opt::variety;
  g_noise_range = g_skill_noise;
  g_noise_seed = g_random_seed;
  // 5. Search tables; a new game re-runs the evaluation set-up.
  build_search_tables(g_thread_count, false);
  if (int(root.ply) < last_root_ply) apply_eval_settings();
  last_root_ply = root.ply;
  // 6. Contempt.
  int c = opt::contempt + (root.side() == WHITE ? shift : -shift);
  if (pidx != 0 && !opt::white_contempt) c = prow.contempt;
  if (opt::use_mcts && c > 0) c = std::max(c, 16) - 16;  // Monte-Carlo search: less contempt
  search_contempt = c;
  contempt_side = opt::white_contempt ? WHITE : root.side();
  set_contempt(c);
  // 7. Search switches.
  g_null_pruning = opt::null_move_pruning != 0;
  g_analysis = opt::analyse_mode || (max_depth > 98 && target >= UNTIMED);
  g_multipv = std::max(1, opt::multipv);
  searching = 1;
  if (opt::threads != g_thread_count) {
    threads_resize(opt::threads);
    std::printf("info string Threads now set to %d\n", g_thread_count);
    std::fflush(stdout);
    build_search_tables(g_thread_count, false);
  }
  SearchThread& t0 = g_threads[0];  // after a rebuild of the pool
  SearchData& sd = g_sdata[0];
  // The game's records may point at thread tables of an earlier pool ("Threads" changed).
  attach_to_thread(root, t0);
  // 8. Deadlines.
  const double st = g_ctl.start;
  g_ctl.target = target;
  g_ctl.soft = st + 0.75 * target;
  g_ctl.early = st + 0.075 * target;
  const int k = std::max(550 - int(root.ply) / 2, 450);
  g_ctl.hard = std::min(st + target * k / 100, st + hard);
  g_ctl.t3 = st + 3 * target;
  g_ctl.t2 = st + 2 * target;
  g_ctl.t15 = st + 1.5 * target;
  g_ctl.poll_time = st + 2.0;
  if (g_move_time > 0) g_ctl.hard = g_ctl.soft = g_ctl.early = st + target;
  g_ctl.alpha_beta = true;
  // 9. Thread 0 state and the root's evaluation.
  // Every counter restarts so that reported totals cover this search only.
  for (int i = 0; i < g_thread_count; i++) g_threads[i].nodes = 0;
  t0.stop.exchange(0);
  const int phase = compute_phase(root);
  root.in_check = king_attacked(root, root.side()) ? 1 : 0;
  // 11. Root moves (tablebase filter first).
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
  t0.nodes = 0;
  int static_eval = root.in_check ? 0 : evaluate(root, -35000, 35000);
  g_lazy_margin = std::min(std::max(std::abs(static_eval), 350), 1050) + 150;
  log_printf("fen: %s\n", [&] {
    static char fen[128];
    get_fen(root, fen);
    return fen;
  }());
  {
    char lm[16] = "0000";
    if (root.his && root.last_move) move_to_text(*root.his, root.last_move, lm);
    log_printf("lastmove: %s\n", lm);
  }
  log_printf("eval: %d\n", static_eval);
  if (pondering) log_printf("ponder ply: %d\n", int(root.ply));
  else log_printf("search ply: %d\n", int(root.ply));
  log_printf("target: %0.3f\n", target);
  log_printf("depth: %d\n", max_depth);
  // 12. Table generation; shared root.
  tt_new_search(root.key, tt_keep_exact_for(opt::analyse_mode != 0, max_depth, target));
  std::memcpy(static_cast<void*>(&g_root_position), &root, sizeof(Position));
  g_shared_best_score.store(0, std::memory_order_relaxed);

  // 13. The Monte-Carlo search, when chosen and available.
  mcts_active_last = false;
  if (opt::use_mcts && g_root_move_count > 0 && popcount(root.occupied()) >= 6 &&
      mcts_think(root, infinite, target)) {
    mcts_active_last = true;
    opt::use_regular_eval = saved_regular;
    searching = 0;
    return;
  }

  // 14. Alpha-beta: release the workers.
  prepare_thread_root(sd);
  t0.nodes = 0;
  sd.searching = true;
  threads_start_search();

  // 15. Iterative deepening.
  int prev_score = 0;
  bool book_played = false;
  int last_depth = 0;
  for (int d = 1;; d++) {
    g_ctl.instability *= 0.5;
    g_ctl.step_weight = 1.0;
    if (quit_requested.load()) break;
    g_ctl.failing_low = false;
    g_ctl.accepted_fail_high = false;
    report_iteration_start(d);
    if (d == 1 && !infinite) {
      Move bm = book_probe_root(root);
      if (bm) {
        move_to_text(root, bm, g_best_text);
        if (!g_ctl.quiet) std::printf("info book move is %s\n", g_best_text);
        book_played = true;
        break;
      }
    }
    sd.iteration = d;
    sd.iter_score[d] = -NO_SCORE;
    g_ctl.changes = false;
    bool done = iteration_search(sd, d);
    const int s = sd.iter_score[d];
    if (done) {
      int sc = std::clamp(s, -50, 50);
      set_contempt(search_contempt + (32 * sc) / (std::abs(sc) + 100));
    }
    if (quit_requested.load()) break;
    if (s > -NO_SCORE && sd.depth_pv[d][0]) {
      move_to_text(root, sd.depth_pv[d][0], g_best_text);
      g_ponder_text[0] = 0;
      if (sd.depth_pv[d][1]) {
        // The ponder move is named only when it is legal in the position after the best move.
        Position child, grandchild;
        const uint64_t counted = t0.nodes;  // these two moves are not search nodes
        if (make_move(root, child, sd.depth_pv[d][0])) {
          child.in_check = king_attacked(child, child.side()) ? 1 : 0;
          if (is_pseudo_legal(child, sd.depth_pv[d][1]) && make_move(child, grandchild, sd.depth_pv[d][1]))
            move_to_text(child, sd.depth_pv[d][1], g_ponder_text);
        }
        t0.nodes = counted;
      }
      last_depth = d;
    }
    if (g_move_time <= 0 && done) {
      int delta = d == 1 ? 0 : s - prev_score;
      int b = (std::abs(s) >= 31 && std::abs(s) <= 89) ? 71 : 0;
      double x = (b - phase + 642) + 118.0 * (g_ctl.changes ? 1 : 0) + (-2.4) * delta;
      x = std::min(x, 776.0);
      double f = s > -151 ? std::max(x, 408.0) / 700 : 408.0 / 700;
      f *= 1 + g_ctl.instability;
      if (d > 10 && g_ctl.instability < 0.001) f *= 0.58;
      if (!t0.stop.load()) g_ctl.soft = st + f * target;
      log_printf("easy: %12.2f\n", f);
    }
    if (done) prev_score = s;
    if (t0.stop.load() || !done) {
      log_printf("iteration: aborted\n");
      break;
    }
    const double now = elapsed_seconds();
    if (now > g_ctl.soft) g_ctl.iteration_done = true;
    if (std::abs(s) >= 25000 && now > g_ctl.early) g_ctl.iteration_done = true;
    if (target < 31000001 && d >= 5 && g_root_move_count < 2) g_ctl.iteration_done = true;
    if (g_ctl.iteration_done && !pondering) break;
    if (d >= g_skill_depth || d >= max_depth || d > 1000) break;
  }
  (void)last_depth;

  // 16. Stop the workers.
  threads_stop_search();
  sd.searching = false;
  if (!t0.stop.load()) log_printf("iteration: completed\n");
  log_printf("itcomp: %d out of %d  %s\n", sd.root_done, g_root_move_count,
             sd.last_bound == 0 ? "exact" : sd.last_bound == 1 ? "high" : "low");
  // A search stopped before its first iteration still answers with a legal move.
  if (!book_played && std::strcmp(g_best_text, "0000") == 0 && g_root_move_count > 0)
    move_to_text(root, g_root_moves[0].move, g_best_text);

  // 17. Ponder and infinite searches wait for "stop" or "ponderhit".
  while ((pondering || infinite) && !t0.stop.load() && !stop_requested) {
    if (input_pending()) {
      process_command();
      if (quit_requested.load()) shutdown_and_exit(0);
    } else {
      wait_ms(1);
    }
  }
  g_ctl.alpha_beta = false;
  // 18. Benchmark: no output.
  if (g_ctl.quiet) {
    opt::use_regular_eval = saved_regular;
    searching = 0;
    return;
  }
  report_final();
  // 20. Auto skill.
  if (opt::auto_skill) {
    int v = last_depth > 0 ? sd.iter_score[last_depth] : 0;
    if (g_live_skill < 9) v = root.in_check ? 0 : evaluate(root, -35000, 35000);
    if (v >= 76) g_live_skill--;
    else if (v < -150) g_live_skill++;
    g_live_skill = std::min(g_live_skill, opt::skill + 3);
    g_live_skill = std::max(g_live_skill, opt::skill - 5);
    g_live_skill = std::clamp(g_live_skill, 1, 25);
  }
  // 21. The answer.
  if (g_ponder_text[0]) std::printf("bestmove %s ponder %s\n", g_best_text, g_ponder_text);
  else std::printf("bestmove %s\n", g_best_text);
  log_printf("bestmove: %s\n", g_best_text);
  if (g_ponder_text[0]) log_printf("ponder: %s\n", g_ponder_text);
  std::fflush(stdout);
  opt::use_regular_eval = saved_regular;
  searching = 0;
}

}  // namespace quorix
