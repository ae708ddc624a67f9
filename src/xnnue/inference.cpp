// Network inference: accumulators (incremental and full), the clipped transform
// and the layer stacks, with AVX2 kernels and plain-loop kernels of identical
// integer results.
#include <cstdlib>
#include <cstring>

#if defined(QUORIX_AVX2)
#include <immintrin.h>
#endif

#include "xnnue/network_impl.h"

namespace quorix::xnnue {

namespace {

constexpr uint32_t KING_CODE = 641;
constexpr uint32_t MAX_CODE = 640;
constexpr int MAX_STEPS = 3;  // moves an accumulator is carried forward over at most

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Aligned = std::unique_ptr<T[], FreeDeleter>;

template <class T>
Aligned<T> alloc_zeroed(size_t n) {
  size_t bytes = (n * sizeof(T) + 63) & ~size_t(63);
  void* p = std::aligned_alloc(64, bytes ? bytes : 64);
  if (p) std::memset(p, 0, bytes ? bytes : 64);
  return Aligned<T>(static_cast<T*>(p));
}

// ---------------------------------------------------------------- kernels

// dst = src - sum(sub rows) + sum(add rows), 16-bit lanes with wrap-around.
template <int H>
void acc_apply_portable(int16_t* dst, const int16_t* src, const int16_t* const* add, int na,
                        const int16_t* const* sub, int ns) {
  for (int i = 0; i < H; i++) {
    uint16_t v = uint16_t(src[i]);
    for (int k = 0; k < ns; k++) v = uint16_t(v - uint16_t(sub[k][i]));
    for (int k = 0; k < na; k++) v = uint16_t(v + uint16_t(add[k][i]));
    dst[i] = int16_t(v);
  }
}

template <int H>
void clip_portable(const int16_t* acc, uint8_t* out) {
  for (int i = 0; i < H; i++) out[i] = uint8_t(acc[i] < 0 ? 0 : acc[i] > 127 ? 127 : acc[i]);
}

template <int IN, int L>
void layer1_portable(const uint8_t* x, const int8_t* w, const int32_t* b, int32_t* s) {
  for (int j = 0; j < L; j++) {
    uint32_t sum = uint32_t(b[j]);
    const int8_t* row = w + j * IN;
    for (int i = 0; i < IN; i++) sum += uint32_t(int32_t(row[i]) * int32_t(x[i]));
    s[j] = int32_t(sum);
  }
}

inline float clipped(float v) {
  v = v > 0.0f ? v : 0.0f;
  v *= 0.015625f;
  return v < 127.0f ? v : 127.0f;
}

template <int L>
float layers23_portable(const int32_t* s, const float* w2, const float* b2, const float* w3, float b3) {
  float y1[L], y2[L];
  for (int j = 0; j < L; j++) y1[j] = clipped(float(s[j]));
  for (int j = 0; j < L; j++) {
    float acc = 0.0f;
    for (int i = 0; i < L; i++) acc += w2[j * L + i] * y1[i];
    y2[j] = clipped(acc + b2[j]);
  }
  float o = 0.0f;
  for (int i = 0; i < L; i++) o += w3[i] * y2[i];
  return o + b3;
}

#if defined(QUORIX_AVX2)

template <int H>
void acc_apply_avx2(int16_t* dst, const int16_t* src, const int16_t* const* add, int na,
                    const int16_t* const* sub, int ns) {
  constexpr int CHUNK = H < 128 ? H : 128;  // lanes kept in registers per pass
  constexpr int REGS = CHUNK / 16;
  for (int base = 0; base < H; base += CHUNK) {
    __m256i r[REGS];
    for (int k = 0; k < REGS; k++) r[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(src + base) + k);
    for (int t = 0; t < ns; t++) {
      const __m256i* row = reinterpret_cast<const __m256i*>(sub[t] + base);
      for (int k = 0; k < REGS; k++) r[k] = _mm256_sub_epi16(r[k], _mm256_load_si256(row + k));
    }
    for (int t = 0; t < na; t++) {
      const __m256i* row = reinterpret_cast<const __m256i*>(add[t] + base);
      for (int k = 0; k < REGS; k++) r[k] = _mm256_add_epi16(r[k], _mm256_load_si256(row + k));
    }
    for (int k = 0; k < REGS; k++) _mm256_store_si256(reinterpret_cast<__m256i*>(dst + base) + k, r[k]);
  }
}

template <int H>
void clip_avx2(const int16_t* acc, uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  for (int i = 0; i < H; i += 32) {
    __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(acc + i));
    __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(acc + i + 16));
    // packs works per 128-bit lane; the permute restores the element order.
    __m256i p = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
    _mm256_store_si256(reinterpret_cast<__m256i*>(out + i), _mm256_max_epi8(p, zero));
  }
}

