// The option table: the 45 engine options, the "uci" listing and "setoption".
#include "interface/option_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "eval/evaluate.h"
#include "eval/hash_tables.h"
#include "interface/book.h"
#include "interface/option_hooks.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/history.h"
#include "search/thread.h"
#include "search/threads.h"
#include "search/tt.h"
#include "xnnue/network.h"

namespace quorix {

bool OptionNameLess::operator()(const std::string& a, const std::string& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(a[i])));
    unsigned char y = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(b[i])));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

namespace {

OptionTable table;
uint64_t next_index = 0;
// Changes that arrived during a search (name, value text), applied when it ends.
std::vector<std::pair<std::string, std::string>> deferred_changes;

int clamp_int(int64_t v, int lo, int hi) { return int(v < lo ? lo : v > hi ? hi : v); }

void flush_info(const char* fmt, const char* text) {
  std::printf(fmt, text);
  std::fflush(stdout);
}

// ---- change callbacks ----

void on_hash(int64_t v, const std::string&) {
  opt::hash_mb = clamp_int(v, 1, 65536);
  tt_option_hash(opt::hash_mb);
}

void on_clear_hash(int64_t, const std::string&) { tt_option_clear(); }

void on_book_file(int64_t, const std::string& text) {
  opt::book_file = text;
  flush_info("info string Book file is %s\n", text.c_str());
  book_reopen();
  book_print_notice();
}

void on_log_file(int64_t, const std::string& text) {
  opt::log_file = text == "<empty>" ? std::string() : text;
  log_close();
  if (!opt::log_file.empty()) {
    flush_info("info string Log file is %s\n", opt::log_file.c_str());
    log_open(opt::log_file);
  }
}

void on_save_hash(int64_t, const std::string&) { tt_save_file(opt::hash_file_name); }

void on_load_hash(int64_t, const std::string&) {
  tt_load_file(opt::hash_file_name);
  hash_loaded_flag = true;
}

void on_probe_limit(int64_t v, const std::string&) {
  opt::syzygy_probe_limit = clamp_int(v, 0, 7);
  std::printf("info string Probing tablebases up to %d-man.\n",
              std::min(opt::syzygy_probe_limit, tablebase_largest()));
  std::fflush(stdout);
}

void on_syzygy_path(int64_t, const std::string& text) {
  opt::syzygy_path = text;
  tablebase_reinit(text);
  on_probe_limit(opt::syzygy_probe_limit, std::string());
}

void on_mcts_hash(int64_t v, const std::string&) {
  opt::mcts_hash = clamp_int(v, 128, 32768);
  mcts_table_resize(opt::mcts_hash);
  std::printf("info string MCTS Hash table size is now %d meg\n", opt::mcts_hash);
  std::fflush(stdout);
}

void on_weights_file(int64_t, const std::string& text) {
  opt::weights_file = text;
  const bool flip_before = xnnue::g_flip;
  xnnue::load_network_file(text);
  // Piece codes of the current game formed under the other square transform are rebuilt
  // (this also marks their accumulators as not computed).
  if (xnnue::g_flip != flip_before)
    for (int i = 0; i <= game_length && i < GAME_HISTORY_SIZE; i++) build_piece_state(game_history[i]);
}

// ---- registration ----

EngineOption& add(const std::string& name, const char* type, void* value, OptionChange cb) {
  EngineOption o;
  o.option_index = next_index++;
  o.type = type;
  o.value = value;
  o.on_change = cb;
  return table.insert_or_assign(name, std::move(o)).first->second;
}

void reg_spin(const char* name, int* var, int def, int lo, int hi, OptionChange cb = nullptr) {
  *var = def;
  EngineOption& o = add(name, "spin", var, cb);
  o.min = lo;
  o.max = hi;
}
void reg_check(const char* name, int* var, int def) {
  *var = def;
  add(name, "check", var, nullptr);
}
void reg_string(const char* name, std::string* var, const char* def, OptionChange cb = nullptr) {
  *var = def;
  add(name, "string", var, cb);
}
void reg_button(const char* name, OptionChange cb) { add(name, "button", nullptr, cb); }
void reg_combo(const char* name, std::string* var, const char* def, std::vector<std::string> vars) {
  EngineOption& o = add(name, "combo", var, nullptr);
  if (std::find(vars.begin(), vars.end(), def) != vars.end())
    *var = def;
  else
    *var = vars.empty() ? "<invalid>" : vars[0];
  o.vars = std::move(vars);
}

std::string value_text(const EngineOption& o) {
  if (o.on_show) return o.on_show(o);
  if (o.type == "spin") return std::to_string(*static_cast<int*>(o.value));
  if (o.type == "spin64") return std::to_string(*static_cast<uint64_t*>(o.value));
  if (o.type == "check") return *static_cast<int*>(o.value) ? "true" : "false";
  if (o.type == "string") {
    const std::string& s = *static_cast<std::string*>(o.value);
    return s.empty() ? "<empty>" : s;
  }
  if (o.type == "combo") return *static_cast<std::string*>(o.value);
  return "<none>";
}

// Options whose action must not run while the search threads use the tables they touch.
bool blocked_during_search(const std::string& name) {
  static const char* const names[] = {"Hash", "Clear Hash", "Save Hash to File", "Load Hash from File",
                                      "MCTS Hash", "WeightsFile", "SyzygyPath"};
  for (const char* n : names)
    if (strcasecmp(n, name.c_str()) == 0) return true;
  return false;
}

// Options after which the table is kept even when a search used it.
bool keeps_table(const std::string& name) {
  static const char* const names[] = {"Hash File Name", "Save Hash to File", "Load Hash from File"};
  for (const char* n : names)
    if (strcasecmp(n, name.c_str()) == 0) return true;
  return false;
}

void apply_value(EngineOption& o, const std::string& text) {
  if (o.type == "button") {
    if (o.on_change) o.on_change(0, text);
  } else if (o.type == "check") {
    int64_t v = strcasecmp(text.c_str(), "true") == 0    ? 1
                : strcasecmp(text.c_str(), "false") == 0 ? 0
                                                         : std::strtol(text.c_str(), nullptr, 10) != 0;
    if (o.on_change)
      o.on_change(v, text);
    else
      *static_cast<int*>(o.value) = int(v);
  } else if (o.type == "spin") {
    int64_t v = std::strtol(text.c_str(), nullptr, 10);
    if (o.on_change)
      o.on_change(v, text);
    else
      *static_cast<int*>(o.value) = clamp_int(v, o.min, o.max);
  } else if (o.type == "spin64") {
    uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
    if (o.on_change) {
      o.on_change(int64_t(v), text);
    } else {
      int64_t lo = o.min, hi = o.max;
      if (lo >= 0 && v < uint64_t(lo)) v = uint64_t(lo);
      else if (hi < 0 || v > uint64_t(hi)) v = uint64_t(hi);
      *static_cast<uint64_t*>(o.value) = v;
    }
  } else if (o.type == "string") {
    if (o.on_change)
      o.on_change(0, text);
    else
      *static_cast<std::string*>(o.value) = text;
  } else if (o.type == "combo") {
    if (std::find(o.vars.begin(), o.vars.end(), text) == o.vars.end()) return;
    if (o.on_change)
      o.on_change(0, text);
    else
      *static_cast<std::string*>(o.value) = text;
  }
}

}  // namespace

