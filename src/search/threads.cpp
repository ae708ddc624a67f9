// The search thread pool: workers parked on a condition variable between searches,
// released by their start flags, reporting completion through a countdown latch.
#include "search/threads.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "search/hooks.h"
#include "util/check.h"
#include "util/quit.h"
#include "search/mcts.h"
#include "search/search.h"
#include "search/thread.h"

namespace quorix {

namespace {

struct Latch {
  std::mutex m;
  std::condition_variable cv;
  int count_ = 0;
  void set(int n) {
    std::lock_guard<std::mutex> lk(m);
    count_ = n;
  }
  void count_down() {
    std::lock_guard<std::mutex> lk(m);
    count_--;
    QUORIX_CHECK(count_ >= 0, "count_ >= 0");
    if (count_ == 0) cv.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lk(m);
    cv.wait(lk, [this] { return count_ == 0; });
  }
};

std::mutex start_mutex;
std::condition_variable start_cv;
std::vector<uint8_t> start_flags;  // guarded by start_mutex
bool pool_quit = false;            // guarded by start_mutex
std::atomic<bool> search_active{false};
Latch latch;
std::vector<std::thread> workers;  // index 0 unused
int thr_ct = 0;                    // records allocated
bool hook_registered = false;

// ---- NUMA binding (Linux sysfs; nothing happens when the information is missing)

std::vector<int> parse_cpu_list(const std::string& text) {
  std::vector<int> cpus;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = text.find(',', i);
    if (j == std::string::npos) j = text.size();
    std::string part = text.substr(i, j - i);
    size_t dash = part.find('-');
    char* end = nullptr;
    long a = std::strtol(part.c_str(), &end, 10);
    long b = dash == std::string::npos ? a : std::strtol(part.c_str() + dash + 1, nullptr, 10);
    if (end != part.c_str())
      for (long c = a; c <= b && c < 4096 && c >= 0; c++) cpus.push_back(int(c));
    i = j + 1;
  }
  return cpus;
}

bool read_line(const std::string& path, std::string& out) {
  std::ifstream f(path);
  if (!f) return false;
  std::getline(f, out);
  return true;
}

void bind_worker(int tix) {
  if (thr_ct < 12 || g_search_options.numa_offset < 0) return;
  std::vector<std::vector<int>> node_cpus;
  for (int n = 0; n < 1024; n++) {
    std::string line;
    if (!read_line("/sys/devices/system/node/node" + std::to_string(n) + "/cpulist", line)) break;
    node_cpus.push_back(parse_cpu_list(line));
  }
  if (node_cpus.empty()) return;
  int logical = 0;
  std::set<std::pair<std::string, std::string>> cores;
  for (const auto& cpus : node_cpus)
    for (int c : cpus) {
      logical++;
      std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(c) + "/topology/";
      std::string pkg, core;
      if (!read_line(base + "physical_package_id", pkg) || !read_line(base + "core_id", core)) return;
      cores.insert({pkg, core});
    }
  std::vector<int> list = numa_binding_list(int(node_cpus.size()), int(cores.size()), logical, g_search_options.numa_offset);
  if (tix >= int(list.size())) return;
  const std::vector<int>& cpus = node_cpus[size_t(list[size_t(tix)])];
  if (cpus.empty()) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int c : cpus)
    if (c < CPU_SETSIZE) CPU_SET(c, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

void stop_and_join_workers() {
  {
    std::lock_guard<std::mutex> lk(start_mutex);
    pool_quit = true;
    for (auto& f : start_flags) f = 1;
  }
  for (int i = 0; i < thr_ct; i++) g_threads[i].stop.exchange(1);
  start_cv.notify_all();
  for (auto& t : workers)
    if (t.joinable()) t.join();
  workers.clear();
  {
    std::lock_guard<std::mutex> lk(start_mutex);
    pool_quit = false;
  }
}

}  // namespace

std::vector<int> numa_binding_list(int nodes, int cores, int logical, int offset) {
  std::vector<int> list;
  if (nodes <= 0 || offset < 0) return list;
  for (int node = offset; node < nodes; node++)
    for (int i = 0; i < cores / nodes; i++) list.push_back(node);
  for (int i = 0; i < logical - cores; i++) list.push_back(i % nodes);
  return list;
}

void threads_shutdown() {
  if (search_active.load()) threads_stop_search();
  stop_and_join_workers();
}

void threads_resize(int n) {
  if (n < 1) n = 1;
  stop_and_join_workers();
  init_thread_records(n);
  delete[] g_sdata;
  g_sdata = new SearchData[size_t(n)];
  for (int i = 0; i < n; i++) {
    g_sdata[i].th = &g_threads[i];
    g_sdata[i].index = i;
  }
  thr_ct = n;
  {
    std::lock_guard<std::mutex> lk(start_mutex);
    start_flags.assign(size_t(n), 0);
  }
  workers.resize(size_t(n));
  for (int i = 1; i < n; i++) {
    try {
      workers[size_t(i)] = std::thread(thread_worker, i);
    } catch (...) {
      std::fprintf(stderr, "fatal: cannot create search thread %d\n", i);
      std::exit(1);
    }
  }
}

void thread_worker(int tix) {
  QUORIX_CHECK(tix < thr_ct, "tix < thr_ct");
  bind_worker(tix);
  SearchData& sd = g_sdata[tix];
  for (;;) {
    {
      std::unique_lock<std::mutex> lk(start_mutex);
      start_cv.wait(lk, [tix] { return start_flags[size_t(tix)] != 0; });
      start_flags[size_t(tix)] = 0;
      if (pool_quit) return;
    }
    if (search_active.load()) {
      sd.searching = true;
      prepare_thread_root(sd);
      if (g_mcts_running.load()) {
        mcts_worker(sd);  // Monte-Carlo search: playouts into the shared tree
      } else {
        for (int d = 1; d <= MAX_ITERATIONS; d++) {
          if (!iteration_search(sd, d)) break;
          if (quit_requested.load() || sd.th->stop.load(std::memory_order_relaxed)) break;
          if (std::abs(sd.iter_score[d]) >= MATE_BOUND) break;
        }
      }
      sd.searching = false;
    }
    latch.count_down();
  }
}

void threads_start_search() {
  // Registered late so that shutdown stops the workers before the tables they use go away.
  if (!hook_registered) {
    add_shutdown_hook(threads_shutdown);
    hook_registered = true;
  }
  search_active.store(true);
  latch.set(thr_ct - 1);
  for (int i = 1; i < thr_ct; i++) g_threads[i].stop.exchange(0);
  {
    std::lock_guard<std::mutex> lk(start_mutex);
    for (int i = 1; i < thr_ct; i++) start_flags[size_t(i)] = 1;
  }
  start_cv.notify_all();
}

void threads_stop_search() {
  for (int i = 1; i < thr_ct; i++) g_threads[i].stop.exchange(1);
  latch.wait();
  search_active.store(false);
  for (int i = 1; i < thr_ct; i++) g_threads[i].stop.exchange(0);
}

}  // namespace quorix
