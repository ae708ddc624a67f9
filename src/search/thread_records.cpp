#include <cstdlib>
#include <new>

#include "search/hooks.h"
#include "search/thread.h"

namespace quorix {

SearchThread* g_threads = nullptr;
int g_thread_count = 0;
uint64_t g_node_limit = ~uint64_t(0);

void SearchThread::reset_ordering_tables() {
  for (auto& h : history) h = 16000;
  for (auto& a : capture_history)
    for (auto& b : a)
      for (auto& c : b) c = 8000;
  for (auto& c : counter_moves) c = 0;
  for (auto& k : killers) k[0] = k[1] = 0;
  for (auto& c : cont_history) c = 16000;
  nodes = 0;
}

void init_thread_records(int n) {
  if (g_threads) {
    for (int i = 0; i < g_thread_count; i++) {
      free_tables(g_threads[i].mat_table, g_threads[i].pawn_table);
      g_threads[i].~SearchThread();
    }
    std::free(g_threads);
  }
  g_threads = static_cast<SearchThread*>(std::aligned_alloc(64, sizeof(SearchThread) * n));
  if (!g_threads) std::abort();
  for (int i = 0; i < n; i++) {
    new (&g_threads[i]) SearchThread();
    g_threads[i].index = i;
    g_threads[i].reset_ordering_tables();
    create_tables(g_threads[i].mat_table, g_threads[i].pawn_table, g_search_options.table_memory, n);
  }
  g_thread_count = n;
}

}  // namespace quorix
