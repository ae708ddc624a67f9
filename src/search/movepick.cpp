#include "search/movepick.h"

#include "search/see.h"

namespace quorix {

namespace {

// Stage rows by picker kind, each ending with ST_END.
constexpr int8_t STAGES[PK_COUNT][10] = {
    {ST_HASH, ST_CAPTURES, ST_KILLER1, ST_KILLER2, ST_COUNTER, ST_QUIETS, ST_DEFERRED, ST_END},
    {ST_HASH, ST_CAPTURES, ST_QUIET_CHECKS, ST_DEFERRED, ST_END},
    {ST_HASH, ST_CAPTURES, ST_QUIET_CHECKS, ST_END},
    {ST_HASH, ST_CAPTURES, ST_END},
    {ST_HASH, ST_EVASIONS, ST_DEFERRED, ST_END},
    {ST_HASH, ST_CAPTURES, ST_QUIET_CHECKS, ST_PUSH7, ST_END},
    {ST_HASH, ST_CAPTURES, ST_QUIET_CHECKS, ST_PUSH7, ST_DEFERRED, ST_END},
    {ST_HASH, ST_QCAPTURES, ST_END},
    {ST_HASH, ST_QCAPTURES, ST_QCHECKS, ST_QPUSH7, ST_END},
    {ST_HASH, ST_QCAPTURES, ST_QCHECKS, ST_QPUSH7, ST_END},
    {ST_HASH, ST_QCAPTURES, ST_QCHECKS, ST_END},
    {ST_HASH, ST_QCAPTURES, ST_QUEEN_CHECKS, ST_END},
};

// Quiet moves by history (castling included: king square to rook square).
void score_history(const MovePicker& mp, uint32_t* list, int n, int div) {
  const Position& p = *mp.pos;
  for (int i = 0; i < n; i++) {
    Move m = entry_move(list[i]);
    int from = move_from(m), to = move_to(m);
    list[i] = make_entry(m, history_sum(*mp.th, p, p.board[from], from, to) / div);
  }
}

// Captures by capture history plus the value of the captured piece; promotions add
// the value of the new piece (queen or knight, the only ones the captures stage makes).
void score_captures(const MovePicker& mp, uint32_t* list, int n) {
  const Position& p = *mp.pos;
  for (int i = 0; i < n; i++) {
    Move m = entry_move(list[i]);
    int from = move_from(m), to = move_to(m);
    int captured = move_kind(m) == MK_EP ? make_piece(p.side() ^ 1, PAWN) : p.board[to];
    int sc = 0;
    if (captured)
      sc = int(mp.th->capture_history[p.board[from]][to][captured]) + capture_value[piece_type(captured)];
    if (move_kind(m) == MK_PROMO_Q) sc += capture_value[QUEEN];
    else if (move_kind(m) == MK_PROMO_N) sc += capture_value[KNIGHT];
    list[i] = make_entry(m, sc);
  }
}

// The quiet stage: ordinary quiet moves by history, the under-promotions that
// follow them unscored.
void score_quiets(const MovePicker& mp, uint32_t* list, int n) {
  int k = 0;
  while (k < n && !is_promotion(entry_move(list[k]))) k++;
  score_history(mp, list, k, 4);
}

void score_evasions(MovePicker& mp) {
  const Position& p = *mp.pos;
  for (int i = 0; i < mp.count; i++) {
    Move m = entry_move(mp.list[i]);
    int from = move_from(m), to = move_to(m), sc;
    if (move_kind(m) == MK_EP) sc = 30000;
    else if (is_promotion(m)) sc = 31000;
    else if (p.board[to]) sc = 30000 + 16 * piece_type(p.board[to]) - 2 * piece_type(p.board[from]);
    else if (m == mp.killer1) sc = 29000;
    else if (m == mp.killer2) sc = 28000;
    else sc = history_sum(*mp.th, p, p.board[from], from, to) / 8;
    mp.list[i] = make_entry(m, sc);
  }
}

// The opponent's attacked squares for the quiet stage's exchange test: a quiet move to a
// square it does not attack, from a square none of its sliders attack (so that leaving it
// opens no line to the target), can never lose the exchange.
void load_threats(MovePicker& mp) {
  mp.slider_threats = slider_attacks_by(*mp.pos, mp.side ^ 1);
  mp.threats = mp.slider_threats | leaper_attacks_by(*mp.pos, mp.side ^ 1);
}

// Loads the list of a generating stage. Returns false for stages that return a move directly.
void load_stage(MovePicker& mp, int st) {
  const Position& p = *mp.pos;
  mp.cur = mp.list;
  switch (st) {
    case ST_CAPTURES:
      mp.count = generate_captures(p, mp.list);
      score_captures(mp, mp.list, mp.count);
      mp.see_flag = true;
      sort_entries(mp.list, mp.count);
      break;
    case ST_QUIETS:
      if (mp.skip_quiets) break;
      mp.count = generate_quiets(p, mp.list);
      score_quiets(mp, mp.list, mp.count);
      mp.see_flag = mp.depth > 11;
      if (mp.see_flag) load_threats(mp);
      sort_entries(mp.list, mp.count);
      break;
    case ST_EVASIONS:
      mp.count = generate_evasions(p, mp.list);
      score_evasions(mp);
      mp.see_flag = true;
      sort_entries(mp.list, mp.count);
      break;
    case ST_QUIET_CHECKS:
    case ST_QCHECKS:
      mp.count = generate_quiet_checks(p, mp.list, mp.depth >= 7);
      score_history(mp, mp.list, mp.count, 4);
      mp.see_flag = false;
      sort_entries(mp.list, mp.count);
      break;
    case ST_PUSH7:
    case ST_QPUSH7:
      mp.count = generate_pushes_to_seventh(p, mp.list);
      mp.see_flag = false;
      break;
    case ST_DEFERRED:
      mp.cur = mp.deferred;
      mp.count = mp.deferred_count;
      mp.deferred_count = 0;
      mp.see_flag = false;
      break;
    case ST_QCAPTURES:
      mp.count = generate_captures(p, mp.list);
      score_captures(mp, mp.list, mp.count);
      sort_entries(mp.list, mp.count);
      break;
    case ST_QUEEN_CHECKS:
      if (!p.pieces(mp.side, QUEEN)) break;
      mp.count = generate_queen_checks(p, mp.list);
      score_history(mp, mp.list, mp.count, 4);
      sort_entries(mp.list, mp.count);
      break;
    default:
      break;
  }
}

// Clears the finished list and moves to the next stage of the picker's row.
inline int advance_stage(MovePicker& mp) {
  mp.count = mp.cursor = 0;
  int st = STAGES[mp.kind][mp.stage_index];
  if (st != ST_END) mp.stage_index++;
  mp.stage = st;
  return st;
}

// The hash-move stage: returns true (and records the move) when it is playable here.
inline bool take_hash_move(MovePicker& mp) {
  if (!mp.hash_move || !is_pseudo_legal(*mp.pos, mp.hash_move)) return false;
  mp.returned[mp.returned_count++] = mp.hash_move;
  return true;
}

Move next_main(MovePicker& mp) {
  const Position& p = *mp.pos;
  for (;;) {
    while (mp.cursor < mp.count) {
      Move m = entry_move(mp.cur[mp.cursor++]);
      if (mp.returned_count && was_returned(mp, m)) continue;
      if (!mp.see_flag || move_kind(m) == MK_EP) return m;
      if (mp.stage == ST_QUIETS && !(mp.threats & sq_bb(move_to(m))) && !(mp.slider_threats & sq_bb(move_from(m))))
        return m;
      if (see_bad(p, m)) {
        // A full deferred list hands the move out at once so nothing is lost.
        if (mp.deferred_count < 64) { mp.deferred[mp.deferred_count++] = m; continue; }
        return m;
      }
      return m;
    }
    const int st = advance_stage(mp);
    switch (st) {
      case ST_HASH:
        if (take_hash_move(mp)) return mp.hash_move;
        break;
      case ST_KILLER1:
      case ST_KILLER2:
      case ST_COUNTER: {
        // Only quiet moves (or castling): captures, en passant and promotions
        // come from the list stages, and returning them here would repeat them.
        Move k = st == ST_KILLER1 ? mp.killer1 : st == ST_KILLER2 ? mp.killer2 : mp.counter;
        if (!k || was_returned(mp, k) || !is_pseudo_legal(p, k)) break;
        int kk = move_kind(k);
        if (kk == MK_EP || kk >= MK_PROMO_Q || (p.board[move_to(k)] && kk != MK_CASTLE)) break;
        mp.returned[mp.returned_count++] = k;
        return k;
      }
      case ST_END:
        return 0;
      case ST_QCAPTURES:  // accepted in the main picker: captures without the exchange test
        load_stage(mp, st);
        mp.see_flag = false;
        break;
      default:
        load_stage(mp, st);
        break;
    }
  }
}

Move next_quiescence(MovePicker& mp) {
  for (;;) {
    while (mp.cursor < mp.count) {
      Move m = entry_move(mp.cur[mp.cursor++]);
      if (m == mp.hash_move && mp.returned_count) continue;
      return m;
    }
    const int st = advance_stage(mp);
    switch (st) {
      case ST_HASH:
        if (take_hash_move(mp)) return mp.hash_move;
        break;
      case ST_END:
        return 0;
      case ST_EVASIONS:
      case ST_DEFERRED:
      case ST_QCHECKS:
      case ST_QCAPTURES:
      case ST_QPUSH7:
      case ST_QUEEN_CHECKS:
        load_stage(mp, st);
        mp.see_flag = false;
        break;
      default:
        break;
    }
  }
}

}  // namespace

Move next_move_full(MovePicker& mp) {
  return mp.kind <= PK_CHECKS_PUSH7_DEFERRED ? next_main(mp) : next_quiescence(mp);
}

}  // namespace quorix
