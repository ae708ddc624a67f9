// Perft: counts the leaves of the legal move tree, walking the move picker of the
// main search (kind PK_MAIN) so that its stages are exercised as well.
#pragma once
#include <cstdint>

#include "board/position.h"
#include "search/thread.h"

namespace quorix {

// Leaves at depth (at least 1) below root; th supplies the ordering tables.
uint64_t perft(SearchThread& th, const Position& root, int depth);
// Runs perft with thread 0's tables and prints "<count>, MNPS=<speed>".
void timed_perft(const Position& root, int depth);

}  // namespace quorix
