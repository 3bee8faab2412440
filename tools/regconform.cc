// regconform: small registry API cases, one result line each.
//
//   regconform [--key SUBKEY] [--list] [CASE...]
//
// Every case works in a key of its own under HKEY_CURRENT_USER\SUBKEY
// (default Software\QuillmarkConformance), which is deleted before the first
// case and after the last. Each prints "case-name: result", the return codes
// and what the call left in its out-arguments, never addresses or anything
// that depends on the machine. Built for the emulated machine and as 32-bit
// and 64-bit Windows programs, so the same lines can be compared between the
// emulation and a real registry. Exit code 0 when the cases ran, 1 when the
// test key could not be made, 2 for an unknown case name or option.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lifecycle.h"
#include "platform/win32api.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoTestKey = 1;
constexpr int kExitUsage = 2;
constexpr const char* kDefaultKey = "Software\\QuillmarkConformance";

// What a case is given: an open handle (all access) to its own, empty key,
// and that key's path under HKEY_CURRENT_USER for cases that reopen it.
struct Fixture {
  HKEY key = nullptr;
  std::string path;
};

// A handle value no registry call hands out, to see whether an out-argument
// was written.
HKEY Sentinel() {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5a5a5a50));
}

std::string Code(LONG rc) {
  return std::to_string(rc);
}

std::string Join(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += ' ';
    out += p;
  }
  return out;
}

// Bytes as a quoted C string, so that NULs and odd bytes show.
std::string Show(const BYTE* data, DWORD size) {
  std::string out = "\"";
  for (DWORD i = 0; i < size; ++i) {
    unsigned c = data[i];
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out + "\"";
}

std::string HandleState(HKEY got, HKEY before) {
  if (got == nullptr) return "null";
  if (got == before) return "untouched";
  return "set";
}

LONG SetSz(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

LONG SetBytes(HKEY key, const char* name, DWORD type, const char* bytes, DWORD size) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes), size);
}

LONG Create(HKEY parent, const char* sub, HKEY* out, DWORD* disposition = nullptr,
            REGSAM access = KEY_ALL_ACCESS) {
  return RegCreateKeyExA(parent, sub, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, out,
                         disposition);
}

// Creates a key and closes it at once.
LONG Touch(HKEY parent, const char* sub) {
  HKEY h = nullptr;
  LONG rc = Create(parent, sub, &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return rc;
}

LONG OpenRc(HKEY parent, const char* sub, REGSAM access = KEY_READ) {
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExA(parent, sub, 0, access, &h);
  if (rc == ERROR_SUCCESS && h != nullptr) RegCloseKey(h);
  return rc;
}

// Queries a value into a buffer of `capacity` bytes that starts out filled
// with 'x'; reports the code, type, size and what the buffer then holds.
std::string Query(HKEY key, const char* name, DWORD capacity) {
  std::vector<BYTE> buf(capacity + 1, 'x');
  DWORD type = 0xdead;
  DWORD size = capacity;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, buf.data(), &size);
  std::string out = Code(rc);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    out += " type=" + std::to_string(type) + " size=" + std::to_string(size);
  } else {
    out += " size=" + std::to_string(size);
  }
  // One byte past the stated capacity shows whether a terminator was added
  // beyond what was asked for (it never may be).
  out += " buf=" + Show(buf.data(), capacity + 1);
  return out;
}

// The size a query with no buffer reports.
std::string QuerySize(HKEY key, const char* name) {
  DWORD type = 0xdead;
  DWORD size = 1234;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return Code(rc) + " size=" + std::to_string(size);
  return Code(rc) + " type=" + std::to_string(type) + " size=" + std::to_string(size);
}

// A value's query code alone.
LONG QueryValueRc(HKEY key, const char* name) {
  DWORD size = 0;
  return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
}

// Subkey names in enumeration order, then the code that ended it.
std::string EnumKeys(HKEY key) {
  std::string out;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof name;
    LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return out + "end=" + Code(rc);
    out += std::string(name, size) + " ";
  }
}

// ---- Subkey strings -------------------------------------------------------

std::string OpenRootEmptySubkey(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &h);
  return Join({Code(rc), h == HKEY_CURRENT_USER ? "the-root-itself" : "another-handle"});
}

std::string OpenRootNullSubkey(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &h);
  return Join({Code(rc), h == HKEY_LOCAL_MACHINE ? "the-root-itself" : "another-handle"});
}

