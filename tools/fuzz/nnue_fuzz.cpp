// libFuzzer target: arbitrary bytes as a weights file (plain or wrapped) and as
// a packed blob. Build and run:
//   CC=clang CXX=clang++ cmake -S . -B build/fuzz -DQUORIX_FUZZ=ON -DQUORIX_TESTS=OFF -DQUORIX_SANITIZE=address
//   cmake --build build/fuzz -j2 --target nnue_fuzz
//   build/fuzz/nnue_fuzz -max_total_time=60 -max_len=300000 CORPUS_DIR
// (nnue_gen random CORPUS_DIR gives seed files; cut them below max_len.)
#include <cstddef>
#include <cstdint>

#include "xnnue/network_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorix::xnnue;
  MemorySource src(data, size);
  read_network_file(src);
  read_packed_network(data, size);
  return 0;
}
