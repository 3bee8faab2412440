// Registration files for the tests: built as ANSI bytes or as UTF-16LE with
// a byte-order mark, processed on a fresh emulated machine, and the registry
// read back as (type, bytes).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/win32api.h"
#include "registry/regfile.h"
#include "support/registry_values.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qmtest {

enum class Encoding { Ansi, Utf16 };

// A fresh machine with the driver's default locale.
class RegFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(text::SetLocale("chinese-simplified")); }
  void TearDown() override { text::SetLocale("C"); }

  // Writes `bytes` to C:\t.reg and processes it.
  int Process(const std::string& bytes, qm::RegFileMode mode = qm::RegFileMode::Import) {
    prefix_.WriteFile("C:\\t.reg", bytes);
    return qm::ProcessRegFile("C:\\t.reg", mode);
  }

  TempPrefix prefix_;
};

// The key the tests work under, and its path as a .reg file writes it.
inline const std::string kTestKey = "Software\\QmTest";
inline const std::string kTestPath = "HKEY_CURRENT_USER\\Software\\QmTest";

// UTF-8 to UTF-16LE bytes, nothing else changed (no mark, line ends as given).
inline std::string Utf16Bytes(std::string_view utf8) {
  std::string out;
  auto put = [&](unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[i]);
    unsigned cp;
    size_t n;
    if (b < 0x80) {
      cp = b;
      n = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      n = 3;
    } else {
      cp = b & 0x07;
      n = 4;
    }
    for (size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

// `text` (UTF-8, lines ended by "\n") as a file: ANSI with CR LF line ends
// (its bytes as given), or UTF-16LE with the byte-order mark and CR LF.
inline std::string RegFileBytes(std::string_view text, Encoding encoding) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  if (encoding == Encoding::Ansi) return crlf;
  return "\xFF\xFE" + Utf16Bytes(crlf);
}

// Values as the registry holds them; strings with their terminator.
inline StoredValue Sz(std::string_view text) {
  return {REG_SZ, std::string(text) + '\0'};
}
inline StoredValue ExpandSz(std::string_view text) {
  return {REG_EXPAND_SZ, std::string(text) + '\0'};
}
inline StoredValue Binary(std::string_view bytes) {
  return {REG_BINARY, std::string(bytes)};
}
inline StoredValue Dword(DWORD value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return {REG_DWORD, bytes};
}
inline StoredValue MultiSz(std::string_view bytesWithTerminators) {
  return {REG_MULTI_SZ, std::string(bytesWithTerminators)};
}

}  // namespace qmtest
