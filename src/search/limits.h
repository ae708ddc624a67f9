// The limits of one "go": clocks, increments, moves to go, depth, nodes, move time.
#pragma once
#include <cstdint>
#include <string>

namespace quorix {

struct SearchLimits {
  double wtime = 0, btime = 0, winc = 0, binc = 0;
  int movestogo = 0;
  int depth = 0;
  uint64_t nodes = ~uint64_t(0);
  double movetime = 0;
  bool infinite = false;
  bool ponder = false;
  std::string searchmoves;
};

}  // namespace quorix
