// The registry layer: registry paths written as text, and the few key and
// value operations the rest of the program uses. Nothing here prints.
//
// Results are ints, 0 for success; the codes are named below and listed at
// each operation's declaration. A value name that is empty addresses the
// key's default (unnamed) value, in reading, writing and deleting alike.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32api.h"

namespace qm {

// Longest subkey text a registry path may carry (the subkey working buffer
// holds this many characters and a terminator). A longer path is rejected as
// an unrecognised root.
constexpr size_t kMaxSubkeyLength = 32767;
// Capacity announced to the registry when a value is read.
constexpr DWORD kValueCapacity = 32767;
// Capacity of a subkey name in enumeration (512 characters and a terminator).
constexpr DWORD kSubkeyNameCapacity = 513;
// Longest value name (characters, no terminator) that the program composes
// (the install stamp's) or takes from a registration file.
constexpr size_t kMaxValueNameLength = 512;

// ---- Results -----------------------------------------------------------------
// The value operations (read, write, rewrite, delete a value).
constexpr int kValueDone = 0;
constexpr int kValueKeyFailed = 1;          // the key was not opened (reading, deleting)
                                            // or created or opened (writing)
constexpr int kValueFailed = 2;             // the value was not read, stored or deleted
constexpr int kValueRootUnrecognised = 10;  // path forms only
// The key operations (create, delete a key); the path forms give kKeyNoRoot
// for a root they do not recognise.
constexpr int kKeyDone = 0;
constexpr int kKeyNoRoot = 1;
constexpr int kKeyFailed = 2;
// The operations on a key the caller holds open.
constexpr int kKeyCallDone = 0;
constexpr int kKeyCallFailed = 1;
// ReadLatestSubkeyValue.
constexpr int kLatestRead = 0;
constexpr int kLatestValueNotRead = 1;     // the latest subkey's name is still delivered
constexpr int kLatestSubkeyNotOpened = 2;  // likewise
constexpr int kLatestKeyNotOpened = 11;    // also: root unrecognised
constexpr int kLatestNoSubkey = 12;

// The predefined key a root text names: one of HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG,
// HKEY_DYN_DATA and HKEY_PERFORMANCE_DATA, spelled in full and compared
// without regard to ASCII letter case, as Windows' own tools compare them.
// nullptr (none) for any other text: a blank, a misspelling, a short form.
HKEY ParseRegistryRoot(std::string_view rootText);
// The full name of a predefined key ("HKEY_CURRENT_USER"); empty for none.
std::string_view RegistryRootName(HKEY root);

// Splits "root\subkey" at its first backslash and names the root by
// ParseRegistryRoot. Returns nullptr (none), leaving `subkeyOut` unchanged,
// for a path without a backslash, an unrecognised root, or a subkey longer
// than kMaxSubkeyLength.
HKEY ParseRegistryPath(std::string& subkeyOut, std::string_view path);

// ---- What the layer hands out ----------------------------------------------
// A key its holder opened, closed (RegCloseKey) when the holder is done with
// it. Empty (nullptr) when no key was opened. A predefined root is never
// closed: it is the system's, not the holder's.
class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() { Close(); }
  RegistryKey(RegistryKey&& other) noexcept : key_(other.Release()) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY Get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  // Closes the key now; the holder is empty afterwards.
  void Close();
  // Gives the key up without closing it; the holder is empty afterwards.
  HKEY Release();

 private:
  HKEY key_ = nullptr;
};

// A value as the registry holds it: its type and its bytes (a string's
// terminator included, when one was stored).
struct RegistryValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

// Whether a value of `type` is one text: REG_SZ or REG_EXPAND_SZ.
bool IsStringType(DWORD type);

// ---- Root and subkey -------------------------------------------------------
// 0 read; 1 key not opened (KEY_READ); 2 value not read. On success `out`
// holds the value's bytes exactly as stored (a string's terminator included)
// and nothing after them. The type is not checked. `out` is untouched on
// failure.
int ReadRegistryString(std::string& out, HKEY root, std::string_view subkey,
                       std::string_view valueName);
// As ReadRegistryString, with the value's type. A value larger than
// `capacity` bytes is not read (kValueFailed): it is never cut.
int ReadRegistryValue(RegistryValue& out, HKEY root, std::string_view subkey,
                      std::string_view valueName, DWORD capacity = kValueCapacity);
// Stores `text` as REG_SZ with its terminator. 0 stored; 1 key not created or
// opened (KEY_ALL_ACCESS); 2 value not stored.
int WriteRegistryString(std::string_view text, HKEY root, std::string_view subkey,
                        std::string_view valueName);
