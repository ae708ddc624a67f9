// Monte-Carlo tree search: value mapping, parameters, terminal values, the driver's stop rules,
// statistics after an interrupted playout, tree reuse and a two-thread search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "interface/driver.h"
#include "search/mcts_loop.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/control.h"
#include "search/mcts.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/threads.h"
#include "test_util.h"

namespace quorix {
namespace {

// One legal move (Rf1 against the rook's check) and six pieces.
const char* SINGLE_MOVE_FEN = "5R2/8/k7/8/8/8/6PP/r6K w - - 0 1";
// Qc8 mates, Qc7 stalemates.
const char* MATE_OR_STALEMATE_FEN = "k7/8/1K6/8/8/8/8/2Q5 w - - 0 1";
const char* MIDDLEGAME_FEN = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";

// Root move list of p in generation order (what the driver hands to the tree).
void set_root_moves(Position& p) {
  Move legal[MAX_MOVES];
  g_root_move_count = legal_moves(p, legal);
  for (int i = 0; i < g_root_move_count; i++) g_root_moves[i].move = legal[i];
}

// Direct access to the tree with a small pool and tiny leaf budgets, on thread 0 alone.
class MctsTree : public ::testing::Test {
 protected:
  Position root;
  SearchData* sd = nullptr;

  void SetUp() override {
    if (g_thread_count != 1) threads_resize(1);
    opt::threads = 1;
    g_node_limit = ~uint64_t(0);
    pondering = 0;
    stop_requested = 0;
    g_ctl = SearchControl();
    g_ctl.start = elapsed_seconds();
    g_ctl.hard = g_ctl.soft = g_ctl.t3 = 4 * UNTIMED;
    g_ctl.quiet = true;
    g_threads[0].stop.exchange(0);
    sd = &g_sdata[0];
    build_search_tables(1, true);
  }

  void TearDown() override {
    g_node_limit = ~uint64_t(0);
    g_threads[0].stop.exchange(0);
    g_mcts_running.store(false);
    g_mcts.valid = false;
    build_search_tables(1, false);
    mcts_table_resize(opt::mcts_hash);
  }

  void start(const char* fen, uint64_t pool_nodes = 20000, uint64_t leaf_budget = 300) {
    mcts_pool_resize_nodes(pool_nodes);
    test::setup(root, fen);
    root.in_check = king_attacked(root, root.side()) ? 1 : 0;
    std::memcpy(static_cast<void*>(&g_root_position), &root, sizeof(Position));
    set_root_moves(root);
    prepare_thread_root(*sd);
    mcts_set_params(1.0, 1);
    g_mcts.prm.leaf_budget = leaf_budget;
    mcts_reset_tree(root);
    g_mcts.last_root_ply = root.ply;
  }

  uint32_t child_with(uint32_t node, Move m) {
    for (uint32_t c = g_mcts.pool[node].first_child; c; c = g_mcts.pool[c].next_sibling)
      if (node_move(g_mcts.pool[c]) == m) return c;
    return 0;
  }

