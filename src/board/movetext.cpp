#include "board/movetext.h"

#include <cstdio>
#include <cstring>

#include "board/makemove.h"
#include "board/movegen.h"

namespace quorix {

int g_chess960_text = 0;

void move_to_text(const Position& p, Move m, char* out) {
  if (m == 0) {
    std::strcpy(out, "0000");
    return;
  }
  int from = move_from(m), to = move_to(m);
  if (move_kind(m) == MK_CASTLE && !g_chess960_text) to = (from & 56) + (to > from ? 6 : 2);
  (void)p;
  out[0] = char('a' + file_of(from));
  out[1] = char('1' + rank_of(from));
  out[2] = char('a' + file_of(to));
  out[3] = char('1' + rank_of(to));
  int n = 4;
  if (is_promotion(m)) out[n++] = "    qnrb"[move_kind(m)];
  out[n] = 0;
}

std::string move_to_text(const Position& p, Move m) {
  char buf[8];
  move_to_text(p, m, buf);
  return buf;
}

static void set_child_check(Position& child) {
  int s = child.side();
  child.in_check = (attacks_by(child, s ^ 1) & child.pieces(s, KING)) ? 1 : 0;
}

bool apply_move_text(const Position& cur, Position& child, const char* t) {
  if (!t) return false;
  size_t len = std::strlen(t);
  int s = cur.side();
  if (len >= 4 && t[0] >= 'a' && t[0] <= 'h' && t[1] >= '1' && t[1] <= '8' && t[2] >= 'a' && t[2] <= 'h' &&
      t[3] >= '1' && t[3] <= '8') {
    int from = (t[0] - 'a') + 8 * (t[1] - '1'), to = (t[2] - 'a') + 8 * (t[3] - '1');
    int kind = MK_NORMAL;
    if (cur.board[from] == make_piece(s, PAWN) && (from - to == 16 || to - from == 16)) kind = MK_DOUBLE;
    if (len >= 5) {
      switch (t[4]) {
        case 'q': kind = MK_PROMO_Q; break;
        case 'n': kind = MK_PROMO_N; break;
        case 'r': kind = MK_PROMO_R; break;
        case 'b': kind = MK_PROMO_B; break;
        default: break;
      }
    }
    Move m = make_move_code(from, to, kind);
    if (is_pseudo_legal(cur, m) && make_move(cur, child, m)) {
      set_child_check(child);
      return true;
    }
  }
  uint32_t list[MAX_MOVES];
  int n = generate_all(cur, list);
  char buf[8];
  for (int i = 0; i < n; i++) {
    Move m = entry_move(list[i]);
    move_to_text(cur, m, buf);
    if (std::strcmp(buf, t) != 0) continue;
    if (make_move(cur, child, m)) {
      set_child_check(child);
      return true;
    }
    std::fprintf(stderr, "Cannot execute move %s\n", t);
  }
  return false;
}

}  // namespace quorix
