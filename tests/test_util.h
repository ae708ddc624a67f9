// Helpers shared by the tests.
#pragma once
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix::test {

inline std::string shared_dir() { return QUORIX_SHARED_DIR; }

struct PerftCase {
  std::string fen;
  std::vector<std::pair<int, uint64_t>> counts;  // depth, leaves
};
// Reads an EPD perft suite ("FEN ;D1 n ;D2 n ...").
std::vector<PerftCase> read_perft_suite(const std::string& path);

// Sets p from FEN text with full from-scratch fields, attached to thread 0's tables.
void setup(Position& p, const std::string& fen);

}  // namespace quorix::test
