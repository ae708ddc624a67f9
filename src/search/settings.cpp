#include "search/settings.h"

#include <algorithm>
#include <cmath>

#include "board/types.h"
#include "eval/eval_params.h"
#include "eval/eval_options.h"
#include "search/control.h"
#include "search/search.h"

namespace quorix {

SearchSettings g_settings;

namespace {

constexpr int SKILL_NOISE_CLASSICAL[26] = {5000, 5000, 3700, 3000, 2000, 1400, 750, 420, 380, 280, 200, 220, 155,
                                           105,  65,   95,   50,   65,   90,   25,  15,  7,   5,   3,   2,   0};
constexpr int SKILL_DEPTH_CLASSICAL[26] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 6, 6, 7, 8, 9, 10, 12, 999};
constexpr int SKILL_DEPTH_NETWORK[26] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 7, 8, 10, 999};
constexpr int SKILL_NOISE_NETWORK[26] = {9000, 9000, 7000, 5500, 4000, 2700, 1600, 900, 1000, 700, 550, 400, 275,
                                         185,  95,   155,  75,   145,  25,   105,  175, 25,  25,  25,  25,  0};

constexpr int ARMAGEDDON_DRAW = 2000;   // draw score for the side that must win (negated)
constexpr int ARMAGEDDON_SHIFT = 36;    // contempt shift towards the side that must win

}  // namespace

SearchSettings search_settings(const SettingsRequest& r) {
  SearchSettings s;
  // Personality: any other than the default plays with the classical evaluation.
  const int pidx = r.personality >= 0 && r.personality < PERS_COUNT ? r.personality : 0;
  const PersonalityRow& prow = personality_rows[pidx];
  s.classical = r.classical || pidx != 0;
  s.dynamism = pidx != 0 ? prow.dynamism : r.dynamism;
  s.attack_weight[r.side] = prow.attack_weight_own;
  s.attack_weight[r.side ^ 1] = prow.attack_weight_opp;
  // Armageddon: a draw counts as a loss for the side that must win.
  int shift = 0;
  if (r.armageddon == Armageddon::WhiteMustWin) {
    s.draw_score[WHITE] = -ARMAGEDDON_DRAW;
    s.draw_score[BLACK] = ARMAGEDDON_DRAW;
    shift = ARMAGEDDON_SHIFT;
  } else if (r.armageddon == Armageddon::BlackMustWin) {
    s.draw_score[WHITE] = ARMAGEDDON_DRAW;
    s.draw_score[BLACK] = -ARMAGEDDON_DRAW;
    shift = -ARMAGEDDON_SHIFT;
  }
  // Dynamism grows with the thread count; history pruning is milder after a Monte-Carlo search.
  if (!r.after_mcts) {
    s.dynamism += int(5 * std::log2(double(r.threads)));
    s.history_prune_threshold = 23000;
    s.history_offset = 17058;
  } else {
    s.history_prune_threshold = 19000;
    s.history_offset = 16000;
  }
  // Skill: evaluation noise and an iteration limit.
  s.skill = std::clamp(r.skill, 0, 25);
  s.skill_noise = s.classical ? SKILL_NOISE_CLASSICAL[s.skill] * 2 : SKILL_NOISE_NETWORK[s.skill];
  s.skill_depth = s.classical ? SKILL_DEPTH_CLASSICAL[s.skill] : SKILL_DEPTH_NETWORK[s.skill];
  if (s.skill == 25 && r.variety != 0) s.skill_noise = r.variety;
  // Contempt.
  const int contempt = r.infinite && !r.white_contempt ? 0 : r.contempt;
  int c = contempt + (r.side == WHITE ? shift : -shift);
  if (pidx != 0 && !r.white_contempt) c = prow.contempt;
  if (r.mcts && c > 0) c = std::max(c, 16) - 16;  // Monte-Carlo search: less contempt
  s.contempt = c;
  s.contempt_side = r.white_contempt ? int(WHITE) : r.side;
  // Search switches.
  s.null_pruning = r.null_move_pruning;
  s.analysis = r.analyse_mode || (r.max_depth > 98 && r.target >= UNTIMED);
  s.multipv = std::max(1, r.multipv);
  return s;
}

void apply_search_settings(const SearchSettings& s, uint64_t noise_seed) {
  g_settings = s;
  g_force_classical = s.classical;
  g_attack_weight[0] = s.attack_weight[0];
  g_attack_weight[1] = s.attack_weight[1];
  g_draw_score[0] = s.draw_score[0];
  g_draw_score[1] = s.draw_score[1];
  g_history_prune_threshold = s.history_prune_threshold;
  g_history_offset = s.history_offset;
  g_dynamism_weight_mg = s.dynamism * 193 / 100;
  g_dynamism_weight_eg = s.dynamism * 160 / 100;
  g_noise_range = s.skill_noise;
  g_noise_seed = noise_seed;
  g_null_pruning = s.null_pruning;
  g_analysis = s.analysis;
  g_multipv = s.multipv;
  apply_contempt(s.contempt);
}

// Dynamic contempt changes the pair between iterations while workers evaluate: like the
// shared hash table, this is a deliberate lock-free write of aligned words (a worker sees
// the old or the new pair), kept out of the thread sanitizer's view.
__attribute__((no_sanitize("thread"))) void apply_contempt(int c) {
  const Score v = make_score(10 * c, 10 * c / 4);
  g_contempt[g_settings.contempt_side] = v;
  g_contempt[g_settings.contempt_side ^ 1] = -v;
  g_contempt_mg = mg_value(g_contempt[WHITE]);
}

void release_search_settings() { g_force_classical = false; }

}  // namespace quorix