// Sums of eight vectors of 8 int32, as one vector (lane k = sum of r[k]).
inline __m256i hsum8_epi32(const __m256i* r) {
  __m256i h01 = _mm256_hadd_epi32(r[0], r[1]), h23 = _mm256_hadd_epi32(r[2], r[3]);
  __m256i h45 = _mm256_hadd_epi32(r[4], r[5]), h67 = _mm256_hadd_epi32(r[6], r[7]);
  __m256i a = _mm256_hadd_epi32(h01, h23), b = _mm256_hadd_epi32(h45, h67);
  return _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
}

template <int IN, int L>
void layer1_avx2(const uint8_t* x, const int8_t* w, const int32_t* b, int32_t* s) {
  static_assert(L % 8 == 0 && IN % 32 == 0);
  const __m256i ones = _mm256_set1_epi16(1);
  for (int j = 0; j < L; j += 8) {
    __m256i acc[8];
    for (int k = 0; k < 8; k++) acc[k] = _mm256_setzero_si256();
    for (int c = 0; c < IN; c += 32) {
      __m256i xv = _mm256_load_si256(reinterpret_cast<const __m256i*>(x + c));
      for (int k = 0; k < 8; k++) {
        __m256i wv = _mm256_load_si256(reinterpret_cast<const __m256i*>(w + (j + k) * IN + c));
        // Pair sums of 0..127 by -128..127 stay inside 16 bits, so this is exact.
        __m256i prod = _mm256_madd_epi16(_mm256_maddubs_epi16(xv, wv), ones);
        acc[k] = _mm256_add_epi32(acc[k], prod);
      }
    }
    __m256i sums = _mm256_add_epi32(hsum8_epi32(acc), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + j)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(s + j), sums);
  }
}

// Sums of eight float vectors, as one vector (lane k = sum of r[k]).
inline __m256 hsum8_ps(const __m256* r) {
  __m256 h01 = _mm256_hadd_ps(r[0], r[1]), h23 = _mm256_hadd_ps(r[2], r[3]);
  __m256 h45 = _mm256_hadd_ps(r[4], r[5]), h67 = _mm256_hadd_ps(r[6], r[7]);
  __m256 a = _mm256_hadd_ps(h01, h23), b = _mm256_hadd_ps(h45, h67);
  return _mm256_add_ps(_mm256_permute2f128_ps(a, b, 0x20), _mm256_permute2f128_ps(a, b, 0x31));
}

inline __m256 clipped_ps(__m256 v) {
  v = _mm256_mul_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(0.015625f));
  return _mm256_min_ps(v, _mm256_set1_ps(127.0f));
}

template <int L>
float layers23_avx2(const int32_t* s, const float* w2, const float* b2, const float* w3, float b3) {
  static_assert(L % 8 == 0);
  constexpr int V = L / 8;
  __m256 y1[V], y2[V];
  for (int v = 0; v < V; v++)
    y1[v] = clipped_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 8 * v))));
  for (int g = 0; g < V; g++) {
    __m256 r[8];
    for (int k = 0; k < 8; k++) {
      const float* row = w2 + (8 * g + k) * L;
      __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(row), y1[0]);
      for (int v = 1; v < V; v++) acc = _mm256_fmadd_ps(_mm256_loadu_ps(row + 8 * v), y1[v], acc);
      r[k] = acc;
    }
    y2[g] = clipped_ps(_mm256_add_ps(hsum8_ps(r), _mm256_loadu_ps(b2 + 8 * g)));
  }
  __m256 o = _mm256_mul_ps(_mm256_loadu_ps(w3), y2[0]);
  for (int v = 1; v < V; v++) o = _mm256_fmadd_ps(_mm256_loadu_ps(w3 + 8 * v), y2[v], o);
  __m128 q = _mm_add_ps(_mm256_castps256_ps128(o), _mm256_extractf128_ps(o, 1));
  q = _mm_add_ps(q, _mm_movehl_ps(q, q));
  q = _mm_add_ss(q, _mm_movehdup_ps(q));
  return _mm_cvtss_f32(q) + b3;
}

