// Alpha-beta search: root, PV, non-PV and quiescence nodes.
#include "search/search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "board/makemove.h"
#include "search/make.h"
#include "search/movepick.h"
#include "board/movetext.h"
#include "eval/eval_params.h"
#include "eval/evaluate.h"
#include "eval/eval_options.h"
#include "search/hooks.h"
#include "util/clock.h"
#include "search/control.h"
#include "search/history.h"
#include "search/see.h"
#include "search/search_params.h"
#include "search/tt.h"

namespace quorix {

SearchData* g_sdata = nullptr;
Position g_root_position;
RootMove g_root_moves[MAX_ROOT_MOVES];
int g_root_move_count = 0;
std::atomic<int> g_shared_best_score{0};
std::atomic<uint64_t> g_shallow_keys[1024];

int g_draw_score[2] = {0, 0};
bool g_null_pruning = true;
bool g_mcts_mode = false;
bool g_analysis = false;
int g_multipv = 1;
int g_tb_probe_limit = 0;
std::atomic<uint64_t> g_tb_hits{0};

int g_red[2][128][64];
int g_red_pred[2][128][64];
int g_lmp[2][24];
int g_fut_step = 80;

namespace {

constexpr int INF = 32001;
constexpr int QS_VALUE[7] = {0, 2, 7, 8, 11, 22, 999};

// Keys that separate an excluded-move search from the node's own entries.
struct ExclusionKeys {
  uint64_t z1[64], z2[64];
  constexpr ExclusionKeys() : z1(), z2() {
    uint64_t s = 0x7A3C9E15D2B40F61ULL;
    for (int i = 0; i < 64; i++) z1[i] = detail::splitmix(s);
    for (int i = 0; i < 64; i++) z2[i] = detail::splitmix(s);
  }
};
constexpr ExclusionKeys EXCL{};

// Optimistic capture gain by game phase for the quiescence futility test.
inline int qs_capture_gain(int type, int phase) { return g_phase_piece_value[phase > 96 ? 96 : phase < 0 ? 0 : phase][type]; }

// Copy of a slot taken at probe time; slots are shared without locks.
struct Probe {
  bool found = false;
  Move move = 0;
  int score = 0, depth = -128, eval = TT_NO_EVAL, bound = 0;
  bool pv = false;
};

__attribute__((no_sanitize("thread"))) inline void tt_read(uint64_t key, int ply, Probe& pr) {
  pr = Probe();
  if (!g_tt.clusters) return;
  TTEntry* e = tt_probe(key);
  if (!e) return;
  TTEntry c = *e;
  if (uint32_t(key >> 32) != c.key32) return;
  pr.found = true;
  // Slots may come from a loaded hash file: values are kept inside the ranges the search uses.
  pr.eval = c.eval == TT_NO_EVAL ? TT_NO_EVAL : std::clamp(int(c.eval), -25000, 25000);
  pr.pv = (c.flags & TT_FLAG_PV) != 0;
  if (c.depth < -98) return;  // evaluation only
  pr.move = c.move;
  pr.score = std::clamp(score_from_tt(c.score, ply), -MATE, MATE);
  pr.depth = c.depth;
  pr.bound = c.bound;
}

__attribute__((no_sanitize("thread"))) inline bool tt_is_busy(uint64_t key) {
  if (!g_tt.clusters) return false;
  TTEntry* e = tt_probe(key);
  return e && (e->flags & TT_FLAG_BUSY);
}

inline void store(uint64_t key, int depth, int score, int bound, Move m, int retain, int eval, bool pv, int ply) {
  if (!g_tt.clusters) return;
  tt_store(key, depth, score_to_tt(score, ply), bound, m, retain, eval >= NO_SCORE ? TT_NO_EVAL : eval, pv);
}

inline void mark_busy(uint64_t key, bool busy) {
  if (g_tt.clusters) tt_mark_busy(key, busy);
}

inline bool has_pieces(const Position& p, int s) {
  return (p.pieces(s) & ~p.pieces(s, PAWN) & ~p.pieces(s, KING)) != 0;
}

inline int draw_score(const Position& p) { return g_draw_score[p.side()]; }

inline bool is_capture(const Position& p, Move m) { return p.board[move_to(m)] != 0 && move_kind(m) != MK_CASTLE; }
inline bool is_quiet(const Position& p, Move m) {
  int k = move_kind(m);
  return k != MK_EP && !is_promotion(m) && (k == MK_CASTLE || !p.board[move_to(m)]);
}
inline bool is_underpromotion(Move m) { return move_kind(m) > MK_PROMO_Q; }

inline bool stopped(const SearchData& sd) { return sd.th->stop.load(std::memory_order_relaxed) != 0; }

// Stop flag first, then (thread 0) input and clock.
inline bool node_stop(SearchData& sd) {
  if (stopped(sd)) return true;
  if (sd.index == 0 && g_search_hooks.poll && g_search_hooks.poll()) return true;
  if (sd.th->nodes >= sd.node_budget_end) [[unlikely]] {
    // Budget spent: the flag gets 2 so that the budget's owner can tell it from a real stop.
    uint8_t running = 0;
    sd.th->stop.compare_exchange_strong(running, 2);
    return true;
  }
  return false;
}

inline int scaled_eval(int e, int fifty) { return e - (fifty - 10) * e / 200; }

inline void pv_set(SearchData& sd, int ply, Move m) {
  sd.pv[ply][0] = m;
  int n = ply + 1 < PV_MAX ? sd.pv_len[ply + 1] : 0;
  if (n > PV_MAX - 2) n = PV_MAX - 2;
  std::memcpy(&sd.pv[ply][1], sd.pv[ply + 1], sizeof(Move) * size_t(n));
  sd.pv_len[ply] = n + 1;
}

// Marks a shallow node in the shared key table while it is searched.
struct ShallowMark {
  std::atomic<uint64_t>* slot = nullptr;
  uint64_t key = 0;
  bool other = false;
  void enter(uint64_t k, int ply) {
    if (ply >= 8 || g_thread_count < 2) return;
    slot = &g_shallow_keys[k & 1023];
    key = k;
    other = slot->load(std::memory_order_relaxed) == k;
    slot->store(k, std::memory_order_relaxed);
  }
  ~ShallowMark() {
    if (slot) {
      uint64_t k = key;
      slot->compare_exchange_strong(k, 0, std::memory_order_relaxed);
    }
  }
};

// Makes a move of a node searched by sd's thread (counted as a node).
inline int make(SearchData& sd, const Position& p, Position& child, Move m) {
  return search_make(*sd.th, p, child, m, !classical_eval_selected());
}

// Whether a position in check has a legal move (the moves tried count as nodes).
bool has_legal_evasion(SearchThread& th, const Position& p) {
  uint32_t list[MAX_MOVES];
  int n = generate_evasions(p, list);
  Position child;
  for (int i = 0; i < n; i++)
    if (search_make(th, p, child, entry_move(list[i]), !classical_eval_selected())) return true;
  return false;
}

bool has_legal_move(SearchData& sd, const Position& p) {
  if (p.in_check) return has_legal_evasion(*sd.th, p);
  uint32_t list[MAX_MOVES];
  int n = generate_all(p, list);
  Position child;
  for (int i = 0; i < n; i++)
    if (make(sd, p, child, entry_move(list[i]))) return true;
  return false;
}

// Whether a quiet pawn push creates a passed pawn deep in enemy territory.
bool passed_push(const Position& p, Move m) {
  int from = move_from(m), to = move_to(m), s = p.side(), o = s ^ 1;
  if (piece_type(p.board[from]) != PAWN || is_promotion(m) || p.board[to] || move_kind(m) == MK_EP) return false;
  int rel = s == WHITE ? rank_of(to) : 7 - rank_of(to);
  if (rel < 5) return false;
  Bitboard enemy = p.pieces(o, PAWN);
  if (pawn_attacks(s, to) & enemy) return false;
  int f = file_of(to);
  Bitboard files = FILE_A << f;
  if (f > 0) files |= FILE_A << (f - 1);
  if (f < 7) files |= FILE_A << (f + 1);
  Bitboard ahead = 0;
  for (int r = rank_of(to) + (s == WHITE ? 1 : -1); r >= 0 && r <= 7; r += (s == WHITE ? 1 : -1))
    ahead |= RANK_1 << (8 * r);
  if (enemy & files & ahead) return false;
  int next = to + (s == WHITE ? 8 : -8);
  if (next >= 0 && next < 64 && (pawn_attacks(s, next) & enemy)) return false;
  return true;
}

}  // namespace

void build_search_tables(int threads, bool mcts) {
  int k = 0;
  if (threads >= 3) k = int(7.213475204444817 * std::log(double(threads)) - 5);
  int s = g_search_options.reduction + k;
  if (mcts) s = -115;
  const double D[2] = {140.0 - s, 165.0 - s};
  for (int v = 0; v < 2; v++)
    for (int d = 0; d < 128; d++)
      for (int n = 0; n < 64; n++) {
        if (d < 1 || n < 1) {
          g_red[v][d][n] = g_red_pred[v][d][n] = 0;
          continue;
        }
        double base = 200.0 * std::log(d / 2.0) * std::log(double(n)) / D[v];
        double m = d < 31 ? 2.0 : d < 50 ? 2.0 - 0.1 * (d - 30) : 0.0;
        g_red[v][d][n] = int(std::lround(base));
        g_red_pred[v][d][n] = int(std::lround(base - m));
      }
  int S = int(7.213475204444817 * std::log(double(threads < 1 ? 1 : threads))) + g_search_options.selectivity;
  if (mcts) S = 197;
  if (S < 1) S = 1;
  for (int d = 0; d < 24; d++) {
    g_lmp[0][d] = int(14.0 * d * d / S - 0.01);
    g_lmp[1][d] = int(22.0 * d * d / S + 2.5);
  }
  g_lmp[0][23] = g_lmp[1][23] = 999;
  g_fut_step = mcts ? 90 : 80;
}

bool is_draw_child(SearchThread& th, const Position& c, int needed) {
  if (c.fifty >= 100) {
    if (c.fifty > 100 || !c.in_check) return true;
    return has_legal_evasion(th, c);
  }
  // Only positions an even number of plies back have the same side to move.
  int count = 0;
  const Position* q = c.his ? c.his->his : nullptr;
  for (int i = 2; i <= c.fifty && q; i += 2) {
    if (q->key == c.key && ++count >= needed) return true;
    q = q->his ? q->his->his : nullptr;
  }
  return false;
}

// Shared start of the PV and quiescence nodes: stop flag, mate-distance window,
// insufficient material and the ply limit. Returns true with `result` when the node ends here.
inline bool node_prologue(SearchData& sd, Position& p, int& alpha, int& beta, int ply, int& result) {
  if (node_stop(sd)) { result = 0; return true; }
  if (ply < PV_MAX) sd.pv_len[ply] = 0;
  alpha = std::max(alpha, ply - MATE);
  beta = std::min(beta, MATE - 1 - ply);
  if (alpha >= beta) { result = alpha; return true; }
  if (p.phase < 5 && !(p.bb[1] | p.bb[8])) { result = draw_score(p); return true; }
  if (ply >= MAX_PLY - 2) { result = p.in_check ? draw_score(p) : evaluate(p, alpha, beta); return true; }
  return false;
}

// ------------------------------------------------------------------ quiescence

int search_q(SearchData& sd, Position& p, int alpha, int beta, int qdepth, int ply) {
  int early;
  if (node_prologue(sd, p, alpha, beta, ply, early)) return early;
  const bool in_check = p.in_check != 0;

  const bool pv_node = beta - alpha > 1;
  Probe pr;
  tt_read(p.key, ply, pr);
  if (pr.found && pr.bound && p.fifty < 90 && pr.depth >= (qdepth <= -2 ? -2 : 0)) {
    if (((pr.bound & TT_LOWER) && pr.score >= beta) || ((pr.bound & TT_UPPER) && pr.score <= alpha)) return pr.score;
  }

  int best = -INF, stand = NO_SCORE;
  const int old_alpha = alpha;
  if (!in_check) {
    int e;
    if (pr.found && pr.eval != TT_NO_EVAL) e = pr.eval;
    else {
      bool lazy = false;
      e = pv_node ? evaluate(p, -35000, 35000, &lazy)
                  : evaluate(p, alpha - sp::QS_EVAL_MARGIN, beta + sp::QS_EVAL_MARGIN, &lazy);
      if (!pr.found && !lazy) store(p.key, TT_DEPTH_EVAL_ONLY, 0, 0, 0, 0, e, false, ply);
    }
    p.static_eval = e;
    stand = e;
    if (pr.found && pr.bound && pr.depth > -98) {
      if (pr.bound == TT_EXACT || ((pr.bound & TT_LOWER) && pr.score > stand) ||
          ((pr.bound & TT_UPPER) && pr.score < stand))
        stand = pr.score;
    }
    // Stand pat; hopeless positions and very long capture sequences end here.
    if (stand >= beta) return stand;
    if (stand < alpha - sp::QS_HOPELESS) return alpha;
    if (qdepth < sp::QS_DEPTH_LIMIT) return stand;
    best = stand;
    if (stand > alpha) alpha = stand;
  } else {
    p.static_eval = NO_SCORE;
  }

  MovePicker mp;
  Move hash = pr.move && is_pseudo_legal(p, pr.move) ? pr.move : 0;
  int kind = in_check ? PK_EVASIONS : (qdepth == 0 ? PK_Q_CHECKS : PK_Q_CAPTURES);
  if (!in_check && hash && is_quiet(p, hash) && !gives_check(p, hash)) hash = 0;
  mp.init(&p, sd.th, kind, hash, 0, 0, 0, 0);
  const int base = in_check ? 0 : stand + sp::QS_FUTILITY_MARGIN;
  Position& child = sd.stack[ply + 1];
  Move best_move = 0;
  int tried = 0, legal = 0;
  const int s = p.side();
  CheckInfo ci;
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (is_underpromotion(m)) continue;
    if (!in_check) {
      int to = move_to(m), from = move_from(m);
      int pt = piece_type(p.board[from]);
      int rel = s == WHITE ? rank_of(to) : 7 - rank_of(to);
      // Futility and exchange pruning, except for the hash move, advanced pawns,
      // promotions and checks.
      // The check test runs only when a pruning rule would drop the move.
      bool free_pass = m == hash || (pt == PAWN && rel >= 5) || is_promotion(m);
      if (!free_pass) {
        int ct = move_kind(m) == MK_EP ? PAWN : piece_type(p.board[to]);
        if (tried >= 2 && qdepth < 0 && ct == PAWN) {
          if (!gives_check(p, m, ci)) continue;
        } else {
          int opt_val = base + qs_capture_gain(ct, p.phase);
          if (opt_val < alpha) {
            if (!gives_check(p, m, ci)) {
              if (opt_val > best) best = opt_val;
              continue;
            }
          } else if (base + sp::QS_SEE_MARGIN < alpha && QS_VALUE[ct] <= QS_VALUE[pt] && see_bad_q(p, m) &&
                     !gives_check(p, m, ci)) {
            continue;
          }
        }
      }
    }
    if (!make(sd, p, child, m)) continue;
    legal++;
    tried++;
    child.in_check = king_attacked(child, child.side()) ? 1 : 0;
    int v;
    if (is_draw_child(*sd.th, child, 1)) {
      v = draw_score(p);
      sd.pv_len[ply + 1] = 0;
    } else {
      v = -search_q(sd, child, -beta, -alpha, qdepth - 2, ply + 1);
    }
    if (stopped(sd)) return 0;
    if (v > best) {
      best = v;
      if (v > alpha) {
        best_move = m;
        if (pv_node && ply < PV_MAX - 1) pv_set(sd, ply, m);
        if (v >= beta) break;
        alpha = v;
      }
    }
  }
  if (in_check && !legal) return ply - MATE;
  int bound = best >= beta ? TT_LOWER : (pv_node && best > old_alpha) ? TT_EXACT : TT_UPPER;
  store(p.key, 0, best, bound, best_move, 0, p.static_eval, false, ply);
  return best;
}

