#include <gtest/gtest.h>

#include <cstring>

#include "board/position.h"
#include "interface/commands.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "xnnue/network.h"
#include "xnnue/nnue_test_util.h"

namespace quorix {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;
using test::TempFile;

struct Output {
  std::string out, err;
};

template <class F>
Output captured(F&& f) {
  CaptureStdout();
  CaptureStderr();
  f();
  Output o;
  o.err = GetCapturedStderr();
  o.out = GetCapturedStdout();
  return o;
}

class NnueLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_flip_ = xnnue::g_flip;
    xnnue::release_network();
  }
  void TearDown() override {
    xnnue::release_network();
    xnnue::g_flip = saved_flip_;
  }
  bool saved_flip_ = false;
};

std::vector<uint8_t> small_plain() { return test::plain_net(64, 16); }

std::vector<uint8_t> with_description(int h, int l, const std::string& desc) {
  xnnue::RandomNetwork r;
  r.h = h;
  r.l = l;
  r.seed = 3;
  r.description = desc;
  return xnnue::random_plain_network(r);
}

// Every supported pair loads from a plain and from a wrapped file, with the
// pair's sizes and flip flag, and the global flag follows the loaded network.
TEST_F(NnueLoader, LoadsEverySupportedPairPlainAndWrapped) {
  for (const auto& pair : xnnue::SUPPORTED_PAIRS) {
    const auto& plain = test::plain_net(pair.h, pair.l);
    for (bool wrapped : {false, true}) {
      TempFile f(wrapped ? xnnue::wrap_network(plain, xnnue::MAGIC_SET[0], xnnue::MAGIC_SET[31], 1) : plain);
      xnnue::g_flip = !pair.flip;
      auto o = captured([&] { EXPECT_TRUE(xnnue::load_network_file(f.path)); });
      EXPECT_EQ(o.out, "info string " + f.path + " is loaded\n");
      EXPECT_EQ(o.err, "");
      const xnnue::Network* net = xnnue::current_network();
      ASSERT_NE(net, nullptr);
      EXPECT_EQ(net->h(), pair.h);
      EXPECT_EQ(net->l(), pair.l);
      EXPECT_EQ(xnnue::g_flip, pair.flip);
      xnnue::release_network();
    }
  }
}

// The wrapped form and the plain form give the same network.
TEST_F(NnueLoader, WrappedAndPlainEvaluateAlike) {
  const auto& plain = test::plain_net(64, 24);
  auto wrapped = xnnue::wrap_network(plain, xnnue::MAGIC_SET[5], xnnue::MAGIC_SET[9], 6, 77);
  xnnue::MemorySource src(wrapped.data(), wrapped.size());
  auto a = xnnue::read_network_file(src);
  auto b = test::parse_plain(plain);
  ASSERT_TRUE(a && b);
  const bool saved = xnnue::g_flip;
  xnnue::g_flip = a->flip();
  Position p, q;
  set_fen(p, "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4");
  q = p;
  EXPECT_EQ(a->evaluate(p), b->evaluate(q));
  EXPECT_EQ(std::memcmp(p.acc.values, q.acc.values, sizeof p.acc.values), 0);
  xnnue::g_flip = saved;
}

// Loader outcomes and their exact messages.
TEST_F(NnueLoader, MessagesAndSlotRules) {
  TempFile good(small_plain(), "good");
  auto o = captured([&] { xnnue::load_network_file(good.path); });
  ASSERT_TRUE(xnnue::network_ready());
  const xnnue::Network* first = xnnue::current_network();

  // Same path again: nothing printed, nothing reloaded.
  o = captured([&] { EXPECT_TRUE(xnnue::load_network_file(good.path)); });
  EXPECT_EQ(o.out + o.err, "");
  EXPECT_EQ(xnnue::current_network(), first);

  // Missing file: a warning, the previous network stays.
  std::string missing = test::temp_path("does-not-exist");
  o = captured([&] { EXPECT_TRUE(xnnue::load_network_file(missing)); });
  EXPECT_EQ(o.err, "warning: NN: file \"" + missing + "\" not found\n");
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(xnnue::current_network(), first);

  // Wrong format: an error, and no network afterwards.
  auto cut = small_plain();
  cut.resize(cut.size() - 1);
  TempFile bad(cut, "bad");
  o = captured([&] { EXPECT_FALSE(xnnue::load_network_file(bad.path)); });
  EXPECT_EQ(o.err, "error: " + bad.path + " has wrong format\n");
  EXPECT_EQ(o.out, "");
  EXPECT_FALSE(xnnue::network_ready());

  // The embedded network of this build is the empty placeholder blob.
  const uint8_t* data;
  size_t len;
  xnnue::embedded_blob(data, len);
  if (len == 0) {
    o = captured([&] { EXPECT_FALSE(xnnue::load_network_file("")); });
    EXPECT_EQ(o.err, "error: failed to load the embedded NN,  use WeightsFile option to set an external one\n");
    EXPECT_FALSE(xnnue::network_ready());
  }
}