#endif

// ---------------------------------------------------------------- transformer

template <int H>
class Transformer final : public FeatureTransformer {
 public:
  Transformer() : biases_(alloc_zeroed<int16_t>(H)), weights_(alloc_zeroed<int16_t>(size_t(FEATURES) * H)) {}

  bool read(ByteSource& s) override {
    if (!biases_ || !weights_) return false;
    return s.read(biases_.get(), sizeof(int16_t) * H) && s.read(weights_.get(), sizeof(int16_t) * size_t(FEATURES) * H);
  }

  void transform(Position& p, uint8_t* out, bool portable) const override {
#if defined(QUORIX_AVX2)
    if (!portable) {
      if (!p.acc_computed) update<acc_apply_avx2<H>>(p);
      const int us = p.side();
      clip_avx2<H>(p.acc.values[us], out);
      clip_avx2<H>(p.acc.values[us ^ 1], out + H);
      return;
    }
#endif
    (void)portable;
    if (!p.acc_computed) update<acc_apply_portable<H>>(p);
    const int us = p.side();
    clip_portable<H>(p.acc.values[us], out);
    clip_portable<H>(p.acc.values[us ^ 1], out + H);
  }

  int width() const override { return H; }
  const int16_t* biases() const override { return biases_.get(); }
  const int16_t* weights() const override { return weights_.get(); }

 private:
  using Apply = void (*)(int16_t*, const int16_t*, const int16_t* const*, int, const int16_t* const*, int);

  // First row of the block of the perspective's own king.
  const int16_t* king_block(const Position& p, int persp) const {
    uint32_t k = (p.kst.pi.list[persp][KING_ID_WHITE + persp] - KING_CODE) & 63;
    return weights_.get() + size_t(k) * KING_CODE * H;
  }

  template <Apply apply>
  void refresh(Position& p, int persp) const {
    const int16_t* block = king_block(p, persp);
    const int16_t* rows[30];
    int n = 0;
    for (int id = 0; id < 30; id++) {
      uint32_t code = p.kst.pi.list[persp][id];
      if (code - 1 < MAX_CODE) rows[n++] = block + size_t(code) * H;
    }
    apply(p.acc.values[persp], biases_.get(), rows, n, nullptr, 0);
  }

  template <Apply apply>
  void update(Position& p) const {
    // The nearest computed ancestor within MAX_STEPS moves: usually the parent;
    // when the parent was never evaluated, a grandparent saves a refresh. The sums
    // are the same either way (16-bit wrap-around addition is order-free).
    const Position* steps[MAX_STEPS];
    int n = 0;
    const Position* base = &p;
    while (n < MAX_STEPS && base->his) {
      steps[n++] = base;
      base = base->his;
      if (base->acc_computed) break;
    }
    if (n == 0 || !base->acc_computed) {
      refresh<apply>(p, 0);
      refresh<apply>(p, 1);
      p.acc_computed = 1;
      return;
    }
    for (int persp = 0; persp < 2; persp++) {
      const int16_t* block = king_block(p, persp);
      const int16_t* add[2 * MAX_STEPS];
      const int16_t* sub[2 * MAX_STEPS];
      int na = 0, ns = 0;
      bool king_moved = false;
      for (int i = 0; i < n && !king_moved; i++) {
        const PieceState& st = steps[i]->kst;
        const uint32_t count = st.count < 2 ? st.count : 2;
        if (count > 0 && st.changed[0] == uint32_t(KING_ID_WHITE + persp)) king_moved = true;
        for (uint32_t k = 0; k < count; k++) {
          if (st.changed[k] >= 30) continue;
          const Change& c = st.changes[k];
          uint32_t old_code = persp ? c.old_b : c.old_w, new_code = persp ? c.new_b : c.new_w;
          if (old_code - 1 < MAX_CODE) sub[ns++] = block + size_t(old_code) * H;
          if (new_code - 1 < MAX_CODE) add[na++] = block + size_t(new_code) * H;
        }
      }
      if (king_moved) refresh<apply>(p, persp);
      else apply(p.acc.values[persp], base->acc.values[persp], add, na, sub, ns);
    }
    p.acc_computed = 1;
  }

