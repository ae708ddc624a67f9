// libFuzzer target: arbitrary bytes as a tablebase file image. The first byte picks the
// material and the file kind; the rest is the image, probed over a few fixed positions.
// Build and run:
//   CC=clang CXX=clang++ cmake -S . -B build/fuzz -DQUORIX_FUZZ=ON -DQUORIX_TESTS=OFF -DQUORIX_SANITIZE=address
//   cmake --build build/fuzz -j2 --target tb_fuzz
//   build/fuzz/tb_fuzz -max_total_time=120 -max_len=300000 CORPUS_DIR
// (copy the shipped .rtbw/.rtbz files, each prefixed with its selector byte, as seeds:
//  tools/fuzz/tb_seeds.sh CORPUS_DIR.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "board/position.h"
#include "interface/startup.h"
#include "syzygy/tbprobe.h"

namespace {

struct Target {
  const char* material;
  const char* fens[4];
};

// Materials with pieces only, pawns on one side, pawns on both sides, and equal sides.
const Target TARGETS[] = {
    {"KQvK", {"8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1", "8/8/8/4k3/8/8/8/1Q2K3 b - - 0 1",
              "7k/8/6K1/8/8/8/8/Q7 w - - 0 1", "Q7/8/8/3k4/8/8/8/7K b - - 0 1"}},
    {"KRvKP", {"8/8/4k3/8/3p4/8/8/R3K3 w - - 0 1", "8/8/4k3/8/3p4/8/8/R3K3 b - - 0 1",
               "8/1p6/8/8/5k2/8/2R5/6K1 w - - 0 1", "6k1/8/8/8/8/8/p6R/K7 b - - 0 1"}},
    {"KPvKP", {"8/8/4k3/3p4/8/4P3/8/4K3 w - - 0 1", "8/8/4k3/3p4/8/4P3/8/4K3 b - - 0 1",
               "8/p7/8/8/8/8/7P/k6K w - - 0 1", "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1"}},
    {"KBNvK", {"8/8/3k4/8/8/8/8/2B1KN2 w - - 0 1", "8/8/3k4/8/8/8/8/2B1KN2 b - - 0 1",
               "k7/8/1K6/8/8/8/8/2BN4 w - - 0 1", "7k/8/8/8/8/8/N7/B6K b - - 0 1"}},
    {"KRvKR", {"8/r7/3k4/8/8/8/7R/3K4 w - - 0 1", "8/r7/3k4/8/8/8/7R/3K4 b - - 0 1",
               "k7/8/8/8/8/8/r7/R6K w - - 0 1", "3k4/8/8/8/3r4/8/3R4/3K4 b - - 0 1"}},
    {"KNNvK", {"8/8/3k4/8/8/8/8/1N2K1N1 w - - 0 1", "8/8/3k4/8/8/8/8/1N2K1N1 b - - 0 1",
               "k7/8/1K6/8/8/8/8/1NN5 w - - 0 1", "7k/8/8/8/8/8/8/NN5K b - - 0 1"}},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorix;
  static bool started = [] {
    engine_startup();
    return true;
  }();
  (void)started;
  if (size < 1) return 0;
  const Target& t = TARGETS[(data[0] >> 1) % (sizeof TARGETS / sizeof TARGETS[0])];
  const int kind = data[0] & 1;
  // An exact-size copy so that the sanitizer sees reads past the image.
  std::unique_ptr<uint8_t[]> img(new uint8_t[size - 1 + 1]);
  std::memcpy(img.get(), data + 1, size - 1);
  if (tb::load_image(t.material, kind, img.get(), size - 1)) {
    for (const char* fen : t.fens) {
      static Position p;
      set_fen(p, fen);
      bool ok;
      if (kind) tb::probe_dtz(p, ok);
      else tb::probe_wdl(p, ok);
    }
  }
  tb::clear_image();
  return 0;
}
