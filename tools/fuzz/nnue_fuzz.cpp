// libFuzzer target: arbitrary bytes as a weights file (plain or wrapped) and as
// a packed blob. Build with clang and -DQUORIX_FUZZ=ON.
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
