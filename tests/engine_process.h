// Runs the engine binary as a child process with pipes, as a GUI would.
#pragma once
#include <string>
#include <vector>

namespace quorix::test {

class EngineProcess {
 public:
  explicit EngineProcess(const std::vector<std::string>& args = {});
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  void send(const std::string& text);  // written as is (add "\n" yourself)
  void close_input();
  // Reads lines until one starts with `prefix` or the timeout passes; returns that line
  // (empty on timeout). Every line read is appended to output().
  std::string wait_for(const std::string& prefix, double timeout_s);
  // Waits for the process to end; returns its exit status (or -1 on timeout / -signal).
  int wait_exit(double timeout_s);
  const std::vector<std::string>& output() const { return lines_; }
  std::string stderr_text();

 private:
  bool read_line(std::string& line, double timeout_s);
  int pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
  void drain_err();
  std::string buf_, err_buf_;
  std::vector<std::string> lines_;
  int status_ = -1;
  bool exited_ = false;
};

}  // namespace quorix::test
