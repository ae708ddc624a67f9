#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "board/makemove.h"
#include "board/movegen.h"
#include "xnnue/nnue_test_util.h"

namespace quorix {
namespace {

using test::RefNet;

constexpr const char* START_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "8/PPP4k/8/8/8/8/4Kppp/8 w - - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
};

struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
};

// Checks the change record of c against the piece states of c and its parent
// (the structure of a piece state against its board is checked by the board tests).
void check_change_record(const Position& parent, const Position& c, Move m) {
  const auto& pi = c.kst.pi;
  const auto& st = c.kst;
  uint32_t expect = 1;
  if (m == 0) expect = 0;
  else if (move_kind(m) == MK_CASTLE || move_kind(m) == MK_EP || parent.board[move_to(m)]) expect = 2;
  ASSERT_EQ(st.count, expect) << "move " << m;
  bool changed[32] = {};
  for (uint32_t k = 0; k < st.count; k++) {
    uint32_t id = st.changed[k];
    ASSERT_LT(id, 32u);
    changed[id] = true;
    const auto& ch = st.changes[k];
    EXPECT_EQ(ch.old_w, parent.kst.pi.list[0][id]);
    EXPECT_EQ(ch.old_b, parent.kst.pi.list[1][id]);
    EXPECT_EQ(ch.new_w, pi.list[0][id]);
    EXPECT_EQ(ch.new_b, pi.list[1][id]);
  }
  if (st.count) {
    EXPECT_EQ(st.changed[0], parent.kst.pi.ids[move_from(m)]) << "change 0 is the moving piece";
  }
  for (int id = 0; id < 32; id++)
    if (!changed[id]) {
      EXPECT_EQ(pi.list[0][id], parent.kst.pi.list[0][id]) << "id " << id;
      EXPECT_EQ(pi.list[1][id], parent.kst.pi.list[1][id]) << "id " << id;
    }
}

// Plays random games on two record stacks: stack A is evaluated with the default
// kernels, stack B with the portable ones. Every position is checked against the
// reference model; about a third are left unevaluated so that their children
// refresh. Returns the number of evaluated positions.
int run_playouts(const xnnue::Network& net, const RefNet& ref, uint64_t seed, int games, int max_plies,
                 int* eval_mismatch) {
  constexpr int MAXP = 256;
  auto a = std::make_unique<Position[]>(MAXP + 1);
  auto b = std::make_unique<Position[]>(MAXP + 1);
  Rng rng{seed};
  int evaluated = 0;
  const bool saved_flip = xnnue::g_flip;
  xnnue::g_flip = net.flip();
  for (int g = 0; g < games; g++) {
    const char* fen = START_POSITIONS[g % std::size(START_POSITIONS)];
    set_fen(a[0], fen);
    set_fen(b[0], fen);
    for (int ply = 0; ply <= max_plies && ply < MAXP; ply++) {
      Position& pa = a[ply];
      Position& pb = b[ply];
      if (ply == 0 || rng.next() % 3 != 0) {
        int32_t la[32], lb[32];
        float oa = net.output(pa, false, la);
        float ob = net.output(pb, true, lb);
        EXPECT_TRUE(pa.acc_computed && pb.acc_computed);
        for (int persp = 0; persp < 2; persp++) {
          auto want = ref.accumulate(pa, persp);
          for (int i = 0; i < net.h(); i++) {
            if (pa.acc.values[persp][i] != want[i] || pb.acc.values[persp][i] != want[i]) {
              ADD_FAILURE() << "accumulator differs: game " << g << " ply " << ply << " persp " << persp << " lane " << i
                            << ": " << pa.acc.values[persp][i] << " / " << pb.acc.values[persp][i] << " want " << want[i];
              xnnue::g_flip = saved_flip;
              return evaluated;
            }
          }
        }
        std::vector<int32_t> want_l1;
        double scale = 0;
        double want = ref.output(pa, &want_l1, &scale);
        for (int j = 0; j < net.l(); j++) {
          EXPECT_EQ(la[j], want_l1[j]) << "layer 1, ply " << ply;
          EXPECT_EQ(lb[j], want_l1[j]) << "layer 1 portable, ply " << ply;
        }
        double tol = 1e-5 * (1.0 + scale);  // float rounding over the summed terms
        EXPECT_NEAR(oa, want, tol);
        EXPECT_NEAR(ob, want, tol);
        int ea = net.evaluate(pa), eb = net.evaluate_portable(pb);
        int ew = int(std::trunc(want * 0.0625));
        EXPECT_LE(std::abs(ea - ew), 1);
        EXPECT_LE(std::abs(eb - ew), 1);
        if (ea != ew || eb != ew) ++*eval_mismatch;
        evaluated++;
      }
      if (ply == max_plies || ply + 1 >= MAXP) break;
      uint32_t list[MAX_MOVES];
      int n = generate_all(pa, list);
      bool in_check = pa.in_check;
      bool moved = false;
      if (!in_check && rng.next() % 16 == 0) {
        make_move(pa, a[ply + 1], 0);
        make_move(pb, b[ply + 1], 0);
        check_change_record(pa, a[ply + 1], 0);
        moved = true;
      }
      while (!moved && n > 0) {
        int i = int(rng.next() % uint64_t(n));
        Move m = entry_move(list[i]);
        list[i] = list[--n];
        if (!make_move(pa, a[ply + 1], m)) continue;
        EXPECT_EQ(make_move(pb, b[ply + 1], m), 1);
        check_change_record(pa, a[ply + 1], m);
        if (::testing::Test::HasFatalFailure()) {
          xnnue::g_flip = saved_flip;
          return evaluated;
        }
        moved = true;
      }
      if (!moved || a[ply + 1].fifty >= 100) break;
      // make_move leaves in_check to its caller (as the search sets it).
      a[ply + 1].in_check = b[ply + 1].in_check = king_attacked(a[ply + 1], a[ply + 1].side()) ? 1 : 0;
    }
  }
  xnnue::g_flip = saved_flip;
  return evaluated;
}

