// Start-up access to the packed network linked in by embedded_network.S.
#include <cstdint>

#include "xnnue/network_impl.h"

extern "C" const uint8_t quorix_embedded_network[];
extern "C" const uint8_t quorix_embedded_network_end[];

namespace quorix::xnnue {

void embedded_blob(const uint8_t*& data, size_t& len) {
  data = quorix_embedded_network;
  len = size_t(quorix_embedded_network_end - quorix_embedded_network);
}

}  // namespace quorix::xnnue
