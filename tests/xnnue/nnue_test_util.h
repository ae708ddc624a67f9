// Helpers for the network tests: cached random networks, a plain reference
// evaluator that reads the weights straight from the stream bytes, and temp files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/position.h"
#include "xnnue/format.h"
#include "xnnue/network_impl.h"
#include "xnnue/writer.h"

namespace quorix::test {

// Plain stream bytes of the default random network for a pair (built once).
const std::vector<uint8_t>& plain_net(int h, int l);
// The loaded network for those bytes (built once).
const xnnue::Network& loaded_net(int h, int l);

std::unique_ptr<xnnue::Network> parse_plain(const std::vector<uint8_t>& bytes);

// Reference model: weights decoded from the stream bytes by their documented
// offsets, features computed from the board, plain loops.
struct RefNet {
  int h = 0, l = 0;
  bool flip = false;
  std::vector<int16_t> fb, fw;
  std::vector<int32_t> b1, b2;
  std::vector<int8_t> w1, w2, w3;  // w2 rows of 32, w3 of 32
  int32_t b3 = 0;

  RefNet(const std::vector<uint8_t>& bytes, int h_, int l_, bool flip_);
  // Accumulator of one perspective (first h values).
  std::vector<int16_t> accumulate(const Position& p, int persp) const;
  // Layer-1 sums and the output for a position. *scale receives a bound on the
  // magnitude of the summed float terms (for rounding tolerances).
  double output(const Position& p, std::vector<int32_t>* l1 = nullptr, double* scale = nullptr) const;
};

// A file under the test temp directory holding bytes; removed by the destructor.
struct TempFile {
  std::string path;
  explicit TempFile(const std::vector<uint8_t>& bytes, const std::string& name = "net");
  ~TempFile();
};
std::string temp_path(const std::string& name);

}  // namespace quorix::test