class PairTest : public ::testing::TestWithParam<xnnue::SupportedPair> {};

// Incremental accumulators equal a full refresh, both kernel sets agree on the
// integers, and evaluation follows the reference model, for every supported pair.
TEST_P(PairTest, IncrementalMatchesRefreshAndReference) {
  const auto pair = GetParam();
  const auto& net = test::loaded_net(pair.h, pair.l);
  ASSERT_EQ(net.flip(), pair.flip);
  RefNet ref(test::plain_net(pair.h, pair.l), pair.h, pair.l, pair.flip);
  int mismatch = 0;
  int n = run_playouts(net, ref, 0x9E37 + uint64_t(pair.h * 7 + pair.l), 24, 160, &mismatch);
  EXPECT_GE(n, 2000);
  EXPECT_LE(mismatch * 100, n) << "evaluations off by one from the float summation order";
  RecordProperty("positions", n);
  RecordProperty("off_by_one", mismatch);
}

INSTANTIATE_TEST_SUITE_P(Pairs, PairTest, ::testing::ValuesIn(xnnue::SUPPORTED_PAIRS),
                         [](const auto& info) { return "H" + std::to_string(info.param.h) + "L" + std::to_string(info.param.l); });

// Extreme weights: 16-bit accumulator wrap-around, saturated clipping and 32-bit
// layer-1 wrap-around give the same integers on both kernel sets and in the reference.
TEST(NnueInference, FullRangeWeightsMatchReference) {
  for (auto pair : {xnnue::SupportedPair{64, 16, true}, xnnue::SupportedPair{256, 32, true}}) {
    xnnue::RandomNetwork r;
    r.h = pair.h;
    r.l = pair.l;
    r.seed = 77;
    r.full_range = true;
    auto bytes = xnnue::random_plain_network(r);
    auto net = test::parse_plain(bytes);
    ASSERT_TRUE(net);
    RefNet ref(bytes, pair.h, pair.l, pair.flip);
    int mismatch = 0;
    EXPECT_GT(run_playouts(*net, ref, 5, 4, 80, &mismatch), 100);
  }
}

// With the flip flag clear a black piece on a8 sits on square 7 of the black
// perspective; with it set, on square 0.
TEST(NnueInference, BlackPerspectiveSquareTransform) {
  const bool saved = xnnue::g_flip;
  Position p;
  for (bool flip : {false, true}) {
    xnnue::g_flip = flip;
    set_fen(p, "r3k3/8/8/8/8/8/8/4K3 w - - 0 1");
    uint32_t id = p.kst.pi.ids[56];
    ASSERT_LT(id, 30u);
    EXPECT_EQ(p.kst.pi.list[1][id], 385u + (flip ? 0u : 7u));
    EXPECT_EQ(p.kst.pi.list[0][id], 449u + 56u);
    EXPECT_EQ(p.kst.pi.list[1][31], 641u + (flip ? 4u : 3u));  // black king e8 from its own side
  }
  xnnue::g_flip = saved;
}

// A null move's accumulator equals its parent's.
TEST(NnueInference, NullMoveKeepsAccumulator) {
  const auto& net = test::loaded_net(64, 24);
  const bool saved = xnnue::g_flip;
  xnnue::g_flip = net.flip();
  auto s = std::make_unique<Position[]>(2);
  set_fen(s[0], "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  net.evaluate(s[0]);
  ASSERT_EQ(make_move(s[0], s[1], 0), 1);
  ASSERT_EQ(s[1].kst.count, 0u);
  net.evaluate(s[1]);
  EXPECT_EQ(std::memcmp(s[0].acc.values, s[1].acc.values, sizeof s[0].acc.values), 0);
  xnnue::g_flip = saved;
}

}  // namespace
}  // namespace quorix
