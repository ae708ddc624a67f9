#include "interface/options.h"

#include "board/movetext.h"

namespace quorix::opt {

int numa_offset = 0;
int threads = 1;
int ponder = 1;
int hash_mb = 256;
int table_memory = 64;
int multipv = 1;
int own_book = 1000;
std::string book_file = "vantel.bin";
int book_moves = 1000;
int best_book_line = 0;
std::string log_file;
std::string hash_file_name;
int& chess960 = g_chess960_text;  // owned by the move-text code
int analyse_mode = 0;
int use_lmr = 1;
int null_move_pruning = 1;
int minimal_reporting = 0;
int overhead_ms = 50;
int time_usage = 0;
int use_syzygy = 1;
std::string syzygy_path;
int syzygy_probe_depth = 1;
int syzygy_probe_limit = 6;
int syzygy_50_move_rule = 1;
int smart_syzygy = 0;
int king_safety = 83;
int selectivity = 150;
int reduction = -35;
int dynamism = 100;
int contempt = 8;
int white_contempt = 0;
int nnue_scale = 65;
int use_regular_eval = 0;
int mcts_hash = 128;
int use_mcts = 0;
int mcts_explore = 35;
std::string weights_file;
std::string personality = "Default";
std::string armageddon = "Off";
int variety = 0;
int skill = 25;
int auto_skill = 0;

}  // namespace quorix::opt
