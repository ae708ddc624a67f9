// Transposition table: sizing, allocation fallback, replacement, mate scores, aging, busy marks.
#include <gtest/gtest.h>

#include <cstring>

#include "search/tt.h"
#include "search/tt_prefetch.h"

namespace quorix {
namespace {

// Works on a 1 MB table and restores the start-up size afterwards.
class TTTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tt_resize(1);
    g_tt.keep_exact = false;
  }
  void TearDown() override {
    tt_set_alloc_limit(0);
    g_tt.keep_exact = false;
    g_tt.root_key = 0;
    tt_resize(256);
  }
  // Keys that share cluster `c` and differ in their upper half.
  static uint64_t key(uint32_t k32, uint64_t c = 5) { return (uint64_t(k32) << 32) | c; }
  static TTCluster& cluster(uint64_t c = 5) { return g_tt.clusters[c]; }
  static void put(int slot, uint32_t k32, int depth, int retain, int bound, int gen) {
    TTEntry& e = cluster().slot[slot];
    e = TTEntry{};
    e.key32 = k32;
    e.depth = int16_t(depth);
    e.retain = int8_t(retain);
    e.bound = uint8_t(bound);
    e.generation = uint8_t(gen);
  }
};

TEST_F(TTTest, SizingRoundsToPowerOfTwoClusters) {
  struct Case {
    int mb;
    uint64_t table_mb;
  } cases[] = {{1, 1}, {3, 2}, {63, 64}, {100, 64}, {250, 128}, {251, 256}, {256, 256}, {65536, 65536}};
  for (const Case& c : cases) EXPECT_EQ(tt_clusters_for(c.mb), c.table_mb * 16384) << c.mb << " MB";
  tt_resize(3);
  EXPECT_EQ(g_tt.cluster_count, 32768u);
  EXPECT_EQ(g_tt.mask, 32767u);
  EXPECT_EQ(g_tt.byte_size, 2u << 20);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(g_tt.clusters) % 64, 0u);
  EXPECT_EQ(g_tt_clusters, reinterpret_cast<char*>(g_tt.clusters));
  EXPECT_EQ(g_tt_mask, g_tt.mask);
}

TEST_F(TTTest, FailedAllocationHalvesDownToFourClusters) {
  tt_set_alloc_limit(1u << 20);
  tt_resize(8);  // asks for 8 MB, gets 1 MB
  EXPECT_EQ(g_tt.byte_size, 1u << 20);
  tt_set_alloc_limit(256);
  tt_resize(1);
  EXPECT_EQ(g_tt.cluster_count, 4u);
  tt_store(key(9, 3), 4, 10, TT_EXACT, 0, 0, 0, false);
  ASSERT_NE(tt_probe(key(9, 3)), nullptr);
}

TEST_F(TTTest, NothingFitsEndsTheProcess) {
  EXPECT_EXIT(
      {
        tt_set_alloc_limit(255);
        tt_resize(1);
      },
      ::testing::ExitedWithCode(1), "^Hash table must be bigger than 0\n$");
}

TEST_F(TTTest, MateScoresAreNodeRelative) {
  EXPECT_EQ(score_to_tt(31995, 5), 32000);
  EXPECT_EQ(score_from_tt(32000, 2), 31998);
  EXPECT_EQ(score_to_tt(-31995, 5), -32000);
  EXPECT_EQ(score_from_tt(-32000, 2), -31998);
  EXPECT_EQ(score_to_tt(31799, 9), 31799);
  EXPECT_EQ(score_from_tt(-31799, 9), -31799);
  tt_store(key(1), 6, score_to_tt(31995, 5), TT_EXACT, 0, 2, 0, true);
  ASSERT_NE(tt_probe(key(1)), nullptr);
  EXPECT_EQ(score_from_tt(tt_probe(key(1))->score, 2), 31998);
}

TEST_F(TTTest, ScoresBeyondStoreLimitAreDropped) {
  for (int s : {32501, -32501}) {
    tt_store(key(1), 6, s, TT_EXACT, 0, 0, 0, false);
    EXPECT_EQ(tt_probe(key(1)), nullptr);
  }
  tt_store(key(1), 6, 32500, TT_EXACT, 0, 0, 0, false);
  EXPECT_NE(tt_probe(key(1)), nullptr);
}