// ------------------------------------------------------------------ shared node parts

namespace {

// Raw static evaluation: the table's, else a fresh one in the window lo..hi, stored as an
// evaluation-only slot when the table had nothing (and the evaluation was not a lazy one).
inline int raw_static_eval(Position& p, uint64_t key, const Probe& pr, int ply, int lo, int hi, bool allow_lazy,
                           bool may_store) {
  if (pr.found && pr.eval != TT_NO_EVAL) return pr.eval;
  bool lazy = false;
  const int raw = evaluate(p, lo, hi, allow_lazy ? &lazy : nullptr);
  if (may_store && !pr.found && !lazy) store(key, TT_DEPTH_EVAL_ONLY, 0, 0, 0, 0, raw, false, ply);
  return raw;
}

// The table's score replaces the static evaluation where its bound says it is closer.
inline int tt_adjusted_eval(int e, const Probe& pr) {
  if (pr.found && pr.bound && pr.depth > -98) {
    if (pr.bound == TT_EXACT || ((pr.bound & TT_LOWER) && pr.score > e) || ((pr.bound & TT_UPPER) && pr.score < e))
      return pr.score;
  }
  return e;
}

// Whether the static evaluation did not fall against the one two plies up (never in check).
inline bool improving_at(const Position& p, int ply, int static_eval, bool in_check) {
  if (in_check) return false;
  if (ply >= 2 && p.his && p.his->his) {
    const int prev = p.his->his->static_eval;
    if (prev != NO_SCORE && prev != sp::EVAL_NOT_SET)
      return static_eval != NO_SCORE && static_eval >= prev - sp::IMPROVING_SLACK;
  }
  return true;
}

// Statistics score of the move about to be searched (the child reads it as its parent's).
inline int stat_score_of(const MovePicker& mp, bool capture, int hsum) {
  if (mp.stage == ST_HASH) return sp::STAT_SURE_MOVE;
  if (capture) return mp.stage == ST_DEFERRED ? sp::STAT_DEFERRED_CAPTURE : sp::STAT_SURE_MOVE;
  return hsum / 4 - g_history_offset;
}

// Late-move reduction from the table (improving flag, depth, move number).
inline int table_reduction(int imp, int depth, int count) {
  return g_red[imp][std::min(depth, 127)][std::min(count, 63)];
}
// A reduction of at least one ply shrinks for a move that may lose its piece.
inline int less_if_unsafe(int r, const Position& p, Move m) { return r >= 2 && !quiet_safe(p, m) ? r - sp::LMR_UNSAFE : r; }
// Reductions are whole plies; less than one ply is none.
inline int whole_plies(int r) {
  if (r >= 3 && (r & 1)) r++;
  return r < 2 ? 0 : r;
}

// The moves that refuted others here before: the two killers and the counter move.
struct Refutations {
  Move k1, k2, cm;
  bool has(Move m) const { return m == k1 || m == k2 || m == cm; }
};
inline Refutations refutations_at(const SearchThread& th, const Position& p, int ply) {
  return {th.killers[ply][0], th.killers[ply][1],
          p.last_move ? Move(th.counter_moves[p.moved_piece * 4096 + (p.last_move & 4095)]) : 0};
}

// Depth of a child; under-promotions get half of it.
inline int child_depth(int d, bool under) { return under ? (d / 2) & ~1 : d; }

// Extension of move m at a node (half-plies).
int extension_for(SearchData& sd, Position& p, Move m, const MovePicker& mp, bool check, int depth, int ply,
                  int beta, const Probe& pr, bool allow_singular, int retain, bool& cut_now) {
  cut_now = false;
  int ext = 0;
  // A passed pawn pushed deep in the middlegame.
  if (depth >= sp::PASSED_EXT_MIN_DEPTH && depth <= sp::PASSED_EXT_MAX_DEPTH && p.phase < sp::PASSED_EXT_PHASE &&
      mp.stage != ST_HASH && mp.stage != ST_CAPTURES && mp.stage != ST_EVASIONS && passed_push(p, m) && !see_bad(p, m))
    ext = sp::EXTENSION;
  // A capture of the last piece: the game goes into a pawn ending.
  if (!ext && is_capture(p, m) && piece_type(p.board[move_to(m)]) != PAWN &&
      p.phase - PHASE_WEIGHT[piece_type(p.board[move_to(m)])] == 0 && !is_promotion(m))
    ext = sp::PAWN_ENDGAME_EXTENSION;
  // Singular hash move: every other move fails below the table score minus a margin.
  if (!ext && allow_singular && m == pr.move && mp.stage == ST_HASH && (pr.bound & TT_LOWER) &&
      pr.depth >= depth - sp::SINGULAR_TT_SLACK && std::abs(pr.score) <= sp::SINGULAR_MAX_SCORE &&
      depth > sp::SINGULAR_DEPTH && !(ply >= sp::SINGULAR_CHECK_PLY && p.in_check)) {
    int sbeta = pr.score - std::max(int(sp::SINGULAR_MARGIN_PER_DEPTH * depth), sp::SINGULAR_MIN_MARGIN);
    int sdepth = (depth / 2) & ~1;
    int v = search_nonpv(sd, p, sbeta, sdepth, ply, m, true, retain);
    if (stopped(sd)) return 0;
    if (v < sbeta) ext = sp::EXTENSION;
    else if (v >= beta) cut_now = true;  // another move beats beta as well
  }
  // Checks: the hash move at moderate depth, an extended line, strong quiet history, or a
  // reply to a check when the score is not above zero.
  if (!ext && check) {
    if ((m == pr.move && depth <= sp::CHECK_EXT_HASH_DEPTH) || p.ext_byte ||
        (is_quiet(p, m) &&
         history_sum(*sd.th, p, p.board[move_from(m)], move_from(m), move_to(m)) >= sp::CHECK_EXT_HISTORY) ||
        (beta < 1 && p.his && p.his->in_check))
      ext = sp::EXTENSION;
  }
  return ext;
}

// History updates after a move reached beta: captures tried, then the quiet rules.
void cutoff_stats(SearchThread& th, const Position& p, int ply, Move best, const Move* quiets, int nq,
                  const Move* captures, int nc, int depth, int beta) {
  if (nc) update_capture_stats(th, p, best, captures, nc, depth);
  if (!is_quiet(p, best)) return;
  int n = 0;
  while (n < nq && quiets[n] != best) n++;
  update_quiet_stats(th, p, ply, best, quiets, n, depth, p.static_eval != NO_SCORE && p.static_eval <= beta - 55);
}

// ------------------------------------------------------------------ non-PV node parts

// Table cutoff of a non-PV node (the score is pr.score); a quiet move that reached beta is
// rewarded as a refutation.
inline bool tt_cutoff(SearchThread& th, const Position& p, const Probe& pr, int depth, int ply, int beta, bool in_check,
                      Move excluded) {
  if (!pr.found || !pr.bound || p.fifty >= sp::TT_CUT_MAX_FIFTY || pr.depth < depth) return false;
  if ((pr.bound & TT_LOWER) && pr.score >= beta) {
    if (pr.move && is_pseudo_legal(p, pr.move) && is_quiet(p, pr.move) && !excluded) {
      update_refutations(th, p, ply, pr.move);
      if (!in_check && depth <= sp::TT_CUT_REWARD_DEPTH) history_reward(th, p, pr.move, depth);
    }
    return true;
  }
  return (pr.bound & TT_UPPER) && pr.score < beta;
}

// Evaluation window of a non-PV node: full when deep, else around beta.
inline void nonpv_eval_window(int depth, int beta, int& lo, int& hi) {
  if (depth >= sp::EVAL_FULL_DEPTH) {
    lo = -35000;
    hi = 35000;
    return;
  }
  const int margin = depth <= sp::EVAL_NARROW_DEPTH ? sp::EVAL_NARROW_MARGIN
                                                    : sp::EVAL_MARGIN_PER_DEPTH * depth + sp::EVAL_MARGIN_BASE;
  lo = beta - margin;
  hi = beta + margin;
}

// Static evaluation of a non-PV node (kept in p.static_eval, NO_SCORE in check): raw is the
// evaluation itself, e the value the pruning rules compare with beta (the table's score where
// its bound allows).
inline void nonpv_static_eval(Position& p, uint64_t key, const Probe& pr, int depth, int ply, int beta, bool in_check,
                              bool may_store, int& raw, int& e) {
  raw = e = NO_SCORE;
  if (in_check) {
    p.static_eval = NO_SCORE;
    return;
  }
  int lo, hi;
  nonpv_eval_window(depth, beta, lo, hi);
  raw = raw_static_eval(p, key, pr, ply, lo, hi, true, may_store);
  p.static_eval = scaled_eval(raw, p.fifty);
  e = tt_adjusted_eval(p.static_eval, pr);
}

// Null-move search of a non-PV node whose conditions hold. True with result when the node
// ends here. A null move that fails far below beta shows a threat: a node reduced a little
// ends, others search deeper (depth grows).
bool null_move(SearchData& sd, Position& p, int beta, int& depth, int ply, int e, int retain, int& result) {
  const int rn = 2 * ((sp::NULL_R_PER_DEPTH * depth + std::min(sp::NULL_R_EVAL_WEIGHT * (e - beta), sp::NULL_R_EVAL_CAP) +
                       sp::NULL_R_BASE) /
                      1000);
  Position& child = sd.stack[ply + 1];
  make(sd, p, child, 0);
  child.in_check = 0;
  child.lmr_byte = 0;
  int cv;
  if (depth - rn > 1) cv = search_nonpv(sd, child, 1 - beta, depth - rn, ply + 1, 0, true, 1 - retain);
  else cv = search_q(sd, child, -beta, 1 - beta, 0, ply + 1);
  result = 0;
  if (stopped(sd)) return true;
  const int v = cv < sp::NULL_MATED_SCORE ? beta : -cv;
  result = v;
  if (v < beta - sp::NULL_THREAT_MARGIN && p.lmr_byte) {
    if (p.lmr_byte < sp::NULL_THREAT_LMR_LIMIT) return true;
    depth += sp::NULL_THREAT_EXTENSION;
  }
  if (v >= beta) {
    if (depth < sp::NULL_VERIFY_DEPTH || (p.phase >= sp::NULL_VERIFY_PHASE && depth < sp::NULL_VERIFY_DEEP)) return true;
    // Deep cutoffs are verified by a reduced search of the node itself without null moves.
    p.null_marker = uint8_t(ply + 2);
    const int w = search_nonpv(sd, p, beta, depth - rn - 2, ply, 0, true, 0);
    p.null_marker = 0;
    if (stopped(sd)) {
      result = 0;
      return true;
    }
    if (w >= beta) return true;
  }
  return false;
}

// Internal search for a move at a non-PV node: a shallower search fills in the table's move
// (pr is read again). False when the search was stopped.
bool internal_search_nonpv(SearchData& sd, Position& p, uint64_t key, Probe& pr, int beta, int depth, int ply, bool cut,
                           int retain) {
  search_nonpv(sd, p, beta, (depth - sp::IID_REDUCTION) & ~1, ply, 0, cut, retain);
  if (stopped(sd)) return false;
  Probe again;
  tt_read(key, ply, again);
  if (again.found) pr = again;
  return true;
}

// The move that takes our last move back when nothing else changed (0: none). A node that
// must beat the draw score does not try it.
inline Move undoing_move(const Position& p, int beta) {
  if (p.fifty < 2 || beta <= draw_score(p) || !p.his || !p.his->his || !p.his->last_move ||
      move_kind(p.his->last_move) != MK_NORMAL || p.castle_lost != p.his->his->castle_lost)
    return 0;
  const Move own = p.his->last_move;
  const int f = move_from(own), t = move_to(own);
  if (!p.board[f] && !(between_bb[f][t] & p.occupied()) && p.board[t] == p.his->moved_piece) return make_move_code(t, f);
  return 0;
}

// Pruning of a non-PV node's move before it is made.
bool prune_nonpv_move(SearchThread& th, const Position& p, Move m, bool quiet, bool check, int hsum, int depth, int imp,
                      int count, int lmp, bool in_check, int static_eval, int beta) {
  // Captures and checks: a clearly losing exchange.
  if (!quiet || check) return depth <= sp::SEE_PRUNE_DEPTH && see_below(p, m, -sp::SEE_PRUNE_PER_DEPTH * depth);
  // Late quiet moves with a poor history.
  if (count > lmp && depth <= sp::LMP_MAX_DEPTH && !in_check && hsum / 4 < g_history_prune_threshold) return true;
  const int pd = std::max(0, depth - 2 - g_red_pred[imp][std::min(depth, 127)][std::min(count + 1, 63)]);
  // Shallow: weak continuation entries and a weak butterfly entry.
  if (pd <= sp::CONT_PRUNE_DEPTH) {
    const int pc = p.board[move_from(m)];
    const int idx = pc * 64 + move_to(m);
    const bool miss = cont_row_missing(th, p.cont[0]) || cont_row_missing(th, p.cont[1]);
    const bool c1_low = miss || p.cont[0][idx] <= sp::CONT_LOW;
    const bool c2_low = miss || p.cont[1][idx] <= sp::CONT_LOW;
    if (c1_low && c2_low && (th.history[pc * 4096 + (m & 4095)] < sp::HISTORY_LOW || miss)) return true;
  }
  // Futility: the static evaluation plus a depth margin stays below beta.
  if (pd <= sp::FUTILITY_DEPTH && !in_check && static_eval != NO_SCORE &&
      static_eval + sp::FUTILITY_PER_DEPTH * pd + sp::FUTILITY_BASE < beta)
    return true;
  // A quiet move that loses material, unless its history is strong.
  return pd <= sp::SEE_QUIET_DEPTH && hsum < sp::SEE_QUIET_HISTORY && see_below(p, m, sp::SEE_STEPS[pd / 2]);
}

// Late-move reduction of a non-PV node's move (half-plies, 0 = none). Not for the first move,
// nor for good captures and capturing evasions unless the node is expected to cut.
int nonpv_reduction(const Position& p, Move m, const MovePicker& mp, bool first, int imp, int depth, int count,
                    int busy_extra, bool pv_bit, bool capture, bool cut, bool in_check, bool refutation,
                    int parent_stat, int static_eval) {
  const bool good_capture = mp.stage == ST_CAPTURES;
  if (first || !g_search_options.use_lmr || (!cut && (good_capture || (in_check && capture)))) return 0;
  int r = table_reduction(imp, depth, count) + busy_extra - (pv_bit ? sp::LMR_PV_NODE : 0);
  if (capture && good_capture) r -= sp::LMR_GOOD_CAPTURE;
  // Expected cut nodes: more, growing with depth.
  if (cut) r += (in_check || depth < sp::LMR_CUT_SHALLOW) ? 1 : 2 + (depth >= sp::LMR_CUT_DEEPER) + (depth >= sp::LMR_CUT_DEEPEST);
  // Advanced pawn pushes and the refutation moves: less.
  if (depth <= sp::LMR_MOVE_BONUS_DEPTH) {
    const int to = move_to(m);
    const int rel = p.side() == WHITE ? rank_of(to) : 7 - rank_of(to);
    if (piece_type(p.board[move_from(m)]) == PAWN && rel >= 5) r -= 2;
    else if (refutation) r -= 1;
  }
  // The move's statistics, and the parent's move's.
  r -= p.stat_score / sp::LMR_STAT_DIVISOR;
  if (!g_mcts_mode) r += parent_stat / sp::LMR_PARENT_STAT_DIVISOR;
  r = less_if_unsafe(r, p, m);
  // A high static evaluation: more.
  if (static_eval != NO_SCORE && static_eval >= sp::LMR_HIGH_EVAL && !in_check) r += 1;
  return whole_plies(r);
}

// Value of a non-PV node's child at depth n (after the extension) with reduction r: the
// reduced search first; when it reaches beta, a deeper retry, then the full depth.
int nonpv_child_value(SearchData& sd, Position& child, int beta, int n, int r, bool under, bool cut, int ply,
                      int retain) {
  if (!r) return -search_nonpv(sd, child, 1 - beta, child_depth(n - 2, under), ply + 1, 0, !cut, retain);
  child.lmr_byte = uint8_t(r > 255 ? 255 : r);
  int v = -search_nonpv(sd, child, 1 - beta, child_depth(std::max(n - 2 - r, 2), under), ply + 1, 0, true, retain);
  if (!stopped(sd) && v >= beta && r >= sp::LMR_DEEP_RETRY_R && n >= sp::LMR_DEEP_RETRY_DEPTH) {
    child.lmr_byte = sp::NULL_THREAT_LMR_LIMIT;  // reduced, but not so far that a null-move threat ends it
    v = -search_nonpv(sd, child, 1 - beta, n - sp::LMR_DEEP_RETRY_CUT, ply + 1, 0, !cut, retain);
  }
  if (!stopped(sd) && v >= beta) {
    child.lmr_byte = 0;
    v = -search_nonpv(sd, child, 1 - beta, child_depth(n - 2, under), ply + 1, 0, !cut, retain);
  }
  return v;
}

// ------------------------------------------------------------------ PV node parts

// Value of a PV node's later move (not the first): a reduced or full null-window search,
// then the full window when it lands inside it.
int pv_late_child_value(SearchData& sd, const Position& p, Position& child, Move m, const MovePicker& mp, int alpha,
                        int beta, int depth, int n, int ply, int imp, int count, int busy_extra, bool in_check,
                        bool capture) {
  int r = 0;
  if (n >= sp::LMR_MIN_DEPTH && g_search_options.use_lmr && mp.stage != ST_CAPTURES && !(in_check && capture)) {
    r = table_reduction(imp, depth, count) + busy_extra - sp::LMR_PV_NODE;
    r -= p.stat_score / sp::LMR_STAT_DIVISOR;
    r = whole_plies(less_if_unsafe(r, p, m));
  }
  const int d = child_depth(n - 2, is_underpromotion(m));
  int v;
  if (r) {
    child.lmr_byte = uint8_t(r);
    v = -search_nonpv(sd, child, -alpha, std::max(d - r, 2), ply + 1, 0, true, 0);
    child.lmr_byte = 0;
    if (!stopped(sd) && v > alpha) v = -search_nonpv(sd, child, -alpha, d, ply + 1, 0, false, 0);
  } else {
    v = -search_nonpv(sd, child, -alpha, d, ply + 1, 0, true, 0);
  }
  if (!stopped(sd) && v > alpha && v < beta) v = -search_pv(sd, child, -beta, -alpha, d, ply + 1, false);
  return v;
}

}  // namespace

