// The network: loading (embedded or from a file) and evaluation.
#pragma once
#include <string>

#include "board/position.h"

namespace quorix::xnnue {

// Brings the network slot up to date with a "WeightsFile" value (empty = the
// embedded network) and prints the outcome. Does nothing when a network from the
// same path is loaded. A missing file keeps the previous network; a file in the
// wrong format leaves none. Returns true when a network is loaded afterwards.
bool load_network_file(const std::string& path);
// Loads the embedded network (start-up).
bool load_embedded_network();
// Whether a network is loaded and usable.
bool network_ready();
// Network score of p, side to move's view, in the network's internal units
// (0 when no network is loaded). Updates p's accumulator, incrementally from p.his
// when that one is computed.
int network_evaluate(Position& p);
// The "nnue" command value of p: network score times scale times 0.01, truncated
// and clamped to -25000..25000. False when no network is loaded.
bool network_score(const Position& p, int scale, int& score);
// Releases the loaded network.
void release_network();

}  // namespace quorix::xnnue
