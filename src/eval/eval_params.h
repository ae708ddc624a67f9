// Evaluation globals set from outside the evaluation (search driver, options)
// and the personality rows. Values are read by evaluate() at every call.
#pragma once
#include <cstdint>

namespace quorix {

// Packed middlegame/endgame value: mg * 2^32 + eg (eg a signed 32-bit half).
using Score = int64_t;
constexpr Score make_score(int mg, int eg) { return Score(mg) * (Score(1) << 32) + Score(eg); }
constexpr int mg_value(Score s) { return int((s + (Score(1) << 31)) >> 32); }
constexpr int eg_value(Score s) { return int(int32_t(uint32_t(uint64_t(s)))); }

// ---- Set by the search driver before a search ----------------------------------
// Contempt pair per colour, packed, tenths of a centipawn (the driver stores (10c, 10c/4)).
// The evaluation uses the White entry.
extern Score g_contempt[2];
// Copy of the middlegame half of the White contempt pair (used with the ram count).
extern int g_contempt_mg;
// Skill noise: range r (0 = none) and seed; the score moves by -r/2 + (seed ^ key) % r.
extern int g_noise_range;
extern uint64_t g_noise_seed;
// Lazy margin of the quick material test, centipawns (driver: 500..1200).
extern int g_lazy_margin;
// Weights of the positional total in 128ths (middlegame, endgame).
extern int g_positional_weight_mg;
extern int g_positional_weight_eg;
// The two constants the driver sets per search (23000/17058, or 19000/16000 after a
// Monte-Carlo search): the history pruning threshold and the history offset that the
// search reads.
extern int g_history_prune_threshold;
extern int g_history_offset;
// Dynamism weights (driver: dynamism * 193 / 100 and dynamism * 160 / 100). They scale the
// dynamic terms (mobility, king attack, threats): middlegame halves by weight/193,
// endgame halves by weight/160, so the default dynamism 100 is neutral.
extern int g_dynamism_weight_mg;
extern int g_dynamism_weight_eg;
constexpr int DYNAMISM_NEUTRAL_MG = 193;
constexpr int DYNAMISM_NEUTRAL_EG = 160;
// Per-colour attack weights in percent (the driver copies the personality row's own and
// opponent weights for the side to move and the other side). They scale the king-attack
// units a colour produces against the enemy king.
extern int g_attack_weight[2];

// ---- Set by apply_eval_settings() ----------------------------------------------
enum Personality : int {
  PERS_DEFAULT = 0, PERS_AGGRESSIVE, PERS_DEFENSIVE, PERS_ACTIVE, PERS_POSITIONAL, PERS_ENDGAME,
  PERS_BEGINNER, PERS_HUMAN, PERS_COUNT
};

struct PersonalityRow {
  const char* name;          // value of the "Personality" option
  int dynamism;              // read by the driver
  int contempt;              // read by the driver (centipawns)
  int piece_pct[6];          // material adjustment per type P..Q in percent (index 1..5)
  int king_safety_start;     // start value of the king-safety units
  int mobility_pct;          // scale of the mobility tables
  int passed_pct;            // scale of the passed-pawn tables
  int structure_pct;         // scale of the pawn-structure tables
  int attack_weight_own;     // copied by the driver into g_attack_weight for the side to move
  int attack_weight_opp;     // ... and for the opponent
  bool king_wing_term;       // the same-wing attack term
};
extern const PersonalityRow personality_rows[PERS_COUNT];
// Index of the current "Personality" value (0 = "Default").
extern int g_personality;

// Material values per type in centipawns after the personality adjustment (index 1..5).
extern int g_piece_value_cp[8];
// Tapered piece values in centipawns by capped phase 0..96 (for futility tests).
extern int g_phase_piece_value[97][8];

}  // namespace quorix
