#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace quorix::test {

namespace {
double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

EngineProcess::EngineProcess(const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUORIX_BINARY));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QUORIX_BINARY, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_fd_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  signal(SIGPIPE, SIG_IGN);
  fcntl(err_fd_, F_SETFL, O_NONBLOCK);
}

EngineProcess::~EngineProcess() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (in_fd_ >= 0) close(in_fd_);
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

void EngineProcess::send(const std::string& text) {
  size_t off = 0;
  while (in_fd_ >= 0 && off < text.size()) {
    ssize_t w = write(in_fd_, text.data() + off, text.size() - off);
    if (w <= 0) break;
    off += size_t(w);
  }
}

void EngineProcess::close_input() {
  if (in_fd_ >= 0) close(in_fd_);
  in_fd_ = -1;
}

bool EngineProcess::read_line(std::string& line, double timeout_s) {
  double end = now() + timeout_s;
  for (;;) {
    size_t nl = buf_.find('\n');
    if (nl != std::string::npos) {
      line = buf_.substr(0, nl);
      buf_.erase(0, nl + 1);
      lines_.push_back(line);
      return true;
    }
    double left = end - now();
    if (left <= 0 || out_fd_ < 0) return false;
    drain_err();
    pollfd pfd{out_fd_, POLLIN, 0};
    int r = poll(&pfd, 1, left > 0.05 ? 50 : int(left * 1000) + 1);
    if (r <= 0) continue;
    char tmp[4096];
    ssize_t n = read(out_fd_, tmp, sizeof tmp);
    if (n <= 0) {
      if (!buf_.empty()) {
        line = buf_;
        buf_.clear();
        lines_.push_back(line);
        return true;
      }
      return false;
    }
    buf_.append(tmp, size_t(n));
  }
}

std::string EngineProcess::wait_for(const std::string& prefix, double timeout_s) {
  double end = now() + timeout_s;
  std::string line;
  while (now() < end) {
    if (!read_line(line, end - now())) break;
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  }
  return "";
}

int EngineProcess::wait_exit(double timeout_s) {
  if (exited_) return status_;
  double end = now() + timeout_s;
  std::string line;
  while (now() < end) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      while (read_line(line, 0.05)) {
      }
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
      return status_;
    }
    read_line(line, 0.01);
  }
  return -1000;
}

void EngineProcess::drain_err() {
  char tmp[4096];
  ssize_t n;
  while (err_fd_ >= 0 && (n = read(err_fd_, tmp, sizeof tmp)) > 0) err_buf_.append(tmp, size_t(n));
}

std::string EngineProcess::stderr_text() {
  drain_err();
  return err_buf_;
}

}  // namespace quorix::test
