// The network command-line tools "nneval", "nntest" and "nndebug".
//
// Values the tools print:
// - evaluation: the "nnue" command's value of the position (network score times
//   "NNUE Scale" / 100, centipawns from the side to move's view); without a loaded
//   network the classical evaluation answers instead, in the same unit;
// - move probabilities: every legal move is searched to a fixed depth of
//   POLICY_DEPTH plies (the move itself and one full-width reply ply, then a capture
//   quiescence search) with a small deterministic alpha-beta search of its own (no
//   hash table, no draw detection), and the scores s_i go through a softmax
//   p_i = exp((s_i - max) / T) / sum, with T = POLICY_TEMPERATURE centipawns.
#pragma once
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix {

constexpr int POLICY_DEPTH = 2;
constexpr double POLICY_TEMPERATURE = 100.0;

struct MoveProbability {
  Move move;
  int score;         // centipawns, side to move's view
  double prob;
  char text[8];
};

// The opening positions of "nntest" (first 128) and "nndebug" (first 16), each with
// the move line from the start position that reaches it. Built on first use.
struct ToolTestPosition {
  std::string fen;
  std::vector<std::string> moves;
};
const std::vector<ToolTestPosition>& tool_test_positions();

// Evaluation of p as printed by the tools (see above).
int tool_evaluation(const Position& p);
// Probability of every legal move of p, highest first (generation order among equals).
std::vector<MoveProbability> move_probabilities(const Position& p);

// Checks a FEN for the fields the engine needs before set_fen sees it; empty when fine.
std::string fen_problem(const std::string& fen);

// The tools; argv[1] names the tool. Each returns the process exit code.
int run_nneval(int argc, char** argv);
int run_nntest();
int run_nndebug();

}  // namespace quorix
