#include "interface/uci.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/commands.h"
#include "interface/options.h"

namespace quorix {

volatile std::sig_atomic_t input_closed = 0;
static Position history_buffers[2][GAME_HISTORY_SIZE];
Position* game_history = history_buffers[0];
Position* spare_history() { return game_history == history_buffers[0] ? history_buffers[1] : history_buffers[0]; }
int game_length = 0;
int ponder_credit = 0;
volatile uint8_t stop_requested = 0;
double g_move_time = 0;
volatile uint8_t searching = 0;
double game_time = 0;
uint64_t g_random_seed = 0;
bool hash_loaded_flag = false;

namespace {

std::mutex queue_mutex;
std::deque<std::string> input_queue;
std::atomic<size_t> queue_count{0};
std::mutex ready_mutex;
std::condition_variable ready_cv;
bool line_ready = false;
std::thread input_thread_obj;
bool history_initialised = false;

void signal_ready() {
  {
    std::lock_guard<std::mutex> lk(ready_mutex);
    line_ready = true;
  }
  ready_cv.notify_all();
}

}  // namespace

void reseed_random() {
  std::srand(unsigned(std::time(nullptr)));
  int64_t r1 = std::rand(), r2 = std::rand(), r3 = std::rand();
  g_random_seed = (uint64_t(r1) << 29) ^ (uint64_t(r2) << 14) ^ uint64_t(r3);
}


bool input_pending() { return queue_count.load() != 0; }

void queue_line(const std::string& line) {
  {
    std::lock_guard<std::mutex> lk(queue_mutex);
    input_queue.push_back(line);
    queue_count = input_queue.size();
  }
  signal_ready();
}

[[noreturn]] void shutdown_and_exit(int code) {
  quit_requested = 1;
  run_shutdown_hooks();
  if (input_thread_obj.joinable()) {
    // The reader may be blocked in read(); it is detached rather than joined then.
    if (input_thread_obj.get_id() != std::this_thread::get_id()) input_thread_obj.detach();
  }
  log_close();
  std::fflush(stdout);
  std::_Exit(code);
}

std::vector<std::string> split_tokens(const std::string& line) {
  std::vector<std::string> tok;
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) i++;
    if (i >= n) break;
    size_t j = i;
    while (j < n && !(line[j] == ' ' || line[j] == '\t' || line[j] == '\n' || line[j] == '\r')) j++;
    tok.emplace_back(line, i, j - i);
    i = j;
  }
  return tok;
}

namespace {

extern "C" void on_signal(int) { input_closed = 1; }

void input_thread_main() {
  // This thread takes the termination signals so that a blocked read returns.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);

  std::string line;
  bool overlong = false;
  char buf[65536];
  bool stop = false;
  while (!stop) {
    ssize_t r = ::read(0, buf, sizeof buf);
    if (r < 0 && errno == EINTR && !input_closed) continue;
    if (r <= 0 || input_closed) break;
    for (ssize_t i = 0; i < r && !stop; i++) {
      char ch = buf[i];
      if (ch != '\n') {
        if (line.size() < MAX_LINE_LENGTH) line.push_back(ch);
        else overlong = true;
        continue;
      }
      if (overlong) {
        std::printf("info string input line longer than %zu characters ignored\n", MAX_LINE_LENGTH);
        std::fflush(stdout);
      } else if (!line.empty()) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        {
          std::lock_guard<std::mutex> lk(queue_mutex);
          input_queue.push_back(line);
          queue_count = input_queue.size();
        }
        log_printf("uci inp: %s\n", line.c_str());
        if (line.compare(0, 4, "quit") == 0) {
          stop = true;
          break;
        }
        signal_ready();
        if (quit_requested) request_stop_all();
      }
      line.clear();
      overlong = false;
    }
  }
  if (input_closed) {
    // A termination signal: shut down without working through the queue.
    quit_requested.exchange(1);
    request_stop_all();
    signal_ready();
    return;
  }
  {
    // End of input (or a "quit" line, already queued): everything read so far is
    // executed in order, then the queued quit ends the process.
    std::lock_guard<std::mutex> lk(queue_mutex);
    if (!stop && !line.empty() && !overlong) input_queue.push_back(line);
    if (!stop) input_queue.push_back("quit");
    queue_count = input_queue.size();
  }
  signal_ready();
}

}  // namespace

void process_command() {
  if (!history_initialised) {
    set_fen(game_history[0], START_FEN);
    game_length = 0;
    history_initialised = true;
  }
  if (quit_requested) shutdown_and_exit(0);
  std::string line;
  {
    std::lock_guard<std::mutex> lk(queue_mutex);
    if (!input_queue.empty()) {
      line = std::move(input_queue.front());
      input_queue.pop_front();
    }
    queue_count = input_queue.size();
  }
  if (line.empty() || static_cast<signed char>(line[0]) <= 0) return;
  size_t cut = line.find_first_of("\n\r\f");
  if (cut != std::string::npos) line.resize(cut);
  if (line.empty()) return;
  std::vector<std::string> tok = split_tokens(line);
  if (tok.empty()) return;
  dispatch_command(tok, line);
}

int uci_loop() {
  // Termination signals are handled by the input thread only.
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  input_thread_obj = std::thread(input_thread_main);
  while (!quit_requested) {
    if (!input_pending()) {
      std::unique_lock<std::mutex> lk(ready_mutex);
      ready_cv.wait(lk, [] { return line_ready; });
      line_ready = false;
    }
    process_command();
    if (quit_requested) request_stop_all();
  }
  shutdown_and_exit(0);
}

}  // namespace quorix
