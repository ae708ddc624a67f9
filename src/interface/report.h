// "info" lines of a running search.
#pragma once
#include <cstdint>

#include "board/position.h"

namespace quorix {

// Seconds since the search started, at least 0.001.
double search_elapsed();
// "info depth d time .. nodes .. nps .." at the start of an iteration.
void report_iteration_start(int depth);
// Principal-variation line (bound 0 exact, 1 lower, 2 upper); pv is 0-terminated.
void report_pv(int depth, int score, int bound, const Move* pv);
// Multi-PV lines from the main thread's sorted root moves.
void report_multipv(int depth);
void report_currmove(const Position& root, Move m, int number);
// Final "info time .. nodes .. nps .." line.
void report_final();
// Periodic "info nodes ..".
void report_nodes();
// Writes the PV text of pv (moves made from root) into out.
void pv_text(const Position& root, const Move* pv, char* out, size_t n);

}  // namespace quorix
