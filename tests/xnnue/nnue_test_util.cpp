#include "xnnue/nnue_test_util.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace quorix::test {

namespace {
int32_t le32(const uint8_t* p) { return int32_t(xnnue::get_u32(p)); }
}  // namespace

const std::vector<uint8_t>& plain_net(int h, int l) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
  auto& v = cache[{h, l}];
  if (v.empty()) {
    xnnue::RandomNetwork r;
    r.h = h;
    r.l = l;
    r.seed = uint64_t(h * 100 + l);
    v = xnnue::random_plain_network(r);
  }
  return v;
}

std::unique_ptr<xnnue::Network> parse_plain(const std::vector<uint8_t>& bytes) {
  xnnue::MemorySource src(bytes.data(), bytes.size());
  return xnnue::read_network(src);
}

const xnnue::Network& loaded_net(int h, int l) {
  static std::map<std::pair<int, int>, std::unique_ptr<xnnue::Network>> cache;
  auto& n = cache[{h, l}];
  if (!n) n = parse_plain(plain_net(h, l));
  return *n;
}

RefNet::RefNet(const std::vector<uint8_t>& bytes, int h_, int l_, bool flip_) : h(h_), l(l_), flip(flip_) {
  const uint8_t* p = bytes.data();
  uint32_t n = xnnue::get_u32(p + 8);
  p += 12 + n + 4;
  fb.resize(h);
  std::memcpy(fb.data(), p, 2 * h);
  p += 2 * h;
  fw.resize(size_t(xnnue::FEATURES) * h);
  std::memcpy(fw.data(), p, fw.size() * 2);
  p += fw.size() * 2 + 4;
  for (int j = 0; j < l; j++, p += 4) b1.push_back(le32(p));
  w1.assign(p, p + 2 * h * l);
  p += 2 * h * l;
  for (int j = 0; j < l; j++, p += 4) b2.push_back(le32(p));
  w2.assign(p, p + 32 * l);
  p += 32 * l;
  b3 = le32(p);
  p += 4;
  w3.assign(p, p + 32);
}

std::vector<int16_t> RefNet::accumulate(const Position& p, int persp) const {
  auto view = [&](int sq) { return persp == 0 ? sq : sq ^ (flip ? 56 : 63); };
  int ksq = -1;
  for (int s = 0; s < 64; s++)
    if (p.board[s] == make_piece(persp, KING)) ksq = s;
  if (ksq < 0) {
    char fen[128];
    get_fen(p, fen);
    std::fprintf(stderr, "no king for %d in %s\n", persp, fen);
    std::abort();
  }
  std::vector<int32_t> acc(fb.begin(), fb.end());
  for (int s = 0; s < 64; s++) {
    int pc = p.board[s];
    if (!pc || piece_type(pc) == KING) continue;
    int code = 1 + 64 * (2 * (piece_type(pc) - 1) + (piece_color(pc) != persp ? 1 : 0)) + view(s);
    size_t row = size_t(641 * view(ksq) + code) * h;
    for (int i = 0; i < h; i++) acc[i] += fw[row + i];
  }
  std::vector<int16_t> out(h);
  for (int i = 0; i < h; i++) out[i] = int16_t(uint16_t(uint32_t(acc[i])));
  return out;
}

double RefNet::output(const Position& p, std::vector<int32_t>* l1, double* scale) const {
  std::vector<int> x;
  for (int side : {p.side(), p.side() ^ 1})
    for (int16_t v : accumulate(p, side)) x.push_back(v < 0 ? 0 : v > 127 ? 127 : v);
  std::vector<double> y1(l), y2(l), mag2(l);
  for (int j = 0; j < l; j++) {
    int64_t s = b1[j];
    for (int i = 0; i < 2 * h; i++) s += int64_t(w1[size_t(j) * 2 * h + i]) * x[i];
    int32_t s32 = int32_t(uint32_t(uint64_t(s)));
    if (l1) l1->push_back(s32);
    y1[j] = std::min(127.0, std::max(0.0, double(s32)) / 64.0);
  }
  for (int j = 0; j < l; j++) {
    double s = 0;
    for (int i = 0; i < l; i++) {
      s += double(w2[size_t(j) * 32 + i]) * y1[i];
      mag2[j] += std::fabs(double(w2[size_t(j) * 32 + i]) * y1[i]) / 64.0;
    }
    y2[j] = std::min(127.0, std::max(0.0, s + double(b2[j])) / 64.0);
  }
  double o = 0, mag = std::fabs(double(b3));
  for (int i = 0; i < l; i++) {
    o += double(w3[i]) * y2[i];
    mag += std::fabs(double(w3[i])) * (y2[i] + mag2[i]);
  }
  if (scale) *scale = mag;
  return o + double(b3);
}

std::string temp_path(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/quorix_nnue_" + std::to_string(getpid()) + "_" + name;
}

TempFile::TempFile(const std::vector<uint8_t>& bytes, const std::string& name) : path(temp_path(name)) {
  xnnue::write_file(path, bytes);
}

TempFile::~TempFile() { std::remove(path.c_str()); }

}  // namespace quorix::test