// ------------------------------------------------------------------ non-PV nodes

int search_nonpv(SearchData& sd, Position& p, int beta, int depth, int ply, Move excluded, bool cut, int retain) {
  if (node_stop(sd)) return 0;
  int alpha = beta - 1;
  if (ply < PV_MAX) sd.pv_len[ply] = 0;
  if (const int a = std::max(alpha, ply - MATE); a >= std::min(beta, MATE - 1 - ply)) return a;  // mate distance
  if (p.phase < 5 && !(p.bb[1] | p.bb[8])) return draw_score(p);
  const bool in_check = p.in_check != 0;
  if (ply >= MAX_PLY - 2) return in_check ? draw_score(p) : evaluate(p, alpha, beta);
  const uint64_t key = excluded ? p.key ^ EXCL.z1[excluded & 63] ^ EXCL.z2[(excluded >> 6) & 63] : p.key;
  if (depth < 2) return search_q(sd, p, alpha, beta, 0, ply);
  SearchThread& th = *sd.th;

  Probe pr;
  tt_read(key, ply, pr);
  // Table cutoff.
  if (tt_cutoff(th, p, pr, depth, ply, beta, in_check, excluded)) return pr.score;
  // Tablebase probe.
  if (ply >= 2 && g_tb_probe_limit) {
    int tbs;
    if (tb_probe_search(p, ply, depth, tbs)) return tbs;
  }

  int raw, e;
  nonpv_static_eval(p, key, pr, depth, ply, beta, in_check, !excluded, raw, e);
  const int static_eval = p.static_eval;
  const int imp = improving_at(p, ply, static_eval, in_check) ? 1 : 0;
  const bool pieces = has_pieces(p, p.side());

  if (!in_check && e >= beta && std::abs(beta) <= sp::NULL_MAX_BETA && g_null_pruning) {
    // Reverse futility: the evaluation beats beta by a margin growing with depth.
    if (depth <= sp::RFP_MAX_DEPTH && beta <= sp::RFP_MAX_BETA && e - (depth / 2 - imp) * g_fut_step >= beta) return e;
    // Null move: even passing reaches beta.
    if (!excluded && pieces && p.null_marker != ply && e >= static_eval && p.last_move != 0 &&
        static_eval >= beta - sp::NULL_EVAL_MARGIN_PER_DEPTH * depth + sp::NULL_EVAL_MARGIN_BASE) {
      int v;
      if (null_move(sd, p, beta, depth, ply, e, retain, v)) return v;
    }
  }

  // Internal search for a move: a shallower search fills in the table's move.
  if (depth >= sp::IID_MIN_DEPTH && !excluded && (!pr.move || pr.depth < depth - sp::IID_REDUCTION) && raw != NO_SCORE &&
      raw + sp::IID_EVAL_MARGIN >= beta && !internal_search_nonpv(sd, p, key, pr, beta, depth, ply, cut, retain))
    return 0;

  // Tactical node: far below beta only tactical moves are tried, and the node's score
  // starts just below beta.
  bool tactical = false;
  int best = -INF;
  if (depth <= sp::TACTICAL_MAX_DEPTH && !in_check && e + (depth + sp::TACTICAL_DEPTH_OFFSET) * depth < beta && pieces) {
    tactical = true;
    best = beta - sp::TACTICAL_BEST_MARGIN;
  }

  ShallowMark mark;
  mark.enter(p.key, ply);
  const int busy_extra = mark.other ? 2 : 0;  // another thread searches this node: reduce more

  const int lmp = g_lmp[imp][std::min(depth, 23)];
  const Move undo = undoing_move(p, beta);  // skipped: it can only lead back to a draw
  Move hash = pr.move && is_pseudo_legal(p, pr.move) ? pr.move : 0;
  const Refutations ref = refutations_at(th, p, ply);
  MovePicker mp;
  int kind = in_check ? PK_EVASIONS
                      : tactical ? (depth >= sp::TACTICAL_DEFERRED_DEPTH ? PK_TACTICAL_DEFERRED : PK_TACTICAL) : PK_MAIN;
  mp.init(&p, &th, kind, hash, ref.k1, ref.k2, ref.cm, depth);

  Move quiets[64], captures[32];
  int nq = 0, nc = 0, count = 0, legal = 0;
  Move best_move = 0;
  Position& child = sd.stack[ply + 1];
  const bool pv_bit = pr.pv;
  const int parent_stat = p.his ? p.his->stat_score : 0;
  bool skipped_undo = false;
  CheckInfo ci;
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (m == excluded) continue;
    // Under-promotions only deep in the tree.
    if (depth < sp::UNDERPROMOTION_DEPTH && is_underpromotion(m)) continue;
    if (m == undo && !in_check) {
      skipped_undo = true;
      continue;
    }
    const bool capture = is_capture(p, m) || move_kind(m) == MK_EP;
    const bool quiet = is_quiet(p, m);
    const bool check = gives_check(p, m, ci);
    const int from = move_from(m), to = move_to(m), pc = p.board[from];
    int hsum = quiet ? history_sum(th, p, pc, from, to) : 0;

    // Move pruning: never the hash move, nor before a move has a score above being mated.
    if (best > -MATE_BOUND && mp.stage != ST_HASH && depth <= sp::PRUNE_DEPTH && pieces &&
        prune_nonpv_move(th, p, m, quiet, check, hsum, depth, imp, count, lmp, in_check, static_eval, beta))
      continue;

    bool cut_now = false;
    int ext = extension_for(sd, p, m, mp, check, depth, ply, beta, pr, !excluded, retain, cut_now);
    if (stopped(sd)) return 0;
    if (cut_now) return beta;

    if (!make(sd, p, child, m)) continue;
    legal++;
    count++;
    if (quiet && nq < 63) quiets[nq++] = m;
    else if (!quiet && nc < 31) captures[nc++] = m;
    child.in_check = king_attacked(child, child.side()) ? 1 : 0;
    child.lmr_byte = 0;

    int v;
    if (is_draw_child(*sd.th, child, 1)) {
      v = draw_score(p);
    } else {
      const int n = depth + ext;
      p.stat_score = stat_score_of(mp, capture, hsum);
      const bool first = tactical ? m == hash : count == 1;
      const int r = n < sp::LMR_MIN_DEPTH ? 0
                    : nonpv_reduction(p, m, mp, first, imp, depth, count, busy_extra, pv_bit, capture, cut,
                                      in_check, ref.has(m), parent_stat, static_eval);
      v = nonpv_child_value(sd, child, beta, n, r, is_underpromotion(m), cut, ply, retain);
    }
    if (stopped(sd)) return 0;
    if (v > best) {
      best = v;
      if (v >= beta) {
        best_move = m;
        break;
      }
    }
  }

  if (!legal && skipped_undo) return draw_score(p);  // only the way back was left: it cannot reach beta
  if (!legal && !(tactical && best > -INF)) {
    if (excluded) return beta - 1;
    int v = in_check ? ply - MATE : draw_score(p);
    store(key, depth, v, 7, 0, retain, static_eval, pv_bit, ply);
    return v;
  }
  // Nothing tactical was tried: a quiet position may still be stalemate.
  if (tactical && !legal && !in_check && !has_legal_move(sd, p)) return draw_score(p);
  if (excluded) {
    p.static_eval = NO_SCORE;
    int v = best < beta ? beta - 1 : best;
    store(key, depth, v, best >= beta ? TT_LOWER : TT_UPPER, best_move, retain, NO_SCORE, false, ply);
    return v;
  }
  if (best >= beta && best_move) cutoff_stats(th, p, ply, best_move, quiets, nq, captures, nc, depth, beta);
  if (best < beta) store(key, depth, best, TT_UPPER, 0, retain, static_eval, pv_bit, ply);
  else store(key, depth, best, TT_LOWER, best_move, retain, static_eval, pv_bit, ply);
  return best;
}

