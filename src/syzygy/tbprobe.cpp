// Syzygy tablebase probing. Every read of a table goes through bounds checks
// against its mapping: table files are untrusted input.
#include "syzygy/tbprobe.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"

namespace quorix::tb {
namespace {

constexpr int MAX_PIECES = 7;
constexpr int PIECE_TABLES = 650;
constexpr int PAWN_TABLES = 861;
constexpr int KEY_SLOTS = 4096;
constexpr uint32_t MAGIC[3] = {0x5D23E871u, 0xA50C66D7u, 0x88AC504Bu};
constexpr const char* EXT[3] = {".rtbw", ".rtbz", ".rtbm"};
enum Kind { WDL = 0, DTZ = 1, DTM = 2 };

// ---------------------------------------------------------------------------
// Constant index tables of the format.

uint64_t binom[MAX_PIECES][64];        // binom[k][n] = C(n, k + 1)
uint64_t pawn_idx[MAX_PIECES - 1][24];
uint64_t pawn_factor[MAX_PIECES - 1][4];
int16_t kk_idx[10][64];
int8_t off_diag[64];
uint8_t triangle[64], diag_idx[64], lower_idx[64], flap[64], ptwist[64], inv_flap[24];
constexpr uint8_t FILE_TO_FILE[8] = {0, 1, 2, 3, 3, 2, 1, 0};
constexpr int WDL_TO_MAP[5] = {1, 3, 0, 2, 0};
constexpr uint8_t PLIES_FLAG[5] = {8, 0, 0, 0, 4};
bool tables_built = false;

uint64_t choose(int n, int k) {
  if (k < 0 || n < k) return 0;
  uint64_t r = 1;
  for (int i = 1; i <= k; i++) r = r * uint64_t(n - k + i) / uint64_t(i);
  return r;
}

void build_index_tables() {
  for (int k = 0; k < MAX_PIECES; k++)
    for (int n = 0; n < 64; n++) binom[k][n] = choose(n, k + 1);
  for (int sq = 0; sq < 64; sq++) {
    int r = rank_of(sq), f = file_of(sq);
    off_diag[sq] = int8_t(r > f ? 1 : r < f ? -1 : 0);
  }
  // Triangle a1-d1-d4: off-diagonal squares 0..5, diagonal squares 6..9;
  // every other square takes the number of its image in the triangle.
  const int tri_sq[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};
  for (int sq = 0; sq < 64; sq++) {
    int s = sq;
    if (s & 4) s ^= 7;
    if (s & 32) s ^= 56;
    if (off_diag[s] > 0) s = (s >> 3) | ((s & 7) << 3);
    for (int t = 0; t < 10; t++)
      if (tri_sq[t] == s) triangle[sq] = uint8_t(t);
  }
  // Diagonal squares: a1..h8 are 0..7, h1..a8 are 8..15.
  std::memset(diag_idx, 0, sizeof diag_idx);
  for (int i = 0; i < 8; i++) {
    diag_idx[i * 9] = uint8_t(i);
    diag_idx[7 + i * 7] = uint8_t(8 + i);
  }
  // Squares below the diagonal numbered row by row (0..27), the diagonal 28..35,
  // squares above it take the number of their mirror image.
  int n = 0;
  for (int r = 0; r < 8; r++)
    for (int f = r + 1; f < 8; f++) lower_idx[r * 8 + f] = uint8_t(n++);
  for (int i = 0; i < 8; i++) lower_idx[i * 9] = uint8_t(28 + i);
  for (int r = 0; r < 8; r++)
    for (int f = 0; f < r; f++) lower_idx[r * 8 + f] = lower_idx[f * 8 + r];
  // King pairs: the first king in the triangle, the second anywhere not next to it; for
  // a first king on the diagonal the second lies below it. Pairs with both kings on the
  // diagonal come last (441..461).
  int idx = 0;
  for (int t = 0; t < 10; t++)
    for (int k2 = 0; k2 < 64; k2++) {
      const int k1 = tri_sq[t];
      const bool near = std::abs(rank_of(k1) - rank_of(k2)) <= 1 && std::abs(file_of(k1) - file_of(k2)) <= 1;
      kk_idx[t][k2] = -1;
      if (!near && (t < 6 || off_diag[k2] < 0)) kk_idx[t][k2] = int16_t(idx++);
    }
  for (int t = 6; t < 10; t++)
    for (int k2 = 0; k2 < 64; k2++) {
      const int k1 = tri_sq[t];
      const bool near = std::abs(rank_of(k1) - rank_of(k2)) <= 1 && std::abs(file_of(k1) - file_of(k2)) <= 1;
      if (!near && off_diag[k2] == 0) kk_idx[t][k2] = int16_t(idx++);
    }
  assert(idx == 462);
  // Pawn squares: flap numbers files a-d rank by rank (a2 = 0 ... d7 = 23, mirrored on
  // e-h); ptwist orders all 48 pawn squares from the edge files inwards.
  std::memset(flap, 0, sizeof flap);
  std::memset(ptwist, 0, sizeof ptwist);
  for (int f = 0; f < 4; f++)
    for (int r = 1; r < 7; r++) {
      int v = f * 6 + r - 1;
      flap[r * 8 + f] = flap[r * 8 + (7 - f)] = uint8_t(v);
      inv_flap[v] = uint8_t(r * 8 + f);
      ptwist[r * 8 + f] = uint8_t(47 - 12 * f - 2 * (r - 1));
      ptwist[r * 8 + (7 - f)] = uint8_t(46 - 12 * f - 2 * (r - 1));
    }
  for (int i = 0; i < MAX_PIECES - 1; i++)
    for (int f = 0; f < 4; f++) {
      uint64_t s = 0;
      for (int j = 0; j < 6; j++) {
        pawn_idx[i][f * 6 + j] = s;
        s += i == 0 ? 1 : binom[i - 1][ptwist[inv_flap[f * 6 + j]]];
      }
      pawn_factor[i][f] = s;
    }
  tables_built = true;
}

// ---------------------------------------------------------------------------
// Decoding data.

struct Image {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool has(size_t off, size_t n) const { return off <= size && n <= size - off; }
  uint32_t u16(size_t off) const { return uint32_t(data[off]) | uint32_t(data[off + 1]) << 8; }
  uint32_t u32(size_t off) const { return u16(off) | u16(off + 2) << 16; }
};

struct Pairs {
  bool constant = true;
  uint8_t const_value = 0;
  int block_log = 0, idx_bits = 0, min_len = 0, max_len = 0;
  uint64_t num_indices = 0, num_blocks = 0, real_blocks = 0;
  size_t index_off = 0, sizes_off = 0, data_off = 0, offsets_off = 0, sympat_off = 0;
  uint32_t num_syms = 0;
  std::vector<uint64_t> base;    // by code length - min_len
  std::vector<uint32_t> symlen;  // leaves below each symbol, minus one
};

struct Encoding {
  bool present = false;
  uint8_t pieces[MAX_PIECES] = {};
  uint8_t norm[MAX_PIECES] = {};
  uint64_t factor[MAX_PIECES] = {};
  uint64_t size = 0;
  Pairs pairs;
  uint8_t flags = 0;           // DTZ: stored side, value maps, plies
  uint32_t map_off[4] = {};    // DTZ value maps: byte offset of the first value
  uint32_t map_len[4] = {};
  uint64_t sizes[3] = {};      // index table, size table, data bytes
};

struct Decoded {
  Image img;
  Encoding enc[4][2];  // [file][side to move]; piece tables use file 0
};

struct Entry {
  uint64_t key = 0, key_swapped = 0;
  char name[16] = {};
  uint8_t num = 0;
  bool symmetric = false, has_pawns = false;
  uint8_t pawns[2] = {};
  uint8_t enc_type = 0;
  uint8_t counts[16] = {};  // pieces by code, as the name orders the sides
  bool has_file[3] = {};
  std::atomic<uint8_t> ready[3] = {};
  bool broken[3] = {};
  void* map_addr[3] = {};
  size_t map_size[3] = {};
  std::unique_ptr<Decoded> dec[2];
};

struct Slot {
  uint64_t key;
  Entry* entry;
};

std::unique_ptr<Entry[]> piece_entries, pawn_entries;
int piece_count_, pawn_count_;
Slot key_map[KEY_SLOTS];
std::vector<std::string> dirs;
int n_wdl, n_dtz, n_dtm, max_pieces, max_dtm_pieces;
std::mutex map_mutex;
std::unique_ptr<Entry> image_entry;  // in-memory table of load_image

// Reads the pairs header at off; returns false when it does not fit or is inconsistent.
bool setup_pairs(const Image& im, size_t& off, uint64_t tb_size, Pairs& d, uint8_t& flags, bool wdl, uint64_t sizes[3]) {
  if (!im.has(off, 2)) return false;
  flags = im.data[off];
  if (flags & 0x80) {
    d.constant = true;
    d.const_value = wdl ? im.data[off + 1] : 0;
    off += 2;
    sizes[0] = sizes[1] = sizes[2] = 0;
    return true;
  }
  if (!im.has(off, 12)) return false;
  d.constant = false;
  d.block_log = im.data[off + 1];
  d.idx_bits = im.data[off + 2];
  d.real_blocks = im.u32(off + 4);
  d.num_blocks = d.real_blocks + im.data[off + 3];
  d.max_len = im.data[off + 8];
  d.min_len = im.data[off + 9];
  if (d.block_log < 1 || d.block_log > 30 || d.idx_bits < 1 || d.idx_bits > 30) return false;
  if (d.min_len < 1 || d.max_len > 32 || d.min_len > d.max_len) return false;
  const int h = d.max_len - d.min_len + 1;
  d.offsets_off = off + 10;
  if (!im.has(off, 12 + 2 * size_t(h))) return false;
  d.num_syms = im.u16(off + 10 + 2 * size_t(h));
  d.sympat_off = off + 12 + 2 * size_t(h);
  size_t next = d.sympat_off + 3 * size_t(d.num_syms) + (d.num_syms & 1);
  if (!im.has(d.sympat_off, 3 * size_t(d.num_syms)) || next > im.size || d.num_syms == 0) return false;
  off = next;
  d.num_indices = (tb_size + (uint64_t(1) << d.idx_bits) - 1) >> d.idx_bits;
  sizes[0] = 6 * d.num_indices;
  sizes[1] = 2 * d.num_blocks;
  if (d.real_blocks > (uint64_t(1) << 40) >> d.block_log) return false;
  sizes[2] = d.real_blocks << d.block_log;

  // Symbol lengths: each symbol is a leaf or a pair of earlier symbols. A symbol met
  // again while its own length is pending means a cycle: reject the table.
  d.symlen.assign(d.num_syms, 0);
  std::vector<uint8_t> state(d.num_syms, 0);  // 0 new, 1 pending, 2 done
  std::vector<uint32_t> stack;
  for (uint32_t s0 = 0; s0 < d.num_syms; s0++) {
    if (state[s0] == 2) continue;
    stack.push_back(s0);
    while (!stack.empty()) {
      uint32_t s = stack.back();
      const uint8_t* w = im.data + d.sympat_off + 3 * size_t(s);
      uint32_t s1 = ((w[1] & 0xFu) << 8) | w[0], s2 = (uint32_t(w[2]) << 4) | (w[1] >> 4);
      if (s2 == 0xFFF) {
        d.symlen[s] = 0;
        state[s] = 2;
        stack.pop_back();
        continue;
      }
      if (s1 >= d.num_syms || s2 >= d.num_syms) return false;
      if (state[s] == 0) {
        state[s] = 1;
        for (uint32_t c : {s1, s2}) {
          if (state[c] == 1) return false;
          if (state[c] == 0) stack.push_back(c);
        }
        continue;
      }
      if (state[s] == 1) {
        if (state[s1] != 2 || state[s2] != 2) return false;
        uint64_t len = uint64_t(d.symlen[s1]) + d.symlen[s2] + 1;
        if (len > 0xFFFFFF) return false;
        d.symlen[s] = uint32_t(len);
        state[s] = 2;
      }
      stack.pop_back();
    }
  }
  d.base.assign(size_t(h), 0);
  for (int i = h - 2; i >= 0; i--)
    d.base[i] = (d.base[i + 1] + im.u16(d.offsets_off + 2 * size_t(i)) - im.u16(d.offsets_off + 2 * size_t(i + 1))) / 2;
  for (int i = 0; i < h; i++) d.base[i] <<= 64 - (d.min_len + i);
  return true;
}

// The value at position idx of the compressed sequence; false on inconsistent data.
bool decompress(const Image& im, const Pairs& d, uint64_t idx, uint32_t& value) {
  if (d.constant) {
    value = d.const_value;
    return true;
  }
  uint64_t main_idx = idx >> d.idx_bits;
  if (main_idx >= d.num_indices) return false;
  int64_t lit = int64_t(idx & ((uint64_t(1) << d.idx_bits) - 1)) - (int64_t(1) << (d.idx_bits - 1));
  size_t ie = d.index_off + 6 * size_t(main_idx);
  uint64_t block = im.u32(ie);
  lit += im.u16(ie + 4);
  if (block >= d.num_blocks) return false;
  auto block_size = [&](uint64_t b) { return int64_t(im.u16(d.sizes_off + 2 * size_t(b))); };
  if (lit < 0) {
    do {
      if (block == 0) return false;
      lit += block_size(--block) + 1;
    } while (lit < 0);
  } else {
    while (lit > block_size(block)) {
      lit -= block_size(block) + 1;
      if (++block >= d.num_blocks) return false;
    }
  }
  if (block >= d.real_blocks) return false;
  size_t ptr = d.data_off + (size_t(block) << d.block_log);
  const size_t end = im.size;
  auto be32 = [&](size_t at) -> uint64_t {
    if (at + 4 > end) return 0;
    const uint8_t* b = im.data + at;
    return uint64_t(b[0]) << 24 | uint64_t(b[1]) << 16 | uint64_t(b[2]) << 8 | b[3];
  };
  uint64_t code = be32(ptr) << 32 | be32(ptr + 4);
  ptr += 8;
  int bit_count = 0;
  uint32_t sym;
  for (;;) {
    int l = d.min_len;
    while (code < d.base[l - d.min_len]) l++;
    sym = im.u16(d.offsets_off + 2 * size_t(l - d.min_len)) + uint32_t((code - d.base[l - d.min_len]) >> (64 - l));
    if (sym >= d.num_syms) return false;
    if (lit < int64_t(d.symlen[sym]) + 1) break;
    lit -= int64_t(d.symlen[sym]) + 1;
    code <<= l;
    bit_count += l;
    if (bit_count >= 32) {
      bit_count -= 32;
      code |= be32(ptr) << bit_count;
      ptr += 4;
    }
  }
  while (d.symlen[sym] != 0) {
    const uint8_t* w = im.data + d.sympat_off + 3 * size_t(sym);
    uint32_t s1 = ((w[1] & 0xFu) << 8) | w[0];
    if (lit < int64_t(d.symlen[s1]) + 1) {
      sym = s1;
    } else {
      lit -= int64_t(d.symlen[s1]) + 1;
      sym = (uint32_t(w[2]) << 4) | (w[1] >> 4);
    }
  }
  value = im.data[d.sympat_off + 3 * size_t(sym)];
  return true;
}

// ---------------------------------------------------------------------------
// Piece lists, norms and factors.

// The piece list must hold exactly the table's pieces, equal pieces side by side.
bool valid_pieces(const Entry& e, const uint8_t* pcs, bool swapped) {
  uint8_t seen[16] = {};
  for (int i = 0; i < e.num; i++) {
    int pc = pcs[i];
    if (pc < 1 || pc > 14 || (pc & 7) == 0 || (pc & 7) == 7) return false;
    if (i > 0 && pcs[i - 1] != pc && seen[pc]) return false;
    seen[pc]++;
  }
  for (int pc = 0; pc < 16; pc++)
    if (seen[pc] != e.counts[swapped ? pc ^ 8 : pc]) return false;
  return true;
}

void set_norm_piece(const Entry& e, Encoding& en) {
  std::memset(en.norm, 0, sizeof en.norm);
  en.norm[0] = e.enc_type == 0 ? 3 : 2;
  for (int i = en.norm[0]; i < e.num; i += en.norm[i])
    for (int j = i; j < e.num && en.pieces[j] == en.pieces[i]; j++) en.norm[i]++;
}

void set_norm_pawn(const Entry& e, Encoding& en) {
  std::memset(en.norm, 0, sizeof en.norm);
  en.norm[0] = e.pawns[0];
  if (e.pawns[1]) en.norm[e.pawns[0]] = e.pawns[1];
  for (int i = e.pawns[0] + e.pawns[1]; i < e.num; i += en.norm[i])
    for (int j = i; j < e.num && en.pieces[j] == en.pieces[i]; j++) en.norm[i]++;
}

bool factors_piece(const Entry& e, Encoding& en, int order) {
  static const uint64_t PIVOT[3] = {31332, 28056, 462};
  int n = 64 - en.norm[0];
  uint64_t f = 1;
  int i = en.norm[0];
  for (int k = 0; i < e.num || k == order; k++) {
    if (k > MAX_PIECES) return false;
    if (k == order) {
      en.factor[0] = f;
      f *= PIVOT[e.enc_type];
    } else {
      en.factor[i] = f;
      f *= choose(n, en.norm[i]);
      n -= en.norm[i];
      i += en.norm[i];
    }
  }
  if (i != e.num || order >= MAX_PIECES) return false;
  en.size = f;
  return true;
}

bool factors_pawn(const Entry& e, Encoding& en, int order, int order2, int file) {
  int i = en.norm[0];
  if (order2 < 0x0F) i += en.norm[i];
  int n = 64 - i;
  uint64_t f = 1;
  for (int k = 0; i < e.num || k == order || k == order2; k++) {
    if (k > MAX_PIECES) return false;
    if (k == order) {
      en.factor[0] = f;
      f *= pawn_factor[en.norm[0] - 1][file];
    } else if (k == order2) {
      en.factor[en.norm[0]] = f;
      f *= choose(48 - en.norm[0], en.norm[en.norm[0]]);
    } else {
      en.factor[i] = f;
      f *= choose(n, en.norm[i]);
      n -= en.norm[i];
      i += en.norm[i];
    }
  }
  if (i != e.num || order >= MAX_PIECES || (order2 != 0x0F && order2 >= MAX_PIECES)) return false;
  en.size = f;
  return true;
}

// The leading pawns of a pawn table's piece list are the entry's leading colour.
bool valid_pawn_order(const Entry& e, const Encoding& en, int lead) {
  for (int i = 0; i < e.pawns[0]; i++)
    if (en.pieces[i] != lead) return false;
  for (int i = e.pawns[0]; i < e.pawns[0] + e.pawns[1]; i++)
    if (en.pieces[i] != (lead ^ 8)) return false;
  return true;
}

// Reads the piece lists and pairs headers of one file; fills the layout offsets.
bool decode_table(Entry& e, int kind, Decoded& dd) {
  const Image& im = dd.img;
  if (!im.has(0, 5)) return false;
  const uint8_t head = im.data[4];
  const bool split = kind == WDL && (head & 1);
  const int files = (head & 2) ? 4 : 1;
  if (bool(head & 2) != e.has_pawns) return false;
  const int sides = split ? 2 : 1;
  size_t off = 5;
  if (!e.has_pawns) {
    if (!im.has(off, size_t(e.num) + 1)) return false;
    for (int s = 0; s < sides; s++) {
      Encoding& en = dd.enc[0][s];
      for (int i = 0; i < e.num; i++) en.pieces[i] = s ? im.data[off + 1 + i] >> 4 : im.data[off + 1 + i] & 0xF;
      int order = s ? im.data[off] >> 4 : im.data[off] & 0xF;
      if (!valid_pieces(e, en.pieces, false)) return false;
      set_norm_piece(e, en);
      if (!factors_piece(e, en, order)) return false;
    }
    off += e.num + 1;
  } else {
    const int skip = 1 + (e.pawns[1] > 0);
    const int wp = e.counts[PAWN], bp = e.counts[8 + PAWN];
    const int lead = bp > 0 && (wp == 0 || bp < wp) ? 8 + PAWN : PAWN;
    for (int f = 0; f < 4; f++) {
      if (!im.has(off, size_t(e.num) + skip)) return false;
      for (int s = 0; s < sides; s++) {
        Encoding& en = dd.enc[f][s];
        int order = s ? im.data[off] >> 4 : im.data[off] & 0xF;
        int order2 = e.pawns[1] ? (s ? im.data[off + 1] >> 4 : im.data[off + 1] & 0xF) : 0x0F;
        for (int i = 0; i < e.num; i++)
          en.pieces[i] = s ? im.data[off + skip + i] >> 4 : im.data[off + skip + i] & 0xF;
        if (!valid_pieces(e, en.pieces, false) || !valid_pawn_order(e, en, lead)) return false;
        set_norm_pawn(e, en);
        if (!factors_pawn(e, en, order, order2, f)) return false;
      }
      off += e.num + skip;
    }
  }
  off += off & 1;
  for (int f = 0; f < files; f++)
    for (int s = 0; s < (split ? 2 : 1); s++) {
      Encoding& en = dd.enc[f][s];
      if (!setup_pairs(im, off, en.size, en.pairs, en.flags, kind == WDL, en.sizes)) return false;
      en.present = true;
    }
  if (kind == DTZ) {
    for (int f = 0; f < files; f++) {
      Encoding& en = dd.enc[f][0];
      if (!(en.flags & 2)) continue;
      if (en.flags & 16) {
        off += off & 1;
        for (int i = 0; i < 4; i++) {
          if (!im.has(off, 2)) return false;
          en.map_off[i] = uint32_t(off + 2);
          en.map_len[i] = im.u16(off);
          off += 2 + 2 * size_t(im.u16(off));
        }
      } else {
        for (int i = 0; i < 4; i++) {
          if (!im.has(off, 1)) return false;
          en.map_off[i] = uint32_t(off + 1);
          en.map_len[i] = im.data[off];
          off += 1 + size_t(im.data[off]);
        }
      }
      if (off > im.size) return false;
    }
    off += off & 1;
  }
  auto take = [&](uint64_t n, size_t& at) {
    if (n > im.size || off > im.size - n) return false;
    at = off;
    off += size_t(n);
    return true;
  };
  for (int f = 0; f < files; f++)
    for (int s = 0; s < (split ? 2 : 1); s++)
      if (!take(dd.enc[f][s].sizes[0], dd.enc[f][s].pairs.index_off)) return false;
  for (int f = 0; f < files; f++)
    for (int s = 0; s < (split ? 2 : 1); s++)
      if (!take(dd.enc[f][s].sizes[1], dd.enc[f][s].pairs.sizes_off)) return false;
  for (int f = 0; f < files; f++)
    for (int s = 0; s < (split ? 2 : 1); s++) {
      off = (off + 63) & ~size_t(63);
      if (!take(dd.enc[f][s].sizes[2], dd.enc[f][s].pairs.data_off)) return false;
    }
  return true;
}

// ---------------------------------------------------------------------------
// Index computation.

uint64_t encode_piece(const Entry& e, const Encoding& en, int* pos, bool& ok) {
  const int n = e.num;
  if (pos[0] & 4)
    for (int i = 0; i < n; i++) pos[i] ^= 7;
  if (pos[0] & 32)
    for (int i = 0; i < n; i++) pos[i] ^= 56;
  int i;
  for (i = 0; i < n; i++)
    if (off_diag[pos[i]]) break;
  if (i < (e.enc_type == 0 ? 3 : 2) && off_diag[pos[i]] > 0)
    for (int k = 0; k < n; k++) pos[k] = ((pos[k] >> 3) | (pos[k] << 3)) & 63;
  uint64_t idx;
  if (e.enc_type == 0) {
    int a = pos[1] > pos[0];
    int b = (pos[2] > pos[0]) + (pos[2] > pos[1]);
    if (off_diag[pos[0]])
      idx = uint64_t(triangle[pos[0]]) * 63 * 62 + uint64_t(pos[1] - a) * 62 + uint64_t(pos[2] - b);
    else if (off_diag[pos[1]])
      idx = 6 * 63 * 62 + uint64_t(diag_idx[pos[0]]) * 28 * 62 + uint64_t(lower_idx[pos[1]]) * 62 + uint64_t(pos[2] - b);
    else if (off_diag[pos[2]])
      idx = 6 * 63 * 62 + 4 * 28 * 62 + uint64_t(diag_idx[pos[0]]) * 7 * 28 + uint64_t(diag_idx[pos[1]] - a) * 28 +
            lower_idx[pos[2]];
    else
      idx = 6 * 63 * 62 + 4 * 28 * 62 + 4 * 7 * 28 + uint64_t(diag_idx[pos[0]]) * 7 * 6 +
            uint64_t(diag_idx[pos[1]] - a) * 6 + uint64_t(diag_idx[pos[2]] - b);
    i = 3;
  } else {
    int v = kk_idx[triangle[pos[0]]][pos[1]];
    if (v < 0) {
      ok = false;
      return 0;
    }
    idx = uint64_t(v);
    i = 2;
  }
  idx *= en.factor[0];
  while (i < n) {
    const int t = en.norm[i];
    std::sort(pos + i, pos + i + t);
    uint64_t s = 0;
    for (int m = i; m < i + t; m++) {
      int p = pos[m], below = 0;
      for (int l = 0; l < i; l++) below += p > pos[l];
      s += binom[m - i][p - below];
    }
    idx += s * en.factor[i];
    i += t;
  }
  return idx;
}

// Moves the leading pawn (lowest flap) to pos[0]; returns its file group 0..3.
int pawn_file(const Entry& e, int* pos) {
  for (int i = 1; i < e.pawns[0]; i++)
    if (flap[pos[0]] > flap[pos[i]]) std::swap(pos[0], pos[i]);
  return FILE_TO_FILE[pos[0] & 7];
}

uint64_t encode_pawn(const Entry& e, const Encoding& en, int* pos) {
  const int n = e.num;
  if (pos[0] & 4)
    for (int i = 0; i < n; i++) pos[i] ^= 7;
  for (int i = 1; i < e.pawns[0]; i++)
    for (int j = i + 1; j < e.pawns[0]; j++)
      if (ptwist[pos[i]] < ptwist[pos[j]]) std::swap(pos[i], pos[j]);
  int t = e.pawns[0] - 1;
  uint64_t idx = pawn_idx[t][flap[pos[0]]];
  for (int i = t; i > 0; i--) idx += binom[t - i][ptwist[pos[i]]];
  idx *= en.factor[0];
  int i = e.pawns[0];
  t = i + e.pawns[1];
  if (t > i) {
    std::sort(pos + i, pos + t);
    uint64_t s = 0;
    for (int m = i; m < t; m++) {
      int p = pos[m], below = 0;
      for (int k = 0; k < i; k++) below += p > pos[k];
      s += binom[m - i][p - below - 8];
    }
    idx += s * en.factor[i];
    i = t;
  }
  while (i < n) {
    const int w = en.norm[i];
    std::sort(pos + i, pos + i + w);
    uint64_t s = 0;
    for (int m = i; m < i + w; m++) {
      int p = pos[m], below = 0;
      for (int k = 0; k < i; k++) below += p > pos[k];
      s += binom[m - i][p - below];
    }
    idx += s * en.factor[i];
    i += w;
  }
  return idx;
}

// ---------------------------------------------------------------------------
// Registry, files and mapping.

Entry* find_entry(uint64_t key) {
  if (image_entry && (image_entry->key == key || image_entry->key_swapped == key)) return image_entry.get();
  for (int i = int(key >> 52), n = 0; n < KEY_SLOTS; i = (i + 1) & (KEY_SLOTS - 1), n++) {
    if (key_map[i].key == key) return key_map[i].entry;
    if (!key_map[i].key) return nullptr;
  }
  return nullptr;
}

void add_key(uint64_t key, Entry* e) {
  for (int i = int(key >> 52), n = 0; n < KEY_SLOTS; i = (i + 1) & (KEY_SLOTS - 1), n++)
    if (!key_map[i].key || key_map[i].key == key) {
      key_map[i] = {key, e};
      return;
    }
}

// Opens the first directory's copy of name+ext; -1 when none. size gets the file size.
int open_table(const std::string& name, const char* ext, size_t& size) {
  for (const auto& d : dirs) {
    std::string path = d + "/" + name + ext;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      continue;
    }
    size = size_t(st.st_size);
    return fd;
  }
  return -1;
}

bool file_present(const std::string& name, const char* ext) {
  size_t size = 0;
  int fd = open_table(name, ext, size);
  if (fd < 0) return false;
  ::close(fd);
  if (size % 64 != 16) {
    std::fprintf(stderr, "Incomplete tablebase file %s%s\n", name.c_str(), ext);
    std::printf("info string Incomplete tablebase file %s%s\n", name.c_str(), ext);
    std::fflush(stdout);
    return false;
  }
  return true;
}

uint64_t material_key(const uint8_t* counts, bool swapped) {
  uint64_t k = 0;
  for (int pc = 1; pc < 16; pc++) {
    int t = pc & 7, c = pc >> 3;
    if (t < PAWN || t > QUEEN) continue;
    k += uint64_t(counts[pc]) * uint64_t(material_keys[c ^ int(swapped)][t * 2]);
  }
  return k;
}

// Fills the entry's material fields from a name such as "KRPvKN".
bool parse_name(Entry& e, const std::string& name) {
  if (name.size() >= sizeof e.name) return false;
  std::memset(e.counts, 0, sizeof e.counts);
  int colour = 0, sides = 0;
  for (char ch : name) {
    if (ch == 'v') {
      if (++sides > 1) return false;
      colour = 8;
      continue;
    }
    const char* p = std::strchr("PNBRQK", ch);
    if (!p || !ch) return false;
    e.counts[colour + 1 + int(p - "PNBRQK")]++;
  }
  if (sides != 1 || e.counts[KING] != 1 || e.counts[8 + KING] != 1) return false;
  std::memcpy(e.name, name.c_str(), name.size() + 1);
  e.num = 0;
  for (int pc = 0; pc < 16; pc++) e.num = uint8_t(e.num + e.counts[pc]);
  if (e.num > MAX_PIECES) return false;
  e.key = material_key(e.counts, false);
  e.key_swapped = material_key(e.counts, true);
  e.symmetric = e.key == e.key_swapped;
  e.has_pawns = e.counts[PAWN] + e.counts[8 + PAWN] > 0;
  int uniques = 0;
  for (int pc = 0; pc < 16; pc++) uniques += e.counts[pc] == 1;
  e.enc_type = uniques >= 3 ? 0 : 2;
  const int wp = e.counts[PAWN], bp = e.counts[8 + PAWN];
  if (bp > 0 && (wp == 0 || bp < wp)) {
    e.pawns[0] = uint8_t(bp);
    e.pawns[1] = uint8_t(wp);
  } else {
    e.pawns[0] = uint8_t(wp);
    e.pawns[1] = uint8_t(bp);
  }
  return true;
}

void unmap_entry(Entry& e) {
  for (int k = 0; k < 3; k++) {
    if (e.map_addr[k]) ::munmap(e.map_addr[k], e.map_size[k]);
    e.map_addr[k] = nullptr;
    e.map_size[k] = 0;
    e.ready[k].store(0);
    e.broken[k] = false;
  }
  e.dec[0].reset();
  e.dec[1].reset();
}

void report_corrupt() { std::fprintf(stderr, "Corrupted table.\n"); }

// Builds the decoding data of an image; the image must outlive the entry's use.
bool build_decoded(Entry& e, int kind, const uint8_t* data, size_t size) {
  auto dd = std::make_unique<Decoded>();
  dd->img = {data, size};
  if (size < 4 || Image{data, size}.u32(0) != MAGIC[kind]) return false;
  if (kind != DTM && !decode_table(e, kind, *dd)) return false;
  if (kind != DTM) e.dec[kind] = std::move(dd);
  return true;
}

// Maps and decodes one file of an entry under the mutex; false when it is unusable.
bool make_ready(Entry& e, int kind) {
  std::lock_guard<std::mutex> lock(map_mutex);
  if (e.ready[kind].load(std::memory_order_acquire)) return true;
  if (e.broken[kind]) return false;
  size_t size = 0;
  int fd = open_table(e.name, EXT[kind], size);
  void* addr = fd >= 0 && size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (fd >= 0) ::close(fd);
  if (addr == MAP_FAILED) {
    std::fprintf(stderr, "Could not map %s%s into memory.\n", e.name, EXT[kind]);
    std::exit(1);
  }
  const uint8_t* data = static_cast<const uint8_t*>(addr);
  if (!build_decoded(e, kind, data, size)) {
    // A damaged file stays unused until the next initialisation.
    ::munmap(addr, size);
    e.broken[kind] = true;
    report_corrupt();
    return false;
  }
  e.map_addr[kind] = addr;
  e.map_size[kind] = size;
  e.ready[kind].store(1, std::memory_order_release);
  return true;
}

// ---------------------------------------------------------------------------
// Table probes (no captures resolved).

struct Orientation {
  int cmirror, mirror, bside;
};

Orientation orient(const Entry& e, const Position& p) {
  const bool white = p.side() == WHITE;
  if (e.symmetric) return {white ? 0 : 8, white ? 0 : 56, 0};
  const bool swapped = p.mat_key_plain != e.key;
  return {swapped ? 8 : 0, swapped ? 56 : 0, white == swapped ? 1 : 0};
}

Bitboard piece_bb(const Position& p, int code) { return p.pieces(code >> 3, code & 7); }

// Fills the squares of the pieces listed from index i on; false when the counts disagree.
bool fill_squares(const Position& p, const Entry& e, const uint8_t* pcs, int i, int cmirror, int mirror, int* sq) {
  while (i < e.num) {
    Bitboard b = piece_bb(p, pcs[i] ^ cmirror);
    if (!b) return false;
    while (b) {
      if (i >= e.num) return false;
      sq[i++] = pop_lsb(b) ^ mirror;
    }
  }
  return true;
}

// Table value: WDL in -2..2, or the raw DTZ value (in plies); side_mismatch is set when
// the DTZ file holds the other side to move.
bool probe_table(const Position& p, int kind, int wdl, int& value, bool& side_mismatch) {
  side_mismatch = false;
  if (!p.mat_key_plain && popcount(p.occupied()) == 2) {
    value = 0;  // kings only
    return kind == WDL;
  }
  Entry* e = find_entry(p.mat_key_plain);
  if (!e || !e->has_file[kind]) return false;
  if (!e->ready[kind].load(std::memory_order_acquire) && !make_ready(*e, kind)) return false;
  const Decoded& dd = *e->dec[kind];
  if (int(popcount(p.occupied())) != e->num) return false;
  const Orientation o = orient(*e, p);
  int sq[MAX_PIECES];
  const Encoding* en;
  uint64_t idx;
  if (!e->has_pawns) {
    en = &dd.enc[0][kind == WDL ? o.bside : 0];
    if (kind == DTZ && (en->flags & 1) != o.bside && !e->symmetric) {
      side_mismatch = true;
      return false;
    }
    if (!en->present || !fill_squares(p, *e, en->pieces, 0, o.cmirror, 0, sq)) return false;
    bool ok = true;
    idx = encode_piece(*e, *en, sq, ok);
    if (!ok) return false;
  } else {
    if ((p.pieces(WHITE, PAWN) | p.pieces(BLACK, PAWN)) & (RANK_1 | RANK_8)) return false;
    const int lead = dd.enc[0][0].pieces[0] ^ o.cmirror;
    Bitboard b = piece_bb(p, lead);
    if (popcount(b) != e->pawns[0]) return false;
    int i = 0;
    while (b) sq[i++] = pop_lsb(b) ^ o.mirror;
    const int f = pawn_file(*e, sq);
    en = &dd.enc[f][kind == WDL ? o.bside : 0];
    if (kind == DTZ && (en->flags & 1) != o.bside) {
      side_mismatch = true;
      return false;
    }
    if (!en->present || !fill_squares(p, *e, en->pieces, i, o.cmirror, o.mirror, sq)) return false;
    idx = encode_pawn(*e, *en, sq);
  }
  if (idx >= en->size) return false;
  uint32_t v;
  if (!decompress(dd.img, en->pairs, idx, v)) return false;
  if (kind == WDL) {
    if (v > 4) return false;
    value = int(v) - 2;
    return true;
  }
  if (en->flags & 2) {
    const int m = WDL_TO_MAP[wdl + 2];
    if (v >= en->map_len[m]) return false;
    const bool wide = en->flags & 16;
    const size_t at = en->map_off[m] + (wide ? 2 * size_t(v) : size_t(v));
    if (!dd.img.has(at, wide ? 2 : 1)) return false;
    v = wide ? dd.img.u16(at) : dd.img.data[at];
  }
  if (!(en->flags & PLIES_FLAG[wdl + 2]) || (wdl & 1)) v *= 2;
  value = int(v);
  return true;
}

// ---------------------------------------------------------------------------
// Probes with captures resolved.

bool is_capture(const Position& p, Move m) {
  const int k = move_kind(m);
  return k == MK_EP || (k != MK_CASTLE && p.board[move_to(m)] != 0);
}

bool is_zeroing(const Position& p, Move m) { return is_capture(p, m) || piece_type(p.board[move_from(m)]) == PAWN; }

// Makes m into child; false when illegal. Sets the child's check flag.
bool make_child(const Position& p, Position& child, Move m) {
  if (!make_move(p, child, m)) return false;
  child.in_check = uint16_t(king_attacked(child, child.side()) ? 1 : 0);
  return true;
}

Position with_check_flag(const Position& p) {
  Position q;
  std::memcpy(static_cast<void*>(&q), &p, POS_COPY_FULL);
  q.in_check = uint16_t(king_attacked(q, q.side()) ? 1 : 0);
  return q;
}

// Alpha-beta over captures; result 2 in status means the value comes from a capture.
int probe_ab(const Position& p, int alpha, int beta, int& status) {
  uint32_t list[MAX_MOVES];
  const int n = p.in_check ? generate_evasions(p, list) : generate_captures(p, list);
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (!is_capture(p, m) || move_kind(m) == MK_EP) continue;
    if (!make_child(p, child, m)) continue;
    const int v = -probe_ab(child, -beta, -alpha, status);
    if (!status) return 0;
    if (v > alpha) {
      if (v >= beta) {
        status = 2;
        return v;
      }
      alpha = v;
    }
  }
  int v;
  bool mismatch;
  if (!probe_table(p, WDL, 0, v, mismatch)) {
    status = 0;
    return 0;
  }
  if (alpha >= v) {
    status = 1 + (alpha > 0);
    return alpha;
  }
  status = 1;
  return v;
}