// The embedded path: a packed blob built here loads through the same call that
// start-up makes with the linked blob.
TEST_F(NnueLoader, PackedBlobLoadsLikeTheEmbeddedNetwork) {
  auto packed = xnnue::pack_network(small_plain(), 1);
  auto o = captured([&] { EXPECT_TRUE(xnnue::load_packed_network(packed.data(), packed.size())); });
  EXPECT_EQ(o.out, "info string embedded NN is loaded\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(xnnue::g_flip, true);
  for (size_t cut : {size_t(0), size_t(7), size_t(8), packed.size() - 1}) {
    o = captured([&] { EXPECT_FALSE(xnnue::load_packed_network(packed.data(), cut)); });
    EXPECT_EQ(o.err, "error: failed to load the embedded NN,  use WeightsFile option to set an external one\n");
  }
}

// Size detection from the description text.
TEST_F(NnueLoader, SizesFromDescription) {
  struct Case {
    int h, l;  // sizes the stream is written with
    std::string desc;
    bool loads;
    int want_h, want_l;
    std::string warning;
  };
  const std::string first = "info string warning: unable to determine size of the first dense layer\n";
  const std::string top = "info string warning: unable to determine size of top layers\n";
  const Case cases[] = {
      {256, 24, "Net=AffineTransform[1<-24](ClippedReLU[24](Stuff))", true, 256, 24, first},
      {256, 24, "41024->256 with no cross; ClippedReLU[24]", true, 256, 24, first},
      {64, 32, "Features=[41024->64x2] no activations", true, 64, 32, top},
      {64, 16, "[41024->64x2],ClippedReLU[16](x)", true, 64, 16, ""},
      {64, 32, "[41024->64x2],ClippedReLU[32](x)", true, 64, 32, ""},
      {128, 32, "[41024->128x2],ClippedReLU[32](x)", false, 0, 0, ""},
      {256, 16, "[41024->256x2],ClippedReLU[16](x)", false, 0, 0, ""},
      {64, 32, "[41024->x2],ClippedReLU[32](x)", false, 0, 0, ""},
      {64, 32, "[41024->64x2],ClippedReLU[]", false, 0, 0, ""},
      {64, 32, "[41024->99999999999999999999x2],ClippedReLU[32]", false, 0, 0, ""},
      {64, 32, "[41024->64x2],ReLU", false, 0, 0, ""},
  };
  for (const auto& c : cases) {
    TempFile f(with_description(c.h, c.l, c.desc));
    auto o = captured([&] { xnnue::load_network_file(f.path); });
    ASSERT_EQ(xnnue::network_ready(), c.loads) << c.desc;
    if (c.loads) {
      EXPECT_EQ(xnnue::current_network()->h(), c.want_h) << c.desc;
      EXPECT_EQ(xnnue::current_network()->l(), c.want_l) << c.desc;
      EXPECT_EQ(o.err, c.warning) << c.desc;
      EXPECT_EQ(o.out, "info string " + f.path + " is loaded\n");
    } else {
      EXPECT_EQ(o.err, "error: " + f.path + " has wrong format\n") << c.desc;
    }
    xnnue::release_network();
  }
}

// Descrambling touches whole 41-byte blocks only.
TEST(NnueFormat, DescrambleLeavesTheTail) {
  std::vector<uint8_t> buf(100);
  for (size_t i = 0; i < buf.size(); i++) buf[i] = uint8_t(i * 7);
  auto orig = buf;
  xnnue::descramble(buf.data(), buf.size());
  for (size_t i = 0; i < 82; i++) EXPECT_EQ(buf[i], uint8_t(orig[i] ^ xnnue::SCRAMBLE_KEY[i % 41])) << i;
  for (size_t i = 82; i < 100; i++) EXPECT_EQ(buf[i], orig[i]) << i;
}

// The magic test: both words must be members; one member alone means a plain stream.
TEST_F(NnueLoader, MagicWordsDecideTheFormat) {
  auto plain = small_plain();
  // The version word is not checked, so a plain stream may begin with a magic value.
  plain[0] = uint8_t(xnnue::MAGIC_SET[4]);
  plain[1] = uint8_t(xnnue::MAGIC_SET[4] >> 8);
  plain[2] = uint8_t(xnnue::MAGIC_SET[4] >> 16);
  plain[3] = uint8_t(xnnue::MAGIC_SET[4] >> 24);
  ASSERT_FALSE(xnnue::is_magic(xnnue::get_u32(plain.data() + 4)));
  {
    xnnue::MemorySource src(plain.data(), plain.size());
    EXPECT_TRUE(xnnue::read_network_file(src));
  }
  // With both words magic it is taken as a wrapped file, which it is not.
  for (int i = 0; i < 4; i++) plain[4 + i] = plain[i];
  xnnue::MemorySource src(plain.data(), plain.size());
  EXPECT_FALSE(xnnue::read_network_file(src));
  for (uint32_t w : xnnue::MAGIC_SET) EXPECT_TRUE(xnnue::is_magic(w));
  EXPECT_FALSE(xnnue::is_magic(0x05F88ECE));
  EXPECT_FALSE(xnnue::is_magic(0xFFFFFFFF));
}

// Lying lengths in the wrapper and the packed blob fail cleanly.
TEST_F(NnueLoader, WrapperLengthsAreChecked) {
  const auto& plain = small_plain();
  auto good = xnnue::wrap_network(plain, xnnue::MAGIC_SET[1], xnnue::MAGIC_SET[2], 1, 5);
  ASSERT_NE((good.size() - 16) % 41, 0u);  // the payload ends in an unscrambled tail
  auto load = [](const std::vector<uint8_t>& bytes) {
    xnnue::MemorySource src(bytes.data(), bytes.size());
    return xnnue::read_network_file(src) != nullptr;
  };
  ASSERT_TRUE(load(good));
  auto set32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = uint8_t(v >> (8 * i));
  };
  const uint32_t c = xnnue::get_u32(good.data() + 8), m = xnnue::get_u32(good.data() + 12);
  struct Lie {
    size_t at;  // offset of the word in the file
    uint32_t value;
    bool scrambled;  // inside the payload
  };
  const Lie lies[] = {
      {8, m + 1, false},          // c beyond the payload
      {12, m + 1, false},         // payload longer than the file
      {12, 0xFFFFFFFF, false},
      {16, 0xFFFFFFFF, true},     // inflated size absurd
      {16, uint32_t(plain.size() - 1), true},  // inflated size too small for the data
      {20, c - 7, true},          // zlib length beyond c - 8
      {20, 0, true},
  };
  for (const auto& lie : lies) {
    auto bad = good;
    uint32_t v = lie.value;
    if (lie.scrambled)
      for (int i = 0; i < 4; i++) v ^= uint32_t(uint8_t(xnnue::SCRAMBLE_KEY[(lie.at - 16 + i) % 41])) << (8 * i);
    set32(bad, lie.at, v);
    EXPECT_FALSE(load(bad)) << "word at " << lie.at;
  }
}

