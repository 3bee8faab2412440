// MD5 (RFC 1321).
//
// The digest is latency-bound: every step of a block depends on the step
// before it, so the speed of -md5 is the length of that dependency chain. The
// block transform is therefore written out in full, keeps the chaining values
// in locals across all the blocks of one call, and arranges each step so that
// only the work on the newest word lies on the chain (the message word, the
// constant and the oldest word are added first, while the previous step is
// still running). Whole blocks are digested straight from the caller's bytes;
// only a block split across two Update calls is gathered in the buffer.
#include "digest/md5.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "platform/crt.h"

namespace qm {
namespace {

// The file is read in pieces of this size; each piece is digested as it comes.
constexpr size_t kReadBufferSize = 1024;

// A large stdio buffer under the 1024-byte reads, so that the reads cost a
// memory copy and not a system call each; what is read, and in which pieces,
// is unchanged.
constexpr size_t kStreamBufferSize = 64 * 1024;

constexpr std::uint32_t kInitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

inline std::uint32_t LoadLittleEndian(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    v = (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
  }
  return v;
}

inline void StoreLittleEndian(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// One step: a = b + ((a + f(b,c,d) + x + t) <<< s). `a + x + t` does not
// depend on the step before, so it is formed first; f is written so that b,
// the word the previous step has just produced, enters it as late as possible.
//
// F(b,c,d) = (b & c) | (~b & d), computed as d ^ (b & (c ^ d)).
#define QM_MD5_F(a, b, c, d, x, t, s) \
  do {                                \
    a += (x) + (t);                   \
    a += (d) ^ ((b) & ((c) ^ (d)));   \
    a = std::rotl(a, s) + (b);        \
  } while (0)
// G(b,c,d) = (b & d) | (c & ~d). The two halves never both have a bit set,
// so they may be added instead of or-ed: c & ~d does not involve b and joins
// early.
#define QM_MD5_G(a, b, c, d, x, t, s) \
  do {                                \
    a += (x) + (t);                   \
    a += (c) & ~(d);                  \
    a += (b) & (d);                   \
    a = std::rotl(a, s) + (b);        \
  } while (0)
// H(b,c,d) = b ^ c ^ d; c ^ d is ready before b.
#define QM_MD5_H(a, b, c, d, x, t, s) \
  do {                                \
    a += (x) + (t);                   \
    a += (b) ^ ((c) ^ (d));           \
    a = std::rotl(a, s) + (b);        \
  } while (0)
// I(b,c,d) = c ^ (b | ~d); ~d is ready before b.
#define QM_MD5_I(a, b, c, d, x, t, s) \
  do {                                \
    a += (x) + (t);                   \
    a += (c) ^ ((b) | ~(d));          \
    a = std::rotl(a, s) + (b);        \
  } while (0)

// Digests `blocks` consecutive 64-byte blocks at `p` into `state`.
void TransformBlocks(std::uint32_t state[4], const std::uint8_t* p, size_t blocks) {
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (; blocks != 0; --blocks, p += 64) {
    const std::uint32_t x0 = LoadLittleEndian(p + 0);
    const std::uint32_t x1 = LoadLittleEndian(p + 4);
    const std::uint32_t x2 = LoadLittleEndian(p + 8);
    const std::uint32_t x3 = LoadLittleEndian(p + 12);
    const std::uint32_t x4 = LoadLittleEndian(p + 16);
    const std::uint32_t x5 = LoadLittleEndian(p + 20);
    const std::uint32_t x6 = LoadLittleEndian(p + 24);
    const std::uint32_t x7 = LoadLittleEndian(p + 28);
    const std::uint32_t x8 = LoadLittleEndian(p + 32);
    const std::uint32_t x9 = LoadLittleEndian(p + 36);
    const std::uint32_t x10 = LoadLittleEndian(p + 40);
    const std::uint32_t x11 = LoadLittleEndian(p + 44);
    const std::uint32_t x12 = LoadLittleEndian(p + 48);
    const std::uint32_t x13 = LoadLittleEndian(p + 52);
    const std::uint32_t x14 = LoadLittleEndian(p + 56);
    const std::uint32_t x15 = LoadLittleEndian(p + 60);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;

    // Round 1.
    QM_MD5_F(a, b, c, d, x0, 0xd76aa478, 7);
    QM_MD5_F(d, a, b, c, x1, 0xe8c7b756, 12);
    QM_MD5_F(c, d, a, b, x2, 0x242070db, 17);
    QM_MD5_F(b, c, d, a, x3, 0xc1bdceee, 22);
    QM_MD5_F(a, b, c, d, x4, 0xf57c0faf, 7);
    QM_MD5_F(d, a, b, c, x5, 0x4787c62a, 12);
    QM_MD5_F(c, d, a, b, x6, 0xa8304613, 17);
    QM_MD5_F(b, c, d, a, x7, 0xfd469501, 22);
    QM_MD5_F(a, b, c, d, x8, 0x698098d8, 7);
    QM_MD5_F(d, a, b, c, x9, 0x8b44f7af, 12);
    QM_MD5_F(c, d, a, b, x10, 0xffff5bb1, 17);
    QM_MD5_F(b, c, d, a, x11, 0x895cd7be, 22);
    QM_MD5_F(a, b, c, d, x12, 0x6b901122, 7);
    QM_MD5_F(d, a, b, c, x13, 0xfd987193, 12);
    QM_MD5_F(c, d, a, b, x14, 0xa679438e, 17);
    QM_MD5_F(b, c, d, a, x15, 0x49b40821, 22);

    // Round 2.
    QM_MD5_G(a, b, c, d, x1, 0xf61e2562, 5);
    QM_MD5_G(d, a, b, c, x6, 0xc040b340, 9);
    QM_MD5_G(c, d, a, b, x11, 0x265e5a51, 14);
    QM_MD5_G(b, c, d, a, x0, 0xe9b6c7aa, 20);
    QM_MD5_G(a, b, c, d, x5, 0xd62f105d, 5);
    QM_MD5_G(d, a, b, c, x10, 0x02441453, 9);
    QM_MD5_G(c, d, a, b, x15, 0xd8a1e681, 14);
    QM_MD5_G(b, c, d, a, x4, 0xe7d3fbc8, 20);
    QM_MD5_G(a, b, c, d, x9, 0x21e1cde6, 5);
    QM_MD5_G(d, a, b, c, x14, 0xc33707d6, 9);
    QM_MD5_G(c, d, a, b, x3, 0xf4d50d87, 14);
    QM_MD5_G(b, c, d, a, x8, 0x455a14ed, 20);
    QM_MD5_G(a, b, c, d, x13, 0xa9e3e905, 5);
    QM_MD5_G(d, a, b, c, x2, 0xfcefa3f8, 9);
    QM_MD5_G(c, d, a, b, x7, 0x676f02d9, 14);
    QM_MD5_G(b, c, d, a, x12, 0x8d2a4c8a, 20);

    // Round 3.
    QM_MD5_H(a, b, c, d, x5, 0xfffa3942, 4);
    QM_MD5_H(d, a, b, c, x8, 0x8771f681, 11);
    QM_MD5_H(c, d, a, b, x11, 0x6d9d6122, 16);
    QM_MD5_H(b, c, d, a, x14, 0xfde5380c, 23);
    QM_MD5_H(a, b, c, d, x1, 0xa4beea44, 4);
    QM_MD5_H(d, a, b, c, x4, 0x4bdecfa9, 11);
    QM_MD5_H(c, d, a, b, x7, 0xf6bb4b60, 16);
    QM_MD5_H(b, c, d, a, x10, 0xbebfbc70, 23);
    QM_MD5_H(a, b, c, d, x13, 0x289b7ec6, 4);
    QM_MD5_H(d, a, b, c, x0, 0xeaa127fa, 11);
    QM_MD5_H(c, d, a, b, x3, 0xd4ef3085, 16);
    QM_MD5_H(b, c, d, a, x6, 0x04881d05, 23);
    QM_MD5_H(a, b, c, d, x9, 0xd9d4d039, 4);
    QM_MD5_H(d, a, b, c, x12, 0xe6db99e5, 11);
    QM_MD5_H(c, d, a, b, x15, 0x1fa27cf8, 16);
    QM_MD5_H(b, c, d, a, x2, 0xc4ac5665, 23);

    // Round 4.
    QM_MD5_I(a, b, c, d, x0, 0xf4292244, 6);
    QM_MD5_I(d, a, b, c, x7, 0x432aff97, 10);
    QM_MD5_I(c, d, a, b, x14, 0xab9423a7, 15);
    QM_MD5_I(b, c, d, a, x5, 0xfc93a039, 21);
    QM_MD5_I(a, b, c, d, x12, 0x655b59c3, 6);
    QM_MD5_I(d, a, b, c, x3, 0x8f0ccc92, 10);
    QM_MD5_I(c, d, a, b, x10, 0xffeff47d, 15);
    QM_MD5_I(b, c, d, a, x1, 0x85845dd1, 21);
    QM_MD5_I(a, b, c, d, x8, 0x6fa87e4f, 6);
    QM_MD5_I(d, a, b, c, x15, 0xfe2ce6e0, 10);
    QM_MD5_I(c, d, a, b, x6, 0xa3014314, 15);
    QM_MD5_I(b, c, d, a, x13, 0x4e0811a1, 21);
    QM_MD5_I(a, b, c, d, x4, 0xf7537e82, 6);
    QM_MD5_I(d, a, b, c, x11, 0xbd3af235, 10);
    QM_MD5_I(c, d, a, b, x2, 0x2ad7d2bb, 15);
    QM_MD5_I(b, c, d, a, x9, 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef QM_MD5_F
#undef QM_MD5_G
#undef QM_MD5_H
#undef QM_MD5_I

}  // namespace

Md5Context::Md5Context() : count_{0, 0}, buffer_{}, digest_{} {
  std::memcpy(state_, kInitialState, sizeof state_);
}

void Md5Context::Update(const std::uint8_t* data, std::uint32_t length) {
  size_t pending = (count_[0] >> 3) & 63;
  // The bit count is kept modulo 2^64 in two words; a carry out of the low
  // word goes to the high one, and the high one takes the length's top bits.
  const std::uint32_t lowBits = length << 3;
  count_[0] += lowBits;
  if (count_[0] < lowBits) ++count_[1];
  count_[1] += length >> 29;

  size_t left = length;
  if (pending != 0) {
    const size_t room = 64 - pending;
    if (left < room) {
      std::memcpy(buffer_ + pending, data, left);
      return;
    }
    std::memcpy(buffer_ + pending, data, room);
    TransformBlocks(state_, buffer_, 1);
    data += room;
    left -= room;
  }
  const size_t blocks = left / 64;
  if (blocks != 0) {
    TransformBlocks(state_, data, blocks);
    data += blocks * 64;
    left -= blocks * 64;
  }
  if (left != 0) std::memcpy(buffer_, data, left);
}

void Md5Context::Finalize() {
  // The length in bits, little-endian, as it was before padding.
  std::uint8_t bits[8];
  StoreLittleEndian(bits, count_[0]);
  StoreLittleEndian(bits + 4, count_[1]);

  // Pad with 0x80 and zeros to 56 bytes modulo 64, then append the length.
  static constexpr std::uint8_t kPadding[64] = {0x80};
  const std::uint32_t pending = (count_[0] >> 3) & 63;
  const std::uint32_t padLength = pending < 56 ? 56 - pending : 120 - pending;
  Update(kPadding, padLength);
  Update(bits, 8);

  for (int i = 0; i < 4; ++i) StoreLittleEndian(digest_ + 4 * i, state_[i]);

  std::memset(state_, 0, sizeof state_);
  std::memset(count_, 0, sizeof count_);
  std::memset(buffer_, 0, sizeof buffer_);
}

namespace {

std::optional<std::string> DigestOpenedFile(std::string_view path) {
  const std::string pathText(path);

  Md5Context context;
  std::uint8_t readBuffer[kReadBufferSize] = {};

  FILE* file = crt::fopen(pathText.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  // Owned by the stream until it is closed; freed after fclose.
  std::unique_ptr<char[]> streamBuffer(new (std::nothrow) char[kStreamBufferSize]);
  if (streamBuffer) std::setvbuf(file, streamBuffer.get(), _IOFBF, kStreamBufferSize);

  // A short read does not end the input, only a read of nothing. A read that
  // fails part-way gives no digest at all: the digest of the bytes read so
  // far would stamp a file that is not the one on disk.
  for (;;) {
    const size_t got = std::fread(readBuffer, 1, kReadBufferSize, file);
    if (got == 0) break;
    context.Update(readBuffer, static_cast<std::uint32_t>(got));
  }
  const bool readFailed = std::ferror(file) != 0;
  std::fclose(file);
  if (readFailed) return std::nullopt;

  context.Finalize();
  return DigestToHex(context.Digest());
}

}  // namespace

std::optional<std::string> DigestFile(std::string_view path) {
  // The C runtime wants a terminated text; a path with a NUL in it cannot
  // name a file.
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  // Running out of memory (for the path, the stream or the digest text) is
  // one more way of having no digest; nothing is thrown at the caller.
  // Nothing that can throw runs while the file is open, so it is never left
  // open.
  try {
    return DigestOpenedFile(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string DigestToHex(const std::uint8_t digest[16]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (int i = 0; i < 16; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
  }
  return hex;
}

}  // namespace qm
