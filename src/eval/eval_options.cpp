#include "eval/eval_options.h"

namespace quorix {

EvalOptions g_eval_options;

}  // namespace quorix