  Aligned<int16_t> biases_;
  Aligned<int16_t> weights_;
};

// ---------------------------------------------------------------- layer stack

template <int H, int L>
class Stack final : public LayerStack {
  static constexpr int IN = 2 * H;

 public:
  Stack()
      : b1_(alloc_zeroed<int32_t>(L)),
        w1_(alloc_zeroed<int8_t>(size_t(L) * IN)),
        b2_(alloc_zeroed<float>(L)),
        w2_(alloc_zeroed<float>(size_t(L) * L)),
        w3_(alloc_zeroed<float>(L)) {}

  bool read(ByteSource& s) override {
    if (!b1_ || !w1_ || !b2_ || !w2_ || !w3_) return false;
    if (!s.read(b1_.get(), sizeof(int32_t) * L) || !s.read(w1_.get(), size_t(L) * IN)) return false;
    int32_t ib[L];
    int8_t row[32];
    if (!s.read(ib, sizeof ib)) return false;
    for (int j = 0; j < L; j++) b2_[j] = float(ib[j]);
    for (int j = 0; j < L; j++) {
      if (!s.read(row, sizeof row)) return false;
      for (int i = 0; i < L; i++) w2_[j * L + i] = float(row[i]);
    }
    uint32_t ob;
    if (!s.read_u32(ob) || !s.read(row, sizeof row)) return false;
    b3_ = float(int32_t(ob));
    for (int i = 0; i < L; i++) w3_[i] = float(row[i]);
    return true;
  }

  float propagate(const uint8_t* in, bool portable, int32_t* l1) const override {
    alignas(32) int32_t sums[L];
#if defined(QUORIX_AVX2)
    if (!portable) {
      layer1_avx2<IN, L>(in, w1_.get(), b1_.get(), sums);
      if (l1) std::memcpy(l1, sums, sizeof sums);
      return layers23_avx2<L>(sums, w2_.get(), b2_.get(), w3_.get(), b3_);
    }
#endif
    (void)portable;
    layer1_portable<IN, L>(in, w1_.get(), b1_.get(), sums);
    if (l1) std::memcpy(l1, sums, sizeof sums);
    return layers23_portable<L>(sums, w2_.get(), b2_.get(), w3_.get(), b3_);
  }

 private:
  Aligned<int32_t> b1_;
  Aligned<int8_t> w1_;
  Aligned<float> b2_;
  Aligned<float> w2_;
  Aligned<float> w3_;
  float b3_ = 0.0f;
};

}  // namespace

std::unique_ptr<FeatureTransformer> make_transformer(int h) {
  if (h == 64) return std::make_unique<Transformer<64>>();
  return std::make_unique<Transformer<256>>();
}

std::unique_ptr<LayerStack> make_layer_stack(int h, int l) {
  if (h == 256 && l == 32) return std::make_unique<Stack<256, 32>>();
  if (h == 256 && l == 24) return std::make_unique<Stack<256, 24>>();
  if (h == 64 && l == 32) return std::make_unique<Stack<64, 32>>();
  if (h == 64 && l == 24) return std::make_unique<Stack<64, 24>>();
  if (h == 64 && l == 16) return std::make_unique<Stack<64, 16>>();
  return nullptr;
}

}  // namespace quorix::xnnue
