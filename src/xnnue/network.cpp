// Reading networks (plain, wrapped, packed) and the slot that holds the loaded one.
#include "xnnue/network.h"

#include <cstdio>
#include <cstring>

#include "xnnue/network_impl.h"

namespace quorix::xnnue {

namespace {

// Decimal number at the start of text[pos..]; false when no digit stands there.
// Values too large for any network are reported as -1.
bool parse_size(const std::string& text, size_t pos, int& value) {
  if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
  long v = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; pos++) {
    v = v * 10 + (text[pos] - '0');
    if (v > 1000000) v = 1000001;
  }
  value = v > 1000000 ? -1 : int(v);
  return true;
}

struct NetworkSlot {
  std::string path;
  std::unique_ptr<Network> network;
  const char* name = "NN";
};

NetworkSlot& slot() {
  static NetworkSlot s;
  return s;
}

void refresh_flip() {
  if (!slot().network || g_flip == slot().network->flip()) return;
  // Piece codes formed before this point (the current game's records) are stale now:
  // whoever loads a network rebuilds them (the "WeightsFile" option does).
  g_flip = slot().network->flip();
}

}  // namespace

std::unique_ptr<Network> read_network(ByteSource& s) {
  uint32_t version, hash, n;
  if (!s.read_u32(version) || !s.read_u32(hash) || !s.read_u32(n)) return nullptr;
  if (n > s.remaining()) return nullptr;
  std::string desc(n, '\0');
  if (!s.read(desc.data(), n)) return nullptr;

  int h = 256, l = 32;
  size_t arrow = desc.find("->");
  size_t x = arrow == std::string::npos ? std::string::npos : desc.find('x', arrow);
  if (arrow != std::string::npos && x != std::string::npos) {
    if (!parse_size(desc, arrow + 2, h)) return nullptr;
  } else {
    std::fprintf(stderr, "info string warning: unable to determine size of the first dense layer\n");
  }
  size_t relu = desc.find("ReLU");
  if (relu != std::string::npos) {
    if (!parse_size(desc, relu + 5, l)) return nullptr;
  } else {
    std::fprintf(stderr, "info string warning: unable to determine size of top layers\n");
  }

  // An unsupported pair or a stream too short for the pair fails before the
  // large allocations.
  const SupportedPair* pair = find_pair(h, l);
  if (!pair || s.remaining() < plain_stream_size(h, l, n) - (12 + uint64_t(n))) return nullptr;

  auto ft = make_transformer(h);
  auto ls = make_layer_stack(h, l);
  if (!ft || !ls || ft->width() != h) return nullptr;
  uint32_t ignored;
  if (!s.read_u32(ignored) || !ft->read(s)) return nullptr;
  if (!s.read_u32(ignored) || !ls->read(s)) return nullptr;
  return std::make_unique<Network>(std::move(ft), std::move(ls), h, l, pair->flip);
}

std::unique_ptr<Network> read_network_file(ByteSource& s) {
  uint32_t a = 0, b = 0;
  bool got = s.read_u32(a) && s.read_u32(b);
  if (!s.rewind()) return nullptr;
  if (!got || !is_magic(a) || !is_magic(b)) return read_network(s);

  const uint64_t size = s.remaining();
  if (size > MAX_WRAPPED_FILE) return nullptr;
  std::vector<uint8_t> file(size_t(size), 0);
  if (!s.read(file.data(), file.size())) return nullptr;
  WrappedNetworkFile w;
  if (!w.read(file.data(), file.size())) return nullptr;
  file.clear();
  file.shrink_to_fit();
  std::vector<uint8_t>& payload = w.blob.payload;
  descramble(payload.data(), payload.size());
  const uint32_t c = w.blob.plain_len;
  if (c > payload.size()) return nullptr;
  PackedBlob blob;
  if (!blob.read(payload.data(), c)) return nullptr;
  payload.clear();
  payload.shrink_to_fit();
  std::vector<uint8_t> plain;
  if (!inflate_blob(blob, plain)) return nullptr;
  MemorySource ms(plain.data(), plain.size());
  return read_network(ms);
}

std::unique_ptr<Network> read_packed_network(const uint8_t* data, size_t len) {
  PackedBlob blob;
  if (!data || !blob.read(data, len)) return nullptr;
  std::vector<uint8_t> plain;
  if (!inflate_blob(blob, plain)) return nullptr;
  MemorySource ms(plain.data(), plain.size());
  return read_network(ms);
}

const Network* current_network() { return slot().network.get(); }

bool load_packed_network(const uint8_t* data, size_t len) {
  NetworkSlot& sl = slot();
  sl.path.clear();
  sl.network = read_packed_network(data, len);
  if (sl.network) {
    std::printf("info string embedded %s is loaded\n", sl.name);
  } else {
    std::fprintf(stderr, "error: failed to load the embedded %s,  use WeightsFile option to set an external one\n",
                 sl.name);
  }
  std::fflush(stdout);
  refresh_flip();
  return sl.network != nullptr;
}

bool load_network_file(const std::string& path) {
  NetworkSlot& sl = slot();
  if (sl.network && sl.path == path) return true;
  if (path.empty()) {
    const uint8_t* data;
    size_t len;
    embedded_blob(data, len);
    return load_packed_network(data, len);
  }
  sl.path = path;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "warning: %s: file \"%s\" not found\n", sl.name, path.c_str());
    return sl.network != nullptr;
  }
  sl.network.reset();  // frees the old weights before the new ones are read
  {
    FileSource src(f);
    sl.network = read_network_file(src);
  }
  std::fclose(f);
  if (sl.network) {
    std::printf("info string %s is loaded\n", path.c_str());
    std::fflush(stdout);
  } else {
    std::fprintf(stderr, "error: %s has wrong format\n", path.c_str());
  }
  refresh_flip();
  return sl.network != nullptr;
}

bool load_embedded_network() { return load_network_file(std::string()); }

bool network_ready() { return slot().network != nullptr; }

int network_evaluate(Position& p) {
  const Network* net = slot().network.get();
  return net ? net->evaluate(p) : 0;
}

bool network_score(const Position& p, int scale, int& score) {
  const Network* net = slot().network.get();
  if (!net) return false;
  // A private copy with its piece state rebuilt, so the result never depends on
  // a stale parent or on piece codes formed under another network's flip flag.
  static Position scratch;
  std::memcpy(static_cast<void*>(&scratch), &p, sizeof(Position));
  scratch.his = nullptr;
  build_piece_state(scratch);
  double v = double(int64_t(net->evaluate(scratch)) * scale) * 0.01;
  long long t = (long long)v;
  score = int(t < -25000 ? -25000 : t > 25000 ? 25000 : t);
  return true;
}

void release_network() {
  slot().network.reset();
  slot().path.clear();
}

}  // namespace quorix::xnnue
