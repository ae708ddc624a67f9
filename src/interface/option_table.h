// The option table: registration, "uci" listing and "setoption".
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quorix {

// Change callback: receives the parsed number (spin, spin64, check) and the value text.
using OptionChange = void (*)(int64_t value, const std::string& text);
struct EngineOption;
using OptionShow = std::string (*)(const EngineOption& o);

struct EngineOption {
  uint64_t option_index = 0;
  std::string type;             // spin, spin64, check, string, combo, button
  void* value = nullptr;        // int*, uint64_t* or std::string*; none for buttons
  OptionChange on_change = nullptr;
  OptionShow on_show = nullptr;
  int32_t min = 0, max = 0;
  std::vector<std::string> vars;
};

// Case-insensitive name order (a prefix sorts first).
struct OptionNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using OptionTable = std::map<std::string, EngineOption, OptionNameLess>;
const OptionTable& option_table();

// Registers all options with their defaults (storing each default into its variable).
void options_register();
// Prints every "option name ..." line in registration order.
void options_print();
// The listing text of one option after "option name <name> ".
std::string option_description(const EngineOption& o);

struct SetOptionResult {
  bool found = false;
  bool changed = false;
  std::string name;
};
// Handles a "setoption" line (raw = the untouched line); prints "info string <name> not
// recognized" for unknown names. Unchanged values do nothing.
SetOptionResult setoption_command(const std::vector<std::string>& tok, const std::string& raw);
// The dispatcher's follow-up after a changed value: evaluation and history set-up, the
// table re-initialisation and, outside a search, the thread pool rebuild.
void after_option_change(const std::string& name);
// Applies the changes that arrived during the search that just ended, in order.
void apply_deferred_options();

}  // namespace quorix
