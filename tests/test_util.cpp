#include "test_util.h"

#include <fstream>
#include <sstream>

#include "search/search.h"
#include "search/thread.h"

namespace quorix::test {

std::vector<PerftCase> read_perft_suite(const std::string& path) {
  std::vector<PerftCase> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream ss(line);
    std::string part;
    PerftCase pc;
    bool first = true;
    while (std::getline(ss, part, ';')) {
      if (first) {
        while (!part.empty() && part.back() == ' ') part.pop_back();
        pc.fen = part;
        first = false;
        continue;
      }
      int d = 0;
      unsigned long long n = 0;
      if (std::sscanf(part.c_str(), " D%d %llu", &d, &n) == 2) pc.counts.push_back({d, n});
    }
    if (!pc.fen.empty()) out.push_back(pc);
  }
  return out;
}

void setup(Position& p, const std::string& fen) {
  set_fen(p, fen.c_str());
  attach_to_thread(p, thread_rec(0));
}

}  // namespace quorix::test
