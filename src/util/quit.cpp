#include "util/quit.h"

#include <vector>

namespace quorix {

std::atomic<int> quit_requested{0};

namespace {
std::vector<ShutdownHook>& hooks() {
  static std::vector<ShutdownHook> h;
  return h;
}
}  // namespace

void add_shutdown_hook(ShutdownHook h) { hooks().push_back(h); }

void run_shutdown_hooks() {
  std::vector<ShutdownHook> h;
  h.swap(hooks());
  for (auto it = h.rbegin(); it != h.rend(); ++it) (*it)();
}

}  // namespace quorix
