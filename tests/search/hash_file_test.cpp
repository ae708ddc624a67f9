// Saving and loading the transposition table through the UCI options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "interface/commands.h"
#include "interface/option_table.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/tt.h"

namespace quorix {
namespace {

std::string uci(const std::string& line) {
  ::testing::internal::CaptureStdout();
  dispatch_command(split_tokens(line), line);
  return ::testing::internal::GetCapturedStdout();
}

class HashFileTest : public ::testing::Test {
 protected:
  std::string path;
  void SetUp() override {
    // One file per test and process: CTest runs tests in parallel.
    path = ::testing::TempDir() + "quorix_hash_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
           "_" + std::to_string(getpid()) + ".bin";
    options_register();
    uci("setoption name Hash value 1");
    uci("setoption name Hash File Name value " + path);
    std::remove(path.c_str());
    hash_loaded_flag = false;
  }
  void TearDown() override {
    std::remove(path.c_str());
    hash_loaded_flag = false;
    g_tt.hash_loaded = false;
    options_register();
    g_tt.current_mb = TT_SIZE_NONE;
    tt_resize(256);
    after_option_change("");
  }
  std::vector<char> table_bytes() const {
    const char* p = reinterpret_cast<const char*>(g_tt.clusters);
    return std::vector<char>(p, p + g_tt.byte_size);
  }
  static std::vector<char> file_bytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  static void write_file(const std::string& name, const std::vector<char>& data) {
    std::ofstream f(name, std::ios::binary);
    f.write(data.data(), std::streamsize(data.size()));
  }
  static void fill_random(uint64_t seed, int n) {
    std::mt19937_64 rng(seed);
    for (int i = 0; i < n; i++)
      tt_store(rng(), int(rng() % 40), int(rng() % 2000) - 1000, int(rng() % 3) + 1, Move(rng() & 0xffff),
               int(rng() % 3), int(rng() % 600) - 300, rng() & 1);
  }
  // Every slot's generation is 0 and no busy mark survived.
  static bool generations_reset() {
    for (uint64_t c = 0; c < g_tt.cluster_count; c++)
      for (const TTEntry& e : g_tt.clusters[c].slot)
        if (e.generation != 0 || (e.flags & TT_FLAG_BUSY)) return false;
    return g_tt.generation == 0 && g_tt.hash_loaded;
  }
  // Marks some slots with a non-zero generation so that a reset is visible.
  static void age_slots() {
    g_tt.generation = 7;
    g_tt.hash_loaded = false;
    hash_loaded_flag = false;
    fill_random(99, 500);
    tt_mark_busy(0xabcdef0000000011ull, true);
  }
};

TEST_F(HashFileTest, SaveThenLoadRoundTripsTheTable) {
  g_tt.generation = 0;
  fill_random(1, 40000);
  const std::vector<char> saved = table_bytes();
  EXPECT_EQ(uci("setoption name Save Hash to File"), "info string Saving Hash\ninfo string Hash Saved\n");
  EXPECT_EQ(file_bytes(path), saved);
  uci("setoption name Clear Hash");
  age_slots();
  EXPECT_EQ(uci("setoption name Load Hash from File"),
            "info string Loading Hash from " + path + "\ninfo string Hash Loaded\n");
  EXPECT_EQ(table_bytes(), saved);
  EXPECT_TRUE(generations_reset());
  EXPECT_TRUE(hash_loaded_flag);
}

TEST_F(HashFileTest, BadFilesAreReportedAndResetGenerations) {
  const std::string dir_missing = ::testing::TempDir() + "no_such_dir/quorix.bin";
  struct Case {
    std::vector<char> content;  // empty: no file
    const char* what;
  } cases[] = {
      {{}, "missing"},
      {std::vector<char>(g_tt.byte_size - 1, 'x'), "one byte short"},
      {std::vector<char>(g_tt.byte_size + 64, 'x'), "too long"},
      {std::vector<char>(1, 'x'), "tiny"},
  };
  for (const Case& c : cases) {
    std::remove(path.c_str());
    if (!c.content.empty()) write_file(path, c.content);
    age_slots();
    const std::vector<char> before = table_bytes();
    std::string expect = c.content.empty() ? "info string no such file " + path + "\n"
                                           : "info string Loading Hash from " + path +
                                                 "\ninfo string File size does not match Hash size\n";
    EXPECT_EQ(uci("setoption name Load Hash from File"), expect) << c.what;
    EXPECT_TRUE(generations_reset()) << c.what;
    EXPECT_TRUE(hash_loaded_flag) << c.what;
    // Only generation bytes and busy marks changed.
    std::vector<char> after = table_bytes();
    for (size_t i = 0; i < after.size(); i += 16) {
      after[i + 14] = before[i + 14];
      after[i + 15] = char(after[i + 15] | (before[i + 15] & TT_FLAG_BUSY));
    }
    EXPECT_TRUE(after == before) << c.what;
  }
  uci("setoption name Hash File Name value " + dir_missing);
  EXPECT_EQ(uci("setoption name Save Hash to File"), "info string failed to open " + dir_missing + "\n");
  uci("setoption name Hash File Name value /dev/full");
  EXPECT_EQ(uci("setoption name Save Hash to File"),
            "info string Saving Hash\ninfo string error writing file /dev/full\n");
}

TEST_F(HashFileTest, GarbageFileIsSafeToUse) {
  std::mt19937_64 rng(5);
  std::vector<char> junk(g_tt.byte_size);
  for (char& b : junk) b = char(rng());
  write_file(path, junk);
  uci("setoption name Load Hash from File");
  ASSERT_TRUE(generations_reset());
  tt_new_search(rng(), true);
  for (int i = 0; i < 100000; i++) {
    uint64_t k = rng();
    if (TTEntry* e = tt_probe(k)) (void)score_from_tt(e->score, 3);
    tt_store(k, int(rng() % 30), int(rng() % 1000), TT_LOWER, 0, 1, 0, false);
    if (i % 7 == 0) tt_mark_busy(rng(), true);
  }
  int full = tt_hashfull();
  EXPECT_GE(full, 0);
  EXPECT_LE(full, 1000);
}

}  // namespace
}  // namespace quorix