bool tables_usable(const Position& p) {
  return p.castle_lost == 15 && int(popcount(p.occupied())) <= MAX_PIECES;
}

// Best value over the legal en-passant captures (-3 when there is none).
int ep_value(const Position& p, int& status) {
  uint32_t list[MAX_MOVES];
  const int n = p.in_check ? generate_evasions(p, list) : generate_captures(p, list);
  int best = -3;
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (move_kind(m) != MK_EP || !make_child(p, child, m)) continue;
    const int v = -probe_ab(child, -2, 2, status);
    if (!status) return 0;
    best = std::max(best, v);
  }
  return best;
}

bool has_legal_non_ep(const Position& p) {
  uint32_t list[MAX_MOVES];
  const int n = generate_all(p, list);
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (move_kind(m) != MK_EP && make_move(p, child, m)) return true;
  }
  return false;
}

int wdl_checked(const Position& p, int& status) {
  status = 1;
  int v = probe_ab(p, -2, 2, status);
  if (!p.ep_bb || !status) return v;
  int ep_status = 1;
  const int v1 = ep_value(p, ep_status);
  if (!ep_status) {
    status = 0;
    return 0;
  }
  if (v1 > -3) {
    if (v1 >= v) v = v1;
    else if (v == 0 && !has_legal_non_ep(p)) v = v1;
  }
  return v;
}

