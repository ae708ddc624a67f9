// Logistic fit of the classical evaluation's constants to game results
// ("Texel" method): used by the tools/tune program and its tests.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix::tune {

struct Sample {
  Position pos;
  float result;  // White's score: 1 win, 0.5 draw, 0 loss (fractions allowed)
};

// One data line: a FEN (4 to 6 fields) followed by the result, which is "1-0", "0-1",
// "1/2-1/2" or a number 0..1, optionally in brackets or quotes. False for blank,
// comment (#) or malformed lines.
bool parse_line(const std::string& line, std::string& fen, double& result);

// Reads a data file; returns the number of samples added. Malformed lines are counted
// in *skipped (when given) and otherwise ignored.
size_t load_samples(const std::string& path, std::vector<Sample>& out, size_t* skipped = nullptr);

// Mean squared error between the results and 1 / (1 + 10^(-k * eval / 400)).
double mean_loss(std::vector<Sample>& data, double k);
// The k that minimises the loss with the current constants.
double fit_k(std::vector<Sample>& data);

struct Options {
  std::vector<std::string> groups;  // parameter names (or prefixes) to tune; empty = all
  int step = 5;                     // tenths of a centipawn per trial step
  int passes = 20;                  // maximum passes over all selected values
  double reg = 0;                   // ridge weight per squared tenth-centipawn of change
};

// Coordinate descent: each selected value is moved by +step or -step while that lowers
// the loss (plus reg times the summed squared changes). Returns the final loss; progress
// lines go to log (may be null).
double tune(std::vector<Sample>& data, double k, const Options& opt, std::FILE* log);

// Writes every tunable constant as "name v1 v2 ..." lines.
void write_params(std::FILE* out);
// Reads lines written by write_params (unknown names or short lines are an error).
bool read_params(const std::string& path, std::string& error);

// Rebuilds the evaluation tables and every sample's piece-square sum after a change.
void refresh(std::vector<Sample>& data);

}  // namespace quorix::tune
