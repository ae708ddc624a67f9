#include "util/clock.h"

#include <chrono>

namespace quorix {

namespace {
std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
}

double elapsed_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

void init_start_time() { g_start = std::chrono::steady_clock::now(); }

}  // namespace quorix
