#include "search/control.h"

#include "search/thread.h"

namespace quorix {

SearchControl g_ctl;
volatile uint8_t pondering = 0;

uint64_t total_nodes() {
  uint64_t n = 0;
  for (int i = 0; i < g_thread_count; i++) n += g_threads[i].nodes;
  return n;
}

}  // namespace quorix
