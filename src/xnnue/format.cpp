#include "xnnue/format.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <cstring>

namespace quorix::xnnue {

const char SCRAMBLE_KEY[KEY_LEN + 1] = "quorix:weights-wrapper/scramble-key#2026!";
static_assert(sizeof(SCRAMBLE_KEY) == KEY_LEN + 1);

const uint32_t MAGIC_SET[32] = {
    0x05F88ECF, 0x064575F5, 0x09EF9DD3, 0x0A50AAC5, 0x0B7B22BF, 0x0E7D7A61, 0x10EFACCD, 0x119B945D,
    0x127C3DCB, 0x15C3C8FF, 0x18DAEB0B, 0x1A369EB7, 0x1A9F211D, 0x1C8581E3, 0x1E42F259, 0x23348A1D,
    0x263C649B, 0x26F2A927, 0x27601EFD, 0x29BDA755, 0x2BFCD0F3, 0x2D45E185, 0x3426A22F, 0x34A1BFE9,
    0x35D64709, 0x367964D1, 0x3681EC45, 0x3A4268D7, 0x3A617F9B, 0x3AFB257F, 0x3B36A7D9, 0x3B6F8D65};

const SupportedPair* find_pair(int h, int l) {
  for (const auto& p : SUPPORTED_PAIRS)
    if (p.h == h && p.l == l) return &p;
  return nullptr;
}

bool is_magic(uint32_t w) {
  int lo = 0, hi = 31;
  const int32_t key = int32_t(w);
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int32_t v = int32_t(MAGIC_SET[mid]);
    if (v == key) return true;
    if (v < key) lo = mid + 1;
    else hi = mid - 1;
  }
  return false;
}

void descramble(uint8_t* payload, size_t m) {
  const size_t blocks = m / KEY_LEN;
  for (size_t i = 0; i < blocks; i++)
    for (size_t j = 0; j < KEY_LEN; j++) payload[i * KEY_LEN + j] ^= uint8_t(SCRAMBLE_KEY[j]);
}

// ---- packed records ----

namespace {

// Both blob records are a u32 field, a u32 byte count and the bytes.
void write_counted(std::vector<uint8_t>& out, uint32_t field, const std::vector<uint8_t>& bytes) {
  put_u32(out, field);
  put_u32(out, uint32_t(bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

bool read_counted(const uint8_t* in, size_t len, uint32_t& field, std::vector<uint8_t>& bytes) {
  if (len < 8) return false;
  field = get_u32(in);
  uint32_t n = get_u32(in + 4);
  if (n > len - 8) return false;
  bytes.assign(in + 8, in + 8 + n);
  return true;
}

}  // namespace

void PackedBlob::write(std::vector<uint8_t>& out) const { write_counted(out, size, bytes); }
bool PackedBlob::read(const uint8_t* in, size_t len) { return read_counted(in, len, size, bytes); }
void KeyedBlob::write(std::vector<uint8_t>& out) const { write_counted(out, plain_len, payload); }
bool KeyedBlob::read(const uint8_t* in, size_t len) { return read_counted(in, len, plain_len, payload); }

void WrappedNetworkFile::write(std::vector<uint8_t>& out) const {
  put_u32(out, a);
  put_u32(out, b);
  blob.write(out);
}

bool WrappedNetworkFile::read(const uint8_t* in, size_t len) {
  if (len < 8) return false;
  a = get_u32(in);
  b = get_u32(in + 4);
  if (!is_magic(a) || !is_magic(b)) return false;
  return blob.read(in + 8, len - 8);
}

bool inflate_blob(const PackedBlob& blob, std::vector<uint8_t>& out) {
  // Deflate cannot expand data by more than about 1032:1, so a larger declared
  // size is a lie; the cap bounds the allocation for any input.
  const uint64_t u = blob.size;
  if (u > MAX_INFLATED || u > uint64_t(blob.bytes.size()) * 1032 + 64) return false;
  out.assign(size_t(u), 0);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return false;
  size_t actual = 0;
  libdeflate_result r =
      libdeflate_zlib_decompress(d, blob.bytes.data(), blob.bytes.size(), out.data(), out.size(), &actual);
  libdeflate_free_decompressor(d);
  // A stream shorter than declared leaves the zero-filled rest; corrupt data or
  // data longer than declared fail.
  return r == LIBDEFLATE_SUCCESS;
}

// ---- byte sources ----

bool MemorySource::read(void* dst, size_t n) {
  if (n > len_ - pos_) {
    pos_ = len_;
    return false;
  }
  if (n) std::memcpy(dst, data_ + pos_, n);
  pos_ += n;
  return true;
}

bool MemorySource::skip(size_t n) {
  if (n > len_ - pos_) {
    pos_ = len_;
    return false;
  }
  pos_ += n;
  return true;
}

FileSource::FileSource(std::FILE* f) : f_(f) {
  struct stat st;
  if (f_ && fstat(fileno(f_), &st) == 0 && S_ISREG(st.st_mode)) size_ = uint64_t(st.st_size);
  if (f_) pos_ = uint64_t(std::ftell(f_) < 0 ? 0 : std::ftell(f_));
}

bool FileSource::read(void* dst, size_t n) {
  if (n > remaining()) {
    pos_ = size_;
    return false;
  }
  size_t got = n ? std::fread(dst, 1, n, f_) : 0;
  pos_ += got;
  if (got != n) {
    size_ = pos_;
    return false;
  }
  return true;
}

bool FileSource::skip(size_t n) {
  if (n > remaining() || std::fseek(f_, long(n), SEEK_CUR) != 0) {
    pos_ = size_;
    return false;
  }
  pos_ += n;
  return true;
}

bool FileSource::rewind() {
  if (std::fseek(f_, 0, SEEK_SET) != 0) return false;
  pos_ = 0;
  return true;
}

}  // namespace quorix::xnnue
