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

}  // namespace quorix
