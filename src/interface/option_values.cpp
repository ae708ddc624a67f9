#include "interface/options.h"

#include "board/movetext.h"
#include "eval/eval_options.h"
#include "search/hooks.h"

namespace quorix::opt {

int& numa_offset = g_search_options.numa_offset;
int threads = 1;
int ponder = 1;
int hash_mb = 256;
int& table_memory = g_search_options.table_memory;
int multipv = 1;
int own_book = 1000;
std::string book_file = "vantel.bin";
int book_moves = 1000;
int best_book_line = 0;
std::string log_file;
std::string hash_file_name;
int& chess960 = g_chess960_text;  // owned by the move-text code
int analyse_mode = 0;
int& use_lmr = g_search_options.use_lmr;
int null_move_pruning = 1;
int& minimal_reporting = g_search_options.minimal_reporting;
int overhead_ms = 50;
int time_usage = 0;
int use_syzygy = 1;
std::string syzygy_path;
int& syzygy_probe_depth = g_search_options.syzygy_probe_depth;
int syzygy_probe_limit = 6;
int& syzygy_50_move_rule = g_search_options.syzygy_50_move_rule;
int smart_syzygy = 0;
int& king_safety = g_eval_options.king_safety;
int& selectivity = g_search_options.selectivity;
int& reduction = g_search_options.reduction;
int dynamism = 100;
int contempt = 8;
int white_contempt = 0;
int& nnue_scale = g_eval_options.nnue_scale;
int& use_regular_eval = g_eval_options.use_regular_eval;
int mcts_hash = 128;
int use_mcts = 0;
int& mcts_explore = g_search_options.mcts_explore;
std::string weights_file;
std::string& personality = g_eval_options.personality;
std::string armageddon = "Off";
int variety = 0;
int skill = 25;
int auto_skill = 0;

}  // namespace quorix::opt
