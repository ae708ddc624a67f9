#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "board/movegen.h"

namespace quorix {
namespace {

// The entry order the picker relies on: scores (upper 16 bits, signed) descending, equal
// scores in generation order. Lists of every length the sorter distinguishes, with few
// distinct scores (many ties), all scores equal, and extreme scores at both ends.
TEST(SortEntries, DescendingByScoreAndStableAmongEquals) {
  std::mt19937 rng(12345);
  const int score_ranges[] = {1, 3, 50, 65536};
  for (int n = 0; n <= MAX_MOVES; n += (n < 40 ? 1 : 37)) {
    for (int range : score_ranges) {
      std::vector<uint32_t> list(size_t(n) + 1, 0xDEADBEEFu);  // one guard entry past the end
      for (int i = 0; i < n; i++) {
        int score = int(rng() % uint32_t(range)) - range / 2;
        if (range == 65536 && i % 7 == 0) score = (i % 14 == 0) ? -32768 : 32767;
        list[size_t(i)] = (uint32_t(score) << 16) | uint32_t(i);  // the move field keeps the index
      }
      std::vector<uint32_t> want(list.begin(), list.begin() + n);
      std::stable_sort(want.begin(), want.end(), [](uint32_t a, uint32_t b) {
        return int32_t(a & 0xFFFF0000u) > int32_t(b & 0xFFFF0000u);
      });
      sort_entries(list.data(), n);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), list.begin())) << "n " << n << " range " << range;
      ASSERT_EQ(list[size_t(n)], 0xDEADBEEFu);
    }
  }
}

}  // namespace
}  // namespace quorix
