// The staged move picker: hands out the moves of a node in search order, scoring
// them with the searching thread's history tables.
#pragma once
#include "board/movegen.h"
#include "board/position.h"
#include "search/thread.h"

namespace quorix {

// History score of a quiet move: the thread's history cell plus the three
// continuation cells of the position's rows.
inline int history_sum(const SearchThread& th, const Position& p, int pc, int from, int to) {
  return int(th.history[pc * 4096 + (from << 6 | to)]) + p.cont[0][pc * 64 + to] + p.cont[1][pc * 64 + to] +
         p.cont[2][pc * 64 + to];
}

enum PickerStage : int {
  ST_HASH = 1, ST_CAPTURES = 2, ST_KILLER1 = 3, ST_KILLER2 = 4, ST_COUNTER = 5, ST_QUIETS = 6,
  ST_EVASIONS = 7, ST_QUIET_CHECKS = 8, ST_PUSH7 = 9, ST_DEFERRED = 10, ST_END = 11,
  ST_QCHECKS = 12, ST_QCAPTURES = 13, ST_QPUSH7 = 14, ST_QUEEN_CHECKS = 15
};

// Picker kinds: which stages a node walks through. Kinds up to PK_CHECKS_PUSH7_DEFERRED
// belong to the main search (bad captures deferred), the others to quiescence.
enum PickerKind : int {
  PK_MAIN = 0,                  // every move: hash, captures, killers, counter, quiets, deferred
  PK_TACTICAL_DEFERRED = 1,     // captures, quiet checks, deferred captures
  PK_TACTICAL_CHECKS = 2,       // captures, quiet checks
  PK_TACTICAL = 3,              // captures only
  PK_EVASIONS = 4,              // check evasions, deferred
  PK_CHECKS_PUSH7 = 5,          // captures, quiet checks, pushes to the seventh rank
  PK_CHECKS_PUSH7_DEFERRED = 6, // the same, then deferred captures
  PK_Q_CAPTURES = 7,            // quiescence: captures
  PK_Q_CHECKS_PUSH7 = 8,        // quiescence: captures, checks, pushes to the seventh rank
  PK_Q_CHECKS_PUSH7_B = 9,      // (same row as 8)
  PK_Q_CHECKS = 10,             // quiescence: captures and checks
  PK_Q_QUEEN_CHECKS = 11,       // quiescence: captures and queen checks
  PK_COUNT = 12
};

struct MovePicker {
  const Position* pos;
  const SearchThread* th;  // history tables used for ordering
  int kind;          // PickerKind: row of the stage table
  int stage_index;   // next stage in the row
  int stage;
  int count, cursor;
  Move hash_move, killer1, killer2, counter;
  int side;
  int depth;
  bool see_flag;
  bool skip_quiets;
  Bitboard threats;         // quiet stage with the exchange test: squares the opponent attacks
  Bitboard slider_threats;  // ... and those its bishops, rooks and queens attack
  int deferred_count;
  int returned_count;
  uint32_t* cur;     // current list (list or deferred)
  uint32_t returned[6];
  uint32_t deferred[64];
  uint32_t list[MAX_MOVES];

  // Prepares the picker for a node searched by thread th.
  void init(const Position* p, const SearchThread* th_, int kind_, Move hash, Move k1, Move k2, Move cm,
            int depth_) {
    pos = p; th = th_; kind = kind_; stage_index = 0; stage = 0; count = cursor = 0;
    hash_move = hash; killer1 = k1; killer2 = k2; counter = cm;
    side = p->side(); depth = depth_; see_flag = false; skip_quiets = false;
    deferred_count = 0; returned_count = 0; cur = list;
  }
};

// Whether m was already handed out by a stage that returns single moves.
inline bool was_returned(const MovePicker& mp, Move m) {
  for (int i = 0; i < mp.returned_count; i++)
    if (mp.returned[i] == m) return true;
  return false;
}

// Every case of next_move: stage changes, list loading, the exchange test and
// repeated moves.
Move next_move_full(MovePicker& mp);

// Next move of the node, 0 when none is left. The common case, an entry of the current
// list that needs no exchange test and was not handed out before, is taken inline.
inline Move next_move(MovePicker& mp) {
  if (mp.cursor < mp.count) {
    const Move m = entry_move(mp.cur[mp.cursor]);
    bool plain = mp.kind > PK_CHECKS_PUSH7_DEFERRED || !mp.see_flag ||
                 (mp.stage == ST_QUIETS && !(mp.threats & sq_bb(move_to(m))) &&
                  !(mp.slider_threats & sq_bb(move_from(m))));
    if (plain && !(mp.returned_count && was_returned(mp, m))) {
      mp.cursor++;
      return m;
    }
  }
  return next_move_full(mp);
}

}  // namespace quorix
