// MD5 against known digests, in memory and from files, and the install stamp.
#include <gtest/gtest.h>

#include <new>

#include "digest/md5.h"
#include "digest/stamp.h"
#include "platform/crt.h"
#include "platform/emulated/machine.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

bool outOfMemory = false;  // while set, every allocation fails
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // malloc and free pair up here
void* operator new(std::size_t n) {
  if (void* p = outOfMemory ? nullptr : std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace qm {
namespace {

using namespace std::string_literals;

std::string Md5(const std::vector<std::string_view>& pieces) {  // each given to Update in turn
  Md5Context md5;
  for (auto p : pieces)
    md5.Update(reinterpret_cast<const std::uint8_t*>(p.data()), static_cast<uint32_t>(p.size()));
  md5.Finalize();
  return DigestToHex(md5.Digest());
}

struct Digest : ::testing::Test { qmtest::TempPrefix prefix; };

// RFC 1321's suite, sizes around the padding and 1 KiB reads (md5sum): from files, split anywhere.
TEST_F(Digest, KnownDigests) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(1024, 'a'), "c9a34cfc85d982698c6ac89f76071abd"},
      {std::string(1025, 'a'), "ae187e1febee2a150b64849c32d566ca"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"}};
  for (const auto& [bytes, digest] : cases) {
    prefix.WriteFile("C:\\f.bin", bytes);
    EXPECT_EQ(DigestFile("C:\\f.bin"), digest) << bytes.size() << " bytes";
    const std::string_view m = bytes;
    for (size_t first = 0; first <= m.size() && m.size() < 2000; ++first)
      for (size_t piece : {1, 55, 64, 65, 2000}) {
        std::vector<std::string_view> pieces{m.substr(0, first)};
        for (size_t at = first; at < m.size(); at += piece) pieces.push_back(m.substr(at, piece));
        ASSERT_EQ(Md5(pieces), digest) << first << " bytes, then pieces of " << piece;
      }
  }
  const std::string mebibyte(1 << 20, '\0');  // 513 of them: the bit count passes 2^32
  EXPECT_EQ(Md5(std::vector<std::string_view>(513, mebibyte)), "f3a8799d64129a6fd8a5aa56f199ac54");
  // No digest when a file cannot be read (/proc/self/mem fails its first read) or memory ends.
  for (auto path : {"C:\\none"s, "C:\\no\\f"s, ""s, "C:\\f.bin\0"s, "Z:\\proc\\self\\mem"s})
    EXPECT_EQ(DigestFile(path), std::nullopt) << path;
  outOfMemory = true;
  const bool none = !DigestFile("C:\\f.bin");  // and nothing thrown
  outOfMemory = false;
  EXPECT_TRUE(none);
}

// "MD5:" and what follows the last backslash that is a character of its own
// (in 936, 0x5C may end a character), from C:\w; failures are told.
TEST_F(Digest, Stamp) {
  const char* key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pinebrook";
  ASSERT_TRUE(text::SetLocale("chs"));
  prefix.MakeDir("C:\\w\\t");
  prefix.ChangeDir("C:\\w");
  for (auto [path, name] : {std::pair{"..\\Up.exe", "Up.exe"}, {"t/x.exe", "t/x.exe"},
                            {"C:y.exe", "C:y.exe"}, {"\xD5\x5C", "\xD5\x5C"},
                            {"t\\a\xD5\x5C.exe", "a\xD5\x5C.exe"}}) {
    std::fclose(crt::fopen(path, "wb"));
    std::string stamp;
    EXPECT_EQ(RecordFileDigest(path) + ReadRegistryString(stamp, HKEY_LOCAL_MACHINE, key, "MD5:"s + name), 0) << path;
    EXPECT_EQ(stamp, "d41d8cd98f00b204e9800998ecf8427e\0"s);
  }
  text::SetLocale("C");
  emulated::InjectRegistryFault("RegSetValueExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(RecordFileDigest("C:y.exe") * 10 + RecordFileDigest("none.exe"), 51);  // 5, then 1
}

}  // namespace
}  // namespace qm