const OptionTable& option_table() { return table; }

void options_register() {
  table.clear();
  next_index = 0;
  reg_spin("NUMA Offset", &opt::numa_offset, 0, -1, 32);
  reg_spin("Threads", &opt::threads, 1, 1, 128);
  reg_check("Ponder", &opt::ponder, 1);
  reg_spin("Hash", &opt::hash_mb, 256, 1, 65536, on_hash);
  reg_button("Clear Hash", on_clear_hash);
  reg_spin("Table Memory", &opt::table_memory, 64, 1, 1024);
  reg_spin("MultiPV", &opt::multipv, 1, 1, 218);
  reg_check("OwnBook", &opt::own_book, 1000);
  reg_string("Book File", &opt::book_file, "vantel.bin", on_book_file);
  reg_spin("Book Moves", &opt::book_moves, 1000, 0, 1000);
  reg_check("Best Book Line", &opt::best_book_line, 0);
  reg_string("Log File", &opt::log_file, "", on_log_file);
  reg_string("Hash File Name", &opt::hash_file_name, "");
  reg_button("Save Hash to File", on_save_hash);
  reg_button("Load Hash from File", on_load_hash);
  reg_check("UCI_Chess960", &opt::chess960, 0);
  reg_check("UCI_AnalyseMode", &opt::analyse_mode, 0);
  reg_check("Use LMR", &opt::use_lmr, 1);
  reg_check("Null Move Pruning", &opt::null_move_pruning, 1);
  reg_spin("Minimal Reporting", &opt::minimal_reporting, 0, 0, 200);
  reg_spin("Overhead ms", &opt::overhead_ms, 50, 0, 10000);
  reg_spin("Time Usage", &opt::time_usage, 0, -90, 90);
  reg_check("Use Syzygy", &opt::use_syzygy, 1);
  reg_string("SyzygyPath", &opt::syzygy_path, "", on_syzygy_path);
  reg_spin("Syzygy Probe Depth", &opt::syzygy_probe_depth, 1, 0, 99);
  reg_spin("Syzygy Probe Limit", &opt::syzygy_probe_limit, 6, 0, 7, on_probe_limit);
  reg_check("Syzygy 50 Move Rule", &opt::syzygy_50_move_rule, 1);
  reg_check("Smart Syzygy", &opt::smart_syzygy, 0);
  reg_spin("King Safety", &opt::king_safety, 83, 0, 200);
  reg_spin("Selectivity", &opt::selectivity, 150, 10, 250);
  reg_spin("Reduction", &opt::reduction, -35, -500, 50);
  reg_spin("Dynamism", &opt::dynamism, 100, 0, 400);
  reg_spin("Contempt", &opt::contempt, 8, -250, 250);
  reg_check("White Contempt", &opt::white_contempt, 0);
  reg_spin("NNUE_Scale", &opt::nnue_scale, 65, 10, 500);
  reg_check("Use Regular Eval", &opt::use_regular_eval, 0);
  reg_spin("MCTS Hash", &opt::mcts_hash, 128, 128, 32768, on_mcts_hash);
  reg_check("Use MCTS", &opt::use_mcts, 0);
  reg_spin("MCTS Explore", &opt::mcts_explore, 35, 1, 500);
  reg_string("WeightsFile", &opt::weights_file, "", on_weights_file);
  reg_combo("Personality", &opt::personality, "Default",
            {"Default", "Aggressive", "Defensive", "Active", "Positional", "Endgame", "Beginner", "Human"});
  reg_combo("Armageddon", &opt::armageddon, "Off", {"Off", "White Must Win", "Black Must Win"});
  reg_spin("Variety", &opt::variety, 0, 0, 100);
  reg_spin("Skill", &opt::skill, 25, 0, 25);
  reg_check("Auto Skill", &opt::auto_skill, 0);
}

