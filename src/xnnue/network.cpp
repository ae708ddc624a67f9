// Placeholder until the network code lands: no network is ever loaded.
#include "xnnue/network.h"

namespace quorix::xnnue {

bool load_network_file(const std::string&) { return false; }
bool load_embedded_network() { return false; }
bool network_ready() { return false; }
int network_evaluate(Position&) { return 0; }
void release_network() {}

}  // namespace quorix::xnnue