int dtz_checked(const Position& p, int& status, int depth);

int dtz_no_ep(const Position& p, int& status, int depth) {
  status = 1;
  const int wdl = probe_ab(p, -2, 2, status);
  if (!status) return 0;
  if (wdl == 0) return 0;
  if (status == 2) return wdl == 2 ? 1 : 101;
  uint32_t list[MAX_MOVES];
  const int n = generate_all(p, list);
  Position child;
  if (wdl > 0) {
    // A pawn move that keeps the result zeroes at once.
    for (int i = 0; i < n; i++) {
      const Move m = entry_move(list[i]);
      if (piece_type(p.board[move_from(m)]) != PAWN || is_capture(p, m) || !make_child(p, child, m)) continue;
      const int v = -probe_ab(child, -2, -wdl + 1, status);
      if (!status) return 0;
      if (v == wdl) return v == 2 ? 1 : 101;
    }
  }
  int raw;
  bool mismatch;
  if (probe_table(p, DTZ, wdl, raw, mismatch)) {
    int dtz = 1 + raw;
    if (wdl & 1) dtz += 100;
    status = 1;
    return wdl >= 0 ? dtz : -dtz;
  }
  if (!mismatch || depth > 2) {
    status = 0;
    return 0;
  }
  // The file holds the other side to move: one ply of search.
  if (wdl > 0) {
    int best = 0xFFFF;
    for (int i = 0; i < n; i++) {
      const Move m = entry_move(list[i]);
      if (is_zeroing(p, m) || !make_child(p, child, m)) continue;
      const int v = -dtz_checked(child, status, depth + 1);
      if (!status) return 0;
      // A move that mates at once is one ply from the end.
      if (v == 1 && child.in_check && !has_legal_evasion(child)) best = 1;
      else if (v > 0 && v + 1 < best) best = v + 1;
    }
    status = 1;
    return best;
  }
  int best = -1;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    const bool zeroing = is_zeroing(p, m);
    if (!make_child(p, child, m)) continue;
    int v;
    if (zeroing) {
      if (wdl == -2) {
        v = -1;
      } else {
        v = probe_ab(child, 1, 2, status);
        v = v == 2 ? 0 : -101;
      }
    } else {
      v = -dtz_checked(child, status, depth + 1) - 1;
    }
    if (!status) return 0;
    if (v < best) best = v;
  }
  status = 1;
  return best;
}

