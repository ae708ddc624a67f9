// History tables: bonus tables and update rules.
#pragma once
#include <cstdint>

#include "board/position.h"
#include "search/thread.h"

namespace quorix {

constexpr int BONUS_DEPTHS = 200;
// Depth-indexed bonuses (depth in half-plies); zero from depth 31 on.
extern int history_bonus_table[BONUS_DEPTHS];
extern int cont_bonus_table[BONUS_DEPTHS];
extern int capture_bonus_table[BONUS_DEPTHS];

// Fills the depth-indexed bonus tables (start-up and after option changes).
void init_history_bonus();

inline int history_bonus(int d) { return d < 0 ? history_bonus_table[0] : d >= BONUS_DEPTHS ? 0 : history_bonus_table[d]; }
inline int capture_bonus(int d) { return d < 0 ? capture_bonus_table[0] : d >= BONUS_DEPTHS ? 0 : capture_bonus_table[d]; }
inline int cont_bonus(int d) { return d < 0 ? cont_bonus_table[0] : d >= BONUS_DEPTHS ? 0 : cont_bonus_table[d]; }

// Gravity rules: cells drift toward their neutral value as they saturate.
template <typename T>
inline void history_add(T& h, int b) {
  int v = int(h);
  v += b - (v - 16000) * b / 16000;
  h = T(v);
}
template <typename T>
inline void history_sub(T& h, int b) {
  int v = int(h);
  v += -b - (v - 16000) * b / 16000;
  h = T(v);
}
inline void capture_history_add(uint32_t& h, int delta) {
  int v = int(h), b = delta < 0 ? -delta : delta;
  v += delta - (v - 8000) * b / 5000;
  h = uint32_t(v);
}

// Whether a continuation row pointer is one of the stand-in rows used when the
// move that far back does not exist or was a null move.
inline bool cont_row_missing(const SearchThread& th, const uint16_t* row) {
  return size_t(row - th.cont_history) < size_t(64) * CONT_ROW_SIZE;
}

// Counter move and killers for a quiet move that reached beta at position p.
void update_refutations(SearchThread& th, const Position& p, int ply, Move m);
// Quiet history after a cutoff by best (quiets[0..n) tried before it, best not included).
// skip_first leaves the first quiet tried untouched.
void update_quiet_stats(SearchThread& th, const Position& p, int ply, Move best, const Move* quiets, int n,
                        int depth, bool skip_first);
// Capture history after a cutoff: +bonus for best, -bonus for the other captures tried.
void update_capture_stats(SearchThread& th, const Position& p, Move best, const Move* captures, int n, int depth);
// History and continuation cells of one quiet move get the bonus of depth d.
void history_reward(SearchThread& th, const Position& p, Move m, int depth);

}  // namespace quorix