TEST_F(TTTest, VictimIsTheWeakestSlotLowestOnTies) {
  struct Case {
    int depth[4], retain[4], bound[4], gen[4];
    int victim;
    const char* what;
  } cases[] = {
      {{5, 3, 7, 4}, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}, 1, "smallest depth"},
      {{5, 4, 5, 4}, {0, 2, 0, 0}, {1, 2, 3, 3}, {0, 0, 0, 0}, 0, "smallest depth+retain+bound (6,8,8,7)"},
      {{4, 4, 4, 4}, {1, 1, 1, 1}, {3, 3, 3, 3}, {0, 0, 0, 0}, 0, "all equal -> slot 0"},
      {{6, 6, 3, 3}, {0, 0, 0, 0}, {3, 3, 3, 3}, {0, 0, 0, 0}, 2, "first of equal smallest"},
      {{1, 1, 20, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {0, 0, 253, 0}, 2, "depth 20 three generations old"},
      {{1, 1, 1, 1}, {0, 0, 0, 0}, {7, 3, 3, 3}, {0, 0, 0, 0}, 1, "no-moves bound counts 7"},
  };
  for (const Case& c : cases) {
    tt_clear();
    g_tt.generation = 0;
    for (int i = 0; i < 4; i++) put(i, 100 + i, c.depth[i], c.retain[i], c.bound[i], c.gen[i]);
    tt_store(key(999), 2, 55, TT_LOWER, 0x123, 1, 17, false);
    for (int i = 0; i < 4; i++) {
      const TTEntry& e = cluster().slot[i];
      if (i == c.victim) {
        EXPECT_EQ(e.key32, 999u) << c.what;
        EXPECT_EQ(e.score, 55) << c.what;
        EXPECT_EQ(e.move, 0x123) << c.what;
        EXPECT_EQ(e.eval, 17) << c.what;
      } else {
        EXPECT_EQ(e.key32, uint32_t(100 + i)) << c.what;
      }
    }
  }
}

TEST_F(TTTest, AgeIsMeasuredAcrossTheGenerationWrap) {
  g_tt.generation = 1;  // slot 1 written at 254 is 3 generations old
  put(0, 100, 1, 0, 3, 1);
  put(1, 101, 20, 0, 3, 254);
  put(2, 102, 1, 0, 3, 1);
  put(3, 103, 1, 0, 3, 1);
  tt_store(key(7), 1, 0, TT_EXACT, 0, 0, 0, false);
  EXPECT_EQ(cluster().slot[1].key32, 7u);
  EXPECT_EQ(cluster().slot[1].generation, 1);
}

// Re-storing the same position: which results replace the stored one.
TEST_F(TTTest, SamePositionReplacementRule) {
  struct Case {
    int slot_bound, slot_depth, slot_score, slot_gen;
    int new_bound, new_depth, new_score;
    bool keep;
    const char* what;
  } cases[] = {
      {TT_EXACT, 10, 50, 0, TT_LOWER, 8, 90, true, "exact kept against shallower bound"},
      {TT_EXACT, 10, 50, 0, TT_EXACT, 8, 90, false, "new exact overwrites"},
      {TT_EXACT, 10, 50, 0, TT_LOWER, 9, 90, false, "only 1 shallower: overwrite"},
      {TT_EXACT, 10, 50, 1, TT_LOWER, 8, 90, false, "older generation: overwrite"},
      {TT_LOWER, 10, 80, 0, TT_LOWER, 8, 60, true, "lower bounds, stored higher"},
      {TT_LOWER, 10, 40, 0, TT_LOWER, 8, 60, false, "lower bounds, stored lower"},
      {TT_UPPER, 10, 40, 0, TT_UPPER, 8, 60, true, "upper bound, stored lower"},
      {TT_UPPER, 10, 80, 0, TT_UPPER, 8, 60, false, "upper bound, stored higher"},
      {TT_LOWER, 10, 40, 0, TT_UPPER, 8, 60, false, "upper over lower bound"},
      {TT_UPPER, 4, 40, 0, TT_LOWER, 8, 60, false, "deeper result"},
  };
  for (const Case& c : cases) {
    tt_clear();
    g_tt.generation = 3;
    put(0, 100, 2, 0, 1, 3);
    put(1, 42, c.slot_depth, 1, c.slot_bound, c.slot_gen == 0 ? 3 : 2);
    cluster().slot[1].score = int16_t(c.slot_score);
    cluster().slot[1].move = 0x111;
    cluster().slot[1].flags = TT_FLAG_BUSY;
    tt_store(key(42), c.new_depth, c.new_score, c.new_bound, 0x222, 2, 5, true);
    const TTEntry& e = cluster().slot[1];
    EXPECT_EQ(tt_probe(key(42)), &e) << c.what;
    EXPECT_EQ(e.move, 0x222) << c.what;
    EXPECT_EQ(e.flags & TT_FLAG_BUSY, TT_FLAG_BUSY) << c.what;
    if (c.keep) {
      EXPECT_EQ(e.depth, c.slot_depth) << c.what;
      EXPECT_EQ(e.score, c.slot_score) << c.what;
      EXPECT_EQ(e.bound, c.slot_bound) << c.what;
    } else {
      EXPECT_EQ(e.depth, c.new_depth) << c.what;
      EXPECT_EQ(e.score, c.new_score) << c.what;
      EXPECT_EQ(e.bound, c.new_bound) << c.what;
      EXPECT_EQ(e.retain, 2) << c.what;
      EXPECT_EQ(e.eval, 5) << c.what;
      EXPECT_EQ(e.generation, 3) << c.what;
      EXPECT_EQ(e.flags & TT_FLAG_PV, TT_FLAG_PV) << c.what;
    }
  }
}

