// A seeded client that throws random GUI commands at the engine binary (searches of every
// kind, stop, ponderhit, isready, option changes, new games, positions) with random pauses.
// The engine must stay responsive and end cleanly; the sanitizer builds turn any memory
// error or data race into a failure here. "Thread" in the name puts it in the TSan job.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "engine_process.h"

namespace quorix {
namespace {

using test::EngineProcess;

// Seconds of random commands per session (QUORIX_RANDOM_SECONDS overrides; CI's
// sanitizer jobs give it longer).
double session_seconds() {
  const char* s = std::getenv("QUORIX_RANDOM_SECONDS");
  double v = s ? std::atof(s) : 0;
  return v > 0 ? v : 4.0;
}

const char* const FENS[] = {
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
    "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1",
    "8/8/8/8/8/8/1k6/K7 w - - 0 1",
    "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2",
};

const char* const OPTIONS[] = {
    "Threads value 1", "Threads value 2", "Threads value 3", "Hash value 1", "Hash value 4",
    "Clear Hash", "MultiPV value 1", "MultiPV value 3", "Contempt value 0", "Contempt value 40",
    "Use Regular Eval value true", "Use Regular Eval value false", "Selectivity value 100",
    "Selectivity value 150", "Reduction value -35", "Reduction value 0", "Dynamism value 150",
    "Skill value 10", "Skill value 25", "Personality value Aggressive", "Personality value Default",
    "Armageddon value White Must Win", "Armageddon value Off", "Use LMR value false", "Use LMR value true",
    "King Safety value 120", "King Safety value 83", "NNUE_Scale value 80", "Table Memory value 2",
    "Variety value 10", "Variety value 0", "Null Move Pruning value false", "Null Move Pruning value true",
};

std::string random_command(std::mt19937_64& rng) {
  auto pick = [&](int n) { return int(rng() % uint64_t(n)); };
  switch (pick(12)) {
    case 0: return "go depth " + std::to_string(1 + pick(7));
    case 1: return "go movetime " + std::to_string(5 + pick(150));
    case 2: return "go infinite";
    case 3: return "go ponder wtime " + std::to_string(100 + pick(3000)) + " btime " + std::to_string(100 + pick(3000));
    case 4: return "go wtime " + std::to_string(50 + pick(2000)) + " btime " + std::to_string(50 + pick(2000)) +
                   " winc 10 binc 10";
    case 5: return "go nodes " + std::to_string(1 + pick(20000));
    case 6: return pick(2) ? "stop" : "ponderhit";
    case 7: return "isready";
    case 8: return "setoption name " + std::string(OPTIONS[pick(int(std::size(OPTIONS)))]);
    case 9: return "ucinewgame";
    case 10: {
      static const char* const lines[] = {"startpos", "startpos moves e2e4 e7e5 g1f3", "startpos moves e2e4 e7e5 x9x9",
                                          "startpos moves d2d4 d7d5 c2c4 e7e6 b1c3"};
      return "position " + std::string(lines[pick(int(std::size(lines)))]);
    }
    default: return "position fen " + std::string(FENS[pick(int(std::size(FENS)))]);
  }
}

void run_session(uint64_t seed, double seconds) {
  std::mt19937_64 rng(seed);
  EngineProcess e;
  e.send("uci\n");
  ASSERT_EQ(e.wait_for("uciok", 60), "uciok") << "seed " << seed;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  std::string last;
  while (elapsed() < seconds) {
    last = random_command(rng);
    e.send(last + "\n");
    // Pauses from none to a quarter second; reading keeps the engine's pipe from filling.
    const int pause_ms = int(rng() % 4) == 0 ? 0 : int(rng() % 250);
    e.wait_for("\x01", pause_ms / 1000.0);
  }
  // Whatever runs now is stopped; the engine must still answer and end cleanly.
  e.send("stop\nisready\n");
  EXPECT_EQ(e.wait_for("readyok", 60), "readyok") << "seed " << seed << ", last command: " << last;
  e.send("stop\nquit\n");
  EXPECT_EQ(e.wait_exit(60), 0) << "seed " << seed << ", last command: " << last << "\n" << e.stderr_text();
}

TEST(RandomCommandsThread, SeededSessionsEndCleanly) {
  const double seconds = session_seconds();
  for (uint64_t seed : {1u, 2u, 3u}) run_session(seed, seconds / 3);
}

}  // namespace
}  // namespace quorix
