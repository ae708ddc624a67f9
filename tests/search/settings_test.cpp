// Per-search settings worked out from the options and the game.
#include <gtest/gtest.h>

#include "board/types.h"
#include "eval/eval_options.h"
#include "eval/eval_params.h"
#include "search/control.h"
#include "search/settings.h"

namespace quorix {
namespace {

TEST(Settings, WorkedOutFromOptionsAndGame) {
  struct Case {
    const char* name;
    SettingsRequest r;
    bool classical;
    int contempt, contempt_side, draw_white, skill_depth, skill_noise, prune_threshold;
  };
  auto req = [](auto&& edit) {
    SettingsRequest r;
    edit(r);
    return r;
  };
  const Case cases[] = {
      {"defaults", req([](SettingsRequest&) {}), false, 8, WHITE, 0, 999, 0, 23000},
      {"black to move", req([](SettingsRequest& r) { r.side = BLACK; }), false, 8, BLACK, 0, 999, 0, 23000},
      // A draw is a loss for White; Black (to move) is pushed away from it as well.
      {"armageddon", req([](SettingsRequest& r) { r.armageddon = Armageddon::WhiteMustWin; r.side = BLACK; }), false,
       8 - 36, BLACK, -2000, 999, 0, 23000},
      {"infinite analysis", req([](SettingsRequest& r) { r.infinite = true; }), false, 0, WHITE, 0, 999, 0, 23000},
      {"infinite, White's contempt",
       req([](SettingsRequest& r) { r.infinite = true; r.white_contempt = true; r.side = BLACK; }), false, 8, WHITE, 0,
       999, 0, 23000},
      {"personality", req([](SettingsRequest& r) { r.personality = PERS_AGGRESSIVE; }), true,
       personality_rows[PERS_AGGRESSIVE].contempt, WHITE, 0, 999, 0, 23000},
      {"monte-carlo contempt", req([](SettingsRequest& r) { r.mcts = true; r.contempt = 20; }), false, 4, WHITE, 0, 999,
       0, 23000},
      {"after monte-carlo", req([](SettingsRequest& r) { r.after_mcts = true; }), false, 8, WHITE, 0, 999, 0, 19000},
      {"skill, classical", req([](SettingsRequest& r) { r.skill = 10; r.classical = true; }), true, 8, WHITE, 0, 2, 400,
       23000},
      {"skill out of range", req([](SettingsRequest& r) { r.skill = 40; r.variety = 30; }), false, 8, WHITE, 0, 999, 30,
       23000},
  };
  for (const Case& c : cases) {
    const SearchSettings s = search_settings(c.r);
    EXPECT_EQ(s.classical, c.classical) << c.name;
    EXPECT_EQ(s.contempt, c.contempt) << c.name;
    EXPECT_EQ(s.contempt_side, c.contempt_side) << c.name;
    EXPECT_EQ(s.draw_score[WHITE], c.draw_white) << c.name;
    EXPECT_EQ(s.draw_score[BLACK], -c.draw_white) << c.name;
    EXPECT_EQ(s.skill_depth, c.skill_depth) << c.name;
    EXPECT_EQ(s.skill_noise, c.skill_noise) << c.name;
    EXPECT_EQ(s.history_prune_threshold, c.prune_threshold) << c.name;
  }
  SettingsRequest timed;
  timed.target = 5;
  EXPECT_FALSE(search_settings(timed).analysis);
  timed.target = UNTIMED;
  EXPECT_TRUE(search_settings(timed).analysis);
}

// A personality's classical evaluation holds for its search only; the option stays as set.
TEST(Settings, ForcedEvaluationAndContemptLastOnlyForTheSearch) {
  const int saved_option = g_eval_options.use_regular_eval;
  g_eval_options.use_regular_eval = 0;
  SettingsRequest r;
  r.personality = PERS_AGGRESSIVE;
  r.side = BLACK;
  apply_search_settings(search_settings(r), 1);
  EXPECT_TRUE(classical_eval_selected());
  const int c = personality_rows[PERS_AGGRESSIVE].contempt;
  EXPECT_EQ(g_contempt[BLACK], make_score(10 * c, 10 * c / 4));
  EXPECT_EQ(g_contempt[WHITE], -g_contempt[BLACK]);
  release_search_settings();
  EXPECT_FALSE(classical_eval_selected());
  EXPECT_EQ(g_eval_options.use_regular_eval, 0);
  apply_search_settings(search_settings(SettingsRequest()), 0);
  release_search_settings();
  g_eval_options.use_regular_eval = saved_option;
}

}  // namespace
}  // namespace quorix
