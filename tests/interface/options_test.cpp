// Option table: the "uci" listing, "setoption" parsing and the follow-up after a change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "eval/hash_tables.h"
#include "interface/commands.h"
#include "interface/option_table.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/thread.h"
#include "search/tt.h"

namespace quorix {
namespace {

std::string run(const std::string& line) {
  ::testing::internal::CaptureStdout();
  dispatch_command(split_tokens(line), line);
  return ::testing::internal::GetCapturedStdout();
}

std::string file_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_register();
    run("setoption name Hash value 1");
  }
  void TearDown() override {
    searching = 0;
    log_close();
    options_register();
    g_tt.current_mb = TT_SIZE_NONE;
    tt_resize(256);
    after_option_change("");
  }
};

const char* const kListing =
    "option name NUMA Offset type spin default 0 min -1 max 32\n"
    "option name Threads type spin default 1 min 1 max 128\n"
    "option name Ponder type check default true\n"
    "option name Hash type spin default 256 min 1 max 65536\n"
    "option name Clear Hash type button\n"
    "option name Table Memory type spin default 64 min 1 max 1024\n"
    "option name MultiPV type spin default 1 min 1 max 218\n"
    "option name OwnBook type check default true\n"
    "option name Book File type string default vantel.bin\n"
    "option name Book Moves type spin default 1000 min 0 max 1000\n"
    "option name Best Book Line type check default false\n"
    "option name Log File type string default <empty>\n"
    "option name Hash File Name type string default <empty>\n"
    "option name Save Hash to File type button\n"
    "option name Load Hash from File type button\n"
    "option name UCI_Chess960 type check default false\n"
    "option name UCI_AnalyseMode type check default false\n"
    "option name Use LMR type check default true\n"
    "option name Null Move Pruning type check default true\n"
    "option name Minimal Reporting type spin default 0 min 0 max 200\n"
    "option name Overhead ms type spin default 50 min 0 max 10000\n"
    "option name Time Usage type spin default 0 min -90 max 90\n"
    "option name Use Syzygy type check default true\n"
    "option name SyzygyPath type string default <empty>\n"
    "option name Syzygy Probe Depth type spin default 1 min 0 max 99\n"
    "option name Syzygy Probe Limit type spin default 6 min 0 max 7\n"
    "option name Syzygy 50 Move Rule type check default true\n"
    "option name Smart Syzygy type check default false\n"
    "option name King Safety type spin default 83 min 0 max 200\n"
    "option name Selectivity type spin default 150 min 10 max 250\n"
    "option name Reduction type spin default -35 min -500 max 50\n"
    "option name Dynamism type spin default 100 min 0 max 400\n"
    "option name Contempt type spin default 8 min -250 max 250\n"
    "option name White Contempt type check default false\n"
    "option name NNUE_Scale type spin default 65 min 10 max 500\n"
    "option name Use Regular Eval type check default false\n"
    "option name MCTS Hash type spin default 128 min 128 max 32768\n"
    "option name Use MCTS type check default false\n"
    "option name MCTS Explore type spin default 35 min 1 max 500\n"
    "option name WeightsFile type string default <empty>\n"
    "option name Personality type combo default Default var Default var Aggressive var Defensive var Active "
    "var Positional var Endgame var Beginner var Human\n"
    "option name Armageddon type combo default Off var Off var White Must Win var Black Must Win\n"
    "option name Variety type spin default 0 min 0 max 100\n"
    "option name Skill type spin default 25 min 0 max 25\n"
    "option name Auto Skill type check default false\n";