std::string OpenKeyEmptySubkey(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(f.key, "", 0, KEY_ALL_ACCESS, &h);
  std::string same = h == f.key ? "same-handle" : "new-handle";
  if (rc == ERROR_SUCCESS) {
    SetSz(h, "via-new", "1");
    RegCloseKey(h);
  }
  return Join({Code(rc), same, "value-visible=" + Code(QueryValueRc(f.key, "via-new"))});
}

std::string OpenKeyANullSubkey(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyA(f.key, nullptr, &h);
  std::string same = h == f.key ? "same-handle" : "new-handle";
  // The copy is the caller's own handle: closing it closes the fixture's.
  HKEY dup = nullptr;
  RegOpenKeyExA(f.key, "", 0, KEY_ALL_ACCESS, &dup);
  std::string out = Join({Code(rc), same});
  if (h == f.key) {
    LONG first = RegCloseKey(h);
    LONG second = RegCloseKey(f.key);
    out += " close=" + Code(first) + " close-again=" + Code(second);
    f.key = dup;
  } else {
    RegCloseKey(dup);
    if (rc == ERROR_SUCCESS) RegCloseKey(h);
  }
  return out;
}

std::string OpenNullRoot(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(nullptr, "", 0, KEY_READ, &h);
  return Join({Code(rc), HandleState(h, Sentinel())});
}

std::string CreateEmptySubkey(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = Create(f.key, "", &h);
  std::string out = Join({Code(rc), h == f.key ? "same-handle" : "new-handle"});
  if (rc == ERROR_SUCCESS) {
    SetSz(h, "through-create", "yes");
    RegCloseKey(h);
  }
  return out + " same-key=" + Code(QueryValueRc(f.key, "through-create"));
}

std::string OpenLeadingBackslash(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), HandleState(h, Sentinel())});
}

std::string CreateLeadingBackslash(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = Create(f.key, "\\lead", &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), "made=" + Code(OpenRc(f.key, "lead"))});
}

std::string ClassesRootLeadingBackslash(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\", 0, KEY_READ, &h);
  std::string which = h == HKEY_CLASSES_ROOT ? "the-root-itself" : HandleState(h, Sentinel());
  if (rc == ERROR_SUCCESS && h != HKEY_CLASSES_ROOT) RegCloseKey(h);
  return Join({Code(rc), which});
}

std::string TrailingBackslashes(Fixture& f) {
  LONG created = Touch(f.key, "trail\\\\");
  return Join({Code(created), "open-plain=" + Code(OpenRc(f.key, "trail")),
               "open-one=" + Code(OpenRc(f.key, "trail\\")), EnumKeys(f.key)});
}

std::string BackslashRuns(Fixture& f) {
  LONG created = Touch(f.key, "run1\\\\\\run2");
  HKEY h = nullptr;
  std::string inner = "-";
  if (RegOpenKeyExA(f.key, "run1", 0, KEY_READ, &h) == ERROR_SUCCESS) {
    inner = EnumKeys(h);
    RegCloseKey(h);
  }
  return Join({Code(created), "open=" + Code(OpenRc(f.key, "run1\\run2")), "run1:", inner});
}

std::string MissingKey(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(f.key, "no\\such\\key", 0, KEY_READ, &h);
  return Join({Code(rc), HandleState(h, Sentinel())});
}

std::string KeyName255(Fixture& f) {
  std::string name(255, 'k');
  return Join({Code(Touch(f.key, name.c_str())), "open=" + Code(OpenRc(f.key, name.c_str()))});
}

std::string KeyName257(Fixture& f) {
  std::string name(257, 'k');
  HKEY h = Sentinel();
  LONG rc = Create(f.key, name.c_str(), &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), "open=" + Code(OpenRc(f.key, name.c_str())), EnumKeys(f.key)});
}

// ---- Create ---------------------------------------------------------------

std::string CreateDisposition(Fixture& f) {
  HKEY h = nullptr;
  DWORD first = 0, second = 0;
  LONG rc1 = Create(f.key, "disp", &h, &first);
  if (rc1 == ERROR_SUCCESS) RegCloseKey(h);
  LONG rc2 = Create(f.key, "disp", &h, &second);
  if (rc2 == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc1), std::to_string(first), Code(rc2), std::to_string(second)});
}

std::string CreateIntermediate(Fixture& f) {
  HKEY h = nullptr;
  DWORD disposition = 0;
  LONG rc = Create(f.key, "i1\\i2\\i3", &h, &disposition);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), std::to_string(disposition), "i1=" + Code(OpenRc(f.key, "i1")),
               "i1\\i2=" + Code(OpenRc(f.key, "i1\\i2"))});
}

