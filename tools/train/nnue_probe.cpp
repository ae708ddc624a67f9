// Prints the engine's intermediate network values for FENs read from standard
// input, one block per position, for comparison with nnue_ref.py --dump:
//
//   x <2H transformer bytes>
//   l1 <L layer-1 sums>
//   out <raw output>
//   <"nnue" value at NNUE_Scale 65>
//
//   quorix_nnue_probe NETWORK_FILE < fens.txt
//
// With --classical instead of a network file it prints the classical evaluation
// (centipawns, side to move's view, no window) of each FEN, one per line.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "board/position.h"
#include "eval/eval_internal.h"
#include "interface/startup.h"
#include "xnnue/network.h"
#include "xnnue/network_impl.h"

using namespace quorix;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorix_nnue_probe NETWORK_FILE|--classical < fens\n");
    return 2;
  }
  engine_startup();
  if (!std::strcmp(argv[1], "--classical")) {
    static Position p;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.empty()) continue;
      set_fen(p, line.c_str());
      bool lazy = false;
      std::printf("%d\n", classical(p, -35000, 35000, &lazy));
    }
    return 0;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) {
    std::fprintf(stderr, "quorix_nnue_probe: cannot open %s\n", argv[1]);
    return 1;
  }
  std::unique_ptr<xnnue::Network> net;
  {
    xnnue::FileSource src(f);
    net = xnnue::read_network_file(src);
  }
  std::fclose(f);
  if (!net) {
    std::fprintf(stderr, "quorix_nnue_probe: %s is not a network file\n", argv[1]);
    return 1;
  }
  xnnue::g_flip = net->flip();
  static Position p;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty()) continue;
    set_fen(p, line.c_str());
    alignas(64) uint8_t x[2 * xnnue::MAX_HIDDEN];
    int32_t l1[32];
    net->transformer().transform(p, x, false);
    std::printf("x");
    for (int i = 0; i < 2 * net->h(); i++) std::printf(" %d", x[i]);
    std::printf("\n");
    p.acc_computed = 0;
    float out = net->output(p, false, l1);
    std::printf("l1");
    for (int j = 0; j < net->l(); j++) std::printf(" %d", l1[j]);
    std::printf("\nout %.9g\n", double(out));
    int v = net->evaluate(p);
    double scaled = double(int64_t(v) * 65) * 0.01;
    long long t = (long long)scaled;
    std::printf("%lld\n", t < -25000 ? -25000LL : t > 25000 ? 25000LL : t);
  }
  return 0;
}
