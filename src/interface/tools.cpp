// Network tools: "nneval" writes evaluations and move probabilities for a file of
// FENs, "nntest" checks that two separate computations of them agree, "nndebug"
// prints the evaluations of a few opening positions.
#include "interface/tools.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "eval/evaluate.h"
#include "interface/commands.h"
#include "interface/options.h"
#include "interface/uci.h"
#include "search/see.h"
#include "xnnue/network.h"

namespace quorix {

namespace {

constexpr int INF = 32500;
constexpr int Q_PLIES = 8;
// A move this far below the best has a probability below exp(-15), about 3e-7.
constexpr int POLICY_CUTOFF = int(15 * POLICY_TEMPERATURE);  // quiescence depth cap: checks and long capture chains end here

// Opening lines (UCI move text from the start position). The test positions are
// the end position of every line first, then the positions along the lines.
const char* const OPENING_LINES[] = {
    "e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6 e1g1 f8e7 f1e1 b7b5 a4b3 d7d6",
    "e2e4 c7c5 g1f3 d7d6 d2d4 c5d4 f3d4 g8f6 b1c3 a7a6 c1e3 e7e5",
    "e2e4 e7e6 d2d4 d7d5 b1c3 g8f6 c1g5 f8e7 e4e5 f6d7 g5e7 d8e7",
    "e2e4 c7c6 d2d4 d7d5 e4e5 c8f5 g1f3 e7e6 f1e2 c6c5 e1g1 b8c6",
    "d2d4 d7d5 c2c4 e7e6 b1c3 g8f6 c1g5 f8e7 e2e3 e8g8 g1f3 h7h6",
    "d2d4 d7d5 c2c4 c7c6 g1f3 g8f6 b1c3 d5c4 a2a4 c8f5 e2e3 e7e6",
    "d2d4 g8f6 c2c4 g7g6 b1c3 f8g7 e2e4 d7d6 g1f3 e8g8 f1e2 e7e5",
    "d2d4 g8f6 c2c4 e7e6 b1c3 f8b4 e2e3 e8g8 f1d3 d7d5 g1f3 c7c5",
    "c2c4 e7e5 b1c3 g8f6 g2g3 d7d5 c4d5 f6d5 f1g2 d5b6 g1f3 b8c6",
    "e2e4 e7e5 g1f3 b8c6 f1c4 f8c5 c2c3 g8f6 d2d4 e5d4 c3d4 c5b4",
    "e2e4 d7d5 e4d5 d8d5 b1c3 d5a5 d2d4 g8f6 g1f3 c8f5 f1c4 e7e6",
    "d2d4 f7f5 g2g3 g8f6 f1g2 e7e6 g1f3 d7d5 e1g1 f8d6 c2c4 c7c6",
    "e2e4 d7d6 d2d4 g8f6 b1c3 g7g6 f2f4 f8g7 g1f3 e8g8 f1d3 b8a6",
    "d2d4 g8f6 c2c4 g7g6 b1c3 d7d5 c4d5 f6d5 e2e4 d5c3 b2c3 f8g7",
    "d2d4 d7d5 c1f4 g8f6 e2e3 c7c5 c2c3 b8c6 b1d2 e7e6 g1f3 f8d6",
    "e2e4 e7e5 g1f3 g8f6 f3e5 d7d6 e5f3 f6e4 d2d4 d6d5 f1d3 b8c6",
};
constexpr size_t MAX_TEST_POSITIONS = 128;

// Legal child of p by m with its check flag set; false when m is illegal.
inline bool make_legal(const Position& p, Position& child, Move m) {
  if (!make_move(p, child, m)) return false;
  child.in_check = king_attacked(child, child.side()) ? 1 : 0;
  return true;
}

// Static value for the search: always the full evaluation (the lazy estimate depends
// on values inherited from the parent, so it would tie the result to the path).
inline int static_value(Position& p) { return evaluate(p, -35000, 35000); }

int quiesce(Position& p, int alpha, int beta, int ply, int qply) {
  uint32_t list[MAX_MOVES];
  int n, best;
  if (p.in_check) {
    if (qply >= Q_PLIES) return static_value(p);
    n = generate_all(p, list);
    best = -MATE + ply;  // stays when no move gets out of check
  } else {
    best = static_value(p);
    if (best >= beta || qply >= Q_PLIES) return best;
    if (best > alpha) alpha = best;
    n = generate_captures(p, list);
  }
  sort_entries(list, n);
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (!p.in_check && see_bad_q(p, m)) continue;  // losing captures
    if (!make_legal(p, child, m)) continue;
    const int v = -quiesce(child, -beta, -alpha, ply + 1, qply + 1);
    if (v > best) {
      best = v;
      if (v > alpha) alpha = v;
      if (v >= beta) break;
    }
  }
  return best;
}

int fixed_search(Position& p, int alpha, int beta, int depth, int ply) {
  if (depth <= 0) return quiesce(p, alpha, beta, ply, 0);
  uint32_t list[MAX_MOVES];
  const int n = generate_all(p, list);
  sort_entries(list, n);
  Position child;
  int best = -INF;
  bool any = false;
  for (int i = 0; i < n; i++) {
    if (!make_legal(p, child, entry_move(list[i]))) continue;
    any = true;
    const int v = -fixed_search(child, -beta, -alpha, depth - 1, ply + 1);
    if (v > best) {
      best = v;
      if (v > alpha) alpha = v;
      if (v >= beta) break;
    }
  }
  if (!any) return p.in_check ? -MATE + ply : 0;
  return best;
}

// The evaluation reached through the network's incremental update along p's
// parents (each parent was evaluated before), or the classical evaluation.
int incremental_evaluation(Position& p) {
  if (!xnnue::network_ready()) return evaluate(p, -35000, 35000);
  const double v = double(int64_t(xnnue::network_evaluate(p)) * opt::nnue_scale) * 0.01;
  const long long t = (long long)v;
  return int(t < -25000 ? -25000 : t > 25000 ? 25000 : t);
}

void print_policy(const std::vector<MoveProbability>& moves) {
  std::printf("\npolicy:\n");
  for (const MoveProbability& m : moves) std::printf("%s %.5f\n", m.text, m.prob);
}

bool same_policy(const std::vector<MoveProbability>& a, const std::vector<MoveProbability>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i].move != b[i].move || std::fabs(a[i].prob - b[i].prob) >= 1e-6) return false;
  return true;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) b++;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) e--;
  return s.substr(b, e - b);
}

}  // namespace