std::string CreateReservedNonzero(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = RegCreateKeyExA(f.key, "resv", 1, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), "made=" + Code(OpenRc(f.key, "resv"))});
}

std::string CreateNullRoot(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = Create(nullptr, "Software\\QuillmarkConformanceNullRoot", &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), HandleState(h, Sentinel())});
}

std::string CreateKeyA(Fixture& f) {
  HKEY h = Sentinel();
  LONG rc = RegCreateKeyA(f.key, "cka\\deep", &h);
  std::string state = HandleState(h, Sentinel());
  LONG set = rc == ERROR_SUCCESS ? SetSz(h, "v", "1") : -1;
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), state, "set=" + Code(set), "open=" + Code(OpenRc(f.key, "cka\\deep"))});
}

std::string CreateUnderReadOnlyParent(Fixture& f) {
  HKEY ro = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, f.path.c_str(), 0, KEY_READ, &ro);
  if (rc != ERROR_SUCCESS) return "open " + Code(rc);
  HKEY h = nullptr;
  DWORD disposition = 0;
  LONG created = Create(ro, "child", &h, &disposition);
  LONG set = created == ERROR_SUCCESS ? SetSz(h, "v", "1") : -1;
  if (created == ERROR_SUCCESS) RegCloseKey(h);
  RegCloseKey(ro);
  return Join({Code(created), std::to_string(disposition), "set-in-child=" + Code(set)});
}

std::string CreateWithKeyRead(Fixture& f) {
  HKEY h = nullptr;
  LONG rc = Create(f.key, "readonly", &h, nullptr, KEY_READ);
  if (rc != ERROR_SUCCESS) return Code(rc);
  LONG set = SetSz(h, "v", "1");
  LONG del = RegDeleteValueA(h, "v");
  LONG query = QueryValueRc(h, "v");
  RegCloseKey(h);
  return Join({Code(rc), "set=" + Code(set), "delete=" + Code(del), "query=" + Code(query)});
}

// ---- Case of names --------------------------------------------------------

std::string KeyNameCaseKept(Fixture& f) {
  Touch(f.key, "MixedKey");
  HKEY h = nullptr;
  DWORD disposition = 0;
  LONG rc = Create(f.key, "MIXEDKEY", &h, &disposition);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  return Join({Code(rc), std::to_string(disposition), "open=" + Code(OpenRc(f.key, "mixedkey")),
               EnumKeys(f.key)});
}

std::string ValueNameCaseKept(Fixture& f) {
  SetSz(f.key, "MixedValue", "first");
  LONG rc = SetSz(f.key, "MIXEDVALUE", "second");
  char name[64];
  DWORD nameSize = sizeof name;
  BYTE data[64];
  DWORD dataSize = sizeof data;
  DWORD type = 0;
  LONG en = RegEnumValueA(f.key, 0, name, &nameSize, nullptr, &type, data, &dataSize);
  std::string out = Join({Code(rc), "enum=" + Code(en)});
  if (en == ERROR_SUCCESS) out += " " + std::string(name, nameSize) + "=" + Show(data, dataSize);
  DWORD count = 0;
  RegQueryInfoKeyA(f.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                   nullptr, nullptr, nullptr);
  return out + " values=" + std::to_string(count);
}

// A value written through one spelling of the path is read through another.
std::string SubkeyPathCaseInsensitive(Fixture& f) {
  Touch(f.key, "Alpha\\Beta");
  LONG open = OpenRc(f.key, "ALPHA\\beta");
  HKEY h = nullptr;
  if (Create(f.key, "alpha\\BETA", &h) != ERROR_SUCCESS) return "create failed";
  SetSz(h, "v", "x");
  RegCloseKey(h);
  HKEY r = nullptr;
  if (RegOpenKeyExA(f.key, "Alpha\\Beta", 0, KEY_READ, &r) != ERROR_SUCCESS) return "reopen failed";
  LONG query = QueryValueRc(r, "V");
  RegCloseKey(r);
  return Join({"open=" + Code(open), "query-after-set=" + Code(query), EnumKeys(f.key)});
}

// ---- Query ----------------------------------------------------------------

std::string DefaultValueAbsent(Fixture& f) {
  return Code(QueryValueRc(f.key, nullptr));
}

std::string DefaultValueSetAndRead(Fixture& f) {
  LONG rc = SetSz(f.key, "", "dflt");
  return Join(
      {Code(rc), "null-name:", Query(f.key, nullptr, 8), "empty-name:", Query(f.key, "", 8)});
}