// Cut and corrupted files never crash or read out of bounds (run under the
// address sanitizer); a plain file cut anywhere before its end fails, and
// bytes after the output weights are ignored.
TEST_F(NnueLoader, TruncatedAndCorruptedFilesFailSafely) {
  const auto& plain = small_plain();
  auto load = [](const std::vector<uint8_t>& bytes) {
    xnnue::MemorySource src(bytes.data(), bytes.size());
    return xnnue::read_network_file(src) != nullptr;
  };
  std::vector<size_t> cuts;
  for (size_t n = 0; n < 300; n++) cuts.push_back(n);
  for (size_t n = 300; n < plain.size(); n += 104729) cuts.push_back(n);
  for (size_t back = 1; back < 200; back++) cuts.push_back(plain.size() - back);
  for (size_t n : cuts) {
    std::vector<uint8_t> cut(plain.begin(), plain.begin() + long(n));
    EXPECT_FALSE(load(cut)) << "plain cut at " << n;
  }
  auto longer = plain;
  longer.insert(longer.end(), 1000, 0xEE);
  EXPECT_TRUE(load(longer));

  auto wrapped = xnnue::wrap_network(plain, xnnue::MAGIC_SET[7], xnnue::MAGIC_SET[8], 1, 30);
  for (size_t n = 0; n < wrapped.size(); n += (n < 64 ? 1 : 7919)) {
    std::vector<uint8_t> cut(wrapped.begin(), wrapped.begin() + long(n));
    EXPECT_FALSE(load(cut)) << "wrapped cut at " << n;
  }
  // Bit flips: anywhere in the headers, and spread over the data.
  uint64_t s = 12345;
  auto rnd = [&s] {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return s >> 33;
  };
  for (int i = 0; i < 160; i++) {
    bool wrap = i % 2 == 1;
    auto bad = wrap ? wrapped : plain;
    size_t at = i < 100 ? size_t(rnd() % 64) : size_t(rnd() % bad.size());
    bad[at] ^= uint8_t(1u << (rnd() % 8));
    load(bad);  // either outcome is fine; it must not crash
    if (wrap && i >= 100) {
      EXPECT_FALSE(load(bad)) << "checksummed data flipped at " << at;
    }
  }
}