const std::vector<ToolTestPosition>& tool_test_positions() {
  static const std::vector<ToolTestPosition> list = [] {
    std::vector<ToolTestPosition> finals, along;
    std::vector<std::string> seen;
    char fen[128];
    Position cur, next;
    for (const char* line : OPENING_LINES) {
      set_fen(cur, START_FEN);
      std::vector<std::string> done;
      bool final_is_new = false;
      for (const std::string& mv : split_tokens(line)) {
        if (!apply_move_text(cur, next, mv.c_str())) break;
        std::memcpy(static_cast<void*>(&cur), &next, sizeof(Position));
        cur.his = nullptr;
        done.push_back(mv);
        get_fen(cur, fen);
        final_is_new = std::find(seen.begin(), seen.end(), fen) == seen.end();
        if (!final_is_new) continue;
        seen.emplace_back(fen);
        along.push_back({fen, done});
      }
      if (final_is_new) {
        finals.push_back(along.back());
        along.pop_back();
      }
    }
    for (const ToolTestPosition& t : along) finals.push_back(t);
    if (finals.size() > MAX_TEST_POSITIONS) finals.resize(MAX_TEST_POSITIONS);
    return finals;
  }();
  return list;
}

int tool_evaluation(const Position& p) {
  int v;
  if (xnnue::network_score(p, opt::nnue_scale, v)) return v;
  Position copy;
  std::memcpy(static_cast<void*>(&copy), &p, sizeof(Position));
  return evaluate(copy, -35000, 35000);
}

std::vector<MoveProbability> move_probabilities(const Position& p) {
  std::vector<MoveProbability> out;
  uint32_t list[MAX_MOVES];
  const int n = generate_all(p, list);
  sort_entries(list, n);
  Position child;
  int top = -INF;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (!make_legal(p, child, m)) continue;
    MoveProbability mp{};
    mp.move = m;
    // Moves far below the best so far get a bound only: their share rounds to 0.
    const int alpha = std::max(-INF, top - POLICY_CUTOFF);
    mp.score = -fixed_search(child, -INF, -alpha, POLICY_DEPTH - 1, 1);
    top = std::max(top, mp.score);
    move_to_text(p, m, mp.text);
    out.push_back(mp);
  }
  if (out.empty()) return out;
  double sum = 0;
  for (MoveProbability& m : out) sum += (m.prob = std::exp(double(m.score - top) / POLICY_TEMPERATURE));
  for (MoveProbability& m : out) m.prob /= sum;
  std::stable_sort(out.begin(), out.end(),
                   [](const MoveProbability& a, const MoveProbability& b) { return a.prob > b.prob; });
  return out;
}