std::string DefaultValueNullNameSet(Fixture& f) {
  LONG rc = SetSz(f.key, nullptr, "by-null");
  return Join({Code(rc), Query(f.key, "", 16)});
}

std::string QueryMissingValue(Fixture& f) {
  return Join({"no-buffer:", QuerySize(f.key, "absent"), "buffer:", Query(f.key, "absent", 4)});
}

std::string QueryDataWithoutSize(Fixture& f) {
  SetSz(f.key, "v", "abc");
  BYTE buf[8] = {};
  DWORD type = 0;
  return Code(RegQueryValueExA(f.key, "v", nullptr, &type, buf, nullptr));
}

std::string QueryReservedNonNull(Fixture& f) {
  SetSz(f.key, "v", "abc");
  DWORD reserved = 0;
  BYTE buf[8] = {};
  DWORD size = sizeof buf;
  return Code(RegQueryValueExA(f.key, "v", &reserved, nullptr, buf, &size));
}

std::string QueryMoreData(Fixture& f) {
  SetSz(f.key, "v", "hello");
  return Query(f.key, "v", 3);
}

std::string QueryOneByteShort(Fixture& f) {
  SetSz(f.key, "v", "hello");
  return Query(f.key, "v", 5);
}

std::string QuerySizeOnly(Fixture& f) {
  SetSz(f.key, "v", "hello");
  return QuerySize(f.key, "v");
}

std::string QueryExactSize(Fixture& f) {
  SetSz(f.key, "v", "hello");
  return Query(f.key, "v", 6);
}

std::string QueryNoTypeNoData(Fixture& f) {
  SetSz(f.key, "v", "hello");
  return Code(RegQueryValueExA(f.key, "v", nullptr, nullptr, nullptr, nullptr));
}

// Sized two short of the text: the value is stored without its terminator.
std::string UnterminatedWithSpareByte(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_SZ, "abcd", 2);
  return Join({Code(rc), Query(f.key, "v", 8)});
}

std::string UnterminatedExactBuffer(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_SZ, "abcd", 2);
  return Join({Code(rc), Query(f.key, "v", 2)});
}

std::string ZeroByteString(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_SZ, "text", 0);
  return Join({Code(rc), QuerySize(f.key, "v"), Query(f.key, "v", 4)});
}

std::string NullDataZeroSize(Fixture& f) {
  LONG rc = RegSetValueExA(f.key, "v", 0, REG_BINARY, nullptr, 0);
  return Join({Code(rc), QuerySize(f.key, "v")});
}

std::string DwordValue(Fixture& f) {
  const char le[4] = {0x78, 0x56, 0x34, 0x12};
  LONG rc = SetBytes(f.key, "v", REG_DWORD, le, 4);
  return Join({Code(rc), Query(f.key, "v", 4)});
}

std::string BinaryEmbeddedNuls(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_BINARY, "a\0b\0\0\xff", 6);
  return Join({Code(rc), Query(f.key, "v", 6)});
}

std::string MultiString(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_MULTI_SZ, "one\0two\0\0", 9);
  return Join({Code(rc), Query(f.key, "v", 12)});
}

std::string MultiStringMoreData(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_MULTI_SZ, "one\0two\0\0", 9);
  return Join({Code(rc), Query(f.key, "v", 8)});
}

std::string ExpandStringNotExpanded(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_EXPAND_SZ, "%SystemRoot%\\x", 15);
  return Join({Code(rc), Query(f.key, "v", 20)});
}

std::string EmbeddedNulInString(Fixture& f) {
  LONG rc = SetBytes(f.key, "v", REG_SZ, "ab\0cd", 6);
  return Join({Code(rc), Query(f.key, "v", 8)});
}

std::string TypeChangesOnOverwrite(Fixture& f) {
  SetSz(f.key, "v", "text");
  const char one[4] = {1, 0, 0, 0};
  LONG rc = SetBytes(f.key, "v", REG_DWORD, one, 4);
  return Join({Code(rc), Query(f.key, "v", 4)});
}

std::string LongValueName(Fixture& f) {
  std::string name(16383, 'n');
  LONG rc = SetSz(f.key, name.c_str(), "long");
  return Join({Code(rc), QuerySize(f.key, name.c_str())});
}

