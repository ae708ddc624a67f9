// Share of lazy exits of the classical evaluation during the fixed-depth benchmark
// (needs an engine library built with -DQUORIX_EVAL_STATS; see docs/performance.md).
#include <cstdio>
#include "eval/eval_internal.h"
#include "interface/bench.h"
#include "interface/options.h"
#include "interface/startup.h"
using namespace quorix;
int main(int argc, char** argv) {
  engine_startup();
  opt::use_regular_eval = 1;
  char a0[] = "quorix", a1[] = "bench", a2[] = "1";
  char* args[] = {a0, a1, a2, argc > 1 ? argv[1] : (char*)"10", nullptr};
  run_bench(4, args);
  std::printf("classical calls %llu, lazy exits %llu (%.1f %%)\n", (unsigned long long)g_eval_stats.calls,
              (unsigned long long)g_eval_stats.lazy, 100.0 * double(g_eval_stats.lazy) / double(g_eval_stats.calls));
}