std::string fen_problem(const std::string& fen) {
  // The separators set_fen itself uses.
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  if (fen.find('\0') != std::string::npos) return "the FEN contains a NUL byte";
  size_t i = 0;
  while (i < fen.size() && blank(fen[i])) i++;
  while (i < fen.size() && !blank(fen[i])) i++;
  while (i < fen.size() && blank(fen[i])) i++;
  if (i >= fen.size()) return "a FEN needs at least the placement and the side to move";
  if ((fen[i] != 'w' && fen[i] != 'b') || (i + 1 < fen.size() && !blank(fen[i + 1])))
    return "the side to move must be \"w\" or \"b\"";
  // set_fen reads a bounded copy of the text: the side to move must fall inside it.
  if (i >= 200) return "the placement field is too long";
  return "";
}

int run_nneval(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s nneval 16|32 file_with_fens output_file\n", argv[0]);
    return 0;
  }
  std::ifstream in(argv[3]);
  if (!in) {
    std::fprintf(stderr, "nneval: cannot open %s\n", argv[3]);
    return 1;
  }
  FILE* out = std::fopen(argv[4], "w");
  if (!out) {
    std::fprintf(stderr, "nneval: cannot create %s\n", argv[4]);
    return 1;
  }
  static Position pos;
  std::string line;
  long line_no = 0, skipped = 0;
  while (std::getline(in, line)) {
    line_no++;
    const std::string fen = trimmed(line);
    if (fen.empty()) continue;
    std::string problem = fen_problem(fen);
    if (problem.empty()) {
      set_fen(pos, fen.c_str());
      problem = position_problem(pos);
    }
    if (!problem.empty()) {
      std::fprintf(stderr, "nneval: line %ld skipped (%s)\n", line_no, problem.c_str());
      skipped++;
      continue;
    }
    std::fprintf(out, "%s\n%.5f\n", fen.c_str(), double(tool_evaluation(pos)));
    for (const MoveProbability& m : move_probabilities(pos)) std::fprintf(out, "%s %.5f ", m.text, m.prob);
    std::fprintf(out, "\n\n");
  }
  const bool write_failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || write_failed) {
    std::fprintf(stderr, "nneval: writing %s failed\n", argv[4]);
    return 1;
  }
  return 0;
}

int run_nntest() {
  const std::vector<ToolTestPosition>& tests = tool_test_positions();
  static Position fresh;
  static Position line[64];
  bool passed = true;
  for (size_t i = 0; i < tests.size() && passed; i++) {
    // First computation: the position set up from its FEN, evaluated from scratch.
    set_fen(fresh, tests[i].fen.c_str());
    const int e1 = tool_evaluation(fresh);
    const std::vector<MoveProbability> p1 = move_probabilities(fresh);

    // Second computation: the position reached by its moves from the start, with the
    // network updated incrementally at every step.
    Position* cur = &line[0];
    set_fen(*cur, START_FEN);
    int e2 = incremental_evaluation(*cur);
    for (size_t k = 0; k < tests[i].moves.size() && k + 1 < 64; k++) {
      Position* next = &line[k + 1];
      if (!apply_move_text(*cur, *next, tests[i].moves[k].c_str())) break;
      cur = next;
      e2 = incremental_evaluation(*cur);
    }
    const std::vector<MoveProbability> p2 = move_probabilities(*cur);

    if (std::fabs(double(e1) - double(e2)) >= 0.001) {
      std::fprintf(stderr, "test position failed: %zu (evals differ)\neval values: %.5f %.5f\n", i, double(e1),
                   double(e2));
      passed = false;
    } else if (!same_policy(p1, p2)) {
      std::printf("test position failed: %zu (policy values differ)\n", i);
      print_policy(p1);
      print_policy(p2);
      passed = false;
    }
  }
  std::printf("nn test %s\n", passed ? "passed" : "failed");
  return passed ? 0 : 1;
}

int run_nndebug() {
  const std::vector<ToolTestPosition>& tests = tool_test_positions();
  static Position pos;
  for (size_t i = 0; i < tests.size() && i < 16; i++) {
    set_fen(pos, tests[i].fen.c_str());
    std::printf("eval: %.5f\n", double(tool_evaluation(pos)));
  }
  return 0;
}

}  // namespace quorix
