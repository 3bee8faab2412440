#include "registry/registry.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "text/codepage.h"

namespace qm {

namespace {

struct NamedRoot {
  std::string_view name;
  HKEY key;
};
const NamedRoot kRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
};

// The Win32 A functions take terminated texts; a view is not one.
std::string Terminated(std::string_view s) {
  return std::string(s);
}

// The subkey of a path, or none when the root is not recognised.
struct ParsedPath {
  HKEY root = nullptr;
  std::string subkey;
};

ParsedPath Parse(std::string_view path) {
  ParsedPath parsed;
  parsed.root = ParseRegistryPath(parsed.subkey, path);
  return parsed;
}

// A subkey text that names no key: empty, or nothing but separators (which
// the registry reads as the key it is applied to).
bool NamesNoSubkey(std::string_view subkey) {
  return subkey.find_first_not_of('\\') == std::string_view::npos;
}

// The value into `out` when the query succeeds; `out` untouched otherwise.
// The buffer is exactly `capacity` bytes: a value that does not fit is a
// failure, never a cut value.
LONG QueryValue(RegistryValue& out, HKEY key, std::string_view valueName, DWORD capacity) {
  std::vector<BYTE> buffer(capacity);
  DWORD size = capacity;
  DWORD type = REG_NONE;
  const std::string name = Terminated(valueName);
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size);
  if (rc != ERROR_SUCCESS) return rc;
  // Only the bytes the registry reported belong to the value. Whatever else
  // the buffer holds (a terminator the registry may add to an unterminated
  // string, or nothing at all after a REG_DWORD) is not part of it.
  out.type = type;
  out.bytes.assign(reinterpret_cast<const char*>(buffer.data()), std::min(size, capacity));
  return ERROR_SUCCESS;
}

LONG SetValue(HKEY key, std::string_view valueName, DWORD type, const void* data, size_t size) {
  const std::string name = Terminated(valueName);
  return RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size));
}

// A text as a string value: its bytes and one terminator.
LONG SetStringValue(HKEY key, std::string_view valueName, DWORD type, std::string_view text) {
  const std::string data = Terminated(text);
  return SetValue(key, valueName, type, data.c_str(), data.size() + 1);
}

RegistryKey CreateOrOpenForWriting(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, &disposition) != ERROR_SUCCESS)
    return {};
  return RegistryKey(key);
}

RegistryKey OpenKey(HKEY root, const std::string& subkey, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, access, &key) != ERROR_SUCCESS) return {};
  return RegistryKey(key);
}

// The type a rewrite stores: an existing REG_EXPAND_SZ value keeps its type,
// anything else (a value created new included) becomes REG_SZ. Nothing when
// the type of the value in place cannot be learnt.
std::optional<DWORD> RewriteType(HKEY key, std::string_view valueName) {
  DWORD existing = REG_NONE;
  const std::string name = Terminated(valueName);
  const LONG query = RegQueryValueExA(key, name.c_str(), nullptr, &existing, nullptr, nullptr);
  if (query == ERROR_SUCCESS) return existing == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ;
  if (query == ERROR_FILE_NOT_FOUND) return REG_SZ;
  return std::nullopt;
}

// How a string write chooses the type it stores.
enum class StringWrite {
  Plain,      // REG_SZ, whatever was there
  Expand,     // REG_EXPAND_SZ, the caller's word
  KeepExpand  // the rewrite rule: see RewriteType
};

// Writes `text` as a string value through a key created or opened for
// writing.
int WriteString(std::string_view text, HKEY root, std::string_view subkey,
                std::string_view valueName, StringWrite write) {
  RegistryKey key = CreateOrOpenForWriting(root, Terminated(subkey));
  if (!key) return kValueKeyFailed;
  DWORD type = write == StringWrite::Expand ? REG_EXPAND_SZ : REG_SZ;
  if (write == StringWrite::KeepExpand) {
    const std::optional<DWORD> kept = RewriteType(key.Get(), valueName);
    // The type of the value in place is unknown: writing REG_SZ could turn
    // a REG_EXPAND_SZ Path into one whose %SystemRoot% entries no longer
    // expand. Better to store nothing.
    if (!kept) return kValueFailed;
    type = *kept;
  }
  return SetStringValue(key.Get(), valueName, type, text) == ERROR_SUCCESS ? kValueDone
                                                                           : kValueFailed;
}

// The result of an operation on a key the caller holds open.
int KeyCallResult(LONG rc) {
  return rc == ERROR_SUCCESS ? kKeyCallDone : kKeyCallFailed;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether `name` should replace `latest` as the latest subkey.
bool IsLater(std::string_view name, std::string_view latest, SubkeyOrder order) {
  if (order == SubkeyOrder::Version) return CompareVersionNames(name, latest) > 0;
  // std::string_view compares through char_traits<char>, whose ordering is
  // that of unsigned char: the plain byte order.
  return name > latest;
}

}  // namespace

HKEY ParseRegistryRoot(std::string_view rootText) {
  for (const NamedRoot& r : kRoots)
    // Root names are ASCII: only A-Z and a-z fold, whatever the code page.
    if (text::EqualsAsciiNoCase(rootText, r.name)) return r.key;
  return nullptr;
}