std::string option_description(const EngineOption& o) {
  std::string d = "type " + (o.type == "spin64" ? std::string("spin") : o.type);
  if (o.type == "button") return d;
  d += " default " + value_text(o);
  if (o.type == "spin" || o.type == "spin64") d += " min " + std::to_string(o.min) + " max " + std::to_string(o.max);
  if (o.type == "combo")
    for (const std::string& v : o.vars) d += " var " + v;
  return d;
}

void options_print() {
  std::vector<std::pair<const std::string*, const EngineOption*>> order;
  for (const auto& [name, o] : table) order.emplace_back(&name, &o);
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.second->option_index < b.second->option_index; });
  for (const auto& [name, o] : order) std::printf("option name %s %s\n", name->c_str(), option_description(*o).c_str());
}

SetOptionResult setoption_command(const std::vector<std::string>& tok, const std::string& raw) {
  SetOptionResult r;
  enum { NONE, NAME, VALUE } state = NONE;
  bool have_value = false;
  for (size_t i = 1; i < tok.size(); i++) {
    if (state == VALUE) {
      have_value = true;
      break;
    }
    if (tok[i] == "name") {
      state = NAME;
    } else if (tok[i] == "value") {
      state = VALUE;
    } else if (state == NAME) {
      if (!r.name.empty()) r.name += ' ';
      r.name += tok[i];
    }
  }
  std::string value;
  if (have_value) {
    // The text after the first "value" keyword, blanks inside and at the end kept.
    size_t p = raw.find("value ");
    size_t t = raw.find("value\t");
    if (p == std::string::npos || (t != std::string::npos && t < p)) p = t;
    if (p != std::string::npos) value = raw.substr(p + 6);
  }
  auto it = table.find(r.name);
  if (it == table.end()) {
    flush_info("info string %s not recognized\n", r.name.c_str());
    return r;
  }
  r.found = true;
  EngineOption& o = it->second;
  if (o.type != "button" && value_text(o) == value) return r;
  if (searching && blocked_during_search(it->first)) {
    flush_info("info string %s cannot be changed during a search\n", it->first.c_str());
    return r;
  }
  r.name = it->first;
  if (searching) {
    // The running search keeps the values it started with.
    deferred_changes.emplace_back(it->first, value);
    return r;
  }
  r.changed = true;
  apply_value(o, value);
  return r;
}

void apply_deferred_options() {
  std::vector<std::pair<std::string, std::string>> changes;
  changes.swap(deferred_changes);
  for (const auto& [name, value] : changes) {
    auto it = table.find(name);
    if (it == table.end()) continue;
    EngineOption& o = it->second;
    if (o.type != "button" && value_text(o) == value) continue;
    apply_value(o, value);
    after_option_change(name);
  }
}

void after_option_change(const std::string& name) {
  apply_eval_settings();
  init_history_bonus();
  if (!searching && !keeps_table(name)) tt_reinit_if_used();
  if (opt::table_memory > opt::hash_mb) opt::table_memory = opt::hash_mb;
  if (searching) return;
  if (opt::threads != g_thread_count || opt::table_memory != g_tables_memory_mb) {
    const int before = g_thread_count;
    // The game's records carry no thread tables: every search and perft attaches its own.
    threads_resize(opt::threads);
    if (g_thread_count != before) {
      std::printf("info string Threads now set to %d\n", g_thread_count);
      std::fflush(stdout);
    }
  }
}

}  // namespace quorix
