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
// With --classical-records IN.qpos OUT it writes the classical evaluation of every
// position record of IN (72-byte records, see README.md) to OUT as little-endian
// 16-bit integers, one per record, in order.
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

namespace {

// FEN of a position record (castling rights and en passant are not recorded).
std::string record_fen(const uint8_t* r) {
  static const char LETTERS[] = " PNBRQK";
  std::string fen;
  for (int rank = 7; rank >= 0; rank--) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      const int code = r[rank * 8 + file], type = code & 7;
      if (!code) { empty++; continue; }
      if (empty) fen += char('0' + empty);
      empty = 0;
      const char c = type >= 1 && type <= 6 ? LETTERS[type] : '?';
      fen += code >= 8 ? char(c - 'A' + 'a') : c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  fen += r[64] ? " b - - " : " w - - ";
  fen += std::to_string(r[69]) + " 1";
  return fen;
}

int classical_records(const char* in_path, const char* out_path) {
  std::FILE* in = std::fopen(in_path, "rb");
  std::FILE* out = in ? std::fopen(out_path, "wb") : nullptr;
  if (!in || !out) {
    std::fprintf(stderr, "quorix_nnue_probe: cannot open %s\n", in ? out_path : in_path);
    if (in) std::fclose(in);
    return 1;
  }
  static Position p;
  uint8_t r[72];
  size_t n = 0, got;
  while ((got = std::fread(r, 1, sizeof r, in)) == sizeof r) {
    set_fen(p, record_fen(r).c_str());
    bool lazy = false;
    const int v = classical(p, -35000, 35000, &lazy);
    const int16_t w = int16_t(v < -32767 ? -32767 : v > 32767 ? 32767 : v);
    const uint8_t b[2] = {uint8_t(w & 0xFF), uint8_t((uint16_t(w) >> 8) & 0xFF)};
    std::fwrite(b, 1, 2, out);
    n++;
  }
  std::fclose(in);
  const bool ok = std::fclose(out) == 0 && got == 0;
  if (got != 0) std::fprintf(stderr, "quorix_nnue_probe: %s ends with a partial record\n", in_path);
  std::fprintf(stderr, "%zu records evaluated\n", n);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && !std::strcmp(argv[1], "--classical-records"))) {
    std::fprintf(stderr, "usage: quorix_nnue_probe NETWORK_FILE < fens\n");
    return 2;
  }
  engine_startup();
  if (argc == 4 && !std::strcmp(argv[1], "--classical-records")) return classical_records(argv[2], argv[3]);
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