std::string_view RegistryRootName(HKEY root) {
  for (const NamedRoot& r : kRoots)
    if (r.key == root) return r.name;
  return {};
}

HKEY ParseRegistryPath(std::string& subkeyOut, std::string_view path) {
  const size_t slash = path.find('\\');
  if (slash == std::string_view::npos) return nullptr;
  const std::string_view subkey = path.substr(slash + 1);
  // The subkey working buffer holds kMaxSubkeyLength characters; a longer
  // subkey is refused rather than cut, since a cut path names another key.
  if (subkey.size() > kMaxSubkeyLength) return nullptr;
  // Writing, and above all deleting, under a root the caller never named
  // would be worse than refusing: a root is recognised by its name only.
  HKEY root = ParseRegistryRoot(path.substr(0, slash));
  if (root != nullptr) subkeyOut.assign(subkey);
  return root;
}

// ---- What the layer hands out ------------------------------------------------

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.Release();
  }
  return *this;
}

void RegistryKey::Close() {
  // A predefined root is the system's: the holder never opened it (a root
  // opened with no subkey is the root's own constant).
  if (key_ != nullptr && RegistryRootName(key_).empty()) RegCloseKey(key_);
  key_ = nullptr;
}

HKEY RegistryKey::Release() {
  HKEY key = key_;
  key_ = nullptr;
  return key;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ;
}

// ---- Root and subkey ---------------------------------------------------------

int ReadRegistryString(std::string& out, HKEY root, std::string_view subkey,
                       std::string_view valueName) {
  RegistryValue value;
  const int result = ReadRegistryValue(value, root, subkey, valueName);
  if (result == 0) out = std::move(value.bytes);
  return result;
}

int ReadRegistryValue(RegistryValue& out, HKEY root, std::string_view subkey,
                      std::string_view valueName, DWORD capacity) {
  const RegistryKey key = OpenKey(root, Terminated(subkey), KEY_READ);
  if (!key) return kValueKeyFailed;
  return QueryValue(out, key.Get(), valueName, capacity) == ERROR_SUCCESS ? kValueDone
                                                                          : kValueFailed;
}

int WriteRegistryString(std::string_view text, HKEY root, std::string_view subkey,
                        std::string_view valueName) {
  return WriteString(text, root, subkey, valueName, StringWrite::Plain);
}

int RewriteRegistryString(std::string_view text, HKEY root, std::string_view subkey,
                          std::string_view valueName) {
  return WriteString(text, root, subkey, valueName, StringWrite::KeepExpand);
}

int DeleteRegistryValue(HKEY root, std::string_view subkey, std::string_view valueName) {
  // Opened, never created: deleting a value of a key that is not there must
  // not leave an empty key behind.
  const RegistryKey key = OpenKey(root, Terminated(subkey), KEY_ALL_ACCESS);
  if (!key) return kValueKeyFailed;
  const std::string name = Terminated(valueName);
  return RegDeleteValueA(key.Get(), name.c_str()) == ERROR_SUCCESS ? kValueDone : kValueFailed;
}

int CreateRegistryKey(HKEY root, std::string_view subkey) {
  if (root == nullptr) return kKeyNoRoot;
  HKEY created = nullptr;
  const std::string name = Terminated(subkey);
  if (RegCreateKeyA(root, name.c_str(), &created) != ERROR_SUCCESS) return kKeyFailed;
  // Only the key's existence was asked for.
  RegistryKey(created).Close();
  return kKeyDone;
}

int DeleteRegistryKey(HKEY root, std::string_view subkey) {
  if (root == nullptr) return kKeyNoRoot;
  // The recursive delete applied to a root itself would wipe everything
  // below it; only a named subkey tree is ever deleted.
  if (NamesNoSubkey(subkey)) return kKeyFailed;
  const std::string name = Terminated(subkey);
  return SHDeleteKeyA(root, name.c_str()) == ERROR_SUCCESS ? kKeyDone : kKeyFailed;
}

// ---- Registry paths ----------------------------------------------------------

int ReadRegistryPathValue(std::string& out, std::string_view path, std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueRootUnrecognised;
  return ReadRegistryString(out, p.root, p.subkey, valueName);
}

int ReadRegistryPathTypedValue(RegistryValue& out, std::string_view path,
                               std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueRootUnrecognised;
  return ReadRegistryValue(out, p.root, p.subkey, valueName);
}

int WriteRegistryPathValue(std::string_view text, std::string_view path,
                           std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueRootUnrecognised;
  return WriteRegistryString(text, p.root, p.subkey, valueName);
}

int RewriteRegistryPathValue(std::string_view text, std::string_view path,
                             std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueRootUnrecognised;
  return RewriteRegistryString(text, p.root, p.subkey, valueName);
}

int WriteRegistryPathTypedString(std::string_view text, DWORD type, std::string_view path,
                                 std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueRootUnrecognised;
  if (!IsStringType(type)) return kValueFailed;
  return WriteString(text, p.root, p.subkey, valueName,
                     type == REG_EXPAND_SZ ? StringWrite::Expand : StringWrite::Plain);
}

