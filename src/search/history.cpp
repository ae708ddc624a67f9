// History tables: bonus tables and the update rules run after a node's move loop.
#include "search/history.h"

namespace quorix {

int history_bonus_table[BONUS_DEPTHS];
int cont_bonus_table[BONUS_DEPTHS];
int capture_bonus_table[BONUS_DEPTHS];

void init_history_bonus() {
  for (int d = 0; d < BONUS_DEPTHS; d++) {
    int e = d < 2 ? 2 : d;
    history_bonus_table[d] = d <= 30 ? (6 * e + 207) * e - 157 : 0;
    cont_bonus_table[d] = history_bonus_table[d];
    capture_bonus_table[d] = d <= 30 ? (2 * e + 39) * e - 66 : 0;
  }
}

namespace {

inline uint32_t& history_cell(SearchThread& th, const Position& p, Move m) {
  return th.history[p.board[move_from(m)] * 4096 + (m & 4095)];
}

inline void cont_update(const Position& p, Move m, int b, bool bonus) {
  int idx = p.board[move_from(m)] * 64 + move_to(m);
  for (int i = 0; i < 3; i++) {
    if (bonus) history_add(p.cont[i][idx], b);
    else history_sub(p.cont[i][idx], b);
  }
}

}  // namespace

void update_refutations(SearchThread& th, const Position& p, int ply, Move m) {
  if (p.last_move) th.counter_moves[p.moved_piece * 4096 + (p.last_move & 4095)] = m;
  if (ply >= 0 && ply < MAX_PLY + 2 && th.killers[ply][0] != m) {
    th.killers[ply][1] = th.killers[ply][0];
    th.killers[ply][0] = m;
  }
}

void history_reward(SearchThread& th, const Position& p, Move m, int depth) {
  if (depth > 30) return;
  history_add(history_cell(th, p, m), history_bonus(depth));
  cont_update(p, m, cont_bonus(depth), true);
}

void update_quiet_stats(SearchThread& th, const Position& p, int ply, Move best, const Move* quiets, int n,
                        int depth, bool skip_first) {
  update_refutations(th, p, ply, best);
  if (depth > 30) return;
  const int hb = history_bonus(depth), cb = cont_bonus(depth);
  for (int i = skip_first ? 1 : 0; i < n; i++) {
    if (quiets[i] == best) continue;
    history_sub(history_cell(th, p, quiets[i]), hb);
    cont_update(p, quiets[i], cb, false);
  }
  history_add(history_cell(th, p, best), hb);
  cont_update(p, best, cb, true);
}

void update_capture_stats(SearchThread& th, const Position& p, Move best, const Move* captures, int n, int depth) {
  const int b = capture_bonus(depth);
  if (!b) return;
  for (int i = 0; i < n; i++) {
    Move m = captures[i];
    int to = move_to(m), from = move_from(m);
    int cap = move_kind(m) == MK_EP ? make_piece(p.side() ^ 1, PAWN) : p.board[to];
    capture_history_add(th.capture_history[p.board[from]][to][cap], m == best ? b : -b);
  }
}

}  // namespace quorix
