// Constants of the classical evaluation, the personality rows and the start-up
// tables derived from them.
#include <cmath>
#include <cstring>

#include "eval/eval_internal.h"
#include "eval/evaluate.h"
#include "eval/eval_options.h"
#include "search/see.h"

namespace quorix {

Score g_contempt[2] = {0, 0};
int g_contempt_mg = 0;
int g_noise_range = 0;
uint64_t g_noise_seed = 0;
int g_lazy_margin = 500;
int g_positional_weight_mg = 128;
int g_positional_weight_eg = 148;
int g_history_prune_threshold = 23000;
int g_history_offset = 17058;
int g_dynamism_weight_mg = DYNAMISM_NEUTRAL_MG;
int g_dynamism_weight_eg = DYNAMISM_NEUTRAL_EG;
int g_attack_weight[2] = {100, 100};
int g_personality = PERS_DEFAULT;
int g_piece_value_cp[8];
int g_phase_piece_value[97][8];
EvalTables g_et;

//                                  name          dyn  cont  P   N  B  R  Q    ks  mob pas str own opp wing
const PersonalityRow personality_rows[PERS_COUNT] = {
    {"Default",    100,    0, {0, 0, 0, 0, 0, 0},  9, 100, 100, 100, 100, 100, false},
    {"Aggressive", 150,   50, {0, -4, 2, 2, 0, 3}, 9, 115, 95, 90, 125, 100, true},
    {"Defensive",  100,  -50, {0, 5, 0, 0, 0, -2}, 11, 95, 100, 115, 90, 115, false},
    {"Active",     150,   50, {0, 0, 3, 3, 0, 0},  9, 125, 100, 95, 115, 100, true},
    {"Positional", 100,   10, {0, 2, 0, 2, 0, 0},  9, 90, 110, 120, 100, 100, false},
    {"Endgame",    100,    0, {0, 8, 0, 0, 3, 0},  8, 100, 130, 110, 100, 100, false},
    {"Beginner",    80, -100, {0, 0, 5, 0, 0, 10}, 7, 80, 80, 70, 110, 90, false},
    {"Human",      100,  100, {0, 0, 0, 2, 0, 0},  9, 105, 105, 100, 110, 100, true},
};

namespace {

constexpr int BASE_VALUE[6] = {0, 1141, 4296, 4603, 7743, 15030};

// Piece-square constants in tenths of a centipawn, White's view: four values per
// rank (files a..d, e..h mirror them), rank 1 first.
int psq_mg[6][32] = {
    {0, 0, 0, 0,  -55, -10, 25, -45,  5, 10, -45, -30,  -10, -5, 5, 70,
     5, 0, 30, 65,  0, 30, 40, 40,  35, 50, 60, 65,  0, 0, 0, 0},
    {-170, -100, -70, -60,  -80, -55, -20, 0,  -65, 0, 45, 50,  -45, 5, 35, 60,
     -25, 15, 65, 85,  -45, 15, 45, 55,  -65, -30, 5, 20,  -180, -90, -60, -40},
    {-40, -15, -80, -30,  0, 65, 25, -15,  0, 20, 30, 25,  -10, 5, 0, 35,
     -20, 5, 15, 25,  -15, 10, 10, 10,  -25, -10, -5, -10,  -40, -20, -20, -20},
    {-65, -35, 40, 25,  -30, -10, -20, -10,  -25, -10, -10, -5,  -20, -10, -5, 10,
     -10, 0, 0, 10,  -10, 10, 10, 15,  30, 30, 35, 35,  0, 10, 10, 15},
    {-20, -15, -5, 10,  -20, -5, 15, 25,  -15, -5, 5, 0,  -25, -10, 5, 10,
     -20, 0, 15, 5,  -10, -5, 0, 0,  -20, -25, -10, -10,  -25, -20, -15, -10},
    {135, 245, 120, -5,  145, 145, 60, 20,  15, 5, -20, -35,  -45, -50, -70, -85,
     -70, -80, -100, -120,  -90, -100, -120, -140,  -100, -110, -130, -150,  -110, -120, -140, -160},
};
int psq_eg[6][32] = {
    {0, 0, 0, 0,  -20, 5, 0, -5,  -15, -15, -20, 0,  15, 0, 0, 5,
     35, 20, 20, 40,  60, 70, 60, 55,  115, 100, 90, 95,  0, 0, 0, 0},
    {-90, -65, -40, -35,  -60, -40, -15, -10,  -45, -10, 10, 25,  -35, 5, 25, 45,
     -30, 0, 40, 45,  -40, -5, 15, 30,  -60, -30, -5, 0,  -90, -60, -40, -30},
    {-40, -25, -30, -10,  -20, 10, -5, -5,  -15, 5, 20, 15,  -15, 10, 10, 20,
     -15, 5, 15, 15,  -20, 5, 5, 15,  -20, -10, -5, 0,  -40, -20, -20, -15},
    {-30, -15, 0, -25,  -10, -5, -10, -15,  0, 0, 0, -5,  0, 5, 5, 5,
     10, 5, 5, 10,  5, 10, 10, 15,  35, 25, 20, 25,  15, 10, 10, 10},
    {-50, -40, -30, -20,  -40, -25, -15, -5,  -25, -10, 5, 5,  -20, -5, 10, 30,
     -20, -5, 15, 25,  -25, -10, 5, 10,  -35, -20, -10, -5,  -50, -35, -25, -20},
    {-85, -45, -35, -40,  -35, -10, 10, 0,  -30, 10, 25, 35,  -15, 25, 35, 55,
     -10, 30, 45, 50,  -15, 30, 40, 45,  -30, 0, 20, 20,  -70, -40, -25, -15},
};

// Mobility: value(n) = k * (sqrt(n) - sqrt(c)) for knight, bishop, rook, queen.
int mob_mg[4] = {155, 145, 120, 100};
int mob_eg[4] = {125, 130, 170, 125};
int mob_center[4] = {9, 16, 21, 47};
constexpr int MOB_MAX[4] = {16, 13, 14, 27};

// Threat tables by attacked type (P, N, B, R, Q), mg then eg.
int threat_pawn[10] = {0, 280, 275, 400, 440,  0, 250, 250, 300, 350};
int threat_minor[10] = {25, 100, 100, 275, 295,  75, 120, 120, 345, 450};
int threat_hanging[10] = {60, 150, 150, 115, 245,  115, 150, 150, 195, 350};

// King safety: zone weights by attacker type (N, B, R, Q); danger curve; checks; ring.
int zone_weight[4] = {8, 8, 4, 6};
int king_danger_k[3] = {30, 5000, 1};  // mg = -min(k0 * u * u / 10, k1); eg = -k2 * u
int check_pen[2] = {145, 55};
int ring_pen[2] = {70, 15};
int shelter_pawn[4] = {9, 3, 1, 0};
int shelter_storm[4] = {-9, 3, 7, 0};

// Passed pawns by relative rank: [0] opponent has pieces, [1] opponent has none.
int passed_mg[2][8] = {{0, 35, 40, 65, 195, 395, 605, 0}, {0, 30, 40, 80, 200, 400, 600, 0}};
int passed_eg[2][8] = {{0, 50, 80, 130, 340, 655, 1015, 0}, {0, 80, 120, 255, 505, 900, 1400, 0}};
// Per rank step above the third rank: free path, defended stop, attacked path (mg, eg).
int passed_extra[6] = {5, 70, 10, 30, -35, 5};
int passed_king[2] = {104, 35};  // endgame: enemy king distance, own king distance

int knight_kdist_mg[8] = {0, 5, -5, -5, -5, -30, -60, -75};
int knight_kdist_eg[8] = {0, 0, 3, 5, -5, -20, -35, -40};
int knight_fg_mg[9] = {0, 10, 10, 5, -5, 5, -5, -25, -10};
int knight_fg_eg[9] = {-20, 35, 25, 10, 0, -5, -20, -35, -50};
int late_eg[9] = {5, -10, 12, 24, 36, 53, 65, 67, 79};
int tempo_ends[2] = {150, 60};     // at phase 96 and phase 0
int phase_scale_pct[2] = {100, 100};  // at phase 96 and phase 0

// Pawn-structure count tables, per count 0..8 (mg, eg interleaved per count).
int pawn_center[18] = {-5, -20, 23, 2, 21, 29, 34, 1, 8, 3, 37, 10, 34, 12, 36, 14, 38, 16};
int pawn_rest[18] = {-5, 0, 8, 9, -14, 18, 4, 7, -8, 1, -5, 25, -17, 24, -14, 28, -16, 32};
int pawn_edge[18] = {15, 15, -10, -25, -10, -10, -25, -35, -20, -45, -25, -50, -30, -60, -35, -70, -40, -80};
int pawn_supported[18] = {15, 5, 5, 5, 28, 15, 30, 23, 60, 41, 58, 42, 64, 48, 70, 52, 74, 56};
int pawn_attacked[18] = {0, 0, -10, -5, -20, -10, -30, -15, -40, -20, -50, -25, -60, -30, -70, -35, -80, -40};
int pawn_isolated[18] = {15, 5, -55, -105, -135, -185, -185, -255, -240, -360, -300, -450, -360, -540, -420, -630,
                         -480, -720};
int king_pawn_dist[8] = {-5, -10, -25, -50, -100, -145, -180, -220};
int rook_file[4] = {295, 140, 120, 50};  // open mg/eg, semi-open mg/eg

const TunableParam TUNABLES[] = {
    {"psq_mg_pawn", psq_mg[0], 32}, {"psq_mg_knight", psq_mg[1], 32}, {"psq_mg_bishop", psq_mg[2], 32},
    {"psq_mg_rook", psq_mg[3], 32}, {"psq_mg_queen", psq_mg[4], 32}, {"psq_mg_king", psq_mg[5], 32},
    {"psq_eg_pawn", psq_eg[0], 32}, {"psq_eg_knight", psq_eg[1], 32}, {"psq_eg_bishop", psq_eg[2], 32},
    {"psq_eg_rook", psq_eg[3], 32}, {"psq_eg_queen", psq_eg[4], 32}, {"psq_eg_king", psq_eg[5], 32},
    {"mob_mg", mob_mg, 4}, {"mob_eg", mob_eg, 4}, {"mob_center", mob_center, 4},
    {"threat_pawn", threat_pawn, 10}, {"threat_minor", threat_minor, 10}, {"threat_hanging", threat_hanging, 10},
    {"zone_weight", zone_weight, 4}, {"king_danger_k", king_danger_k, 3}, {"check_pen", check_pen, 2},
    {"ring_pen", ring_pen, 2}, {"shelter_pawn", shelter_pawn, 4}, {"shelter_storm", shelter_storm, 4},
    {"passed_mg", passed_mg[0], 16}, {"passed_eg", passed_eg[0], 16}, {"passed_extra", passed_extra, 6},
    {"passed_king", passed_king, 2}, {"knight_kdist_mg", knight_kdist_mg, 8},
    {"knight_kdist_eg", knight_kdist_eg, 8}, {"knight_fg_mg", knight_fg_mg, 9}, {"knight_fg_eg", knight_fg_eg, 9},
    {"late_eg", late_eg, 9}, {"tempo_ends", tempo_ends, 2}, {"phase_scale_pct", phase_scale_pct, 2},
    {"pawn_center", pawn_center, 18}, {"pawn_rest", pawn_rest, 18}, {"pawn_edge", pawn_edge, 18},
    {"pawn_supported", pawn_supported, 18}, {"pawn_attacked", pawn_attacked, 18},
    {"pawn_isolated", pawn_isolated, 18}, {"king_pawn_dist", king_pawn_dist, 8}, {"rook_file", rook_file, 4},
    {nullptr, nullptr, 0},
};

void fill_count_table(Score* out, const int* pairs, int p) {
  for (int i = 0; i < 9; i++) out[i] = make_score(pairs[2 * i] * p / 100, pairs[2 * i + 1] * p / 100);
}

int find_personality() {
  for (int i = 0; i < PERS_COUNT; i++)
    if (g_eval_options.personality == personality_rows[i].name) return i;
  return PERS_DEFAULT;
}

}  // namespace

const TunableParam* tunable_params() { return TUNABLES; }

namespace {

// Everything apply_eval_settings() publishes, built aside first.
struct Settings {
  EvalTables t;
  uint64_t psq[2][8][64];
  int piece_cp[8];
  int capture_cp[6];
  int phase_val[97][8];
  int personality;
};

void build_settings(Settings& s) {
  s.personality = find_personality();
  const PersonalityRow& row = personality_rows[s.personality];
  EvalTables& t = s.t;

  // Material values.
  t.piece_value[0] = t.piece_value[KING] = t.piece_value[7] = 0;
  for (int pt = PAWN; pt <= QUEEN; pt++) {
    t.piece_value[pt] = BASE_VALUE[pt] * (100 + row.piece_pct[pt]) / 100;
    s.piece_cp[pt] = t.piece_value[pt] / 10;
    s.capture_cp[pt - 1] = s.piece_cp[pt];
  }
  s.piece_cp[0] = s.piece_cp[KING] = s.piece_cp[7] = 0;

  // Piece-square tables (positional part only; material is evaluated separately).
  std::memset(t.psq, 0, sizeof(t.psq));
  for (int pt = PAWN; pt <= KING; pt++)
    for (int sq = 0; sq < 64; sq++) {
      int f = file_of(sq), r = rank_of(sq);
      int i = r * 4 + (f < 4 ? f : 7 - f);
      t.psq[pt][sq] = make_score(psq_mg[pt - 1][i], psq_eg[pt - 1][i]);
    }
  for (int pt = 0; pt < 8; pt++)
    for (int sq = 0; sq < 64; sq++) {
      s.psq[WHITE][pt][sq] = uint64_t(t.psq[pt][sq]);
      s.psq[BLACK][pt][sq] = uint64_t(-t.psq[pt][sq ^ 56]);
    }
  for (int ph = 0; ph <= 96; ph++)
    for (int pt = 0; pt < 8; pt++) {
      if (pt < PAWN || pt > QUEEN) { s.phase_val[ph][pt] = 0; continue; }
      long mg = 0, eg = 0;
      for (int sq = 8; sq < 56; sq++) mg += mg_value(t.psq[pt][sq]), eg += eg_value(t.psq[pt][sq]);
      long pos = (mg * ph + eg * (96 - ph)) / (48L * 96);
      s.phase_val[ph][pt] = int((t.piece_value[pt] + pos) / 10);
    }

  // Mobility.
  for (int k = 0; k < 4; k++)
    for (int n = 0; n < 32; n++) {
      double d = std::sqrt(double(n > MOB_MAX[k] ? MOB_MAX[k] : n)) - std::sqrt(double(mob_center[k]));
      t.mobility[k][n] = make_score(int(std::lround(mob_mg[k] * d * row.mobility_pct / 100)),
                                    int(std::lround(mob_eg[k] * d * row.mobility_pct / 100)));
    }

  // Threats.
  for (int pt = 0; pt < 8; pt++) t.threat_pawn[pt] = t.threat_minor[pt] = t.threat_hanging[pt] = 0;
  for (int pt = PAWN; pt <= QUEEN; pt++) {
    t.threat_pawn[pt] = make_score(threat_pawn[pt - 1], threat_pawn[pt + 4]);
    t.threat_minor[pt] = make_score(threat_minor[pt - 1], threat_minor[pt + 4]);
    t.threat_hanging[pt] = make_score(threat_hanging[pt - 1], threat_hanging[pt + 4]);
  }

  // King safety, scaled by the "King Safety" option (83 = neutral).
  const int ks = g_eval_options.king_safety;
  for (int pt = 0; pt < 8; pt++) t.zone_weight[pt] = 0;
  for (int pt = KNIGHT; pt <= QUEEN; pt++) t.zone_weight[pt] = zone_weight[pt - KNIGHT];
  for (int u = 0; u < KING_DANGER_SIZE; u++) {
    int mg = king_danger_k[0] * u * u / 10;
    if (mg > king_danger_k[1]) mg = king_danger_k[1];
    int eg = king_danger_k[2] * u;
    t.king_danger[u] = make_score(-mg * ks / 83, -eg * ks / 83);
  }
  for (int n = 0; n < 8; n++) t.check_penalty[n] = make_score(-check_pen[0] * n * ks / 83, -check_pen[1] * n);
  for (int n = 0; n < 9; n++) t.ring_penalty[n] = make_score(-ring_pen[0] * n * ks / 83, -ring_pen[1] * n);
  t.ks_start = row.king_safety_start;
  for (int i = 0; i < 4; i++) t.shelter_pawn[i] = shelter_pawn[i], t.shelter_storm[i] = shelter_storm[i];

  // Passed pawns.
  for (int k = 0; k < 2; k++)
    for (int r = 0; r < 8; r++)
      t.passed[k][r] = make_score(passed_mg[k][r] * row.passed_pct / 100, passed_eg[k][r] * row.passed_pct / 100);
  for (int r = 0; r < 8; r++) {
    int w = r > 2 ? r - 2 : 0;
    t.passed_free[r] = make_score(passed_extra[0] * w, passed_extra[1] * w);
    t.passed_defended[r] = make_score(passed_extra[2] * w, passed_extra[3] * w);
    t.passed_attacked[r] = make_score(passed_extra[4] * w, passed_extra[5] * w);
  }
  t.passed_king_opp = passed_king[0] * row.passed_pct / 100;
  t.passed_king_own = passed_king[1] * row.passed_pct / 100;

  // Knights, late endgame, tempo, phase scale.
  for (int d = 0; d < 8; d++) t.knight_king_distance[d] = make_score(knight_kdist_mg[d], knight_kdist_eg[d]);
  for (int b = 0; b < 9; b++) {
    t.knight_file_group[b] = make_score(knight_fg_mg[b], knight_fg_eg[b]);
    t.late_endgame[b] = make_score(0, late_eg[b]);
  }
  for (int ph = 0; ph <= 96; ph++) {
    t.tempo[ph] = (tempo_ends[0] * ph + tempo_ends[1] * (96 - ph)) / 96;
    t.phase_scale[ph] = float(phase_scale_pct[0] * ph + phase_scale_pct[1] * (96 - ph)) / (96.0f * 100.0f);
  }

  // Pawn structure.
  const int sp = row.structure_pct;
  fill_count_table(t.pawn_center, pawn_center, sp);
  fill_count_table(t.pawn_rest, pawn_rest, sp);
  fill_count_table(t.pawn_edge, pawn_edge, sp);
  fill_count_table(t.pawn_supported, pawn_supported, sp);
  fill_count_table(t.pawn_attacked, pawn_attacked, sp);
  fill_count_table(t.pawn_isolated, pawn_isolated, sp);
  for (int d = 0; d < 8; d++) t.king_pawn_distance[d] = make_score(0, king_pawn_dist[d] * sp / 100);
  for (int m = 0; m < 256; m++) {
    if (!m) { t.file_group[m] = 0; continue; }
    int lo = __builtin_ctz(unsigned(m)), hi = 31 - __builtin_clz(unsigned(m));
    t.file_group[m] = uint8_t(hi - lo + 1);
  }
  t.rook_open = make_score(rook_file[0], rook_file[1]);
  t.rook_semi_open = make_score(rook_file[2], rook_file[3]);
  t.king_wing_term = row.king_wing_term;
}

}  // namespace

void apply_eval_settings() {
  static Settings next;  // static: zero padding, so equal settings compare equal
  static bool published = false;
  build_settings(next);
  const bool same = published && std::memcmp(&next.t, &g_et, sizeof(g_et)) == 0 &&
                    std::memcmp(next.psq, psq_table, sizeof(next.psq)) == 0 &&
                    std::memcmp(next.phase_val, g_phase_piece_value, sizeof(next.phase_val)) == 0 &&
                    std::memcmp(next.piece_cp, g_piece_value_cp, sizeof(next.piece_cp)) == 0 &&
                    next.personality == g_personality;
  // Search threads read these tables without locks: callers run it only between searches
  // (option changes during a search wait for its end).
  if (same) return;
  std::memcpy(&g_et, &next.t, sizeof(g_et));
  std::memcpy(psq_table, next.psq, sizeof(next.psq));
  std::memcpy(g_phase_piece_value, next.phase_val, sizeof(next.phase_val));
  std::memcpy(g_piece_value_cp, next.piece_cp, sizeof(next.piece_cp));
  g_personality = next.personality;
  set_capture_values(next.capture_cp);
  published = true;
}

}  // namespace quorix
