// The search thread pool.
#pragma once

namespace quorix {

// Rebuilds the thread records (and worker threads) for n threads.
void threads_resize(int n);

}  // namespace quorix
