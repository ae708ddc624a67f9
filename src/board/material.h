// Material-signature table: stored verdicts for known material balances, the
// special endgame evaluators attached to some of them, and the exact KPK oracle.
#pragma once
#include <cstdint>

#include "board/position.h"

namespace quorix {

enum SpecialEval : uint8_t { SE_NONE = 0, SE_KBNK, SE_KNPK, SE_KPK, SE_KRPKR };

struct MatSignature {
  uint64_t key;      // full material key (0 with value 0 and scale 0 in unused slots)
  int32_t value;     // tenths of a centipawn, White's view
  float scale;       // factor for the positional part
  uint8_t special;   // SpecialEval
  uint8_t strong;    // colour owning the row's capital letters
};
static_assert(sizeof(MatSignature) == 24);

constexpr int MAT_SIG_ENTRIES = 65536;
extern MatSignature mat_signatures[MAT_SIG_ENTRIES];

// Builds the signature table and the KPK oracle. Idempotent.
void init_material_signatures();

// The entry for a material key, or null when the slot holds a different key.
inline const MatSignature* find_signature(uint64_t mat_key) {
  const MatSignature& e = mat_signatures[mat_key & 0xFFFF];
  return e.key == mat_key ? &e : nullptr;
}

// Runs the special evaluator of entry e on p: White's view, tenths of a centipawn;
// scale receives the factor for the positional part.
int run_special_eval(const MatSignature& e, const Position& p, float& scale);

int eval_kbnk(const Position& p, int strong, float& scale);
int eval_knpk(const Position& p, int strong, float& scale);
int eval_kpk(const Position& p, int strong, float& scale);
int eval_krpkr(const Position& p, int strong, float& scale);

// KPK oracle with the pawn owner as White moving up the board: whether White
// wins with its king on wk, pawn on wp, the black king on bk and the given side to move.
// Impossible placements answer false.
bool kpk_win(int wk, int wp, int bk, bool black_to_move);

// Seconds spent building the KPK oracle at start-up.
double kpk_build_seconds();

}  // namespace quorix
