// Placeholder pool until the parallel search lands: records only, no workers.
#include "search/threads.h"

#include "search/thread.h"

namespace quorix {

void threads_resize(int n) { init_thread_records(n < 1 ? 1 : n); }

}  // namespace quorix
