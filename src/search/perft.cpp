#include "search/perft.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "board/makemove.h"
#include "search/make.h"
#include "search/movepick.h"
#include "search/search.h"

namespace quorix {

namespace {

// The child records live in one array, one per remaining depth (see SearchData::stack).
uint64_t perft_node(SearchThread& th, const Position& p, int depth, Position* records) {
  MovePicker mp;
  mp.init(&p, &th, PK_MAIN, 0, 0, 0, 0, 20);
  Position& child = records[depth - 1];
  uint64_t leaves = 0;
  Move m;
  while ((m = next_move(mp)) != 0) {
    if (!make_move(p, child, m)) continue;
    if (depth > 1) {
      link_cont_rows(th, p, child, m);
      child.in_check = king_attacked(child, child.side()) ? 1 : 0;
      leaves += perft_node(th, child, depth - 1, records);
    } else {
      leaves++;
    }
  }
  return leaves;
}

}  // namespace

uint64_t perft(SearchThread& th, const Position& root, int depth) {
  // Private copies of the root and its predecessor (whose rows the grandchildren take)
  // attached to th's tables, whatever the game's records were attached to before.
  Position r = root, before;
  if (root.his) {
    before = *root.his;
    attach_to_thread(before, th);
    r.his = &before;
  }
  attach_to_thread(r, th);
  if (depth < 1) depth = 1;
  std::unique_ptr<Position[]> records(new Position[size_t(depth)]);
  return perft_node(th, r, depth, records.get());
}

void timed_perft(const Position& root, int depth) {
  auto t0 = std::chrono::steady_clock::now();
  const uint64_t count = perft(thread_rec(0), root, depth);
  auto t1 = std::chrono::steady_clock::now();
  double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
  if (ns < 1) ns = 1;
  std::printf("%llu, MNPS=%f\n", (unsigned long long)count, double(count) * 1e-6 / (ns * 1e-9));
  std::fflush(stdout);
}

}  // namespace quorix
