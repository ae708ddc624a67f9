// Internals of the classical evaluation shared by its units, the tests and the tuner.
#pragma once
#include <cstdint>

#include "board/position.h"
#include "eval/hash_tables.h"
#include "eval/eval_params.h"

namespace quorix {

constexpr int KING_DANGER_SIZE = 100;

// Start-up tables of the classical evaluation (built by apply_eval_settings).
struct EvalTables {
  int piece_value[8];          // tenths of a centipawn, personality applied (index 1..5)
  Score psq[8][64];            // White's view; Black uses the vertically mirrored square, negated
  Score mobility[4][32];       // knight (weighted count 0..16), bishop 0..13, rook 0..14, queen 0..27
  Score threat_pawn[8];        // enemy piece (by type) attacked by a pawn
  Score threat_minor[8];       // ... by a knight or bishop when undefended or worth more
  Score threat_hanging[8];     // ... undefended and attacked by rook, queen or king
  int zone_weight[8];          // king-zone attack units per attacking piece type
  Score king_danger[KING_DANGER_SIZE];
  Score check_penalty[8];      // by number of safe checking squares
  Score ring_penalty[9];       // by number of attacked king-ring squares not covered by own pawns
  int ks_start;                // start value of the king-safety units
  Score passed[2][8];          // [opponent has no pieces][relative rank]
  Score passed_free[8], passed_defended[8], passed_attacked[8];
  int passed_king_opp, passed_king_own;  // endgame tenths per square of king distance and rank step
  Score knight_king_distance[8];
  Score knight_file_group[9];  // by the opponent's file-group value
  Score late_endgame[9];       // by the own file-group value, phases 0..17
  int tempo[97];               // tenths of a centipawn by phase
  float phase_scale[97];       // factor applied to the material scale by phase
  Score pawn_center[9], pawn_rest[9], pawn_edge[9], pawn_supported[9], pawn_attacked[9], pawn_isolated[9];
  Score king_pawn_distance[8]; // endgame only: king file against the mean pawn file
  int shelter_pawn[4];         // own pawn 1, 2, 3 ranks ahead of the king, none/further
  int shelter_storm[4];        // enemy pawn 1, 2, 3 ranks ahead of the king
  uint8_t file_group[256];     // by the set of files holding a colour's pawns (0..8)
  Score rook_open, rook_semi_open;
  bool king_wing_term;
};
extern EvalTables g_et;

// Built-in constants the tables are derived from. The tuner changes these and
// calls apply_eval_settings() again.
struct TunableParam {
  const char* name;
  int* values;
  int count;
};
// The list of tunable constants (terminated by an entry with a null name).
const TunableParam* tunable_params();

// Doubled pawns whose front pawn is not defended, and the shut-in rook: fixed values.
constexpr Score DOUBLED_PENALTY = make_score(-36, -50);
constexpr Score SHUT_IN_ROOK = make_score(-282, -101);

// material(): White minus Black in tapered units; scale receives the positional factor.
int material(Position& p, float& scale);
// Classical evaluation in centipawns, side to move's view.
int classical(Position& p, int alpha, int beta, bool* lazy);
// The pawn entry of p: the thread's slot (filled on a miss) or, without a table, a
// per-thread scratch entry.
const PawnEntry& probe_pawns(const Position& p);
// Fills every field of e for p (key, lists, score, shelter, file groups, flags).
void evaluate_pawns(const Position& p, PawnEntry& e);

// Network path of the entry after the network's raw value v: scale, contempt,
// noise and clamp (exposed for tests).
int finish_network_score(const Position& p, int v);
// Test hook: when set, the entry uses it in place of the network.
extern int (*g_network_stub)(Position&);

inline int& last_tapered(Position& p) { return p.search_field2; }

#ifdef QUORIX_EVAL_STATS
// Measurement builds only: classical evaluations per thread and how many ended lazily.
struct EvalStats {
  uint64_t calls = 0, lazy = 0;
};
extern thread_local EvalStats g_eval_stats;
#endif

}  // namespace quorix
