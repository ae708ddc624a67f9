// Move generation: generators, attack queries, stored-move validation and the
// staged move picker.
#pragma once
#include "board/position.h"

namespace quorix {

// Capacity of move lists. 384 bounds the pseudo-legal moves of any position whose
// material could arise in a game (nine queens, two rooks, bishops and knights).
constexpr int MAX_MOVES = 384;

// List entries: move in the low 16 bits, ordering score in the high 16 bits.
inline Move entry_move(uint32_t e) { return e & 0xFFFF; }
inline uint32_t make_entry(Move m, int score) { return m | (uint32_t(score) << 16); }

Bitboard attacks_by(const Position& p, int c);
// Whether colour c's king is attacked by the other colour.
bool king_attacked(const Position& p, int c);
// Pieces of both colours attacking sq through occupancy occ.
Bitboard attackers_to(const Position& p, int sq, Bitboard occ);
bool is_pseudo_legal(const Position& p, Move m);
bool has_legal_evasion(const Position& p);

int generate_all(const Position& p, uint32_t* list);
int generate_captures(const Position& p, uint32_t* list);
int generate_evasions(const Position& p, uint32_t* list);
int generate_quiets(const Position& p, uint32_t* list);
int generate_quiet_checks(const Position& p, uint32_t* list, bool deep);
int generate_queen_checks(const Position& p, uint32_t* list);
int generate_pushes_to_seventh(const Position& p, uint32_t* list);
// 0 = captures, 1 = evasions, anything else gives 0 moves.
int generate_moves(const Position& p, uint32_t* list, int what);

// Sorts entries by descending score, keeping generation order among equals.
void sort_entries(uint32_t* list, int n);

// History score of a quiet move (history plus the three continuation cells).
inline int history_sum(const Position& p, int pc, int from, int to) {
  return int(p.history[pc * 4096 + (from << 6 | to)]) + p.cont[0][pc * 64 + to] + p.cont[1][pc * 64 + to] +
         p.cont[2][pc * 64 + to];
}

enum PickerStage : int {
  ST_HASH = 1, ST_CAPTURES = 2, ST_KILLER1 = 3, ST_KILLER2 = 4, ST_COUNTER = 5, ST_QUIETS = 6,
  ST_EVASIONS = 7, ST_QUIET_CHECKS = 8, ST_PUSH7 = 9, ST_DEFERRED = 10, ST_END = 11,
  ST_QCHECKS = 12, ST_QCAPTURES = 13, ST_QPUSH7 = 14, ST_QUEEN_CHECKS = 15
};

struct MovePicker {
  const Position* pos;
  int kind;          // row of the stage table (0..11)
  int stage_index;   // next stage in the row
  int stage;
  int count, cursor;
  Move hash_move, killer1, killer2, counter;
  int side;
  int depth;
  bool see_flag;
  bool skip_quiets;
  int deferred_count;
  int returned_count;
  uint32_t* cur;     // current list (list or deferred)
  uint32_t returned[6];
  uint32_t deferred[64];
  uint32_t list[MAX_MOVES];

  // Prepares the picker for a node.
  void init(const Position* p, int kind_, Move hash, Move k1, Move k2, Move cm, int depth_) {
    pos = p; kind = kind_; stage_index = 0; stage = 0; count = cursor = 0;
    hash_move = hash; killer1 = k1; killer2 = k2; counter = cm;
    side = p->side(); depth = depth_; see_flag = false; skip_quiets = false;
    deferred_count = 0; returned_count = 0; cur = list;
  }
};

Move next_move(MovePicker& mp);

}  // namespace quorix
