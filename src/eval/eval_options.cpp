#include "eval/eval_options.h"

namespace quorix {

EvalOptions g_eval_options;
bool g_force_classical = false;

}  // namespace quorix
