// Every message the engine writes ends its line. A GUI adapter that reads
// standard output and standard error through one pipe otherwise sees the next
// message glued to the end of the previous one (and misses e.g. "id name").
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "xnnue/nnue_test_util.h"

namespace quorix {
namespace {

struct MergedRun {
  std::string text;
  int status = -1;
};

// Runs the engine with both output streams on one pipe, as such an adapter does.
MergedRun run_merged(const std::string& input) {
  // A per-process name: CTest runs the tests of this file side by side.
  const std::string in_path = test::temp_path("message_lines_input.txt");
  std::FILE* f = std::fopen(in_path.c_str(), "w");
  EXPECT_NE(f, nullptr);
  if (!f) return {};
  std::fputs(input.c_str(), f);
  std::fclose(f);
  MergedRun r;
  std::FILE* p = popen((std::string("'") + QUORIX_BINARY + "' < '" + in_path + "' 2>&1").c_str(), "r");
  EXPECT_NE(p, nullptr);
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.text.append(buf, n);
  r.status = pclose(p);
  std::remove(in_path.c_str());
  return r;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

// The output ends with a line end and no message starts in the middle of a line.
void expect_whole_lines(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "unterminated last line: " << lines_of(text).back();
  const char* starts[] = {"id name", "id author", "uciok", "readyok", "option name", "info string",
                          "error:", "warning:", "bestmove", "Error"};
  for (const std::string& line : lines_of(text))
    for (const char* s : starts) {
      size_t at = line.find(s);
      EXPECT_TRUE(at == std::string::npos || at == 0) << "message glued to the previous one: " << line;
    }
}

TEST(MessageLines, WarningsAndErrorsEndTheirLines) {
  // A file in the wrong format and a missing file, around the start-up network
  // message, option listing and replies.
  test::TempFile bad(std::vector<uint8_t>{1, 2, 3, 4, 5}, "not_a_network");
  MergedRun r = run_merged("uci\nsetoption name WeightsFile value " + bad.path +
                     "\nsetoption name WeightsFile value /nonexistent/dir/net.nnue\n"
                     "nnue\nnonsense\nsetoption name NoSuchOption value 1\nisready\n"
                     "position startpos\nisready\nquit\n");
  EXPECT_EQ(r.status, 0);
  expect_whole_lines(r.text);
  EXPECT_NE(r.text.find("\nid name"), std::string::npos);
  // Start-up reports the linked network on a line of its own.
  const uint8_t* data;
  size_t len;
  xnnue::embedded_blob(data, len);
  if (len > 0) {
    EXPECT_NE(r.text.find("\ninfo string embedded NN is loaded\n"), std::string::npos);
    EXPECT_EQ(r.text.find("error: failed to load the embedded"), std::string::npos);
  } else {
    EXPECT_NE(r.text.find("error: failed to load the embedded NN,  use WeightsFile option to set an external one\n"),
              std::string::npos);
  }
  EXPECT_NE(r.text.find("error: " + bad.path + " has wrong format\n"), std::string::npos);
}

TEST(MessageLines, FatalInputErrorEndsItsLine) {
  MergedRun r = run_merged("position fen 8/8/8/8/8/8/8/K6k x - -\n");
  EXPECT_NE(r.status, 0);
  expect_whole_lines(r.text);
  EXPECT_NE(r.text.find("Error in ctm for fen \"8/8/8/8/8/8/8/K6k x - -\"\n"), std::string::npos);
}

}  // namespace
}  // namespace quorix
