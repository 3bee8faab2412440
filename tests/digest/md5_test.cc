#include "digest/md5.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_prefix.h"

// While set, every allocation through operator new fails, as it does when
// memory runs out.
std::atomic<bool> failAllocations{false};

// The replacements pair malloc with free themselves; GCC cannot see that
// through the replaced operators and warns about a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (failAllocations.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace qm {
namespace {

std::string Md5Hex(std::string_view message) {
  Md5Context context;
  context.Update(reinterpret_cast<const std::uint8_t*>(message.data()),
                 static_cast<std::uint32_t>(message.size()));
  context.Finalize();
  return DigestToHex(context.Digest());
}

// Reproducible bytes of every value, so that no block is like another.
std::string PseudoRandomBytes(size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

// The digest of a host file by a digest program of the host, when one is
// installed: an answer that does not come from our code.
std::optional<std::string> HostToolDigest(const std::string& hostPath) {
  for (const char* tool : {"md5sum", "openssl md5 -r"}) {
    const std::string command = std::string(tool) + " < '" + hostPath + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) continue;
    char out[64] = {};
    const size_t got = std::fread(out, 1, 32, pipe);
    const int status = ::pclose(pipe);
    if (status == 0 && got == 32) return std::string(out, 32);
  }
  return std::nullopt;
}

std::optional<std::string> HostToolDigestOfBytes(const std::string& bytes) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("qm-md5-" + std::to_string(::getpid()))).string();
  std::ofstream(path, std::ios::binary) << bytes;
  std::optional<std::string> digest = HostToolDigest(path);
  std::filesystem::remove(path);
  return digest;
}

TEST(Md5, Rfc1321TestSuite) {
  const struct {
    const char* message;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Md5Hex(c.message), c.digest) << '"' << c.message << '"';
}

TEST(Md5, MillionLetters) {
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

// Lengths around the padding boundaries (the length field fits after 55
// bytes, not after 56) against the host's own digest program.
TEST(Md5, PaddingBoundariesMatchHostTool) {
  if (!HostToolDigestOfBytes("")) GTEST_SKIP() << "neither md5sum nor openssl is installed";
  for (size_t length : {1, 55, 56, 57, 63, 64, 65, 119, 120, 121, 127, 128, 129, 1000}) {
    const std::string message = PseudoRandomBytes(length, static_cast<std::uint32_t>(length));
    EXPECT_EQ(Md5Hex(message), HostToolDigestOfBytes(message).value()) << length << " bytes";
  }
}

TEST(Md5, AnySplitGivesTheOneShotDigest) {
  const std::string message = PseudoRandomBytes(300, 7);
  const std::string expected = Md5Hex(message);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());

  // Two pieces, split anywhere, the empty piece included.
  for (std::uint32_t split = 0; split <= message.size(); ++split) {
    Md5Context context;
    context.Update(bytes, split);
    context.Update(bytes + split, static_cast<std::uint32_t>(message.size()) - split);
    context.Finalize();
    EXPECT_EQ(DigestToHex(context.Digest()), expected) << "split at " << split;
  }
  // Runs of equal pieces, smaller and larger than a block, with a remainder.
  for (std::uint32_t piece = 1; piece <= 130; ++piece) {
    Md5Context context;
    for (std::uint32_t at = 0; at < message.size(); at += piece) {
      context.Update(bytes + at, std::min<std::uint32_t>(
                                     piece, static_cast<std::uint32_t>(message.size()) - at));
    }
    context.Finalize();
    EXPECT_EQ(DigestToHex(context.Digest()), expected) << "pieces of " << piece;
  }
}

