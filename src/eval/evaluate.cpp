// The evaluation entry: network or classical evaluation, contempt, noise, clamp.
#include "eval/evaluate.h"

#include <cmath>

#include "eval/eval_internal.h"
#include "eval/eval_options.h"
#include "xnnue/network.h"

namespace quorix {

int (*g_network_stub)(Position&) = nullptr;

namespace {

inline int apply_noise(const Position& p, int v) {
  if (g_noise_range != 0) {
    uint64_t r = uint64_t(int64_t(g_noise_range));
    v = v - g_noise_range / 2 + int((g_noise_seed ^ p.key) % r);
  }
  return v;
}

inline int phase_of(const Position& p) { return p.phase > 96 ? 96 : p.phase < 0 ? 0 : p.phase; }

}  // namespace

int finish_network_score(const Position& p, int v) {
  v = int(double(v * g_eval_options.nnue_scale) * 0.01);
  const int phase = phase_of(p);
  const Score cw = g_contempt[WHITE];
  const int sign = p.side() == WHITE ? 1 : -1;
  v = v * sign;
  v += (mg_value(cw) * phase + eg_value(cw) * (96 - phase)) / 960;
  v = v * sign;
  v = apply_noise(p, v);
  if (v > 25000) v = 25000;
  if (v < -25000) v = -25000;
  return v;
}

int evaluate(Position& p, int alpha, int beta, bool* lazy) {
  if (lazy) *lazy = false;
  const bool net = g_network_stub != nullptr || xnnue::network_ready();
  // Without a loaded network the classical evaluation answers, as with "Use Regular Eval".
  if (classical_eval_selected() || !net) return apply_noise(p, classical(p, alpha, beta, lazy));

  const int phase = phase_of(p);
  const bool pawn_on_seventh = (p.pieces(WHITE, PAWN) & RANK_7) || (p.pieces(BLACK, PAWN) & RANK_2);
  if (phase >= 7 && !pawn_on_seventh) {
    float x = 0;
    const int m = material(p, x);
    const Score psq = Score(p.psq);
    const int psq_tapered = mg_value(psq) * phase + eg_value(psq) * (96 - phase);
    int est = int(std::fmaf(float(psq_tapered), x, float(m))) / 960;
    if (est > g_lazy_margin || est < -g_lazy_margin) {
      if (p.side() == BLACK) est = -est;
      if (est > beta + 50 || est < alpha - 50) return classical(p, alpha, beta, lazy);
    }
  }
  const int raw = g_network_stub ? g_network_stub(p) : xnnue::network_evaluate(p);
  return finish_network_score(p, raw);
}

}  // namespace quorix
