#include "eval/tuner.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "eval/eval_internal.h"
#include "eval/evaluate.h"

namespace quorix::tune {

namespace {

bool valid_placement(const std::string& s) {
  int kings[2] = {0, 0}, squares = 0, ranks = 1;
  for (char c : s) {
    if (c == '/') {
      if (squares != 8) return false;
      squares = 0;
      ranks++;
    } else if (c >= '1' && c <= '8') {
      squares += c - '0';
    } else if (std::strchr("pnbrqkPNBRQK", c)) {
      squares++;
      if (c == 'K') kings[0]++;
      if (c == 'k') kings[1]++;
    } else {
      return false;
    }
    if (squares > 8) return false;
  }
  return ranks == 8 && squares == 8 && kings[0] == 1 && kings[1] == 1;
}

bool parse_result(std::string t, double& r) {
  while (!t.empty() && std::strchr("[]\"';,", t.back())) t.pop_back();
  size_t b = 0;
  while (b < t.size() && std::strchr("[]\"';,", t[b])) b++;
  t = t.substr(b);
  if (t == "1-0") r = 1.0;
  else if (t == "0-1") r = 0.0;
  else if (t == "1/2-1/2") r = 0.5;
  else {
    if (t.empty()) return false;
    char* end = nullptr;
    r = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !(r >= 0.0 && r <= 1.0)) return false;
  }
  return true;
}

double sigmoid(double k, int score) { return 1.0 / (1.0 + std::pow(10.0, -k * score / 400.0)); }

int white_score(Position& p) {
  int v = classical(p, -35000, 35000, nullptr);
  return p.side() == WHITE ? v : -v;
}

}  // namespace

bool parse_line(const std::string& line, std::string& fen, double& result) {
  std::istringstream in(line);
  std::vector<std::string> tok;
  for (std::string t; in >> t;) tok.push_back(t);
  if (tok.size() < 3 || tok.size() > 7 || tok[0][0] == '#') return false;
  if (tok[1] != "w" && tok[1] != "b") return false;
  if (!valid_placement(tok[0]) || !parse_result(tok.back(), result)) return false;
  fen.clear();
  for (size_t i = 0; i + 1 < tok.size(); i++) fen += (i ? " " : "") + tok[i];
  return true;
}

size_t load_samples(const std::string& path, std::vector<Sample>& out, size_t* skipped) {
  std::ifstream in(path);
  size_t added = 0, bad = 0;
  std::string line, fen;
  while (std::getline(in, line)) {
    double r = 0;
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t\r")] == '#') continue;
    if (!parse_line(line, fen, r)) {
      bad++;
      continue;
    }
    out.emplace_back();
    Sample& s = out.back();
    set_fen(s.pos, fen.c_str());
    s.pos.mat_table = nullptr;  // the constants change between evaluations: no caches
    s.pos.pawn_table = nullptr;
    s.result = float(r);
    added++;
  }
  if (skipped) *skipped = bad;
  return added;
}

void refresh(std::vector<Sample>& data) {
  apply_eval_settings();
  for (Sample& s : data) s.pos.psq = compute_psq(s.pos);
}

double mean_loss(std::vector<Sample>& data, double k) {
  if (data.empty()) return 0;
  double sum = 0;
  for (Sample& s : data) {
    double d = s.result - sigmoid(k, white_score(s.pos));
    sum += d * d;
  }
  return sum / double(data.size());
}

double fit_k(std::vector<Sample>& data) {
  // Golden-section search; the loss is unimodal in k for any sensible evaluation.
  double a = 0.05, b = 4.0;
  const double g = 0.6180339887498949;
  double c = b - g * (b - a), d = a + g * (b - a);
  double fc = mean_loss(data, c), fd = mean_loss(data, d);
  for (int i = 0; i < 40; i++) {
    if (fc < fd) {
      b = d, d = c, fd = fc;
      c = b - g * (b - a);
      fc = mean_loss(data, c);
    } else {
      a = c, c = d, fc = fd;
      d = a + g * (b - a);
      fd = mean_loss(data, d);
    }
  }
  return (a + b) / 2;
}

double tune(std::vector<Sample>& data, double k, const Options& opt, std::FILE* log) {
  struct Slot {
    const TunableParam* param;
    int index;
  };
  std::vector<Slot> slots;
  for (const TunableParam* p = tunable_params(); p->name; p++) {
    bool chosen = opt.groups.empty();
    for (const std::string& g : opt.groups) chosen |= std::strncmp(p->name, g.c_str(), g.size()) == 0;
    if (chosen)
      for (int i = 0; i < p->count; i++) slots.push_back({p, i});
  }
  refresh(data);
  // Ridge penalty: reg * sum of squared moves away from the starting values.
  std::vector<int> start;
  for (const Slot& s : slots) start.push_back(s.param->values[s.index]);
  double penalty = 0;
  double best = mean_loss(data, k);
  if (log) std::fprintf(log, "tuning %zu values on %zu positions, k %.4f, loss %.8f\n", slots.size(), data.size(), k, best);
  for (int pass = 0; pass < opt.passes; pass++) {
    int changed = 0;
    for (size_t i = 0; i < slots.size(); i++) {
      const Slot& s = slots[i];
      int& v = s.param->values[s.index];
      const int orig = v;
      const double d0 = orig - start[i];
      bool better = false;
      for (int dir : {+1, -1}) {
        v = orig + dir * opt.step;
        const double d1 = v - start[i];
        const double pen = penalty + opt.reg * (d1 * d1 - d0 * d0);
        refresh(data);
        double l = mean_loss(data, k);
        if (l + pen < best + penalty) {
          best = l;
          penalty = pen;
          better = true;
          break;
        }
      }
      if (better) {
        changed++;
      } else {
        v = orig;
      }
    }
    refresh(data);
    if (log) std::fprintf(log, "pass %d: %d values moved, loss %.8f\n", pass + 1, changed, best);
    if (!changed) break;
  }
  return best;
}

void write_params(std::FILE* out) {
  for (const TunableParam* p = tunable_params(); p->name; p++) {
    std::fprintf(out, "%s", p->name);
    for (int i = 0; i < p->count; i++) std::fprintf(out, " %d", p->values[i]);
    std::fprintf(out, "\n");
  }
}

bool read_params(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::string line;
  int lineno = 0;
  std::vector<std::pair<const TunableParam*, std::vector<int>>> staged;  // applied only when all lines parse
  while (std::getline(in, line)) {
    lineno++;
    std::istringstream ls(line);
    std::string name;
    if (!(ls >> name) || name[0] == '#') continue;
    const TunableParam* p = tunable_params();
    while (p->name && name != p->name) p++;
    if (!p->name) {
      error = "line " + std::to_string(lineno) + ": unknown parameter " + name;
      return false;
    }
    std::vector<int> vals;
    for (long v; ls >> v;) {
      if (v < -1000000 || v > 1000000) {
        error = "line " + std::to_string(lineno) + ": value out of range";
        return false;
      }
      vals.push_back(int(v));
    }
    if (int(vals.size()) != p->count || !ls.eof()) {
      error = "line " + std::to_string(lineno) + ": " + name + " needs " + std::to_string(p->count) + " numbers";
      return false;
    }
    staged.push_back({p, vals});
  }
  for (const auto& [p, vals] : staged)
    for (int i = 0; i < p->count; i++) p->values[i] = vals[size_t(i)];
  return true;
}

}  // namespace quorix::tune
