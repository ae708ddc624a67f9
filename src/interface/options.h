// Engine option values. Written only by the command dispatcher (setoption, never during
// a search) and start-up. Values a lower layer reads are stored there (search/hooks.h,
// eval/eval_options.h, board/movetext.h) and only referenced here.
#pragma once
#include <string>

namespace quorix::opt {

extern int& numa_offset;
extern int threads;
extern int ponder;
extern int hash_mb;
extern int& table_memory;
extern int multipv;
extern int own_book;
extern std::string book_file;
extern int book_moves;
extern int best_book_line;
extern std::string log_file;
extern std::string hash_file_name;
extern int& chess960;
extern int analyse_mode;
extern int& use_lmr;
extern int null_move_pruning;
extern int& minimal_reporting;
extern int overhead_ms;
extern int time_usage;
extern int use_syzygy;
extern std::string syzygy_path;
extern int& syzygy_probe_depth;
extern int syzygy_probe_limit;
extern int& syzygy_50_move_rule;
extern int smart_syzygy;
extern int& king_safety;
extern int& selectivity;
extern int& reduction;
extern int dynamism;
extern int contempt;
extern int white_contempt;
extern int& nnue_scale;
extern int& use_regular_eval;
extern int mcts_hash;
extern int use_mcts;
extern int& mcts_explore;
extern std::string weights_file;
extern std::string& personality;
extern std::string armageddon;
extern int variety;
extern int skill;
extern int auto_skill;

}  // namespace quorix::opt
