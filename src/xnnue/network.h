// The network: loading (embedded or from a file) and evaluation.
#pragma once
#include <string>

#include "board/position.h"

namespace quorix::xnnue {

// Loads the network from a weights file, or the embedded network when path is empty.
// On failure the previous network stays. Returns true when a network was loaded.
bool load_network_file(const std::string& path);
// Loads the embedded network (start-up).
bool load_embedded_network();
// Whether a network is loaded and usable.
bool network_ready();
// Network score of p, side to move's view, in the network's internal units.
int network_evaluate(Position& p);
// Releases the loaded network.
void release_network();

}  // namespace quorix::xnnue
