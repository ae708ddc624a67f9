// The process-wide quit request ("quit", end of input or a termination signal).
#pragma once
#include <atomic>

namespace quorix {

extern std::atomic<int> quit_requested;

// Actions run at shutdown, in reverse registration order (workers before tables).
using ShutdownHook = void (*)();
void add_shutdown_hook(ShutdownHook h);
// Runs and forgets the registered actions.
void run_shutdown_hooks();

}  // namespace quorix
