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

constexpr int PRUNE_DEPTH = 23;
constexpr int INF = 32001;
constexpr int SEE_STEPS[11] = {0, -17, -65, -141, -242, -365, -506, -662, -830, -1007, -1189};
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
  int count = 0;
  const Position* q = c.his;
  for (int i = 1; i <= c.fifty && q; i++) {
    if (!(i & 1) && q->key == c.key && ++count >= needed) return true;
    q = q->his;
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
      e = pv_node ? evaluate(p, -35000, 35000, &lazy) : evaluate(p, alpha - 164, beta + 164, &lazy);
      if (!pr.found && !lazy) store(p.key, TT_DEPTH_EVAL_ONLY, 0, 0, 0, 0, e, false, ply);
    }
    p.static_eval = e;
    stand = e;
    if (pr.found && pr.bound && pr.depth > -98) {
      if (pr.bound == TT_EXACT || ((pr.bound & TT_LOWER) && pr.score > stand) ||
          ((pr.bound & TT_UPPER) && pr.score < stand))
        stand = pr.score;
    }
    if (stand >= beta) return stand;
    if (stand < alpha - 1400) return alpha;
    if (qdepth < -59) return stand;
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
  const int base = in_check ? 0 : stand + (pv_node ? 50 : 50);
  Position child;
  Move best_move = 0;
  int tried = 0, legal = 0;
  const int s = p.side();
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (is_underpromotion(m)) continue;
    if (!in_check) {
      int to = move_to(m), from = move_from(m);
      int pt = piece_type(p.board[from]);
      int rel = s == WHITE ? rank_of(to) : 7 - rank_of(to);
      bool free_pass = m == hash || (pt == PAWN && rel >= 5) || is_promotion(m) || gives_check(p, m);
      if (!free_pass) {
        int ct = move_kind(m) == MK_EP ? PAWN : piece_type(p.board[to]);
        if (tried >= 2 && qdepth < 0 && ct == PAWN) continue;
        int opt_val = base + qs_capture_gain(ct, p.phase);
        if (opt_val < alpha) {
          if (opt_val > best) best = opt_val;
          continue;
        }
        if (base + 40 < alpha && QS_VALUE[ct] <= QS_VALUE[pt] && see_bad_q(p, m)) continue;
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

// Extension of move m at a node (half-plies).
int extension_for(SearchData& sd, Position& p, Move m, const MovePicker& mp, bool check, int depth, int ply,
                  int beta, const Probe& pr, bool allow_singular, int retain, bool& cut_now) {
  cut_now = false;
  int ext = 0;
  if (depth >= 7 && depth <= 12 && p.phase < 25 && mp.stage != ST_HASH && mp.stage != ST_CAPTURES &&
      mp.stage != ST_EVASIONS && passed_push(p, m) && !see_bad(p, m))
    ext = 2;
  if (!ext && is_capture(p, m) && piece_type(p.board[move_to(m)]) != PAWN &&
      p.phase - PHASE_WEIGHT[piece_type(p.board[move_to(m)])] == 0 && !is_promotion(m))
    ext = 4;
  if (!ext && allow_singular && m == pr.move && mp.stage == ST_HASH && (pr.bound & TT_LOWER) &&
      pr.depth >= depth - 7 && std::abs(pr.score) <= 3899 && depth > 12 && !(ply >= 50 && p.in_check)) {
    int sbeta = pr.score - std::max(int(0.56 * depth), 8);
    int sdepth = (depth / 2) & ~1;
    int v = search_nonpv(sd, p, sbeta, sdepth, ply, m, true, retain);
    if (stopped(sd)) return 0;
    if (v < sbeta) ext = 2;
    else if (v >= beta) cut_now = true;  // another move beats beta as well
  }
  if (!ext && check) {
    if ((m == pr.move && depth <= 12) || p.ext_byte ||
        (is_quiet(p, m) && history_sum(*sd.th, p, p.board[move_from(m)], move_from(m), move_to(m)) >= 96004) ||
        (beta < 1 && p.his && p.his->in_check))
      ext = 2;
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

}  // namespace

// ------------------------------------------------------------------ non-PV nodes

int search_nonpv(SearchData& sd, Position& p, int beta, int depth, int ply, Move excluded, bool cut, int retain) {
  if (node_stop(sd)) return 0;
  int alpha = beta - 1;
  if (ply < PV_MAX) sd.pv_len[ply] = 0;
  {
    int a = std::max(alpha, ply - MATE), b = std::min(beta, MATE - 1 - ply);
    if (a >= b) return a;
  }
  if (p.phase < 5 && !(p.bb[1] | p.bb[8])) return draw_score(p);
  const bool in_check = p.in_check != 0;
  if (ply >= MAX_PLY - 2) return in_check ? draw_score(p) : evaluate(p, alpha, beta);
  const uint64_t key = excluded ? p.key ^ EXCL.z1[excluded & 63] ^ EXCL.z2[(excluded >> 6) & 63] : p.key;
  if (depth < 2) return search_q(sd, p, alpha, beta, 0, ply);
  SearchThread& th = *sd.th;

  Probe pr;
  tt_read(key, ply, pr);
  if (pr.found && pr.bound && p.fifty < 90 && pr.depth >= depth) {
    if ((pr.bound & TT_LOWER) && pr.score >= beta) {
      if (pr.move && is_pseudo_legal(p, pr.move) && is_quiet(p, pr.move) && !excluded) {
        update_refutations(th, p, ply, pr.move);
        if (!in_check && depth <= 30) history_reward(th, p, pr.move, depth);
      }
      return pr.score;
    }
    if ((pr.bound & TT_UPPER) && pr.score < beta) return pr.score;
  }
  if (ply >= 2 && g_tb_probe_limit) {
    int tbs;
    if (tb_probe_search(p, ply, depth, tbs)) return tbs;
  }

  // Static evaluation.
  int raw = NO_SCORE, e = NO_SCORE;
  if (!in_check) {
    if (pr.found && pr.eval != TT_NO_EVAL) raw = pr.eval;
    else {
      bool lazy = false;
      if (depth >= 18) raw = evaluate(p, -35000, 35000, &lazy);
      else if (depth <= 4) raw = evaluate(p, beta - 200, beta + 200, &lazy);
      else raw = evaluate(p, beta - 10 * depth - 253, beta + 10 * depth + 253, &lazy);
      if (!excluded && !pr.found && !lazy) store(key, TT_DEPTH_EVAL_ONLY, 0, 0, 0, 0, raw, false, ply);
    }
    e = scaled_eval(raw, p.fifty);
    p.static_eval = e;
    if (pr.found && pr.bound && pr.depth > -98) {
      if (pr.bound == TT_EXACT || ((pr.bound & TT_LOWER) && pr.score > e) || ((pr.bound & TT_UPPER) && pr.score < e))
        e = pr.score;
    }
  } else {
    p.static_eval = NO_SCORE;
  }
  const int static_eval = p.static_eval;
  bool improving = true;
  if (ply >= 2 && p.his && p.his->his) {
    int prev = p.his->his->static_eval;
    if (prev != NO_SCORE && prev != 999999) improving = static_eval == NO_SCORE ? false : static_eval >= prev - 10;
  }
  if (in_check) improving = false;
  const int imp = improving ? 1 : 0;
  const int s = p.side();
  const bool pieces = has_pieces(p, s);

  if (!in_check && e >= beta && std::abs(beta) <= 31799 && g_null_pruning) {
    // Reverse futility.
    if (depth <= 10 && beta <= 9999 && e - (depth / 2 - imp) * g_fut_step >= beta) return e;
    // Null move.
    if (!excluded && pieces && p.null_marker != ply && e >= static_eval && p.last_move != 0 &&
        static_eval >= beta - 9 * depth + 108) {
      int rn = 2 * ((150 * depth + std::min(10 * (e - beta), 3000) + 2590) / 1000);
      Position child;
      make(sd, p, child, 0);
      child.in_check = 0;
      child.lmr_byte = 0;
      int cv;
      if (depth - rn > 1) cv = search_nonpv(sd, child, 1 - beta, depth - rn, ply + 1, 0, true, 1 - retain);
      else cv = search_q(sd, child, -beta, 1 - beta, 0, ply + 1);
      if (stopped(sd)) return 0;
      int v = cv < -29000 ? beta : -cv;
      if (v < beta - 200 && p.lmr_byte) {
        if (p.lmr_byte < 4) return v;
        depth += 2;
      }
      if (v >= beta) {
        if (depth < 15 || (p.phase >= 9 && depth < 25)) return v;
        p.null_marker = uint8_t(ply + 2);
        int w = search_nonpv(sd, p, beta, depth - rn - 2, ply, 0, true, 0);
        p.null_marker = 0;
        if (stopped(sd)) return 0;
        if (w >= beta) return v;
      }
    }
  }

  // Internal search for a move.
  if (depth >= 16 && !excluded && (!pr.move || pr.depth < depth - 14) && raw != NO_SCORE && raw + 100 >= beta) {
    search_nonpv(sd, p, beta, (depth - 14) & ~1, ply, 0, cut, retain);
    if (stopped(sd)) return 0;
    Probe again;
    tt_read(key, ply, again);
    if (again.found) pr = again;
  }

  bool tactical = false;
  int best = -INF;
  if (depth <= 15 && !in_check && e + (depth + 25) * depth < beta && pieces) {
    tactical = true;
    best = beta - 30;
  }

  ShallowMark mark;
  mark.enter(p.key, ply);
  const int busy_extra = mark.other ? 2 : 0;

  const int lmp = g_lmp[imp][std::min(depth, 23)];
  const int see_margin = -42 * depth;
  Move undo = 0;
  if (p.fifty >= 2 && beta > draw_score(p) && p.his && p.his->his && p.his->last_move &&
      move_kind(p.his->last_move) == MK_NORMAL && p.castle_lost == p.his->his->castle_lost) {
    Move own = p.his->last_move;
    int f = move_from(own), t = move_to(own);
    if (!p.board[f] && !(between_bb[f][t] & p.occupied()) && p.board[t] == p.his->moved_piece)
      undo = make_move_code(t, f);
  }

  Move hash = pr.move && is_pseudo_legal(p, pr.move) ? pr.move : 0;
  Move k1 = th.killers[ply][0], k2 = th.killers[ply][1];
  Move cm = p.last_move ? Move(th.counter_moves[p.moved_piece * 4096 + (p.last_move & 4095)]) : 0;
  MovePicker mp;
  int kind = in_check ? PK_EVASIONS : tactical ? (depth >= 6 ? PK_TACTICAL_DEFERRED : PK_TACTICAL) : PK_MAIN;
  mp.init(&p, &th, kind, hash, k1, k2, cm, depth);

  Move quiets[64], captures[32];
  int nq = 0, nc = 0, count = 0, legal = 0;
  Move best_move = 0;
  Position child;
  const bool pv_bit = pr.pv;
  const int parent_stat = p.his ? p.his->stat_score : 0;
  bool skipped_undo = false;
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (m == excluded) continue;
    if (depth < 31 && is_underpromotion(m)) continue;
    if (m == undo && !in_check) {
      skipped_undo = true;
      continue;
    }
    const bool capture = is_capture(p, m) || move_kind(m) == MK_EP;
    const bool quiet = is_quiet(p, m);
    const bool check = gives_check(p, m);
    const int from = move_from(m), to = move_to(m), pc = p.board[from];
    int hsum = quiet ? history_sum(th, p, pc, from, to) : 0;

    if (best > -MATE_BOUND && mp.stage != ST_HASH && depth <= PRUNE_DEPTH && pieces) {
      if (!quiet || check) {
        if (depth <= 14 && see_below(p, m, see_margin)) continue;
      } else {
        if (count > lmp && depth <= 20 && !in_check && hsum / 4 < g_history_prune_threshold) continue;
        int pd = std::max(0, depth - 2 - g_red_pred[imp][std::min(depth, 127)][std::min(count + 1, 63)]);
        if (pd <= 6) {
          int idx = pc * 64 + to;
          bool miss = cont_row_missing(th, p.cont[0]) || cont_row_missing(th, p.cont[1]);
          bool c1_low = miss || p.cont[0][idx] <= 15999;
          bool c2_low = miss || p.cont[1][idx] <= 15999;
          if (c1_low && c2_low && (th.history[pc * 4096 + (m & 4095)] < 16000 || miss)) continue;
        }
        if (pd <= 10 && !in_check && static_eval != NO_SCORE && static_eval + 32 * pd + 112 < beta) continue;
        if (pd <= 20 && hsum < 100000 && see_below(p, m, SEE_STEPS[pd / 2])) continue;
      }
    }

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
      int n = depth + ext;
      bool under = is_underpromotion(m);
      // Statistics score of this move, read by the child.
      if (mp.stage == ST_HASH) p.stat_score = 4000;
      else if (capture) p.stat_score = mp.stage == ST_DEFERRED ? -4000 : 4000;
      else p.stat_score = hsum / 4 - g_history_offset;
      if (n < 6) {
        int d = n - 2;
        if (under) d = (d / 2) & ~1;
        v = -search_nonpv(sd, child, 1 - beta, d, ply + 1, 0, !cut, retain);
      } else {
        int r = 0;
        bool first = tactical ? m == hash : count == 1;
        bool good_capture = mp.stage == ST_CAPTURES;
        bool lmr = !first && g_search_options.use_lmr;
        if (!cut && (good_capture || (in_check && capture))) lmr = false;
        if (lmr) {
          r = g_red[imp][std::min(depth, 127)][std::min(count, 63)] + busy_extra - (pv_bit ? 2 : 0);
          if (capture && good_capture) r -= 4;
          if (cut) r += (in_check || depth < 11) ? 1 : 2 + (depth >= 15) + (depth >= 22);
          if (depth <= 22) {
            int rel = s == WHITE ? rank_of(to) : 7 - rank_of(to);
            if (piece_type(pc) == PAWN && rel >= 5) r -= 2;
            else if (m == k1 || m == k2 || m == cm) r -= 1;
          }
          r -= p.stat_score / 3071;
          if (!g_mcts_mode) r += parent_stat / 6142;
          if (r >= 2 && !quiet_safe(p, m)) r -= 3;
          if (static_eval != NO_SCORE && static_eval >= 201 && !in_check) r += 1;
          if (r >= 3 && (r & 1)) r++;
          if (r < 2) r = 0;
        }
        if (r) {
          int d = std::max(n - 2 - r, 2);
          if (under) d = (d / 2) & ~1;
          child.lmr_byte = uint8_t(r > 255 ? 255 : r);
          v = -search_nonpv(sd, child, 1 - beta, d, ply + 1, 0, true, retain);
          if (!stopped(sd) && v >= beta && r >= 8 && n >= 10) {
            child.lmr_byte = 4;
            v = -search_nonpv(sd, child, 1 - beta, n - 6, ply + 1, 0, !cut, retain);
          }
          if (!stopped(sd) && v >= beta) {
            child.lmr_byte = 0;
            int fd = n - 2;
            if (under) fd = (fd / 2) & ~1;
            v = -search_nonpv(sd, child, 1 - beta, fd, ply + 1, 0, !cut, retain);
          }
        } else {
          int d = n - 2;
          if (under) d = (d / 2) & ~1;
          v = -search_nonpv(sd, child, 1 - beta, d, ply + 1, 0, !cut, retain);
        }
      }
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
  if (tactical && !legal && !in_check) {
    // Nothing tactical was tried: a quiet position may still be stalemate.
    uint32_t list[MAX_MOVES];
    int nall = generate_all(p, list);
    bool any = false;
    for (int i = 0; i < nall && !any; i++) any = make(sd, p, child, entry_move(list[i])) != 0;
    if (!any) return draw_score(p);
  }
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
  if (ply >= 2 && g_tb_probe_limit) {
    int tbs;
    if (tb_probe_search(p, ply, depth, tbs)) return tbs;
  }

  int static_eval = NO_SCORE;
  if (!in_check) {
    int raw;
    if (pr.found && pr.eval != TT_NO_EVAL) raw = pr.eval;
    else {
      raw = evaluate(p, -35000, 35000);
      if (!pr.found) store(p.key, TT_DEPTH_EVAL_ONLY, 0, 0, 0, 0, raw, false, ply);
    }
    static_eval = scaled_eval(raw, p.fifty);
  }
  p.static_eval = static_eval;
  bool improving = true;
  if (ply >= 2 && p.his && p.his->his) {
    int prev = p.his->his->static_eval;
    if (prev != NO_SCORE && prev != 999999) improving = static_eval != NO_SCORE && static_eval >= prev - 10;
  }
  if (in_check) improving = false;
  const int imp = improving ? 1 : 0;

  if (depth >= 16 && !skip_iid && (!pr.move || pr.depth < depth - 10)) {
    search_pv(sd, p, alpha - 5, beta, depth - 10, ply, true);
    if (stopped(sd)) return 0;
    Probe again;
    tt_read(p.key, ply, again);
    if (again.found) pr = again;
  }

  ShallowMark mark;
  mark.enter(p.key, ply);
  const int busy_extra = mark.other ? 2 : 0;
  const bool busy_marks = g_thread_count >= 3 && !g_mcts_mode;

  const int lmp = g_lmp[imp][std::min(depth, 23)];
  Move hash = pr.move && is_pseudo_legal(p, pr.move) ? pr.move : 0;
  Move k1 = th.killers[ply][0], k2 = th.killers[ply][1];
  Move cm = p.last_move ? Move(th.counter_moves[p.moved_piece * 4096 + (p.last_move & 4095)]) : 0;
  MovePicker mp;
  mp.init(&p, &th, in_check ? PK_EVASIONS : PK_MAIN, hash, k1, k2, cm, depth);

  Move quiets[64], captures[32];
  Move deferred[64];
  int nd = 0, nq = 0, nc = 0, count = 0, legal = 0;
  int best = -INF;
  Move best_move = 0;
  const int old_alpha = alpha;
  const int s = p.side();
  const bool pieces = has_pieces(p, s);
  Position child;
  int di = 0;
  bool in_deferred = false;
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
    if (is_underpromotion(m) && depth < 31) continue;
    const bool capture = is_capture(p, m) || move_kind(m) == MK_EP;
    const bool quiet = is_quiet(p, m);
    const bool check = gives_check(p, m);
    const int from = move_from(m), to = move_to(m), pc = p.board[from];
    const int hsum = quiet ? history_sum(th, p, pc, from, to) : 0;

    if (quiet && !check && best > -MATE_BOUND && depth <= PRUNE_DEPTH && pieces && mp.stage != ST_HASH &&
        m != k1 && m != k2 && m != cm && move_kind(m) != MK_CASTLE && hsum < 60000) {
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
      int n = depth + ext;
      if (mp.stage == ST_HASH) p.stat_score = 4000;
      else if (capture) p.stat_score = mp.stage == ST_DEFERRED ? -4000 : 4000;
      else p.stat_score = hsum / 4 - g_history_offset;
      if (busy_marks) mark_busy(child.key, true);
      if (count == 1) {
        v = -search_pv(sd, child, -beta, -alpha, n - 2, ply + 1, false);
      } else {
        int r = 0;
        if (n >= 6 && g_search_options.use_lmr && mp.stage != ST_CAPTURES && !(in_check && capture)) {
          r = g_red[imp][std::min(depth, 127)][std::min(count, 63)] + busy_extra - 2;
          r -= p.stat_score / 3071;
          if (r >= 2 && !quiet_safe(p, m)) r -= 3;
          if (r >= 3 && (r & 1)) r++;
          if (r < 2) r = 0;
        }
        int d = n - 2;
        if (is_underpromotion(m)) d = (d / 2) & ~1;
        if (r) {
          child.lmr_byte = uint8_t(r);
          v = -search_nonpv(sd, child, -alpha, std::max(d - r, 2), ply + 1, 0, true, 0);
          child.lmr_byte = 0;
          if (!stopped(sd) && v > alpha) v = -search_nonpv(sd, child, -alpha, d, ply + 1, 0, false, 0);
        } else {
          v = -search_nonpv(sd, child, -alpha, d, ply + 1, 0, true, 0);
        }
        if (!stopped(sd) && v > alpha && v < beta) v = -search_pv(sd, child, -beta, -alpha, d, ply + 1, false);
      }
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
  Position child;
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