// As WriteRegistryString, but an existing REG_EXPAND_SZ value stays
// REG_EXPAND_SZ: a system Path full of %SystemRoot% entries must never be
// turned into a REG_SZ by a rewrite. A value created new is REG_SZ. When the
// type of the value in place cannot be learnt (its query fails with anything
// but "not found"), nothing is stored: 2.
int RewriteRegistryString(std::string_view text, HKEY root, std::string_view subkey,
                          std::string_view valueName);
// 0 deleted; 1 key does not exist or cannot be opened for writing (a missing
// key is never created by a delete); 2 value not deleted (also: no such value).
int DeleteRegistryValue(HKEY root, std::string_view subkey, std::string_view valueName);
// 0 created or already there; 1 no root; 2 creation failed.
int CreateRegistryKey(HKEY root, std::string_view subkey);
// Deletes the key with all its subkeys and values. 0 deleted; 1 no root;
// 2 failed, also for a missing key and for an empty subkey (a root itself is
// never wiped).
int DeleteRegistryKey(HKEY root, std::string_view subkey);

// ---- Registry paths --------------------------------------------------------
// Each parses the path, then calls the operation above. An unrecognised root
// gives kValueRootUnrecognised (10) for reading and writing a value; deleting
// a value gives kValueKeyFailed (1), and the key operations kKeyNoRoot (1).
int ReadRegistryPathValue(std::string& out, std::string_view path, std::string_view valueName);
int ReadRegistryPathTypedValue(RegistryValue& out, std::string_view path,
                               std::string_view valueName);
int WriteRegistryPathValue(std::string_view text, std::string_view path,
                           std::string_view valueName);
int RewriteRegistryPathValue(std::string_view text, std::string_view path,
                             std::string_view valueName);
// Stores `text` with its terminator as a string value of `type`, REG_SZ or
// REG_EXPAND_SZ: for a caller that has read the value and keeps its type,
// with no second look at the value in place. Results as WriteRegistryString;
// any other type stores nothing and gives kValueFailed, without opening the
// key.
int WriteRegistryPathTypedString(std::string_view text, DWORD type, std::string_view path,
                                 std::string_view valueName);
int CreateRegistryPathKey(std::string_view path);
int DeleteRegistryPathKey(std::string_view path);
int DeleteRegistryPathValue(std::string_view path, std::string_view valueName);

// Opens the key of a path for a caller. readOnly: RegOpenKeyExA with
// KEY_READ. Otherwise created or opened with KEY_ALL_ACCESS. Empty when the
// root is unrecognised or the call failed.
RegistryKey OpenRegistryPathKey(std::string_view path, bool readOnly);
// Opens an existing key with KEY_ALL_ACCESS without ever creating it.
RegistryKey OpenExistingRegistryPathKey(std::string_view path);

// ---- Open keys (the caller's; nothing is opened or closed) -----------------
// Each returns kKeyCallDone (0) when the registry call succeeded,
// kKeyCallFailed (1) otherwise.
int ReadKeyValue(std::string& out, HKEY key, std::string_view valueName);
int WriteKeyString(std::string_view text, HKEY key, std::string_view valueName);
int WriteKeyExpandString(std::string_view text, HKEY key, std::string_view valueName);
int WriteKeyBinary(std::span<const BYTE> bytes, HKEY key, std::string_view valueName);
int WriteKeyDword(DWORD value, HKEY key, std::string_view valueName);
// `list` holds entries each ended by a zero byte; stored up to and including
// the first pair of consecutive zero bytes (a list that starts with two zero
// bytes is stored as 2 bytes). 1 when `list` has no such pair.
int WriteKeyMultiString(std::string_view list, HKEY key, std::string_view valueName);
int DeleteKeyValue(HKEY key, std::string_view valueName);

// How "the latest subkey" is chosen. Bytes: the plain byte order of -regl
// (1.9 beats 1.10). Version: names compared run by run, a run of digits as a
// number and anything else byte by byte (10.0 beats 8.50, 1.10 beats 1.9,
// 1.4.2 beats 1.4) -- what the detection of installed software needs.
enum class SubkeyOrder { Bytes, Version };
// <0, 0, >0 as `a` sorts before, with or after `b` in version order.
int CompareVersionNames(std::string_view a, std::string_view b);

// Reads `valueName` under the subkey of `path` whose name is the greatest in
// `order`, and delivers that name. 0 read; 1 value not read under the
// latest subkey (the name is still delivered); 2 latest subkey not opened;
// 11 root unrecognised or key not opened (latestNameOut untouched); 12 no
// subkey (latestNameOut empty).
int ReadLatestSubkeyValue(std::string& out, std::string& latestNameOut, std::string_view path,
                          std::string_view valueName, SubkeyOrder order = SubkeyOrder::Bytes);

}  // namespace qm