// ------------------------------------------------------------------ PV nodes

int search_pv(SearchData& sd, Position& p, int alpha, int beta, int depth, int ply, bool skip_iid) {
  int early;
  if (node_prologue(sd, p, alpha, beta, ply, early)) return early;
  const bool in_check = p.in_check != 0;
  if (depth < 2) return search_q(sd, p, alpha, beta, 0, ply);
  SearchThread& th = *sd.th;

  Probe pr;
  tt_read(p.key, ply, pr);
  // A slot for a position without moves answers at once; the claim is checked because slots
  // may come from a loaded hash file, and the score is recomputed for this ply.
  if (pr.found && (pr.bound & TT_NO_MOVES) && !has_legal_move(sd, p)) return in_check ? ply - MATE : draw_score(p);
  // Tablebase probe.
  if (ply >= 2 && g_tb_probe_limit) {
    int tbs;
    if (tb_probe_search(p, ply, depth, tbs)) return tbs;
  }

  // Static evaluation (full window).
  const int static_eval = in_check ? NO_SCORE : scaled_eval(raw_static_eval(p, p.key, pr, ply, -35000, 35000, false, true), p.fifty);
  p.static_eval = static_eval;
  const int imp = improving_at(p, ply, static_eval, in_check) ? 1 : 0;

  // Internal search for a move: a shallower PV search fills in the table's move.
  if (depth >= sp::IID_MIN_DEPTH && !skip_iid && (!pr.move || pr.depth < depth - sp::PV_IID_REDUCTION)) {
    search_pv(sd, p, alpha - sp::PV_IID_ALPHA_MARGIN, beta, depth - sp::PV_IID_REDUCTION, ply, true);
    if (stopped(sd)) return 0;
    Probe again;
    tt_read(p.key, ply, again);
    if (again.found) pr = again;
  }

  ShallowMark mark;
  mark.enter(p.key, ply);
  const int busy_extra = mark.other ? 2 : 0;  // another thread searches this node: reduce more
  const bool busy_marks = g_thread_count >= 3 && !g_mcts_mode;

  const int lmp = g_lmp[imp][std::min(depth, 23)];
  Move hash = pr.move && is_pseudo_legal(p, pr.move) ? pr.move : 0;
  const Refutations ref = refutations_at(th, p, ply);
  MovePicker mp;
  mp.init(&p, &th, in_check ? PK_EVASIONS : PK_MAIN, hash, ref.k1, ref.k2, ref.cm, depth);

  Move quiets[64], captures[32];
  Move deferred[64];
  int nd = 0, nq = 0, nc = 0, count = 0, legal = 0;
  int best = -INF;
  Move best_move = 0;
  const int old_alpha = alpha;
  const bool pieces = has_pieces(p, p.side());
  Position& child = sd.stack[ply + 1];
  int di = 0;
  bool in_deferred = false;
  CheckInfo ci;
  for (;;) {
    Move m;
    if (!in_deferred) {
      m = next_move(mp);
      if (!m) {
        in_deferred = true;
        continue;
      }
    } else {
      if (di >= nd) break;
      m = deferred[di++];
    }
    // Under-promotions only deep in the tree.
    if (is_underpromotion(m) && depth < sp::UNDERPROMOTION_DEPTH) continue;
    const bool capture = is_capture(p, m) || move_kind(m) == MK_EP;
    const bool quiet = is_quiet(p, m);
    const bool check = gives_check(p, m, ci);
    const int from = move_from(m), to = move_to(m), pc = p.board[from];
    const int hsum = quiet ? history_sum(th, p, pc, from, to) : 0;

    // Move pruning of plain quiet moves: late ones, and losing ones.
    if (quiet && !check && best > -MATE_BOUND && depth <= sp::PRUNE_DEPTH && pieces && mp.stage != ST_HASH &&
        !ref.has(m) && move_kind(m) != MK_CASTLE && hsum < sp::PV_PRUNE_HISTORY) {
      if (count > lmp) continue;
      if (see_bad(p, m)) continue;
    }

    bool cut_now = false;
    int ext = extension_for(sd, p, m, mp, check, depth, ply, beta, pr, true, 2, cut_now);
    if (stopped(sd)) return 0;
    if (cut_now) return beta;

    if (!make(sd, p, child, m)) continue;
    child.in_check = king_attacked(child, child.side()) ? 1 : 0;
    // A child another thread is searching waits until the other moves are done.
    if (busy_marks && !in_deferred && count > 0 && nd < 64 && tt_is_busy(child.key)) {
      deferred[nd++] = m;
      continue;
    }
    legal++;
    count++;
    if (quiet && nq < 63) quiets[nq++] = m;
    else if (!quiet && nc < 31) captures[nc++] = m;
    child.lmr_byte = 0;

    int v;
    if (is_draw_child(*sd.th, child, 1)) {
      v = draw_score(p);
      sd.pv_len[ply + 1] = 0;
    } else {
      const int n = depth + ext;
      p.stat_score = stat_score_of(mp, capture, hsum);
      if (busy_marks) mark_busy(child.key, true);
      if (count == 1) v = -search_pv(sd, child, -beta, -alpha, n - 2, ply + 1, false);
      else v = pv_late_child_value(sd, p, child, m, mp, alpha, beta, depth, n, ply, imp, count, busy_extra, in_check, capture);
      if (busy_marks) mark_busy(child.key, false);
    }
    if (stopped(sd)) return 0;
    if (v > best) {
      best = v;
      if (v > alpha) {
        best_move = m;
        if (ply < PV_MAX - 1) pv_set(sd, ply, m);
        if (v >= beta) break;
        alpha = v;
        store(p.key, depth, v, TT_LOWER, m, 2, static_eval, true, ply);
      }
    }
  }

  if (!legal) {
    int v = in_check ? ply - MATE : draw_score(p);
    store(p.key, depth, v, 7, 0, 0, static_eval, true, ply);
    return v;
  }
  if (best >= beta && best_move) cutoff_stats(th, p, ply, best_move, quiets, nq, captures, nc, depth, beta);
  if (best <= old_alpha) store(p.key, depth, best, TT_UPPER, 0, 0, static_eval, true, ply);
  else if (best < beta) store(p.key, depth, best, TT_EXACT, best_move, 2, static_eval, true, ply);
  else store(p.key, depth, best, TT_LOWER, best_move, 1, static_eval, true, ply);
  return best;
}

