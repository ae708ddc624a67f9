// Move generation: generators, attack queries and stored-move validation.
// Generators leave the score bits of their entries at zero; ordering is the
// search's business (search/movepick.h).
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
// The same split: squares c's bishops, rooks and queens attack; those its pawns, knights and king attack.
Bitboard slider_attacks_by(const Position& p, int c);
Bitboard leaper_attacks_by(const Position& p, int c);
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

}  // namespace quorix
