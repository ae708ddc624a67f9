// Writing networks: random test networks as plain streams, packed blobs and
// wrapped files (used by the nnue_gen tool and the tests).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quorix::xnnue {

struct RandomNetwork {
  int h = 256, l = 24;
  uint64_t seed = 1;
  // Weight ranges (inclusive, symmetric unless noted). The defaults give
  // accumulators and hidden values spread over the clipping ranges.
  int ft_weight = 40;
  int ft_bias_lo = -20, ft_bias_hi = 80;
  int l1_weight = 8;
  int l1_bias = 4000;
  int l2_weight = 24;
  int l2_bias = 400;
  int out_weight = 127;
  int out_bias = 2000;
  // When set, every integer uses its full type range (wrap-around and saturation tests).
  bool full_range = false;
  // Used instead of the standard description when not empty.
  std::string description;
};

std::string standard_description(int h, int l);
// A plain stream for the pair; the pair need not be supported (the sizes follow h, l).
std::vector<uint8_t> random_plain_network(const RandomNetwork& r);

// zlib (RFC 1950) compression.
std::vector<uint8_t> zlib_compress(const uint8_t* data, size_t len, int level = 6);
// PackedBlob bytes: u32 plain size, u32 zlib length, zlib data.
std::vector<uint8_t> pack_network(const std::vector<uint8_t>& plain, int level = 6);
// WrappedNetworkFile bytes with magic words a, b; extra bytes (never read) are
// appended to the payload after the packed blob.
std::vector<uint8_t> wrap_network(const std::vector<uint8_t>& plain, uint32_t a, uint32_t b, int level = 6,
                                  size_t extra = 0);

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace quorix::xnnue
