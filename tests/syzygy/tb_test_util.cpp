#include "syzygy/tb_test_util.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "board/movegen.h"
#include "test_util.h"

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

std::string random_position(const std::string& material, std::mt19937_64& rng) {
  for (;;) {
    char board[64] = {};
    bool black = false;
    for (char ch : material) {
      if (ch == 'v') {
        black = true;
        continue;
      }
      int sq;
      do sq = int(rng() % 64);
      while (board[sq] || (ch == 'P' && (sq < 8 || sq >= 56)));
      board[sq] = black ? char(std::tolower(ch)) : ch;
    }
    std::string fen;
    for (int r = 7; r >= 0; r--) {
      int empty = 0;
      for (int f = 0; f < 8; f++) {
        char c = board[r * 8 + f];
        if (!c) {
          empty++;
          continue;
        }
        if (empty) fen += char('0' + empty);
        empty = 0;
        fen += c;
      }
      if (empty) fen += char('0' + empty);
      if (r) fen += '/';
    }
    fen += (rng() & 1) ? " w - - 0 1" : " b - - 0 1";
    Position p;
    setup(p, fen);
    const int ks0 = p.king_sq[0], ks1 = p.king_sq[1];
    if (std::abs(ks0 / 8 - ks1 / 8) <= 1 && std::abs(ks0 % 8 - ks1 % 8) <= 1) continue;
    if (king_attacked(p, p.side() ^ 1)) continue;
    return fen;
  }
}

std::vector<std::string> shipped_materials() {
  std::set<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(table_dir()))
    if (f.path().extension() == ".rtbw") names.insert(f.path().stem().string());
  return {names.begin(), names.end()};
}

}  // namespace quorix::test
