#include "syzygy/tb_test_util.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace quorix::test {

namespace {
int field(const std::string& line, const std::string& name) {
  size_t at = line.find(" " + name + " ");
  if (at == std::string::npos) at = line.find(";" + name + " ");
  if (at == std::string::npos) return 0;
  return std::stoi(line.substr(at + name.size() + 2));
}
}  // namespace

std::vector<TbCase> read_tb_cases(const std::string& path) {
  std::vector<TbCase> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ss(line);
    std::string board, side, castle, ep;
    if (!(ss >> board >> side >> castle >> ep)) continue;
    TbCase c;
    c.fen = board + " " + side + " " + castle + " " + ep + " 0 1";
    c.wdl = field(line, "wdl");
    c.dtz = field(line, "dtz");
    out.push_back(c);
  }
  return out;
}

std::string swap_colours(const std::string& fen) {
  std::istringstream ss(fen);
  std::string board, side, castle, ep, rest;
  ss >> board >> side >> castle >> ep;
  std::getline(ss, rest);
  std::vector<std::string> ranks;
  std::string cur;
  for (char ch : board) {
    if (ch == '/') {
      ranks.push_back(cur);
      cur.clear();
    } else {
      cur += std::isupper(static_cast<unsigned char>(ch)) ? char(std::tolower(ch)) : char(std::toupper(ch));
    }
  }
  ranks.push_back(cur);
  std::string out;
  for (size_t i = ranks.size(); i-- > 0;) out += ranks[i] + (i ? "/" : "");
  std::string sw_castle = castle;
  for (char& ch : sw_castle)
    if (ch != '-') ch = std::isupper(static_cast<unsigned char>(ch)) ? char(std::tolower(ch)) : char(std::toupper(ch));
  if (ep != "-") ep[1] = ep[1] == '3' ? '6' : '3';
  return out + " " + (side == "w" ? "b" : "w") + " " + sw_castle + " " + ep + rest;
}

}  // namespace quorix::test