int dtz_checked(const Position& p, int& status, int depth) {
  int v = dtz_no_ep(p, status, depth);
  if (!p.ep_bb || !status) return v;
  int ep_status = 1;
  int v1 = ep_value(p, ep_status);
  if (!ep_status) {
    status = 0;
    return 0;
  }
  if (v1 > -3) {
    static const int WDL_TO_DTZ[5] = {-1, -101, 0, 101, 1};
    v1 = WDL_TO_DTZ[v1 + 2];
    if (v < -100) {
      if (v1 >= 0) v = v1;
    } else if (v < 0) {
      if (v1 >= 0 || v1 < -100) v = v1;
    } else if (v > 100) {
      if (v1 > 0) v = v1;
    } else if (v > 0) {
      if (v1 == 1) v = v1;
    } else if (v1 >= 0) {
      v = v1;
    } else if (!has_legal_non_ep(p)) {
      v = v1;
    }
  }
  status = 1;
  return v;
}

// Whether the positions since the last zeroing move contain a repetition.
bool has_repetition(const Position& root) {
  for (const Position* a = &root; a; a = a->his) {
    const Position* b = a;
    for (int i = 2; i <= a->fifty; i += 2) {
      if (!b->his || !b->his->his) break;
      b = b->his->his;
      if (b->key == a->key) return true;
    }
    if (a->fifty == 0) break;
  }
  return false;
}

