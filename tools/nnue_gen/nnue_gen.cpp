// Writes test networks with random weights, and packs a plain network file into
// the blob form that the build links into the program.
//
//   nnue_gen random OUTDIR [SEED]   every supported (H, L) pair as OUTDIR/net-HxL.nnue
//                                   (plain) and OUTDIR/net-HxL.wrapped (wrapped)
//   nnue_gen pack PLAIN OUT         PLAIN as a packed blob (for src/xnnue/embedded_network.blob)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xnnue/format.h"
#include "xnnue/writer.h"

using namespace quorix::xnnue;

static int usage() {
  std::fprintf(stderr, "usage: nnue_gen random OUTDIR [SEED]\n       nnue_gen pack PLAIN_FILE OUT_FILE\n");
  return 2;
}

static bool read_whole(const char* path, std::vector<uint8_t>& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "random" && (argc == 3 || argc == 4)) {
    uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1;
    for (const auto& p : SUPPORTED_PAIRS) {
      RandomNetwork r;
      r.h = p.h;
      r.l = p.l;
      r.seed = seed;
      std::vector<uint8_t> plain = random_plain_network(r);
      std::string base = std::string(argv[2]) + "/net-" + std::to_string(p.h) + "x" + std::to_string(p.l);
      if (!write_file(base + ".nnue", plain) ||
          !write_file(base + ".wrapped", wrap_network(plain, MAGIC_SET[3], MAGIC_SET[17]))) {
        std::fprintf(stderr, "nnue_gen: cannot write %s.*\n", base.c_str());
        return 1;
      }
      std::printf("%s.nnue %zu bytes, %s.wrapped\n", base.c_str(), plain.size(), base.c_str());
    }
    return 0;
  }
  if (cmd == "pack" && argc == 4) {
    std::vector<uint8_t> plain;
    if (!read_whole(argv[2], plain)) {
      std::fprintf(stderr, "nnue_gen: cannot read %s\n", argv[2]);
      return 1;
    }
    if (plain.size() > MAX_INFLATED) {
      std::fprintf(stderr, "nnue_gen: %s is larger than any supported network\n", argv[2]);
      return 1;
    }
    if (!write_file(argv[3], pack_network(plain, 12))) {
      std::fprintf(stderr, "nnue_gen: cannot write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  return usage();
}
