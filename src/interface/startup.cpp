#include "interface/startup.h"

#include <cstdio>
#include <cstring>

#include "board/attacks.h"
#include "board/material.h"
#include "board/position.h"
#include "eval/evaluate.h"
#include "interface/bench.h"
#include "interface/driver.h"
#include "interface/option_hooks.h"
#include "interface/option_table.h"
#include "interface/options.h"
#include "interface/tools.h"
#include "interface/uci.h"
#include "interface/report.h"
#include "interface/root_hooks.h"
#include "search/history.h"
#include "search/hooks.h"
#include "search/mcts.h"
#include "search/thread.h"
#include "search/threads.h"
#include "xnnue/network.h"
#include "search/tt.h"

namespace quorix {

void engine_startup() {
  static bool done = false;
  if (done) return;
  done = true;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::fflush(nullptr);
  init_start_time();
  reseed_random();
  mcts_table_resize(opt::mcts_hash);
  add_shutdown_hook(mcts_pool_free);
  g_search_hooks.pv = report_pv;
  g_search_hooks.multipv = report_multipv;
  g_search_hooks.currmove = report_currmove;
  g_search_hooks.poll = poll_check;
  g_search_hooks.iteration_start = report_iteration_start;
  g_search_hooks.book_move = book_probe_root;
  threads_resize(1);
  std::printf("Quorix %s by the Quorix developers\n", "");
  std::printf("using hardware POPCNT\n");
  book_reopen();
  init_attack_tables();
  init_material_signatures();
  options_register();
  apply_eval_settings();
  init_history_bonus();
  tablebase_reinit(opt::syzygy_path);
  if (opt::hash_mb > 0) {
    tt_resize(opt::hash_mb);
    add_shutdown_hook(tt_free);
  }
  xnnue::load_embedded_network();
  add_shutdown_hook(xnnue::release_network);
}

bool run_tool(int argc, char** argv, int& exit_code) {
  exit_code = 0;
  if (argc > 1 && std::strcmp(argv[1], "bench") == 0) {
    exit_code = run_bench(argc, argv);
    return true;
  }
  // Network tools: no protocol loop; the caller's shutdown releases the network.
  if (argc > 1 && std::strcmp(argv[1], "nneval") == 0) {
    exit_code = run_nneval(argc, argv);
    return true;
  }
  if (argc > 1 && std::strcmp(argv[1], "nntest") == 0) {
    exit_code = run_nntest();
    return true;
  }
  if (argc > 1 && std::strcmp(argv[1], "nndebug") == 0) {
    exit_code = run_nndebug();
    return true;
  }
  return false;
}

}  // namespace quorix
