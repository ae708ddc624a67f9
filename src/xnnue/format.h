// Network file formats: the plain weights stream, the packed (zlib) blob and the
// scrambled wrapper, plus the byte sources the loader reads from.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quorix::xnnue {

constexpr int FEATURES = 41024;          // 64 king squares x 641 codes
constexpr uint32_t NET_VERSION = 0x7AF32F16;
constexpr uint32_t NET_HASH = 0x3E5AA78C;
constexpr size_t KEY_LEN = 41;
extern const char SCRAMBLE_KEY[KEY_LEN + 1];

struct SupportedPair {
  int h, l;
  bool flip;
};
constexpr SupportedPair SUPPORTED_PAIRS[5] = {{256, 32, true}, {256, 24, true}, {64, 32, false}, {64, 24, false}, {64, 16, true}};
// The entry for (h, l), or nullptr when the pair is not supported.
const SupportedPair* find_pair(int h, int l);

// Byte length of a plain stream with a description of desc_len bytes.
constexpr uint64_t plain_stream_size(int h, int l, uint64_t desc_len) {
  return 12 + desc_len + 4 + 2ull * h + 82048ull * h + 4 + 4ull * l + 2ull * h * l + 4ull * l + 32ull * l + 36;
}
// Largest inflated stream accepted: the biggest network plus room for a long
// description and trailing bytes.
constexpr uint64_t MAX_INFLATED = plain_stream_size(256, 32, 0) + (1u << 20);
// Largest wrapped file read into memory.
constexpr uint64_t MAX_WRAPPED_FILE = MAX_INFLATED + MAX_INFLATED / 64 + 4096;

bool is_magic(uint32_t w);
extern const uint32_t MAGIC_SET[32];

// XORs every whole 41-byte block of the payload with the key; the tail is left alone.
// The same call scrambles and descrambles.
void descramble(uint8_t* payload, size_t m);

inline uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// Packed records of the wrapper. Each reports its byte size, writes itself and
// reads itself from a buffer (read returns false when the buffer is too short
// or a length does not fit).
struct PackedRecord {
  virtual ~PackedRecord() = default;
  virtual size_t byte_size() const = 0;
  virtual void write(std::vector<uint8_t>& out) const = 0;
  virtual bool read(const uint8_t* in, size_t len) = 0;
};

// Declared inflated size and zlib bytes.
struct PackedBlob : PackedRecord {
  uint32_t size = 0;
  std::vector<uint8_t> bytes;
  size_t byte_size() const override { return 8 + bytes.size(); }
  void write(std::vector<uint8_t>& out) const override;
  bool read(const uint8_t* in, size_t len) override;
};

// Plain length c and the (scrambled) payload; the key is SCRAMBLE_KEY.
struct KeyedBlob : PackedRecord {
  uint32_t plain_len = 0;
  std::vector<uint8_t> payload;
  size_t byte_size() const override { return 8 + payload.size(); }
  void write(std::vector<uint8_t>& out) const override;
  bool read(const uint8_t* in, size_t len) override;
};

struct WrappedNetworkFile : PackedRecord {
  uint32_t a = 0, b = 0;
  KeyedBlob blob;
  size_t byte_size() const override { return 8 + blob.byte_size(); }
  void write(std::vector<uint8_t>& out) const override;
  bool read(const uint8_t* in, size_t len) override;  // also fails when a or b is not magic
};

// Inflates a packed blob into out (exactly blob.size bytes, zero-filled first).
// Fails on a declared size beyond what the data can hold or the cap, and on
// corrupt zlib data.
bool inflate_blob(const PackedBlob& blob, std::vector<uint8_t>& out);

// Where the loader reads from: a file or a byte buffer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads exactly n bytes; false (and the source fails) when fewer are left.
  virtual bool read(void* dst, size_t n) = 0;
  virtual bool skip(size_t n) = 0;
  virtual uint64_t remaining() const = 0;
  virtual bool rewind() = 0;
  bool read_u32(uint32_t& v) {
    uint8_t b[4];
    if (!read(b, 4)) return false;
    v = get_u32(b);
    return true;
  }
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t len) : data_(data), len_(len) {}
  bool read(void* dst, size_t n) override;
  bool skip(size_t n) override;
  uint64_t remaining() const override { return len_ - pos_; }
  bool rewind() override { pos_ = 0; return true; }

 private:
  const uint8_t* data_;
  size_t len_, pos_ = 0;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* f);
  bool read(void* dst, size_t n) override;
  bool skip(size_t n) override;
  uint64_t remaining() const override { return size_ > pos_ ? size_ - pos_ : 0; }
  bool rewind() override;

 private:
  std::FILE* f_;
  uint64_t size_ = 0, pos_ = 0;
};

}  // namespace quorix::xnnue