std::string LargeValue(Fixture& f) {
  std::string data(100000, 'd');
  LONG rc = RegSetValueExA(f.key, "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
  return Join({Code(rc), QuerySize(f.key, "v")});
}

// ---- Access rights ---------------------------------------------------------

std::string ReadHandleRefusesWrites(Fixture& f) {
  SetSz(f.key, "v", "old");
  HKEY ro = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, f.path.c_str(), 0, KEY_READ, &ro);
  if (rc != ERROR_SUCCESS) return "open " + Code(rc);
  LONG set = SetSz(ro, "v", "new");
  LONG del = RegDeleteValueA(ro, "v");
  std::string query = Query(ro, "v", 8);
  RegCloseKey(ro);
  return Join({"set=" + Code(set), "delete=" + Code(del), "query:", query});
}

std::string WriteOnlyHandleRefusesQuery(Fixture& f) {
  SetSz(f.key, "v", "x");
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, f.path.c_str(), 0, KEY_SET_VALUE, &h);
  if (rc != ERROR_SUCCESS) return "open " + Code(rc);
  LONG query = QueryValueRc(h, "v");
  LONG set = SetSz(h, "w", "y");
  RegCloseKey(h);
  return Join({"query=" + Code(query), "set=" + Code(set)});
}

std::string EnumNeedsEnumerateRight(Fixture& f) {
  Touch(f.key, "child");
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, f.path.c_str(), 0, KEY_QUERY_VALUE, &h);
  if (rc != ERROR_SUCCESS) return "open " + Code(rc);
  std::string out = EnumKeys(h);
  RegCloseKey(h);
  return out;
}

// ---- Delete values ---------------------------------------------------------

std::string DeleteMissingValue(Fixture& f) {
  return Code(RegDeleteValueA(f.key, "absent"));
}

std::string DeleteDefaultValue(Fixture& f) {
  SetSz(f.key, "", "dflt");
  LONG rc = RegDeleteValueA(f.key, "");
  return Join({Code(rc), "query=" + Code(QueryValueRc(f.key, nullptr)),
               "again=" + Code(RegDeleteValueA(f.key, nullptr))});
}

std::string DeleteValueCaseInsensitive(Fixture& f) {
  SetSz(f.key, "Victim", "x");
  LONG rc = RegDeleteValueA(f.key, "VICTIM");
  return Join({Code(rc), "query=" + Code(QueryValueRc(f.key, "Victim"))});
}

// ---- Enumeration ----------------------------------------------------------

std::string EnumKeysSorted(Fixture& f) {
  for (const char* name : {"delta", "Bravo", "alpha", "Charlie", "alpha2"}) Touch(f.key, name);
  return EnumKeys(f.key);
}

