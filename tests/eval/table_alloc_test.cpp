// Per-thread material and pawn tables: sizing, lookups and allocation failure.
#include <gtest/gtest.h>

#include "eval/hash_tables.h"
#include "search/thread.h"

namespace quorix {
namespace {

TEST(ThreadTables, PawnTableSizing) {
  struct Case {
    int mb, threads;
    uint64_t entries;
  } cases[] = {{64, 1, 1048576}, {64, 4, 262144}, {1, 1, 16384}, {1, 128, 128}, {1024, 1, 16777216}};
  for (const Case& c : cases)
    EXPECT_EQ(pawn_table_entries(c.mb, c.threads), c.entries) << c.mb << " MB, " << c.threads << " threads";
}

TEST(ThreadTables, CreatedZeroedWithLookupHelpers) {
  MaterialEntry* mat = nullptr;
  PawnEntry* pawn = nullptr;
  const uint64_t mask = g_pawn_mask;
  create_tables(mat, pawn, 1, 1);
  EXPECT_EQ(g_pawn_mask, 16383u);
  float scale = -1;
  int value = -1;
  ASSERT_TRUE(mat_lookup(mat, 0, scale, value));  // bare kings: zero-filled slot 0
  EXPECT_EQ(scale, 0.0f);
  EXPECT_EQ(value, 0);
  const uint64_t key = 0x123456789abcd001ull;
  EXPECT_FALSE(mat_lookup(mat, key, scale, value));
  mat_store(mat, key, 0.5f, -42);
  ASSERT_TRUE(mat_lookup(mat, key, scale, value));
  EXPECT_EQ(scale, 0.5f);
  EXPECT_EQ(value, -42);
  EXPECT_EQ(mat_slot(mat, key), mat + 1);
  EXPECT_FALSE(mat_lookup(mat, key ^ (1ull << 40), scale, value));  // same slot, other key
  // The pawn slot comes from the low 32 bits of the key.
  EXPECT_EQ(pawn_slot(pawn, 0xffffffff00000005ull), pawn + 5);
  EXPECT_EQ(pawn_slot(pawn, 0x00000000ffffffffull), pawn + 16383);
  EXPECT_EQ(pawn[16383].key, 0u);
  free_tables(mat, pawn);
  EXPECT_EQ(mat, nullptr);
  EXPECT_EQ(pawn, nullptr);
  g_pawn_mask = mask;
}

TEST(ThreadTables, EveryThreadRecordOwnsTables) {
  ASSERT_GE(g_thread_count, 1);
  for (int i = 0; i < g_thread_count; i++) {
    EXPECT_NE(g_threads[i].mat_table, nullptr);
    EXPECT_NE(g_threads[i].pawn_table, nullptr);
  }
}

TEST(ThreadTables, AllocationFailureEndsTheProcess) {
  MaterialEntry* mat = nullptr;
  PawnEntry* pawn = nullptr;
  EXPECT_EXIT(
      {
        set_table_alloc_limit(1000);
        create_tables(mat, pawn, 64, 1);
      },
      ::testing::ExitedWithCode(255), "^Unable to allocate 65536 bytes of memory for mat_hash\n$");
  EXPECT_EXIT(
      {
        set_table_alloc_limit(65536);
        create_tables(mat, pawn, 64, 1);
      },
      ::testing::ExitedWithCode(255), "^Unable to allocate 50331648 bytes of memory for pawn_hash\n$");
}

}  // namespace
}  // namespace quorix