TEST(OptionListing, UciListsAllOptionsInRegistrationOrder) {
  options_register();
  const int hash = opt::hash_mb;
  opt::hash_mb = 256;
  std::string out = run("uci");
  opt::hash_mb = hash;
  EXPECT_EQ(option_table().size(), 45u);
  size_t a = out.find("option name");
  size_t b = out.find("uciok\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(out.substr(a, b - a), kListing);
  EXPECT_EQ(out.rfind("id name ", 0), 0u);
}

TEST_F(OptionsTest, ListingShowsTheCurrentValue) {
  run("setoption name MultiPV value 4");
  run("setoption name Armageddon value Black Must Win");
  std::string out = run("uci");
  EXPECT_NE(out.find("option name MultiPV type spin default 4 min 1 max 218\n"), std::string::npos);
  EXPECT_NE(out.find("option name Armageddon type combo default Black Must Win var Off"), std::string::npos);
  EXPECT_NE(out.find("option name Hash type spin default 1 min 1 max 65536\n"), std::string::npos);
}

TEST_F(OptionsTest, ValueParsingAndClamping) {
  struct Case {
    const char* line;
    const char* out;
    std::function<bool()> check;
  } cases[] = {
      {"setoption name multipv value 7", "", [] { return opt::multipv == 7; }},
      {"setoption name MULTIPV value 999", "", [] { return opt::multipv == 218; }},
      {"setoption name MultiPV value abc", "", [] { return opt::multipv == 1; }},
      {"setoption name Time Usage value -200", "", [] { return opt::time_usage == -90; }},
      {"setoption name Ponder value FALSE", "", [] { return opt::ponder == 0; }},
      {"setoption name Ponder value 5", "", [] { return opt::ponder == 1; }},
      {"setoption name Ponder value 0", "", [] { return opt::ponder == 0; }},
      {"setoption name Personality value aggressive", "", [] { return opt::personality == "Default"; }},
      {"setoption name Personality value Aggressive", "", [] { return opt::personality == "Aggressive"; }},
      {"setoption name Armageddon value White Must Win", "", [] { return opt::armageddon == "White Must Win"; }},
      {"setoption name Armageddon value White  Must Win", "", [] { return opt::armageddon == "White Must Win"; }},
      {"setoption name Book File value my  book.bin  ",
       "info string Book file is my  book.bin  \ninfo string failed to open my  book.bin  \n",
       [] { return opt::book_file == "my  book.bin  "; }},
      {"setoption junk name Hash File Name value  /tmp/a b", "", [] { return opt::hash_file_name == " /tmp/a b"; }},
      {"setoption name Hash File Name value", "", [] { return opt::hash_file_name.empty(); }},
      {"setoption name Syzygy Probe Limit value 9", "info string Probing tablebases up to 0-man.\n",
       [] { return opt::syzygy_probe_limit == 7; }},
      {"setoption name SyzygyPath value /no/tb",
       "info string Found 0 WDL and 0 DTZ tablebase files (up to 0-man).\n"
       "info string Probing tablebases up to 0-man.\n",
       [] { return opt::syzygy_path == "/no/tb"; }},
      {"setoption name MCTS Hash value 256", "info string MCTS Hash table size is now 256 meg\n",
       [] { return opt::mcts_hash == 256; }},
      {"setoption name Foo Bar value 3", "info string Foo Bar not recognized\n", [] { return true; }},
      {"setoption name Threads", "", [] { return opt::threads == 1; }},
      {"setoption name Hash value 3", "info string Hash table size is now 3 meg\n",
       [] { return opt::hash_mb == 3 && g_tt.byte_size == (2u << 20); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.line), c.out) << c.line;
    EXPECT_TRUE(c.check()) << c.line;
  }
}

TEST_F(OptionsTest, UnchangedValueDoesNothing) {
  // Changed values re-initialise the table once a search used it; unchanged ones do not.
  tt_store(0x1234500000007ull, 5, 10, TT_EXACT, 0, 0, 0, false);
  g_tt.table_used = true;
  TTCluster* table = g_tt.clusters;
  EXPECT_EQ(run("setoption name Hash value 1"), "");
  EXPECT_EQ(run("setoption name MultiPV value 1"), "");
  EXPECT_EQ(run("setoption name Log File value <empty>"), "");
  EXPECT_EQ(g_tt.clusters, table);
  EXPECT_NE(tt_probe(0x1234500000007ull), nullptr);
  // Naming the hash file keeps the table so that it can still be saved.
  run("setoption name Hash File Name value x.bin");
  EXPECT_NE(tt_probe(0x1234500000007ull), nullptr);
  run("setoption name MultiPV value 2");
  EXPECT_EQ(tt_probe(0x1234500000007ull), nullptr);
  EXPECT_FALSE(g_tt.table_used);
}

TEST_F(OptionsTest, HashSameSizeClearsSilentlyAndClearHashReports) {
  tt_store(0x1234500000007ull, 5, 10, TT_EXACT, 0, 0, 0, false);
  EXPECT_EQ(run("setoption name Hash value 2"), "info string Hash table size is now 2 meg\n");
  tt_store(0x1234500000007ull, 5, 10, TT_EXACT, 0, 0, 0, false);
  opt::hash_mb = 1;  // force the same value to count as a change
  EXPECT_EQ(run("setoption name Hash value 2"), "");
  EXPECT_EQ(tt_probe(0x1234500000007ull), nullptr);
  tt_store(0x1234500000007ull, 5, 10, TT_EXACT, 0, 0, 0, false);
  EXPECT_EQ(run("setoption name Clear Hash"), "info string Clearing Hash\n");
  EXPECT_EQ(tt_probe(0x1234500000007ull), nullptr);
  EXPECT_EQ(run("setoption name Hash value 0"), "info string Hash table size is now 1 meg\n");
  EXPECT_NE(g_tt.clusters, nullptr);
}

TEST_F(OptionsTest, ThreadsAreClampedAndThePoolRebuilt) {
  // During a search nothing changes; the values apply, in order, when it ends.
  searching = 1;
  EXPECT_EQ(run("setoption name Threads value 500"), "");
  EXPECT_EQ(run("setoption name Selectivity value 100"), "");
  EXPECT_EQ(opt::threads, 1);
  EXPECT_EQ(opt::selectivity, 150);
  EXPECT_EQ(run("setoption name Threads value 0"), "");
  EXPECT_EQ(g_thread_count, 1);
  EXPECT_EQ(run("setoption name Hash value 8"), "info string Hash cannot be changed during a search\n");
  EXPECT_EQ(opt::hash_mb, 1);
  searching = 0;
  apply_deferred_options();
  EXPECT_EQ(opt::threads, 1);  // 500 (clamped to 128), then 0 (clamped to 1)
  EXPECT_EQ(opt::selectivity, 100);
  EXPECT_EQ(g_thread_count, 1);
  EXPECT_EQ(run("setoption name Selectivity value 150"), "");
  EXPECT_EQ(run("setoption name Threads value 3"), "info string Threads now set to 3\n");
  EXPECT_EQ(g_thread_count, 3);
  for (int i = 0; i < 3; i++) {
    EXPECT_NE(g_threads[i].mat_table, nullptr);
    EXPECT_NE(g_threads[i].pawn_table, nullptr);
  }
  // "Table Memory" is lowered to "Hash" (1 MB here).
  EXPECT_EQ(run("setoption name Table Memory value 64"), "");
  EXPECT_EQ(opt::table_memory, 1);
  EXPECT_EQ(g_pawn_mask + 1, pawn_table_entries(1, 3));
  EXPECT_EQ(run("setoption name Threads value 1"), "info string Threads now set to 1\n");
}

TEST_F(OptionsTest, LogFileOpensAndEmptyCloses) {
  std::string path = ::testing::TempDir() + "quorix_opt_log_" + std::to_string(getpid()) + ".txt";
  std::remove(path.c_str());
  EXPECT_EQ(run("setoption name Log File value " + path), "info string Log file is " + path + "\n");
  log_printf("first %d\n", 1);
  EXPECT_NE(file_text(path).find("first 1\n"), std::string::npos);
  EXPECT_EQ(run("setoption name Log File value <empty>"), "");
  EXPECT_TRUE(opt::log_file.empty());
  log_printf("second\n");
  EXPECT_EQ(file_text(path).find("second"), std::string::npos);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace quorix