std::string EnumKeyLength(Fixture& f) {
  Touch(f.key, "abcde");
  char name[16];
  std::memset(name, 'x', sizeof name);
  DWORD size = sizeof name;
  LONG rc = RegEnumKeyExA(f.key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
  return Join(
      {Code(rc), "size=" + std::to_string(size), "buf=" + Show(reinterpret_cast<BYTE*>(name), 7)});
}

std::string EnumKeySmallBuffer(Fixture& f) {
  Touch(f.key, "abcde");
  char name[16];
  std::memset(name, 'x', sizeof name);
  DWORD size = 5;  // no room for the terminator
  LONG rc = RegEnumKeyExA(f.key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
  return Join({Code(rc), "buf=" + Show(reinterpret_cast<BYTE*>(name), 6)});
}

std::string EnumKeyPastEnd(Fixture& f) {
  Touch(f.key, "only");
  char name[16];
  DWORD size = sizeof name;
  LONG rc = RegEnumKeyExA(f.key, 1, name, &size, nullptr, nullptr, nullptr, nullptr);
  size = sizeof name;
  LONG farAway = RegEnumKeyExA(f.key, 1000, name, &size, nullptr, nullptr, nullptr, nullptr);
  return Join({Code(rc), Code(farAway)});
}

std::string EnumKeyReservedNonNull(Fixture& f) {
  Touch(f.key, "only");
  char name[16];
  DWORD size = sizeof name;
  DWORD reserved = 0;
  return Code(RegEnumKeyExA(f.key, 0, name, &size, &reserved, nullptr, nullptr, nullptr));
}

std::string EnumEmptyKey(Fixture& f) {
  return EnumKeys(f.key);
}

std::string EnumValuesAsSet(Fixture& f) {
  SetSz(f.key, "zeta", "1");
  SetSz(f.key, "Alpha", "2");
  SetSz(f.key, "", "3");
  SetSz(f.key, "mid", "4");
  std::vector<std::string> names;
  LONG rc = ERROR_SUCCESS;
  for (DWORD i = 0; rc == ERROR_SUCCESS; ++i) {
    char name[64];
    DWORD size = sizeof name;
    rc = RegEnumValueA(f.key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) names.push_back("[" + std::string(name, size) + "]");
  }
  // Wine lists values sorted, Windows in the order they were written: only
  // the set is compared.
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += n + " ";
  return out + "end=" + Code(rc);
}

std::string QueryInfoCounts(Fixture& f) {
  Touch(f.key, "k1");
  Touch(f.key, "longer-key");
  SetSz(f.key, "a", "1");
  SetSz(f.key, "value-name", "123456789");
  // Not the longest data: Windows counts it as stored (UTF-16 for strings),
  // the emulated machine stores the bytes it is given.
  DWORD subkeys = 99, maxSubkey = 99, values = 99, maxValueName = 99;
  LONG rc = RegQueryInfoKeyA(f.key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr,
                             &values, &maxValueName, nullptr, nullptr, nullptr);
  return Join({Code(rc), "subkeys=" + std::to_string(subkeys),
               "max-subkey=" + std::to_string(maxSubkey), "values=" + std::to_string(values),
               "max-value-name=" + std::to_string(maxValueName)});
}

// ---- Closing ---------------------------------------------------------------

std::string CloseNull(Fixture&) {
  return Code(RegCloseKey(nullptr));
}

std::string CloseTwice(Fixture& f) {
  HKEY h = nullptr;
  LONG rc = Create(f.key, "twice", &h);
  if (rc != ERROR_SUCCESS) return "create " + Code(rc);
  LONG first = RegCloseKey(h);
  LONG second = RegCloseKey(h);
  return Join({Code(first), Code(second)});
}

std::string ClosePredefined(Fixture&) {
  return Join({Code(RegCloseKey(HKEY_CURRENT_USER)), Code(RegCloseKey(HKEY_LOCAL_MACHINE)),
               "still-open=" + Code(OpenRc(HKEY_CURRENT_USER, "Software"))});
}

std::string UseClosedHandle(Fixture& f) {
  HKEY h = nullptr;
  LONG rc = Create(f.key, "closed", &h);
  if (rc != ERROR_SUCCESS) return "create " + Code(rc);
  RegCloseKey(h);
  HKEY sub = Sentinel();
  LONG open = RegOpenKeyExA(h, "x", 0, KEY_READ, &sub);
  LONG set = SetSz(h, "v", "x");
  return Join({"open=" + Code(open), "set=" + Code(set)});
}

// ---- Deleting keys ----------------------------------------------------------

std::string ShDeleteTree(Fixture& f) {
  HKEY h = nullptr;
  Create(f.key, "tree\\a\\b\\c", &h);
  SetSz(h, "deep", "1");
  RegCloseKey(h);
  Touch(f.key, "tree\\a2");
  Create(f.key, "tree", &h);
  SetSz(h, "top", "1");
  RegCloseKey(h);
  Touch(f.key, "treesibling");
  LONG rc = SHDeleteKeyA(f.key, "tree");
  return Join({Code(rc), "open=" + Code(OpenRc(f.key, "tree")), EnumKeys(f.key)});
}

std::string ShDeleteMissing(Fixture& f) {
  return Code(SHDeleteKeyA(f.key, "absent"));
}

std::string ShDeleteCaseInsensitive(Fixture& f) {
  Touch(f.key, "Doomed\\Child");
  LONG rc = SHDeleteKeyA(f.key, "DOOMED");
  return Join({Code(rc), EnumKeys(f.key)});
}

std::string DeleteKeyWithSubkeys(Fixture& f) {
  Touch(f.key, "parent\\child");
  LONG rc = RegDeleteKeyA(f.key, "parent");
  return Join({Code(rc), "open=" + Code(OpenRc(f.key, "parent\\child"))});
}

std::string DeleteLeafKey(Fixture& f) {
  Touch(f.key, "leaf");
  LONG rc = RegDeleteKeyA(f.key, "leaf");
  return Join({Code(rc), "open=" + Code(OpenRc(f.key, "leaf")),
               "again=" + Code(RegDeleteKeyA(f.key, "leaf"))});
}

std::string DeletedKeyHandle(Fixture& f) {
  HKEY h = nullptr;
  LONG rc = Create(f.key, "victim", &h);
  if (rc != ERROR_SUCCESS) return "create " + Code(rc);
  SetSz(h, "v", "x");
  LONG del = SHDeleteKeyA(f.key, "victim");
  LONG query = QueryValueRc(h, "v");
  LONG set = SetSz(h, "w", "y");
  char name[16];
  DWORD size = sizeof name;
  LONG en = RegEnumKeyExA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
  HKEY sub = Sentinel();
  LONG open = RegOpenKeyExA(h, "sub", 0, KEY_READ, &sub);
  HKEY made = Sentinel();
  LONG create = Create(h, "sub", &made);
  if (create == ERROR_SUCCESS) RegCloseKey(made);
  LONG close = RegCloseKey(h);
  return Join({Code(del), "query=" + Code(query), "set=" + Code(set), "enum=" + Code(en),
               "open=" + Code(open), "create=" + Code(create), "close=" + Code(close),
               "gone=" + Code(OpenRc(f.key, "victim"))});
}

// ---- Roots -------------------------------------------------------------------

// One key directly under the root, named after the case's own path, so that
// two runs at once (32-bit and 64-bit) never share it and nothing is left.
std::string CurrentConfigAlias(Fixture& f) {
  std::string sub = f.path;
  std::replace(sub.begin(), sub.end(), '\\', '-');
  HKEY h = nullptr;
  LONG rc = Create(HKEY_CURRENT_CONFIG, sub.c_str(), &h);
  if (rc != ERROR_SUCCESS) return "create " + Code(rc);
  SetSz(h, "v", "through-hkcc");
  RegCloseKey(h);
  HKEY m = nullptr;
  std::string seen = "-";
  std::string full = std::string("SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\") + sub;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ, &m) == ERROR_SUCCESS) {
    seen = Query(m, "v", 16);
    RegCloseKey(m);
  }
  LONG del = SHDeleteKeyA(HKEY_CURRENT_CONFIG, sub.c_str());
  return Join({Code(rc), "hklm:", seen, "delete=" + Code(del)});
}

std::string UsersRootEmptySubkey(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_USERS, "", 0, KEY_READ, &h);
  return Join({Code(rc), h == HKEY_USERS ? "the-root-itself" : "another-handle"});
}

std::string PerformanceDataOpen(Fixture&) {
  HKEY h = Sentinel();
  LONG rc = RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "Global", 0, KEY_READ, &h);
  if (rc == ERROR_SUCCESS && h != nullptr && h != Sentinel()) RegCloseKey(h);
  return Join({Code(rc), "close=" + Code(RegCloseKey(HKEY_PERFORMANCE_DATA))});
}

