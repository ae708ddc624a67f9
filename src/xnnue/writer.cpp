#include "xnnue/writer.h"

#include <libdeflate.h>

#include <cstdio>

#include "xnnue/format.h"

namespace quorix::xnnue {

namespace {

struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
  }
  // Uniform in lo..hi.
  int64_t range(int64_t lo, int64_t hi) { return lo + int64_t(next() % uint64_t(hi - lo + 1)); }
};

void put16(std::vector<uint8_t>& out, int v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

}  // namespace

std::string standard_description(int h, int l) {
  char buf[320];
  std::snprintf(buf, sizeof buf,
                "Features=HalfKP(Friend)[41024->%dx2],Network=AffineTransform[1<-%d](ClippedReLU[%d](AffineTransform[%d<-%d]"
                "(ClippedReLU[%d](AffineTransform[%d<-%d](InputSlice[%d(0:%d)])))))",
                h, l, l, l, l, l, l, 2 * h, 2 * h, 2 * h);
  return buf;
}

std::vector<uint8_t> random_plain_network(const RandomNetwork& r) {
  Rng rng{r.seed * 0x9E3779B97F4A7C15ULL + 0x1234567ULL};
  const std::string desc = r.description.empty() ? standard_description(r.h, r.l) : r.description;
  const bool full = r.full_range;
  std::vector<uint8_t> out;
  out.reserve(size_t(plain_stream_size(r.h, r.l, desc.size())));
  put_u32(out, NET_VERSION);
  put_u32(out, NET_HASH);
  put_u32(out, uint32_t(desc.size()));
  out.insert(out.end(), desc.begin(), desc.end());
  put_u32(out, 0x5D69D7B8);  // transformer hash
  for (int i = 0; i < r.h; i++) put16(out, int(full ? rng.range(-32768, 32767) : rng.range(r.ft_bias_lo, r.ft_bias_hi)));
  for (size_t i = 0; i < size_t(FEATURES) * size_t(r.h); i++)
    put16(out, int(full ? rng.range(-32768, 32767) : rng.range(-r.ft_weight, r.ft_weight)));
  put_u32(out, 0x63337156);  // stack hash
  for (int j = 0; j < r.l; j++)
    put_u32(out, uint32_t(full ? int64_t(rng.next() >> 32) : rng.range(-r.l1_bias, r.l1_bias)));
  for (int i = 0; i < 2 * r.h * r.l; i++) out.push_back(uint8_t(full ? rng.range(-128, 127) : rng.range(-r.l1_weight, r.l1_weight)));
  for (int j = 0; j < r.l; j++) put_u32(out, uint32_t(rng.range(-r.l2_bias, r.l2_bias) * (full ? 50 : 1)));
  for (int j = 0; j < r.l; j++)
    for (int i = 0; i < 32; i++) out.push_back(uint8_t(full ? rng.range(-128, 127) : rng.range(-r.l2_weight, r.l2_weight)));
  put_u32(out, uint32_t(rng.range(-r.out_bias, r.out_bias)));
  for (int i = 0; i < 32; i++) out.push_back(uint8_t(full ? rng.range(-128, 127) : rng.range(-r.out_weight, r.out_weight)));
  return out;
}

std::vector<uint8_t> zlib_compress(const uint8_t* data, size_t len, int level) {
  std::vector<uint8_t> out;
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (!c) return out;
  out.resize(libdeflate_zlib_compress_bound(c, len));
  size_t n = libdeflate_zlib_compress(c, data, len, out.data(), out.size());
  libdeflate_free_compressor(c);
  out.resize(n);
  return out;
}

std::vector<uint8_t> pack_network(const std::vector<uint8_t>& plain, int level) {
  PackedBlob blob;
  blob.size = uint32_t(plain.size());
  blob.bytes = zlib_compress(plain.data(), plain.size(), level);
  std::vector<uint8_t> out;
  blob.write(out);
  return out;
}

std::vector<uint8_t> wrap_network(const std::vector<uint8_t>& plain, uint32_t a, uint32_t b, int level, size_t extra) {
  WrappedNetworkFile w;
  w.a = a;
  w.b = b;
  w.blob.payload = pack_network(plain, level);
  w.blob.plain_len = uint32_t(w.blob.payload.size());
  for (size_t i = 0; i < extra; i++) w.blob.payload.push_back(uint8_t(0xA5 ^ i));
  descramble(w.blob.payload.data(), w.blob.payload.size());
  std::vector<uint8_t> out;
  w.write(out);
  return out;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace quorix::xnnue
