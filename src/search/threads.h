// The search thread pool: worker threads that search the shared root in parallel.
#pragma once
#include <vector>

namespace quorix {

// Rebuilds the thread records (and worker threads) for n threads.
void threads_resize(int n);
// Body of worker thread tix (1 .. n-1).
void thread_worker(int tix);
// Releases every worker into a search of the shared root.
void threads_start_search();
// Sets the workers' stop flags, waits until all are idle and clears the flags.
void threads_stop_search();
// Stops and joins every worker (shutdown; the records stay).
void threads_shutdown();
// NUMA node list used for worker binding: entry i is the node of worker i (empty = no binding).
// nodes: NUMA nodes, cores: physical cores, logical: logical processors.
std::vector<int> numa_binding_list(int nodes, int cores, int logical, int offset);

}  // namespace quorix