// A load that changes the flip flag rebuilds the current game's piece codes, so
// the root is evaluated as if it had been set up under the new network.
TEST_F(NnueLoader, FlipChangeRebuildsTheCurrentGame) {
  TempFile clear_net(test::plain_net(64, 32), "clear"), set_net(test::plain_net(256, 24), "set");
  captured([&] { xnnue::load_network_file(clear_net.path); });
  ASSERT_FALSE(xnnue::g_flip);
  ASSERT_TRUE(position_command({"position", "startpos", "moves", "g1f3", "d7d5", "g2g3"}));
  const std::string line = "setoption name WeightsFile value " + set_net.path;
  captured([&] { dispatch_command(split_tokens(line), line); });
  ASSERT_TRUE(xnnue::g_flip);
  Position fresh;
  set_fen(fresh, "rnbqkbnr/ppp1pppp/8/3p4/8/5NP1/PPPPPP1P/RNBQKB1R b KQkq - 0 2");
  EXPECT_EQ(xnnue::network_evaluate(game_history[game_length]), xnnue::network_evaluate(fresh));
}

// The "nnue" command prints the scaled score, or an info line without a network.
TEST_F(NnueLoader, NnueCommand) {
  std::vector<std::string> pos = {"position", "startpos", "moves", "e2e4", "c7c5", "g1f3"};
  ASSERT_TRUE(position_command(pos));
  auto o = captured([] { dispatch_command({"nnue"}, "nnue"); });
  EXPECT_EQ(o.out.rfind("info string ", 0), 0u) << o.out;

  TempFile f(test::plain_net(256, 24));
  captured([&] { xnnue::load_network_file(f.path); });
  ASSERT_TRUE(xnnue::network_ready());
  o = captured([] { dispatch_command({"nnue"}, "nnue"); });
  // Fresh position built after the load, evaluated with the network directly.
  Position p;
  set_fen(p, "rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2");
  long long v = (long long)(double(int64_t(xnnue::network_evaluate(p)) * opt::nnue_scale) * 0.01);
  v = v < -25000 ? -25000 : v > 25000 ? 25000 : v;
  EXPECT_EQ(o.out, std::to_string(v) + "\n");
  int score = 0;
  ASSERT_TRUE(xnnue::network_score(p, 1000000, score));
  if (xnnue::network_evaluate(p) != 0) {
    EXPECT_EQ(std::abs(score), 25000);
  }
}

}  // namespace
}  // namespace quorix
