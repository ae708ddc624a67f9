// Per-search settings: everything a search and its evaluation read that depends on the
// options and the game rather than on the position searched. Worked out once when a search
// starts (search_settings) and installed before the workers run (apply_search_settings).
#pragma once
#include <cstdint>

namespace quorix {

enum class Armageddon { Off, WhiteMustWin, BlackMustWin };

// What the settings are worked out from: option values and facts about the game.
struct SettingsRequest {
  int personality = 0;           // index of the current personality row
  Armageddon armageddon = Armageddon::Off;
  int dynamism = 100;            // "Dynamism" (the default personality only)
  int contempt = 8;              // "Contempt"
  bool white_contempt = false;   // contempt belongs to White rather than the side to move
  bool classical = false;        // "Use Regular Eval"
  bool mcts = false;             // "Use MCTS"
  bool after_mcts = false;       // the previous search was a Monte-Carlo search
  int skill = 25;                // live skill level, 0..25
  int variety = 0;
  bool null_move_pruning = true;
  bool analyse_mode = false;
  int multipv = 1;
  int threads = 1;               // threads of the pool as it is now
  int side = 0;                  // side to move at the root
  bool infinite = false;         // "go infinite": no contempt unless it belongs to White
  int max_depth = 99;
  double target = 0;             // seconds; UNTIMED when the search has no clock
};

struct SearchSettings {
  bool classical = false;        // classical evaluation (option or personality)
  int dynamism = 100;
  int attack_weight[2] = {100, 100};  // by colour
  int draw_score[2] = {0, 0};         // by colour
  int history_prune_threshold = 23000;
  int history_offset = 17058;
  int skill = 25;
  int skill_noise = 0;           // evaluation noise range (0: none)
  int skill_depth = 999;         // iteration limit of the skill level
  int contempt = 0;              // centipawns, for contempt_side
  int contempt_side = 0;
  bool null_pruning = true;
  bool analysis = false;
  int multipv = 1;
};

// The settings of the search that runs (or ran last).
extern SearchSettings g_settings;

SearchSettings search_settings(const SettingsRequest& r);

// Makes s the running search's settings: writes the search switches and the evaluation's
// per-search values (noise seeded with noise_seed). Only while no search thread runs.
void apply_search_settings(const SearchSettings& s, uint64_t noise_seed);

// Evaluation contempt of c centipawns for g_settings.contempt_side (the other colour gets
// the negation); dynamic contempt calls it between iterations.
void apply_contempt(int c);

// Ends the running search's settings: the evaluation follows the options again.
void release_search_settings();

}  // namespace quorix