TEST_F(TTTest, MoveZeroKeepsStoredMoveAndKeepExactRefreshesOnly) {
  tt_store(key(42), 12, 30, TT_EXACT, 0x333, 2, 7, false);
  tt_store(key(42), 8, -5, TT_LOWER, 0, 0, 7, false);  // shallower: the exact entry stays
  const TTEntry* e = tt_probe(key(42));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->move, 0x333);
  tt_store(key(42), 20, -5, TT_LOWER, 0, 0, 7, false);  // deeper: overwritten, move kept
  EXPECT_EQ(e->depth, 20);
  EXPECT_EQ(e->move, 0x333);
  // With keep_exact a deeper exact entry keeps everything but generation, move and pv.
  tt_clear();
  tt_store(key(42), 12, 30, TT_EXACT, 0x333, 2, 7, false);
  g_tt.generation = 9;
  g_tt.keep_exact = true;
  tt_store(key(42), 11, -80, TT_EXACT, 0x444, 0, 1, true);
  e = tt_probe(key(42));
  EXPECT_EQ(e->depth, 12);
  EXPECT_EQ(e->score, 30);
  EXPECT_EQ(e->move, 0x444);
  EXPECT_EQ(e->generation, 9);
  EXPECT_EQ(e->flags, TT_FLAG_PV);
  tt_store(key(42), 13, -80, TT_EXACT, 0, 0, 1, false);  // deeper result still replaces
  EXPECT_EQ(e->depth, 13);
  EXPECT_EQ(e->move, 0x444);
  EXPECT_EQ(e->flags, 0);
}

TEST_F(TTTest, BusyMarks) {
  tt_store(key(42), 6, 30, TT_EXACT, 0x333, 2, 7, true);
  tt_mark_busy(key(42), true);
  TTEntry* e = tt_probe(key(42));
  EXPECT_EQ(e->flags, TT_FLAG_BUSY | TT_FLAG_PV);
  EXPECT_EQ(e->depth, 6);
  tt_mark_busy(key(42), false);
  EXPECT_EQ(e->flags, TT_FLAG_PV);
  // An absent position takes a victim slot as a placeholder.
  for (int i = 0; i < 4; i++) put(i, 100 + i, 5 - i, 0, 3, 0);
  cluster().slot[3].score = 99;
  cluster().slot[3].move = 0x555;
  g_tt.generation = 0;
  tt_mark_busy(key(77), true);
  const TTEntry& p = cluster().slot[3];
  EXPECT_EQ(p.key32, 77u);
  EXPECT_EQ(p.depth, TT_DEPTH_BUSY);
  EXPECT_EQ(p.eval, TT_NO_EVAL);
  EXPECT_EQ(p.score, 0);
  EXPECT_EQ(p.move, 0);
  EXPECT_EQ(p.bound, 0);
  EXPECT_EQ(p.flags, TT_FLAG_BUSY);
  // A new position taking that slot does not inherit the busy mark.
  tt_store(key(88), 30, 1, TT_EXACT, 0, 0, 0, false);
  EXPECT_EQ(cluster().slot[3].key32, 88u);
  EXPECT_EQ(cluster().slot[3].flags, 0);
}

TEST_F(TTTest, GenerationAdvancesOnlyForANewRoot) {
  g_tt.root_key = 0;
  tt_new_search(111, false);
  EXPECT_EQ(g_tt.generation, 1u);
  EXPECT_TRUE(g_tt.table_used);
  tt_new_search(111, true);
  EXPECT_EQ(g_tt.generation, 1u);
  EXPECT_TRUE(g_tt.keep_exact);
  g_tt.generation = 255;
  tt_new_search(222, false);
  EXPECT_EQ(g_tt.generation, 0u);
  tt_remember_root(333);
  tt_new_search(333, false);
  EXPECT_EQ(g_tt.generation, 0u);
  tt_reinit_if_used();
  EXPECT_FALSE(g_tt.table_used);

  EXPECT_TRUE(tt_keep_exact_for(true, 10, 5.0));
  EXPECT_TRUE(tt_keep_exact_for(false, 99, 31622400.0));
  EXPECT_FALSE(tt_keep_exact_for(false, 98, 31622400.0));
  EXPECT_FALSE(tt_keep_exact_for(false, 99, 100.0));
}

TEST_F(TTTest, HashfullCountsSlotZeroOfFirstThousandClusters) {
  g_tt.generation = 4;
  EXPECT_EQ(tt_hashfull(), 0);
  for (uint64_t c = 0; c < 2000; c += 2) g_tt.clusters[c].slot[0].generation = 4;
  for (uint64_t c = 0; c < 1000; c++) g_tt.clusters[c].slot[1].generation = 4;
  EXPECT_EQ(tt_hashfull(), 500);
  tt_clear();
  EXPECT_EQ(g_tt.generation, 0u);
  EXPECT_EQ(tt_hashfull(), 1000);  // empty slots carry generation 0
  tt_new_search(12345, false);
  EXPECT_EQ(tt_hashfull(), 0);
}

}  // namespace
}  // namespace quorix
