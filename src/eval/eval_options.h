// Option values read by the evaluation, bound to the engine options by the option table.
// They change only between searches.
#pragma once
#include <string>

namespace quorix {

struct EvalOptions {
  int use_regular_eval = 0;  // classical evaluation even with a network loaded
  int nnue_scale = 65;       // percent applied to the network's score
  int king_safety = 83;
  std::string personality = "Default";
};
extern EvalOptions g_eval_options;

// Set by the search settings while a search runs whose personality plays with the
// classical evaluation.
extern bool g_force_classical;

// Whether the classical evaluation answers (the option, or forced for the running search).
inline bool classical_eval_selected() { return g_eval_options.use_regular_eval || g_force_classical; }

}  // namespace quorix
