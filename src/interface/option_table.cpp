// Placeholder until the full option table lands: only UCI_Chess960 and
// Use Regular Eval are understood.
#include "interface/option_table.h"

#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "interface/options.h"

namespace quorix {

void options_register() {}

void options_print() {
  std::printf("option name UCI_Chess960 type check default %s\n", opt::chess960 ? "true" : "false");
}

void setoption_command(const std::vector<std::string>& tok, const std::string& raw) {
  std::string name;
  size_t i = 1;
  for (; i < tok.size() && tok[i] != "value"; i++)
    if (tok[i] != "name") name += (name.empty() ? "" : " ") + tok[i];
  std::string value;
  size_t vp = raw.find("value ");
  if (vp != std::string::npos) value = raw.substr(vp + 6);
  if (strcasecmp(name.c_str(), "UCI_Chess960") == 0) {
    opt::chess960 = strcasecmp(value.c_str(), "true") == 0 ? 1 : 0;
  } else if (strcasecmp(name.c_str(), "Use Regular Eval") == 0) {
    opt::use_regular_eval = strcasecmp(value.c_str(), "true") == 0 ? 1 : 0;
  } else {
    std::printf("info string %s not recognized\n", name.c_str());
    std::fflush(stdout);
  }
}

}  // namespace quorix