// ------------------------------------------------------------------ root

int search_root(SearchData& sd, Position& p, int depth, int alpha, int beta) {
  SearchThread& th = *sd.th;
  (void)th;
  sd.pv_len[0] = 0;
  sd.root_done = 0;
  sd.root_first = true;
  int best = -INF;
  int legal = 0;
  const int old_alpha = alpha;
  const bool multi = g_multipv > 1;
  Position& child = sd.stack[1];
  int best_index = -1;
  for (int i = 0; i < sd.root_count; i++) {
    Move m = sd.root[i].move;
    if (!make(sd, p, child, m)) continue;
    legal++;
    child.in_check = king_attacked(child, child.side()) ? 1 : 0;
    child.lmr_byte = 0;
    if (sd.index == 0 && !g_ctl.quiet && depth >= 12 && g_search_options.minimal_reporting == 0 && g_search_hooks.currmove &&
        elapsed_seconds() - g_ctl.start > 3.0)
      g_search_hooks.currmove(p, m, legal);
    int v;
    if (is_draw_child(*sd.th, child, 2)) {
      v = draw_score(p);
      sd.pv_len[1] = 0;
    } else {
      int n = depth;
      if (gives_check(p, m) && p.ext_byte) n += 2;
      if (legal == 1 || (multi && legal <= g_multipv)) {
        v = -search_pv(sd, child, -beta, -alpha, n - 2, 1, false);
      } else {
        int r = depth >= 6 ? g_red_pred[0][std::min(depth, 127)][std::min(legal, 63)] : 0;
        if (r < 0) r = 0;
        if (r & 1) r++;
        v = alpha + 1;
        if (r) {
          child.lmr_byte = uint8_t(r);
          v = -search_nonpv(sd, child, -alpha, std::max(n - 2 - r, 2), 1, 0, true, 0);
          child.lmr_byte = 0;
        }
        if (!stopped(sd) && v > alpha) v = -search_nonpv(sd, child, -alpha, n - 2, 1, 0, false, 0);
        if (!stopped(sd) && v > alpha && v < beta) v = -search_pv(sd, child, -beta, -alpha, n - 2, 1, false);
      }
    }
    if (stopped(sd)) return 0;
    sd.root_done++;
    sd.root_first = false;
    RootMove& rm = sd.root[i];
    rm.score = v;
    rm.pv[0] = m;
    int n = std::min(sd.pv_len[1], 14);
    std::memcpy(&rm.pv[1], sd.pv[1], sizeof(Move) * size_t(n));
    rm.pv[n + 1] = 0;
    if (v > best) {
      best = v;
      if (v > alpha || best_index < 0) {
        pv_set(sd, 0, m);
        if (best_index != -1 || i > 0) {
          // A new best move: shared window centre, instability for the time manager.
          g_shared_best_score.store(v, std::memory_order_relaxed);
          if (sd.index == 0 && i > 0) {
            g_ctl.instability += g_ctl.step_weight;
            g_ctl.step_weight *= 0.5;
          }
        }
        best_index = i;
      }
      if (v > alpha) {
        if (v >= beta) break;
        if (!multi) alpha = v;
      }
    }
  }
  if (!legal) return p.in_check ? -MATE : draw_score(p);
  // Keep the best move first; the others by their scores of this iteration.
  if (best_index > 0) {
    RootMove b = sd.root[best_index];
    std::memmove(&sd.root[1], &sd.root[0], sizeof(RootMove) * size_t(best_index));
    sd.root[0] = b;
  }
  if (multi) {
    std::stable_sort(sd.root, sd.root + sd.root_count,
                     [](const RootMove& a, const RootMove& b) { return a.score > b.score; });
  }
  (void)old_alpha;
  return best;
}

}  // namespace quorix