struct Case {
  const char* name;
  std::string (*run)(Fixture&);
};

constexpr Case kCases[] = {
    {"open-root-empty-subkey", OpenRootEmptySubkey},
    {"open-root-null-subkey", OpenRootNullSubkey},
    {"open-key-empty-subkey", OpenKeyEmptySubkey},
    {"openkeya-null-subkey", OpenKeyANullSubkey},
    {"open-null-root", OpenNullRoot},
    {"create-empty-subkey", CreateEmptySubkey},
    {"open-leading-backslash", OpenLeadingBackslash},
    {"create-leading-backslash", CreateLeadingBackslash},
    {"classes-root-leading-backslash", ClassesRootLeadingBackslash},
    {"trailing-backslashes", TrailingBackslashes},
    {"backslash-runs", BackslashRuns},
    {"missing-key", MissingKey},
    {"key-name-255", KeyName255},
    {"key-name-257", KeyName257},
    {"create-disposition", CreateDisposition},
    {"create-intermediate", CreateIntermediate},
    {"create-reserved-nonzero", CreateReservedNonzero},
    {"create-null-root", CreateNullRoot},
    {"createkeya", CreateKeyA},
    {"create-under-read-only-parent", CreateUnderReadOnlyParent},
    {"create-with-key-read", CreateWithKeyRead},
    {"key-name-case-kept", KeyNameCaseKept},
    {"value-name-case-kept", ValueNameCaseKept},
    {"subkey-path-case-insensitive", SubkeyPathCaseInsensitive},
    {"default-value-absent", DefaultValueAbsent},
    {"default-value-set-and-read", DefaultValueSetAndRead},
    {"default-value-null-name-set", DefaultValueNullNameSet},
    {"query-missing-value", QueryMissingValue},
    {"query-data-without-size", QueryDataWithoutSize},
    {"query-reserved-non-null", QueryReservedNonNull},
    {"query-more-data", QueryMoreData},
    {"query-one-byte-short", QueryOneByteShort},
    {"query-size-only", QuerySizeOnly},
    {"query-exact-size", QueryExactSize},
    {"query-no-type-no-data", QueryNoTypeNoData},
    {"unterminated-with-spare-byte", UnterminatedWithSpareByte},
    {"unterminated-exact-buffer", UnterminatedExactBuffer},
    {"zero-byte-string", ZeroByteString},
    {"null-data-zero-size", NullDataZeroSize},
    {"dword-value", DwordValue},
    {"binary-embedded-nuls", BinaryEmbeddedNuls},
    {"multi-string", MultiString},
    {"multi-string-more-data", MultiStringMoreData},
    {"expand-string-not-expanded", ExpandStringNotExpanded},
    {"embedded-nul-in-string", EmbeddedNulInString},
    {"type-changes-on-overwrite", TypeChangesOnOverwrite},
    {"long-value-name", LongValueName},
    {"large-value", LargeValue},
    {"read-handle-refuses-writes", ReadHandleRefusesWrites},
    {"write-only-handle-refuses-query", WriteOnlyHandleRefusesQuery},
    {"enum-needs-enumerate-right", EnumNeedsEnumerateRight},
    {"delete-missing-value", DeleteMissingValue},
    {"delete-default-value", DeleteDefaultValue},
    {"delete-value-case-insensitive", DeleteValueCaseInsensitive},
    {"enum-keys-sorted", EnumKeysSorted},
    {"enum-key-length", EnumKeyLength},
    {"enum-key-small-buffer", EnumKeySmallBuffer},
    {"enum-key-past-end", EnumKeyPastEnd},
    {"enum-key-reserved-non-null", EnumKeyReservedNonNull},
    {"enum-empty-key", EnumEmptyKey},
    {"enum-values-as-set", EnumValuesAsSet},
    {"query-info-counts", QueryInfoCounts},
    {"close-null", CloseNull},
    {"close-twice", CloseTwice},
    {"close-predefined", ClosePredefined},
    {"use-closed-handle", UseClosedHandle},
    {"shdelete-tree", ShDeleteTree},
    {"shdelete-missing", ShDeleteMissing},
    {"shdelete-case-insensitive", ShDeleteCaseInsensitive},
    {"delete-key-with-subkeys", DeleteKeyWithSubkeys},
    {"delete-leaf-key", DeleteLeafKey},
    {"deleted-key-handle", DeletedKeyHandle},
    {"current-config-alias", CurrentConfigAlias},
    {"users-root-empty-subkey", UsersRootEmptySubkey},
    {"performance-data-open", PerformanceDataOpen},
};

