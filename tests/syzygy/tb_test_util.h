// Helpers of the tablebase tests: the shipped tables, annotated positions and colour swaps.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quorix::test {

inline std::string table_dir() { return std::string(QUORIX_SHARED_DIR) + "/testdata/syzygy"; }

struct TbCase {
  std::string fen;  // with " 0 1" appended
  int wdl = 0, dtz = 0;
};
// Reads an annotated EPD file ("... wdl N; dtz N;").
std::vector<TbCase> read_tb_cases(const std::string& path);
// The same position with colours swapped and the board turned over.
std::string swap_colours(const std::string& fen);
// A random legal placement of a material such as "KRPvKN" (side to move random),
// with the half-move clock 0.
std::string random_position(const std::string& material, std::mt19937_64& rng);
// Material names of all shipped tables.
std::vector<std::string> shipped_materials();

}  // namespace quorix::test