int clear_registry() {
  for (int i = 0; i < piece_count_; i++) unmap_entry(piece_entries[i]);
  for (int i = 0; i < pawn_count_; i++) unmap_entry(pawn_entries[i]);
  piece_count_ = pawn_count_ = 0;
  std::memset(key_map, 0, sizeof key_map);
  n_wdl = n_dtz = n_dtm = max_pieces = max_dtm_pieces = 0;
  dirs.clear();
  return 0;
}

void register_table(const std::string& name) {
  if (!file_present(name, EXT[WDL])) return;
  Entry probe_fields;
  if (!parse_name(probe_fields, name)) return;
  const bool pawns = probe_fields.has_pawns;
  if (pawns ? pawn_count_ >= PAWN_TABLES : piece_count_ >= PIECE_TABLES) return;
  Entry& e = pawns ? pawn_entries[pawn_count_++] : piece_entries[piece_count_++];
  parse_name(e, name);
  e.has_file[WDL] = true;
  n_wdl++;
  e.has_file[DTM] = file_present(name, EXT[DTM]);
  if (e.has_file[DTM]) {
    n_dtm++;
    max_dtm_pieces = std::max(max_dtm_pieces, int(e.num));
  }
  e.has_file[DTZ] = file_present(name, EXT[DTZ]);
  if (e.has_file[DTZ]) n_dtz++;
  max_pieces = std::max(max_pieces, int(e.num));
  for (int k = 0; k < 3; k++) e.ready[k].store(0);
  add_key(e.key, &e);
  add_key(e.key_swapped, &e);
}