int CreateRegistryPathKey(std::string_view path) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kKeyNoRoot;
  return CreateRegistryKey(p.root, p.subkey);
}

int DeleteRegistryPathKey(std::string_view path) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kKeyNoRoot;
  return DeleteRegistryKey(p.root, p.subkey);
}

int DeleteRegistryPathValue(std::string_view path, std::string_view valueName) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return kValueKeyFailed;
  return DeleteRegistryValue(p.root, p.subkey, valueName);
}

RegistryKey OpenRegistryPathKey(std::string_view path, bool readOnly) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return {};
  return readOnly ? OpenKey(p.root, p.subkey, KEY_READ) : CreateOrOpenForWriting(p.root, p.subkey);
}

RegistryKey OpenExistingRegistryPathKey(std::string_view path) {
  ParsedPath p = Parse(path);
  if (p.root == nullptr) return {};
  return OpenKey(p.root, p.subkey, KEY_ALL_ACCESS);
}

// ---- Open keys ---------------------------------------------------------------

int ReadKeyValue(std::string& out, HKEY key, std::string_view valueName) {
  RegistryValue value;
  if (QueryValue(value, key, valueName, kValueCapacity) != ERROR_SUCCESS) return kKeyCallFailed;
  out = std::move(value.bytes);
  return kKeyCallDone;
}

int WriteKeyString(std::string_view text, HKEY key, std::string_view valueName) {
  return KeyCallResult(SetStringValue(key, valueName, REG_SZ, text));
}

int WriteKeyExpandString(std::string_view text, HKEY key, std::string_view valueName) {
  return KeyCallResult(SetStringValue(key, valueName, REG_EXPAND_SZ, text));
}

int WriteKeyBinary(std::span<const BYTE> bytes, HKEY key, std::string_view valueName) {
  return KeyCallResult(SetValue(key, valueName, REG_BINARY, bytes.data(), bytes.size()));
}

int WriteKeyDword(DWORD value, HKEY key, std::string_view valueName) {
  // Machine order, least significant byte first, whatever the host is.
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return KeyCallResult(SetValue(key, valueName, REG_DWORD, bytes, sizeof bytes));
}

int WriteKeyMultiString(std::string_view list, HKEY key, std::string_view valueName) {
  // The list ends at its first pair of zero bytes; an empty entry inside it
  // (one zero byte followed by more text) does not end it.
  for (size_t i = 0; i + 1 < list.size(); ++i) {
    if (list[i] == '\0' && list[i + 1] == '\0')
      return KeyCallResult(SetValue(key, valueName, REG_MULTI_SZ, list.data(), i + 2));
  }
  return kKeyCallFailed;
}

int DeleteKeyValue(HKEY key, std::string_view valueName) {
  const std::string name = Terminated(valueName);
  return KeyCallResult(RegDeleteValueA(key, name.c_str()));
}

// ---- The latest subkey -------------------------------------------------------

int CompareVersionNames(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      size_t endB = j;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      // Compared as numbers of any length: leading zeros dropped, then the
      // longer run is the greater number, equal lengths compare digit by digit.
      std::string_view runA = a.substr(i, endA - i);
      std::string_view runB = b.substr(j, endB - j);
      runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
      runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
      if (runA.size() != runB.size()) return runA.size() < runB.size() ? -1 : 1;
      if (int c = runA.compare(runB); c != 0) return c < 0 ? -1 : 1;
      i = endA;
      j = endB;
      continue;
    }
    const unsigned char ca = static_cast<unsigned char>(a[i]);
    const unsigned char cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;  // 1.4.2 after 1.4
  if (j < b.size()) return -1;
  // Equal as versions ("1.01" and "1.1"): the byte order decides, so that
  // the order is total and the choice never depends on enumeration order.
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int ReadLatestSubkeyValue(std::string& out, std::string& latestNameOut, std::string_view path,
                          std::string_view valueName, SubkeyOrder order) {
  const RegistryKey key = OpenRegistryPathKey(path, true);
  if (!key) return kLatestKeyNotOpened;
  latestNameOut.clear();

  char name[kSubkeyNameCapacity] = {};
  FILETIME written{};
  for (DWORD index = 0;; ++index) {
    DWORD length = kSubkeyNameCapacity;
    LONG rc = RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, &written);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    // A name too long for the buffer brings no name, and the next index is
    // tried. Any other error (the key was deleted meanwhile, a bad handle)
    // would answer every further index the same way: asking on would never
    // end.
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    const std::string_view found(
        name,
        std::find(name, name + std::min<DWORD>(length, kSubkeyNameCapacity - 1), '\0') - name);
    if (IsLater(found, latestNameOut, order)) latestNameOut.assign(found);
  }

  if (latestNameOut.empty()) return kLatestNoSubkey;
  const RegistryKey subkey = OpenKey(key.Get(), latestNameOut, KEY_READ);
  if (!subkey) return kLatestSubkeyNotOpened;
  return ReadKeyValue(out, subkey.Get(), valueName) == kKeyCallDone ? kLatestRead
                                                                    : kLatestValueNotRead;
}

}  // namespace qm