  int playouts(int count) {
    int values = 0;
    for (int i = 0; i < count; i++) {
      double v;
      values += mcts_root_playout(*sd, v) ? 1 : 0;
    }
    return values;
  }
};

TEST(Mcts, ValueMappingDepthAndParameters) {
  EXPECT_DOUBLE_EQ(mcts_value_of(0), 0.5);
  EXPECT_NEAR(mcts_value_of(84), 0.75, 1e-12);  // atan(1) / pi = 1/4
  for (int cp : {-900, -84, 0, 37, 250, 3000}) EXPECT_NEAR(mcts_cp_of(mcts_value_of(cp)), cp, 1) << cp;
  EXPECT_EQ(mcts_cp_of(1.0), 25000);
  EXPECT_EQ(mcts_cp_of(0.0), -25000);
  EXPECT_EQ(mcts_cp_of(std::nan("")), -25000);

  EXPECT_EQ(mcts_depth_for(17), 6);  // ln 17 x 2.1276 = 6.03
  EXPECT_EQ(mcts_depth_for(16), 5);
  EXPECT_EQ(mcts_depth_for(1), 0);
  EXPECT_EQ(mcts_depth_for(0), 0);

  const int saved = opt::mcts_explore;
  struct Case {
    int explore;
    double t;
    int threads;
    double c;
    uint64_t budget, seed;
    int depth_class;
  };
  const Case cases[] = {
      {100, 2.5, 1, 1.0, 14000, 30000, 5},    // sqrt(0.4 x 2.5) = 1
      {35, 0.1, 1, 0.35, 2800, 6000, 4},      // sqrt(0.04) = 0.2
      {35, 4.8, 1, 0.35, 19398, 41569, 5},
      {35, 1000, 1, 0.35, 112000, 240000, 6},  // capped at 8
      {35, 10, 4, 0.35, 18473, 39585, 6},      // divided by 4^0.3
  };
  for (const Case& c : cases) {
    opt::mcts_explore = c.explore;
    mcts_set_params(c.t, c.threads);
    EXPECT_DOUBLE_EQ(g_mcts.prm.explore, c.c);
    EXPECT_EQ(g_mcts.prm.leaf_budget, c.budget) << c.t;
    EXPECT_EQ(g_mcts.prm.seed_budget, c.seed) << c.t;
    EXPECT_EQ(g_mcts.prm.depth_class, c.depth_class) << c.t;
  }
  opt::mcts_explore = saved;
}

TEST(Mcts, PriorTableKeepsMovesAndCacheEvictsOldest) {
  MoveTable t;
  for (int i = 1; i <= MoveTable::MAX_ENTRIES; i++) EXPECT_TRUE(t.put(Move(i * 37), float(i)));
  EXPECT_FALSE(t.put(Move(9999), 1.0f));  // full
  EXPECT_TRUE(t.put(Move(37), 0.5f));      // replacing needs no room
  EXPECT_FLOAT_EQ(t.get(Move(37)), 0.5f);
  EXPECT_FLOAT_EQ(t.get(Move(48 * 37)), 48.0f);
  EXPECT_FLOAT_EQ(t.get(Move(9999)), 0.0f);

  prior_cache_clear();
  MoveTable out;
  float v = 0;
  // Keys of one set (the set is chosen by key modulo the set count): the least recently used
  // of five entries is dropped, and a lookup counts as a use.
  const uint64_t step = 2048;
  for (uint64_t k = 1; k <= 4; k++) prior_store(k * step + 5, t, float(k));
  ASSERT_TRUE(prior_lookup(1 * step + 5, out, v));
  EXPECT_FLOAT_EQ(v, 1.0f);
  EXPECT_FLOAT_EQ(out.get(Move(37)), 0.5f);
  prior_store(5 * step + 5, t, 5.0f);
  EXPECT_TRUE(prior_lookup(1 * step + 5, out, v));
  EXPECT_FALSE(prior_lookup(2 * step + 5, out, v));
  EXPECT_EQ(out.count, 0);
  prior_cache_clear();
}

TEST_F(MctsTree, MateAndStalemateChildValues) {
  start(MATE_OR_STALEMATE_FEN);
  Position mated, stalemate;
  test::setup(mated, "k1Q5/8/1K6/8/8/8/8/8 b - - 1 1");
  mated.in_check = 1;
  test::setup(stalemate, "k7/2Q5/1K6/8/8/8/8/8 b - - 1 1");
  EXPECT_GT(mcts_terminal_value(mated, 1), 0.999);
  EXPECT_DOUBLE_EQ(mcts_terminal_value(stalemate, 1), 0.5);

  // Expanding the root values every child by a leaf search.
  ASSERT_EQ(playouts(1), 1);
  const uint32_t qc8 = child_with(0, make_move_code(2, 58)), qc7 = child_with(0, make_move_code(2, 50));
  ASSERT_TRUE(qc8 && qc7);
  EXPECT_GT(g_mcts.pool[qc8].W, 0.999);
  EXPECT_DOUBLE_EQ(g_mcts.pool[qc7].W, 0.5);
  // The mate is the best child, so the root's value is that of being mated.
  EXPECT_LT(g_mcts.pool[0].W, 0.001);

  // Visiting the mated child: first visit counts, second visit re-values, third descends into
  // the terminal node, which answers with the mate value every time.
  const MctsNode& m = g_mcts.pool[qc8];
  for (int i = 0; i < 3000 && m.n < 6; i++) playouts(1);
  ASSERT_GE(m.n, 6u);
  EXPECT_GT(m.W / m.N, 0.99);
  EXPECT_EQ(m.first_child, 0u);
  EXPECT_EQ(g_mcts.pool[qc7].first_child, 0u);
}

// Short searches end with most root children at equal visit counts; the move played must then
// be the best valued one, not the first generated. Fixed leaf budget, one thread: deterministic.
TEST_F(MctsTree, EqualVisitCountsPlayTheBestValuedChild) {
  struct Case {
    const char* fen;
    const char* move;
  } cases[] = {
      {"rnb1kbnr/pppp1ppp/8/4p3/4P2q/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3", "f3h4"},  // hanging queen
      {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "a1a8"},                           // mate in one
      {"r1bqkbnr/pppp1ppp/2n5/4N3/4P3/8/PPPP1PPP/RNBQKB1R b KQkq - 0 3", "c6e5"},  // recapture
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fen);
    start(c.fen, 20000, 2000);
    for (int extra = 0; extra < 3; extra++) {
      playouts(1);  // the first one expands the root; each later one visits one child once
      const uint32_t best = mcts_best_child(0);
      ASSERT_NE(best, 0u);
      EXPECT_EQ(move_to_text(root, node_move(g_mcts.pool[best])), c.move) << "after " << extra + 1 << " playouts";
    }
  }
}

TEST_F(MctsTree, SingleLegalMoveStopsAfterTenRootVisits) {
  start(SINGLE_MOVE_FEN);
  ASSERT_EQ(g_root_move_count, 1);
  g_mcts_running.store(true);
  mcts_search(*sd, false);
  EXPECT_EQ(g_mcts.pool[0].n - g_mcts.start_count, 10u);
  ASSERT_NE(mcts_best_child(0), 0u);
  EXPECT_EQ(move_to_text(root, node_move(g_mcts.pool[mcts_best_child(0)])), "f8f1");
}

TEST_F(MctsTree, DepthLimitEndsTheSearch) {
  start(MIDDLEGAME_FEN, 200000, 100);
  g_ctl.max_depth = 8;  // ln(nodes) x 2.1276 >= 8 from 43 nodes on
  g_mcts_running.store(true);
  mcts_search(*sd, false);
  EXPECT_GE(mcts_depth_for(g_mcts.used.load()), 8);
  EXPECT_LT(g_mcts.used.load(), 43u + 2 * MAX_ROOT_MOVES);
}

TEST_F(MctsTree, FullPoolEndsTheSearch) {
  // Room for the root's children and a few expansions beyond the 200-node reserve.
  start(MIDDLEGAME_FEN, 200 + 3 * MAX_ROOT_MOVES, 100);
  g_mcts_running.store(true);
  mcts_search(*sd, false);
  const uint64_t used = g_mcts.used.load();
  EXPECT_LE(used, g_mcts.capacity);
  EXPECT_GT(used + 200, g_mcts.capacity);
  EXPECT_TRUE(mcts_pool_nearly_full());
  // Even a pool too small for one more expansion is never overrun.
  double v;
  for (int i = 0; i < 5; i++) mcts_root_playout(*sd, v);
  EXPECT_LE(g_mcts.used.load(), g_mcts.capacity);
}

TEST_F(MctsTree, StopDuringExpansionLeavesStatisticsUnchanged) {
  start(SINGLE_MOVE_FEN, 20000, 2000);
  // Expansion of the root, first visit of Rf1, its leaf value; the next playout expands Rf1.
  playouts(3);
  const uint32_t child = mcts_best_child(0);
  ASSERT_EQ(g_mcts.pool[child].n, 3u);
  ASSERT_EQ(g_mcts.pool[child].first_child, 0u);
  const uint64_t used = g_mcts.used.load();
  std::vector<MctsNode> before(g_mcts.pool, g_mcts.pool + used);

  g_node_limit = g_threads[0].nodes + 40;  // the stop arrives inside the first leaf search
  double v;
  EXPECT_FALSE(mcts_root_playout(*sd, v));
  EXPECT_EQ(g_threads[0].stop.load(), 1);
  ASSERT_EQ(g_mcts.used.load(), used);
  for (uint64_t i = 0; i < used; i++) {
    const MctsNode &a = before[i], &b = g_mcts.pool[i];
    EXPECT_EQ(a.W, b.W) << i;
    EXPECT_EQ(a.N, b.N) << i;
    EXPECT_EQ(a.n, b.n) << i;
    EXPECT_EQ(a.vl, b.vl) << i;
    EXPECT_EQ(a.lock, b.lock) << i;
    EXPECT_EQ(a.first_child, b.first_child) << i;
  }
  // After the stop is lifted the same playout expands the child.
  g_node_limit = ~uint64_t(0);
  g_threads[0].stop.exchange(0);
  EXPECT_TRUE(mcts_root_playout(*sd, v));
  EXPECT_NE(g_mcts.pool[child].first_child, 0u);
}

TEST_F(MctsTree, ReuseKeepsTheSubtreeOfTheNewRoot) {
  start(MIDDLEGAME_FEN, 200000, 150);
  int guard = 0;
  uint32_t c1 = 0, c2 = 0;
  // Grow until the main line has a replied-to node with visited children.
  while (guard++ < 4000) {
    playouts(20);
    c1 = mcts_best_child(0);
    c2 = c1 ? mcts_best_child(c1) : 0;
    if (c2 && g_mcts.pool[c2].first_child && g_mcts.pool[c2].N > 3.0) {
      bool visited = false;
      for (uint32_t c = g_mcts.pool[c2].first_child; c; c = g_mcts.pool[c].next_sibling) visited |= g_mcts.pool[c].N > 1.0;
      if (visited) break;
    }
  }
  ASSERT_LT(guard, 4000);
  const uint64_t old_used = g_mcts.used.load();
  const uint64_t old_n = g_mcts.pool[c2].n;
  uint64_t sub_size = 0;  // nodes below c2, itself included
  {
    std::vector<uint32_t> st{c2};
    while (!st.empty()) {
      uint32_t x = st.back();
      st.pop_back();
      sub_size++;
      for (uint32_t c = g_mcts.pool[x].first_child; c; c = g_mcts.pool[c].next_sibling) st.push_back(c);
    }
  }
  Position a, b;
  ASSERT_TRUE(make_move(root, a, node_move(g_mcts.pool[c1])));
  a.in_check = king_attacked(a, a.side()) ? 1 : 0;
  ASSERT_TRUE(make_move(a, b, node_move(g_mcts.pool[c2])));
  b.in_check = king_attacked(b, b.side()) ? 1 : 0;
  set_root_moves(b);
  // Root moves in an order of their own: the children must follow it.
  std::swap(g_root_moves[0], g_root_moves[g_root_move_count - 1]);

  double share = -1;
  ASSERT_TRUE(mcts_reuse_tree(b, &share));
  EXPECT_EQ(g_mcts.used.load(), sub_size);
  EXPECT_DOUBLE_EQ(share, double(sub_size) / double(old_used));
  EXPECT_EQ(g_mcts.pool[0].key, b.key);
  EXPECT_EQ(g_mcts.pool[0].n, old_n + 3);
  EXPECT_EQ(g_mcts.start_count, old_n + 3);
  EXPECT_EQ(g_mcts.pool[0].first_child, 1u);
  for (int i = 0; i < g_root_move_count; i++) {
    EXPECT_EQ(node_move(g_mcts.pool[i + 1]), g_root_moves[i].move) << i;
    EXPECT_EQ(g_mcts.pool[i + 1].next_sibling, i + 1 < g_root_move_count ? uint32_t(i + 2) : 0u);
  }
  for (uint64_t i = 0; i < sub_size; i++) {
    const MctsNode& x = g_mcts.pool[i];
    EXPECT_LT(x.first_child, sub_size);
    EXPECT_LT(x.next_sibling, sub_size);
    EXPECT_EQ(x.N, double(x.n));
    EXPECT_EQ(x.lock, 0);
  }
  // The kept tree grows on from the new root.
  std::memcpy(static_cast<void*>(&g_root_position), &b, sizeof(Position));
  prepare_thread_root(*sd);
  EXPECT_GT(playouts(30), 0);
  EXPECT_LE(g_mcts.used.load(), g_mcts.capacity);
}

TEST_F(MctsTree, ReuseFallsBackToAFreshTree) {
  start(MIDDLEGAME_FEN, 100000, 150);
  playouts(80);

  struct Case {
    const char* what;
    int keep_moves;  // root moves kept (searchmoves); 0 = all
    bool same_tree;
  };
  // A restricted root move list (searchmoves, tablebase filter) does not match the children of
  // the stored node, and a position not in the tree has nothing to keep.
  for (const Case& c : {Case{"restricted root moves", 2, true}, Case{"position not in the tree", 0, false}}) {
    Position target;
    if (c.same_tree) target = root;
    else test::setup(target, "8/5k2/8/3p4/3P4/2K5/8/8 w - - 0 1");
    set_root_moves(target);
    if (c.keep_moves) g_root_move_count = c.keep_moves;
    double share = -1;
    EXPECT_FALSE(mcts_reuse_tree(target, &share)) << c.what;
    EXPECT_EQ(share, 0.0) << c.what;
    EXPECT_EQ(g_mcts.used.load(), 1u) << c.what;
    EXPECT_EQ(g_mcts.pool[0].first_child, 0u) << c.what;
    EXPECT_EQ(g_mcts.pool[0].key, target.key) << c.what;
    EXPECT_EQ(g_mcts.pool[0].n, 3u) << c.what;
    // Grow the old tree again for the next case.
    start(MIDDLEGAME_FEN, 100000, 150);
    playouts(80);
  }
  // The node of the new root must have been searched enough: a child with a single visit is not.
  const uint32_t weak = [&] {
    for (uint32_t c = g_mcts.pool[0].first_child; c; c = g_mcts.pool[c].next_sibling)
      if (g_mcts.pool[c].n == 1) return c;
    return 0u;
  }();
  if (weak) {
    Position w;
    ASSERT_TRUE(make_move(root, w, node_move(g_mcts.pool[weak])));
    w.in_check = king_attacked(w, w.side()) ? 1 : 0;
    set_root_moves(w);
    EXPECT_FALSE(mcts_reuse_tree(w));
    EXPECT_EQ(g_mcts.used.load(), 1u);
  }
}

// Two threads grow one tree: thread 0 runs the driver loop, the worker plays out beside it.
class MctsThread : public MctsTree {
 protected:
  void TearDown() override {
    opt::threads = 1;
    threads_resize(1);
    MctsTree::TearDown();
  }
};

TEST_F(MctsThread, TwoThreadsGrowOneTree) {
  start(MIDDLEGAME_FEN, 200000, 100);
  opt::threads = 2;
  threads_resize(2);
  sd = &g_sdata[0];
  prepare_thread_root(*sd);
  g_ctl.max_depth = 12;  // 284 nodes
  g_mcts_running.store(true);
  mcts_search(*sd, false);
  g_mcts_running.store(false);
  const uint64_t used = g_mcts.used.load();
  EXPECT_GE(mcts_depth_for(used), 12);
  EXPECT_GT(uint64_t(g_threads[1].nodes), 0u);  // the worker searched leaves
  // Nothing is left locked or carrying virtual loss, and every link stays inside the tree.
  for (uint64_t i = 0; i < used; i++) {
    const MctsNode& x = g_mcts.pool[i];
    EXPECT_EQ(x.lock, 0) << i;
    EXPECT_EQ(x.vl, 0) << i;
    EXPECT_LT(x.first_child, used) << i;
    EXPECT_LT(x.next_sibling, used) << i;
    EXPECT_GE(x.n, 1u) << i;
  }
}

TEST_F(MctsThread, DriverAnswersWithALegalMove) {
  // Through "go" with "Use MCTS": the answer is legal whether or not the tree grew in time.
  const int saved_use = opt::use_mcts;
  opt::use_mcts = 1;
  opt::threads = 2;
  g_move_time = 0;
  for (const char* fen : {MIDDLEGAME_FEN, SINGLE_MOVE_FEN}) {
    Position p;
    test::setup(p, fen);
    testing::internal::CaptureStdout();
    think(p, 0.3, 99, "", UNTIMED, false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_thread_count, 2);
    const size_t bm = out.rfind("bestmove ");
    ASSERT_NE(bm, std::string::npos) << out;
    std::istringstream in(out.substr(bm + 9));
    std::string move;
    in >> move;
    Position child;
    EXPECT_TRUE(apply_move_text(p, child, move.c_str())) << move;
    EXPECT_NE(out.find(" hashfull "), std::string::npos) << out;
  }
  opt::use_mcts = saved_use;
}

}  // namespace
}  // namespace quorix
