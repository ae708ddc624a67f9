// quorix_tune: fits the classical evaluation's constants to game results.
// Usage: quorix_tune DATA [--params a,b,...] [--step N] [--passes N] [--reg R] [--load FILE] [--out FILE] [--k K]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/material.h"
#include "eval/eval_params.h"
#include "eval/evaluate.h"
#include "eval/tuner.h"
#include "interface/options.h"
#include "search/thread.h"

using namespace quorix;

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: quorix_tune DATA [--params name,prefix,...] [--step N] [--passes N]\n"
               "                        [--reg R] [--load FILE] [--out FILE] [--k K] [--list]\n"
               "DATA has one position per line: a FEN followed by the game result\n"
               "(1-0, 0-1, 1/2-1/2 or a number between 0 and 1, White's view).\n");
}

bool parse_int(const char* s, int lo, int hi, int& out) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < lo || v > hi) return false;
  out = int(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  std::string data_path, load_path, out_path = "tuned_params.txt";
  tune::Options opt;
  double k = 0;
  bool list_only = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool has_next = i + 1 < argc;
    if (a == "--list") {
      list_only = true;
    } else if (a == "--params" && has_next) {
      std::string v = argv[++i];
      for (size_t p = 0; p <= v.size();) {
        size_t q = v.find(',', p);
        if (q == std::string::npos) q = v.size();
        if (q > p) opt.groups.push_back(v.substr(p, q - p));
        p = q + 1;
      }
    } else if (a == "--step" && has_next) {
      if (!parse_int(argv[++i], 1, 1000, opt.step)) return usage(), 2;
    } else if (a == "--passes" && has_next) {
      if (!parse_int(argv[++i], 1, 100000, opt.passes)) return usage(), 2;
    } else if (a == "--reg" && has_next) {
      opt.reg = std::atof(argv[++i]);
      if (!(opt.reg >= 0 && opt.reg < 1)) return usage(), 2;
    } else if (a == "--load" && has_next) {
      load_path = argv[++i];
    } else if (a == "--out" && has_next) {
      out_path = argv[++i];
    } else if (a == "--k" && has_next) {
      k = std::atof(argv[++i]);
      if (!(k > 0 && k < 100)) return usage(), 2;
    } else if (a[0] != '-' && data_path.empty()) {
      data_path = a;
    } else {
      usage();
      return 2;
    }
  }

  init_attack_tables();
  init_material_signatures();
  init_thread_records(1);  // positions read their table pointers from thread 0
  // Neutral settings: classical evaluation, no contempt, no noise, default personality.
  opt::use_regular_eval = 1;
  opt::personality = "Default";
  g_contempt[0] = g_contempt[1] = 0;
  g_contempt_mg = 0;
  g_noise_range = 0;
  apply_eval_settings();

  if (!load_path.empty()) {
    std::string err;
    if (!tune::read_params(load_path, err)) {
      std::fprintf(stderr, "%s\n", err.c_str());
      return 1;
    }
  }
  if (list_only) {
    tune::write_params(stdout);
    return 0;
  }
  if (data_path.empty()) {
    usage();
    return 2;
  }

  std::vector<tune::Sample> data;
  size_t skipped = 0;
  size_t n = tune::load_samples(data_path, data, &skipped);
  std::printf("%zu positions read, %zu malformed lines skipped\n", n, skipped);
  if (n == 0) {
    std::fprintf(stderr, "no positions in %s\n", data_path.c_str());
    return 1;
  }
  tune::refresh(data);
  if (k == 0) k = tune::fit_k(data);
  std::printf("k = %.4f, initial loss %.8f\n", k, tune::mean_loss(data, k));
  double loss = tune::tune(data, k, opt, stdout);
  std::printf("final loss %.8f\n", loss);

  std::FILE* f = std::fopen(out_path.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", out_path.c_str());
    return 1;
  }
  tune::write_params(f);
  std::fclose(f);
  std::printf("constants written to %s\n", out_path.c_str());
  return 0;
}