// A message over 2^32 bits carries into the high word of the bit count.
TEST(Md5, BitCountCarriesPast512MiB) {
  constexpr size_t kChunk = 1 << 20;
  constexpr size_t kChunks = 513;  // 513 MiB: 2^32 bits and 2^23 more
  std::FILE* pipe = ::popen("head -c 537919488 /dev/zero | md5sum 2>/dev/null", "r");
  char out[33] = {};
  const bool haveTool = pipe && std::fread(out, 1, 32, pipe) == 32;
  if (pipe) ::pclose(pipe);
  if (!haveTool) GTEST_SKIP() << "md5sum is not installed";

  const std::vector<std::uint8_t> zeros(kChunk, 0);
  Md5Context context;
  for (size_t i = 0; i < kChunks; ++i) context.Update(zeros.data(), kChunk);
  context.Finalize();
  EXPECT_EQ(DigestToHex(context.Digest()), std::string(out)) << "in pieces of 1 MiB";

  // In one call the length itself holds more than 2^32 bits: its top bits go
  // to the high word. The pages are mapped, never written, so they cost no
  // memory.
  const size_t total = kChunk * kChunks;
  void* pages = ::mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  Md5Context oneCall;
  oneCall.Update(static_cast<const std::uint8_t*>(pages), static_cast<std::uint32_t>(total));
  oneCall.Finalize();
  ::munmap(pages, total);
  EXPECT_EQ(DigestToHex(oneCall.Digest()), std::string(out)) << "in one call";
}

TEST(DigestToHex, TwoLowerCaseDigitsPerByteInOrder) {
  const std::uint8_t kBytes[16] = {0x00, 0x01, 0x0f, 0x10, 0x7f, 0x80, 0xab, 0xcd,
                                   0xef, 0xf0, 0xfe, 0xff, 0x09, 0x90, 0x5a, 0xa5};
  EXPECT_EQ(DigestToHex(kBytes), "00010f107f80abcdeff0feff09905aa5");
}

class DigestFileTest : public ::testing::Test {
 protected:
  qmtest::TempPrefix prefix_;
};

TEST_F(DigestFileTest, MatchesHostToolForSizesAroundTheReadBuffer) {
  if (!HostToolDigestOfBytes("")) GTEST_SKIP() << "neither md5sum nor openssl is installed";
  for (size_t size : {0, 1, 1023, 1024, 1025, 2048, 3 * 1024 * 1024 + 17}) {
    const std::string dosPath = "C:\\data\\f" + std::to_string(size) + ".bin";
    prefix_.WriteFile(dosPath, PseudoRandomBytes(size, static_cast<std::uint32_t>(size) + 1));
    const std::optional<std::string> digest = DigestFile(dosPath);
    ASSERT_TRUE(digest.has_value()) << size << " bytes";
    EXPECT_EQ(*digest, HostToolDigest(prefix_.HostPath(dosPath)).value()) << size << " bytes";
  }
}

// Line ends and the 0x1A byte are digested as stored, never translated.
TEST_F(DigestFileTest, ReadsTheBytesAsStored) {
  const std::string bytes(
      "a\r\nb\nc\x1a"
      "d\r",
      8);
  prefix_.WriteFile("C:\\data\\text.txt", bytes);
  EXPECT_EQ(DigestFile("C:\\data\\text.txt"), Md5Hex(bytes));
}

TEST_F(DigestFileTest, NothingForAFileThatCannotBeRead) {
  prefix_.MakeDir("C:\\data\\folder");
  for (const char* path : {"C:\\data\\missing.bin", "C:\\data\\folder", "C:\\nowhere\\x.bin", "",
                           // Opens, but its first read fails: a digest of the
                           // bytes read so far would stamp the wrong file.
                           "Z:\\proc\\self\\mem"})
    EXPECT_FALSE(DigestFile(path).has_value()) << '"' << path << '"';
}

// Out of memory while the file is digested or its digest text is made: no
// digest, and nothing thrown at the caller.
TEST_F(DigestFileTest, NothingWhenMemoryRunsOut) {
  prefix_.WriteFile("C:\\data\\abc.bin", "abc");
  ASSERT_EQ(DigestFile("C:\\data\\abc.bin"), "900150983cd24fb0d6963f7d28e17f72");

  bool threw = false;
  std::optional<std::string> digest;
  failAllocations = true;
  try {
    digest = DigestFile("C:\\data\\abc.bin");
  } catch (...) {
    threw = true;
  }
  failAllocations = false;
  EXPECT_FALSE(threw);
  EXPECT_FALSE(digest.has_value());
}

}  // namespace
}  // namespace qm