const Case* FindCase(std::string_view name) {
  for (const Case& c : kCases)
    if (name == c.name) return &c;
  return nullptr;
}

// Runs one case in a fresh key of its own under `root`.
void RunCase(const Case& c, HKEY root, const std::string& rootPath) {
  Fixture f;
  f.path = rootPath + "\\" + c.name;
  std::string result;
  LONG rc = Create(root, c.name, &f.key);
  if (rc != ERROR_SUCCESS)
    result = "cannot create the case's key: " + Code(rc);
  else
    result = c.run(f);
  if (f.key != nullptr) RegCloseKey(f.key);
  std::printf("%s: %s\n", c.name, result.c_str());
  std::fflush(stdout);
}

int Run(int argc, char** argv) {
  std::string rootPath = kDefaultKey;
  std::vector<const Case*> chosen;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--key" && i + 1 < argc) {
      rootPath = argv[++i];
    } else if (arg == "--list") {
      for (const Case& c : kCases) std::printf("%s\n", c.name);
      return kExitOk;
    } else if (const Case* c = FindCase(arg)) {
      chosen.push_back(c);
    } else {
      std::fprintf(stderr, "regconform: no case or option '%s'\n", argv[i]);
      return kExitUsage;
    }
  }
  if (chosen.empty())
    for (const Case& c : kCases) chosen.push_back(&c);

  SHDeleteKeyA(HKEY_CURRENT_USER, rootPath.c_str());
  HKEY root = nullptr;
  LONG rc = Create(HKEY_CURRENT_USER, rootPath.c_str(), &root);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "regconform: cannot create HKEY_CURRENT_USER\\%s: error %ld\n",
                 rootPath.c_str(), static_cast<long>(rc));
    return kExitNoTestKey;
  }
  for (const Case* c : chosen) RunCase(*c, root, rootPath);
  RegCloseKey(root);
  SHDeleteKeyA(HKEY_CURRENT_USER, rootPath.c_str());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  int code = Run(argc, argv);
  long commit = port::FinishRun();
  if (code == kExitOk && commit != 0) {
    std::fprintf(stderr, "regconform: the registry was not saved: error %ld\n", commit);
    return kExitNoTestKey;
  }
  return code;
}