// Every material of 3 to 7 pieces in file-name order: the stronger side first,
// pieces of a side in the order Q R B N P.
void enumerate_names(std::vector<std::string>& out) {
  static const char LETTER[6] = {'K', 'Q', 'R', 'B', 'N', 'P'};
  std::vector<std::vector<int>> sides[6];  // by piece count (without the king)
  sides[0].push_back({});
  for (int n = 1; n <= 5; n++)
    for (const auto& s : sides[n - 1])
      for (int t = s.empty() ? 1 : s.back(); t <= 5; t++) {
        auto v = s;
        v.push_back(t);
        sides[n].push_back(v);
      }
  auto text = [&](const std::vector<int>& s) {
    std::string r = "K";
    for (int t : s) r += LETTER[t];
    return r;
  };
  for (int total = 1; total <= 5; total++)
    for (int a = total; a >= (total + 1) / 2; a--) {
      const int b = total - a;
      for (const auto& w : sides[a])
        for (const auto& bl : sides[b]) {
          if (a == b && bl < w) continue;
          out.push_back(text(w) + "v" + text(bl));
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface.

void release() {
  clear_registry();
  image_entry.reset();
}

void init(const std::string& path) {
  if (!tables_built) build_index_tables();
  release();
  if (path.empty() || path == "<empty>") return;
  if (!piece_entries) {
    piece_entries.reset(new (std::nothrow) Entry[PIECE_TABLES]);
    pawn_entries.reset(new (std::nothrow) Entry[PAWN_TABLES]);
    if (!piece_entries || !pawn_entries) {
      std::fprintf(stderr, "Out of memory.\n");
      std::exit(1);
    }
  }
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); i++)
    if (i == path.size() || path[i] == ';' || path[i] == ':') {
      if (i > start) dirs.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  std::vector<std::string> names;
  enumerate_names(names);
  for (const auto& n : names) register_table(n);
  std::printf("info string Found %d WDL and %d DTZ tablebase files (up to %d-man).\n", n_wdl, n_dtz, max_pieces);
  std::fflush(stdout);
}

int largest() { return max_pieces; }
int wdl_files() { return n_wdl; }
int dtz_files() { return n_dtz; }
int dtm_files() { return n_dtm; }

int probe_wdl(const Position& p, bool& ok) {
  ok = false;
  if (!p.mat_key_plain && popcount(p.occupied()) == 2) {
    ok = true;
    return 0;
  }
  if (!tables_usable(p)) return 0;
  const Position q = with_check_flag(p);
  int status = 1;
  const int v = wdl_checked(q, status);
  ok = status != 0;
  return ok ? v : 0;
}

int probe_dtz(const Position& p, bool& ok) {
  ok = false;
  if (!p.mat_key_plain && popcount(p.occupied()) == 2) return 0;  // no DTZ file for kings only
  if (!tables_usable(p)) return 0;
  const Position q = with_check_flag(p);
  int status = 1;
  const int v = dtz_checked(q, status, 0);
  ok = status != 0;
  return ok ? v : 0;
}

int root_filter_dtz(const Position& root_in, RootResult* out, int& score) {
  score = 0;
  const Position root = with_check_flag(root_in);
  const int c = root.fifty;
  const bool rep = has_repetition(root_in);
  bool ok;
  const int d = probe_dtz(root, ok);
  if (!ok) return 0;
  uint32_t list[MAX_MOVES];
  const int n = generate_all(root, list);
  struct Item {
    Move move;
    int v, rank;
  };
  Item items[MAX_MOVES];
  int count = 0;
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (!make_child(root, child, m)) continue;
    int v;
    if (child.fifty != 0) {
      v = -probe_dtz(child, ok);
      v = v > 0 ? v + 1 : v < 0 ? v - 1 : 0;
    } else {
      static const int FROM_WDL[5] = {1, 101, 0, -101, -1};
      v = FROM_WDL[probe_wdl(child, ok) + 2];
    }
    if (!ok) return 0;
    if (v == 2 && child.in_check && !has_legal_evasion(child)) v = 1;
    int rank;
    if (v > 0) rank = v + c <= 99 && !rep ? 1000 : 1000 - (v + c);
    else if (v < 0) rank = c - 2 * v < 100 ? -1000 : c - 1000 - v;
    else rank = 0;
    items[count++] = {m, v, rank};
  }
  int cls;
  if (d > 0) cls = d + c <= 100 ? 2 : 1;
  else if (d < 0) cls = c - d <= 100 ? -2 : -1;
  else cls = 0;
  static const int CLASS_SCORE[5] = {-31799, -2, 0, 2, 31799};
  score = CLASS_SCORE[cls + 2];
  if (cls == 1 && d <= 100) score = (200 - (c + d)) / 2;
  if (cls == -1 && d >= -100) score = -((d - c + 200) / 2);

  int kept = 0;
  Item keep[MAX_MOVES];
  if (d > 0) {
    int b = 0;
    for (int i = 0; i < count; i++)
      if (items[i].v > 0 && (!b || items[i].v < b)) b = items[i].v;
    if (!b) return 0;  // no move keeps the win: the tables disagree with themselves
    const int limit = !rep && b + c < 100 ? 99 - c : b;
    for (int i = 0; i < count; i++)
      if (items[i].v > 0 && items[i].v <= limit) keep[kept++] = items[i];
  } else if (d < 0) {
    int b = 0;
    for (int i = 0; i < count; i++) b = std::min(b, items[i].v);
    for (int i = 0; i < count; i++)
      if (c - 2 * b < 100 || items[i].v == b) keep[kept++] = items[i];
  } else {
    for (int i = 0; i < count; i++)
      if (items[i].v == 0) keep[kept++] = items[i];
  }
  // Best rank first; among equal ranks the faster win (or the longer defence).
  std::stable_sort(keep, keep + kept, [](const Item& a, const Item& b) {
    if (a.rank != b.rank) return a.rank > b.rank;
    return a.v < b.v;
  });
  for (int i = 0; i < kept; i++) {
    assert(keep[i].move);
    out[i] = {uint16_t(keep[i].move), keep[i].v};
  }
  out[kept] = {0, 0};
  return kept;
}

int root_filter_wdl(const Position& root_in, bool rule50, RootResult* out, int& score) {
  score = 0;
  const Position root = with_check_flag(root_in);
  bool ok;
  const int w = probe_wdl(root, ok);
  if (!ok) return 0;
  static const int CLASS_SCORE[5] = {-31799, -2, 0, 2, 31799};
  score = CLASS_SCORE[w + 2];
  uint32_t list[MAX_MOVES];
  const int n = generate_all(root, list);
  RootResult items[MAX_MOVES];
  int count = 0, best = -3;
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entry_move(list[i]);
    if (!make_child(root, child, m)) continue;
    int r = -probe_wdl(child, ok);
    if (!ok) return 0;
    if (!rule50) r = r > 0 ? 2 : r < 0 ? -2 : 0;
    items[count++] = {uint16_t(m), r};
    best = std::max(best, r);
  }
  int kept = 0;
  for (int i = 0; i < count; i++)
    if (items[i].value == best) out[kept++] = items[i];
  out[kept] = {0, 0};
  return kept;
}

bool load_image(const std::string& name, int kind, const uint8_t* data, size_t size) {
  if (!tables_built) build_index_tables();
  image_entry.reset();
  if (kind != WDL && kind != DTZ) return false;
  auto e = std::make_unique<Entry>();
  if (!parse_name(*e, name)) return false;
  if (!build_decoded(*e, kind, data, size)) return false;
  e->has_file[kind] = true;
  e->ready[kind].store(1);
  image_entry = std::move(e);
  return true;
}

void clear_image() { image_entry.reset(); }

}  // namespace quorix::tb
