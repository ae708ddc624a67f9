// Network classes: the feature transformer, the layer stacks per (H, L) pair and
// the loaded network, with the readers that build them.
#pragma once
#include <cstdint>
#include <memory>

#include "board/position.h"
#include "xnnue/format.h"

namespace quorix::xnnue {

class FeatureTransformer {
 public:
  virtual ~FeatureTransformer() = default;
  // Reads H biases and FEATURES x H weights.
  virtual bool read(ByteSource& s) = 0;
  // Brings p's accumulator up to date (incrementally from p.his when it can) and
  // writes 2H bytes: the side to move's perspective first, each value clamped to 0..127.
  // portable selects the plain-loop kernels (same integer results).
  virtual void transform(Position& p, uint8_t* out, bool portable) const = 0;
  virtual int width() const = 0;
  virtual const int16_t* biases() const = 0;
  virtual const int16_t* weights() const = 0;  // row f = weights() + f * width()
};

class LayerStack {
 public:
  virtual ~LayerStack() = default;
  virtual bool read(ByteSource& s) = 0;
  // in: the 2H transformer bytes (64-byte aligned). Returns the output value;
  // l1, when given, receives the L layer-1 sums.
  virtual float propagate(const uint8_t* in, bool portable, int32_t* l1 = nullptr) const = 0;
};

class Network {
 public:
  Network(std::unique_ptr<FeatureTransformer> ft, std::unique_ptr<LayerStack> ls, int h, int l, bool flip)
      : ft_(std::move(ft)), ls_(std::move(ls)), h_(h), l_(l), flip_(flip) {}
  virtual ~Network() = default;
  // Score of p from the side to move's view in internal units: trunc(output / 16).
  virtual int evaluate(Position& p) const { return int(output(p, false) * 0.0625f); }
  virtual bool flip() const { return flip_; }

  // The raw float output; portable forces the plain-loop kernels.
  float output(Position& p, bool portable, int32_t* l1 = nullptr) const {
    alignas(64) uint8_t buf[2 * MAX_HIDDEN];
    ft_->transform(p, buf, portable);
    return ls_->propagate(buf, portable, l1);
  }
  int evaluate_portable(Position& p) const { return int(output(p, true) * 0.0625f); }
  int h() const { return h_; }
  int l() const { return l_; }
  const FeatureTransformer& transformer() const { return *ft_; }

 private:
  std::unique_ptr<FeatureTransformer> ft_;
  std::unique_ptr<LayerStack> ls_;
  int h_, l_;
  bool flip_;
};

// Transformer class for width h (64, or 256 for every other value).
std::unique_ptr<FeatureTransformer> make_transformer(int h);
// Layer stack for a supported pair, nullptr otherwise.
std::unique_ptr<LayerStack> make_layer_stack(int h, int l);

// Parses a plain stream. Size-detection warnings go to standard error.
std::unique_ptr<Network> read_network(ByteSource& s);
// Plain or wrapped file contents.
std::unique_ptr<Network> read_network_file(ByteSource& s);
// A packed blob (declared size, zlib length, zlib data), the embedded form.
std::unique_ptr<Network> read_packed_network(const uint8_t* data, size_t len);

// The loaded network, or nullptr.
const Network* current_network();

// Byte range of the blob linked into the program.
void embedded_blob(const uint8_t*& data, size_t& len);
// Replaces the loaded network with the one in a packed blob, printing the outcome
// as for the embedded network. Start-up passes the linked blob.
bool load_packed_network(const uint8_t* data, size_t len);

}  // namespace quorix::xnnue
