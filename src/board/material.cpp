#include "board/material.h"

#include <chrono>
#include <cstring>

namespace quorix {

MatSignature mat_signatures[MAT_SIG_ENTRIES];

namespace {

struct SigRow {
  const char* pieces;
  int value;
  float scale;
  SpecialEval special;
};

// Letters without kings: capitals belong to the side the value favours. B is a
// light-square bishop, C a dark-square one; other letters are ignored.
constexpr SigRow SIG_ROWS[] = {
    {"", 0, 0.0f, SE_NONE},          {"B", 10, 0.0f, SE_NONE},        {"C", 10, 0.0f, SE_NONE},
    {"BCb", 60, 0.02f, SE_NONE},     {"BCc", 60, 0.02f, SE_NONE},     {"BC", 6000, 1.0f, SE_NONE},
    {"BCn", 1000, 0.5f, SE_NONE},    {"BN", 5000, 0.0f, SE_KBNK},     {"CN", 5000, 0.0f, SE_KBNK},
    {"BNb", 30, 0.03f, SE_NONE},     {"CNb", 30, 0.03f, SE_NONE},     {"BNc", 30, 0.03f, SE_NONE},
    {"CNc", 30, 0.03f, SE_NONE},     {"BNn", 40, 0.03f, SE_NONE},     {"CNn", 40, 0.03f, SE_NONE},
    {"NP", 2000, 0.35f, SE_KNPK},    {"Bb", 0, 0.0f, SE_NONE},        {"Cb", 0, 0.0f, SE_NONE},
    {"Bc", 0, 0.0f, SE_NONE},        {"Cc", 0, 0.0f, SE_NONE},        {"Bn", 0, 0.0f, SE_NONE},
    {"Cn", 0, 0.0f, SE_NONE},        {"Bp", -20, 0.05f, SE_NONE},     {"Bpp", -125, 0.15f, SE_NONE},
    {"Cpp", -125, 0.15f, SE_NONE},   {"Bppp", -400, 0.35f, SE_NONE},  {"Cppp", -400, 0.35f, SE_NONE},
    {"Cp", -20, 0.05f, SE_NONE},     {"N", 10, 0.0f, SE_NONE},        {"NN", 25, 0.02f, SE_NONE},
    {"NNb", 20, 0.02f, SE_NONE},     {"NNc", 20, 0.02f, SE_NONE},     {"NNp", 400, 0.05f, SE_NONE},
    {"NNn", 20, 0.02f, SE_NONE},     {"Nn", 0, 0.0f, SE_NONE},        {"Np", -80, 0.1f, SE_NONE},
    {"Npp", -700, 0.5f, SE_NONE},    {"P", 0, 0.0f, SE_KPK},          {"Q", 8000, 1.0f, SE_NONE},
    {"Qb", 6000, 1.0f, SE_NONE},     {"Qc", 6000, 1.0f, SE_NONE},     {"Qn", 5000, 1.0f, SE_NONE},
    {"Qq", 0, 0.05f, SE_NONE},       {"Qr", 3000, 0.75f, SE_NONE},    {"R", 7000, 1.0f, SE_NONE},
    {"RPr", 500, 0.5f, SE_KRPKR},    {"RNr", 400, 0.25f, SE_NONE},    {"RNrp", 200, 0.35f, SE_NONE},
    {"RBr", 500, 0.25f, SE_NONE},    {"RCr", 500, 0.25f, SE_NONE},    {"RBrp", 250, 0.35f, SE_NONE},
    {"RCrp", 250, 0.35f, SE_NONE},   {"Rbp", 150, 0.35f, SE_NONE},    {"Rcp", 150, 0.35f, SE_NONE},
    {"Rnp", 125, 0.35f, SE_NONE},    {"Rb", 300, 0.15f, SE_NONE},     {"Rc", 300, 0.15f, SE_NONE},
    {"Rn", 250, 0.15f, SE_NONE},     {"Rr", 0, 0.05f, SE_NONE},       {"RRNqb", 54, 0.03f, SE_NONE},
    {"RRNqc", 54, 0.03f, SE_NONE},   {"RBNrb", 867, 0.43f, SE_NONE},  {"RBNrc", 867, 0.43f, SE_NONE},
    {"RCNrb", 867, 0.43f, SE_NONE},  {"RCNrc", 867, 0.43f, SE_NONE},  {"RBNqn", 704, 0.35f, SE_NONE},
    {"RBNrn", 1146, 0.57f, SE_NONE}, {"RCNqn", 704, 0.35f, SE_NONE},  {"RCNrn", 1146, 0.57f, SE_NONE},
    {"RBNqb", 677, 0.34f, SE_NONE},  {"RBNqc", 677, 0.34f, SE_NONE},  {"RCNqb", 677, 0.34f, SE_NONE},
    {"RCNqc", 677, 0.34f, SE_NONE},  {"QBNqn", 550, 0.28f, SE_NONE},  {"QCNqn", 550, 0.28f, SE_NONE},
    {"QBNqb", 432, 0.22f, SE_NONE},  {"QBNqc", 432, 0.22f, SE_NONE},  {"QCNqb", 432, 0.22f, SE_NONE},
    {"QCNqc", 432, 0.22f, SE_NONE},  {"RNNrb", 595, 0.3f, SE_NONE},   {"RNNrc", 595, 0.3f, SE_NONE},
    {"RNNqn", 608, 0.3f, SE_NONE},   {"RNNqb", 741, 0.37f, SE_NONE},  {"RNNqc", 741, 0.37f, SE_NONE},
    {"RNNqr", 453, 0.23f, SE_NONE},  {"RNNrn", 971, 0.49f, SE_NONE},  {"BNNnn", 451, 0.23f, SE_NONE},
    {"CNNnn", 451, 0.23f, SE_NONE},  {"QBNqr", 24, 0.01f, SE_NONE},   {"QCNqr", 24, 0.01f, SE_NONE},
    {"BNNrr", 789, 0.39f, SE_NONE},  {"CNNrr", 789, 0.39f, SE_NONE},  {"QNNqb", 260, 0.13f, SE_NONE},
    {"QNNqc", 260, 0.13f, SE_NONE},  {"RBNqr", 1050, 0.53f, SE_NONE}, {"RCNqr", 1050, 0.53f, SE_NONE},
    {"RNNrr", 34, 0.02f, SE_NONE},   {"RRBqn", 248, 0.12f, SE_NONE},  {"RRCqn", 248, 0.12f, SE_NONE},
    {"RRNrr", 734, 0.37f, SE_NONE},  {"BNNqn", 1319, 0.66f, SE_NONE}, {"CNNqn", 1319, 0.66f, SE_NONE},
    {"RRBqr", 319, 0.16f, SE_NONE},  {"RRCqr", 319, 0.16f, SE_NONE},  {"BNNbn", 373, 0.19f, SE_NONE},
    {"BNNcn", 373, 0.19f, SE_NONE},  {"CNNbn", 373, 0.19f, SE_NONE},  {"CNNcn", 373, 0.19f, SE_NONE},
    {"QNNqr", 147, 0.07f, SE_NONE},  {"BNNkrn", 98, 0.05f, SE_NONE},  {"CNNkrn", 98, 0.05f, SE_NONE},
    {"RRBrr", 981, 0.49f, SE_NONE},  {"RRCrr", 981, 0.49f, SE_NONE},  {"RRBqb", 80, 0.04f, SE_NONE},
    {"RRBqc", 80, 0.04f, SE_NONE},   {"QNNqn", 351, 0.18f, SE_NONE},  {"RRNqn", 133, 0.07f, SE_NONE},
    {"RBNrr", 103, 0.05f, SE_NONE},  {"RCNrr", 103, 0.05f, SE_NONE},  {"BNNrb", 244, 0.12f, SE_NONE},
    {"BNNrc", 244, 0.12f, SE_NONE},  {"CNNrb", 244, 0.12f, SE_NONE},  {"CNNrc", 244, 0.12f, SE_NONE},
    {"qrbkqr", 521, 0.26f, SE_NONE}, {"qrckqr", 521, 0.26f, SE_NONE}, {"qrnkqr", 391, 0.2f, SE_NONE},
    {"-", 0, 0.0f, SE_NONE},
};

// Index of a material-key column for a signature letter, or -1 for letters that
// do not count.
int letter_column(char up) {
  switch (up) {
    case 'P':
      return PAWN * 2;
    case 'N':
      return KNIGHT * 2;
    case 'R':
      return ROOK * 2;
    case 'Q':
      return QUEEN * 2;
    case 'B':
      return 6;  // light-square bishop
    case 'C':
      return 7;  // dark-square bishop
    default:
      return -1;
  }
}

// ---- KPK oracle -------------------------------------------------------------
// Positions with the pawn on files a-d, ranks 2-7 (24 squares), both kings,
// side to move.
constexpr int KPK_SIZE = 2 * 24 * 64 * 64;
uint64_t kpk_bits[KPK_SIZE / 64];
double kpk_seconds = 0;

constexpr int kpk_index(int btm, int wk, int wp, int bk) {
  int pi = (rank_of(wp) - 1) * 4 + file_of(wp);
  return ((btm * 24 + pi) * 64 + wk) * 64 + bk;
}

enum : uint8_t { R_UNKNOWN = 0, R_INVALID, R_DRAW, R_WIN };

// Calls f(black_to_move, pawn rank, pawn, white king, black king) for every
// placement.
template <typename F>
void for_each_kpk(F f) {
  for (int btm = 0; btm < 2; btm++)
    for (int pr = 1; pr <= 6; pr++)
      for (int pf = 0; pf < 4; pf++)
        for (int wk = 0; wk < 64; wk++)
          for (int bk = 0; bk < 64; bk++) f(btm, pr, square_of(pf, pr), wk, bk);
}

void build_kpk() {
  auto t0 = std::chrono::steady_clock::now();
  static uint8_t res[KPK_SIZE];
  // Initial classification.
  for_each_kpk([&](int btm, int pr, int wp, int wk, int bk) {
    uint8_t& r = res[kpk_index(btm, wk, wp, bk)];
    r = R_UNKNOWN;
    if (wk == bk || wk == wp || bk == wp || distance[wk][bk] <= 1) {
      r = R_INVALID;
      return;
    }
    bool black_in_check = (pawn_attacks(WHITE, wp) & sq_bb(bk)) != 0;
    if (!btm) {
      if (black_in_check) {
        r = R_INVALID;
        return;
      }
      int q = wp + 8;
      if (pr == 6 && q != wk && q != bk && (distance[bk][q] > 1 || distance[wk][q] == 1)) r = R_WIN;
    } else {
      Bitboard guarded = king_attacks(wk) | pawn_attacks(WHITE, wp);
      Bitboard esc = king_attacks(bk) & ~guarded;
      if (!esc)
        r = R_DRAW;  // stalemate (a pawn alone never mates)
      else if (esc & sq_bb(wp))
        r = R_DRAW;  // the undefended pawn falls
    }
  });
  // Retrograde passes until nothing changes; what stays unknown is a draw.
  for (bool changed = true; changed;) {
    changed = false;
    for_each_kpk([&](int btm, int pr, int wp, int wk, int bk) {
      uint8_t& r = res[kpk_index(btm, wk, wp, bk)];
      if (r != R_UNKNOWN) return;
      if (!btm) {
        bool any_unknown = false, win = false;
        Bitboard km = king_attacks(wk) & ~sq_bb(wp) & ~king_attacks(bk);
        while (km && !win) {
          uint8_t c = res[kpk_index(1, pop_lsb(km), wp, bk)];
          win = c == R_WIN;
          any_unknown |= c == R_UNKNOWN;
        }
        if (!win && pr < 6) {
          int to = wp + 8;
          if (to != wk && to != bk) {
            uint8_t c = res[kpk_index(1, wk, to, bk)];
            win = c == R_WIN;
            any_unknown |= c == R_UNKNOWN;
            int to2 = wp + 16;
            if (!win && pr == 1 && to2 != wk && to2 != bk) {
              c = res[kpk_index(1, wk, to2, bk)];
              win = c == R_WIN;
              any_unknown |= c == R_UNKNOWN;
            }
          }
        }
        if (win)
          r = R_WIN;
        else if (!any_unknown)
          r = R_DRAW;
      } else {
        bool any_unknown = false, draw = false;
        Bitboard km = king_attacks(bk) & ~king_attacks(wk) & ~pawn_attacks(WHITE, wp);
        while (km && !draw) {
          uint8_t c = res[kpk_index(0, wk, wp, pop_lsb(km))];
          draw = c == R_DRAW;
          any_unknown |= c == R_UNKNOWN;
        }
        if (draw)
          r = R_DRAW;
        else if (!any_unknown)
          r = R_WIN;
      }
      if (r != R_UNKNOWN) changed = true;
    });
  }
  std::memset(kpk_bits, 0, sizeof(kpk_bits));
  for (int i = 0; i < KPK_SIZE; i++)
    if (res[i] == R_WIN) kpk_bits[i >> 6] |= uint64_t(1) << (i & 63);
  kpk_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Square of colour `strong`'s piece seen with the strong side playing up the
// board.
inline int rel(int sq, int strong) { return strong == WHITE ? sq : sq ^ 56; }
inline int first_square(Bitboard b) { return b ? lsb(b) : 0; }
inline int sign_of(int strong) { return strong == WHITE ? 1 : -1; }

}  // namespace

bool kpk_win(int wk, int wp, int bk, bool black_to_move) {
  if (file_of(wp) > 3) {
    wk ^= 7;
    wp ^= 7;
    bk ^= 7;
  }
  if (rank_of(wp) < 1 || rank_of(wp) > 6) return false;
  int i = kpk_index(black_to_move ? 1 : 0, wk, wp, bk);
  return (kpk_bits[i >> 6] >> (i & 63)) & 1;
}

double kpk_build_seconds() { return kpk_seconds; }

void init_material_signatures() {
  static bool done = false;
  if (done) return;
  done = true;
  init_attack_tables();
  build_kpk();
  std::memset(mat_signatures, 0, sizeof(mat_signatures));
  for (int s = 0; s < 2; s++)
    for (const SigRow& row : SIG_ROWS) {
      if (row.pieces[0] == '-') break;
      uint64_t key = 0;
      for (const char* c = row.pieces; *c; c++) {
        bool upper = *c >= 'A' && *c <= 'Z';
        int col = letter_column(upper ? *c : char(*c - 'a' + 'A'));
        if (col < 0) continue;
        int colour = upper ? s : s ^ 1;
        key += uint64_t(material_keys[colour][col]);
      }
      MatSignature& e = mat_signatures[key & 0xFFFF];
      e.key = key;
      e.value = row.value * (s == 0 ? 1 : -1);
      e.scale = row.scale;
      e.special = row.special;
      e.strong = uint8_t(s);
    }
}

int eval_kbnk(const Position& p, int strong, float& scale) {
  scale = 0;
  int w = p.king_sq[strong ^ 1];
  int b = first_square(p.pieces(strong, BISHOP));
  int n = first_square(p.pieces(strong, KNIGHT));
  int f = file_of(w), r = rank_of(w);
  int corner;
  if (square_color(b) == 0) {  // light bishop: a8 / h1
    int a = (7 - r) + f, h = (7 - f) + r;
    corner = a < h ? a : h;
  } else {  // dark bishop: a1 / h8
    int a = f + r, h = (7 - f) + (7 - r);
    corner = a < h ? a : h;
  }
  int v = 5000 - 200 * corner - 80 * distance[p.king_sq[strong]][w] - 40 * distance[w][n];
  return v * sign_of(strong);
}

int eval_knpk(const Position& p, int strong, float& scale) {
  scale = 0;
  int sk = rel(p.king_sq[strong], strong), wk = rel(p.king_sq[strong ^ 1], strong);
  int pawn = rel(first_square(p.pieces(strong, PAWN)), strong);
  int knight = rel(first_square(p.pieces(strong, KNIGHT)), strong);
  int q = file_of(pawn) + 56;
  int v;
  if ((file_of(pawn) == 0 || file_of(pawn) == 7) && distance[q][wk] < 2 && distance[q][pawn] == 1)
    v = (10 - distance[sk][q]) * 5;
  else
    v = ((distance[wk][pawn] - distance[sk][pawn]) * 5 - 3 * distance[knight][pawn] - 10 * distance[pawn][q]) * 10 +
        4200;
  return v * sign_of(strong);
}

int eval_kpk(const Position& p, int strong, float& scale) {
  scale = 0;
  int sk = rel(p.king_sq[strong], strong), wk = rel(p.king_sq[strong ^ 1], strong);
  int pawn = rel(first_square(p.pieces(strong, PAWN)), strong);
  bool weak_to_move = p.side() != strong;
  int v = kpk_win(sk, pawn, wk, weak_to_move) ? 6500 + 160 * rank_of(pawn) : 30;
  return v * sign_of(strong);
}

int eval_krpkr(const Position& p, int strong, float& scale) {
  int wk = rel(p.king_sq[strong ^ 1], strong);
  int pawn = rel(first_square(p.pieces(strong, PAWN)), strong);
  int wr = rel(first_square(p.pieces(strong ^ 1, ROOK)), strong);
  int v = 500;
  scale = 0.5f;
  if (file_of(wk) == file_of(pawn) && rank_of(wk) >= 6) {
    if (rank_of(wr) <= 1 && rank_of(pawn) >= 5) {
      v = 50;
      scale = 0.158f;
    } else if (rank_of(wr) == 5 && rank_of(pawn) <= 4) {
      v = 50;
      scale = 0.158f;
    } else {
      v = 300;
      scale = 0.387f;
    }
  }
  return v * sign_of(strong);
}

int run_special_eval(const MatSignature& e, const Position& p, float& scale) {
  switch (e.special) {
    case SE_KBNK:
      return eval_kbnk(p, e.strong, scale);
    case SE_KNPK:
      return eval_knpk(p, e.strong, scale);
    case SE_KPK:
      return eval_kpk(p, e.strong, scale);
    case SE_KRPKR:
      return eval_krpkr(p, e.strong, scale);
    default:
      scale = e.scale;
      return e.value;
  }
}

}  // namespace quorix
