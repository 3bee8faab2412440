// The registry functions of the emulated machine, with Windows NT's
// arguments, access rules and error codes, over the store of
// registry_store.cc. Key handles are entries of a table; the predefined keys
// are recognised by the low 32 bits of the handle, as Windows does.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/emulated/registry_store.h"
#include "platform/emulated/win32_emulated.h"

namespace emulated {
namespace {

// Limits of key and value names, in characters (a double-byte character
// counts once).
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;
// Levels of keys below a root.
constexpr std::size_t kMaxKeyDepth = 512;

// Access rights beyond those winreg.h names that a REGSAM may carry.
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;

// Handle values handed out: small multiples of four, as Windows' are, never
// reused within a process so that a closed handle stays invalid.
constexpr std::uintptr_t kFirstHandle = 0x100;
constexpr std::uintptr_t kHandleStep = 4;

constexpr std::uint32_t kPredefinedFirst = 0x80000000u;
constexpr std::uint32_t kClassesRoot = 0x80000000u;
constexpr std::uint32_t kCurrentUser = 0x80000001u;
constexpr std::uint32_t kLocalMachine = 0x80000002u;
constexpr std::uint32_t kUsers = 0x80000003u;
constexpr std::uint32_t kPerformanceData = 0x80000004u;
constexpr std::uint32_t kCurrentConfig = 0x80000005u;
constexpr std::uint32_t kDynData = 0x80000006u;

struct OpenKey {
  KeyId id = 0;
  REGSAM access = 0;
  std::size_t depth = 0;
};

// Enumerations are read once per key and kept until the store changes, so
// that walking a key with many entries by index stays linear.
struct EnumCache {
  std::uint64_t generation = 0;
  std::unordered_map<KeyId, std::vector<SubkeyEntry>> subkeys;
  std::unordered_map<KeyId, std::vector<ValueEntry>> values;
};

struct HandleTable {
  std::unordered_map<std::uintptr_t, OpenKey> keys;
  std::uintptr_t next = kFirstHandle;
  EnumCache cache;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

// What a handle argument designates, before the store is consulted.
struct Base {
  std::uint32_t predefined = 0;  // the root's constant, or 0 for an opened key
  KeyId id = 0;
  REGSAM access = KEY_ALL_ACCESS;
  std::size_t depth = 0;
};

// Levels of a fixed path below HKEY_LOCAL_MACHINE.
constexpr std::size_t PathDepth(std::string_view path) {
  std::size_t depth = 1;
  for (char c : path) depth += c == '\\' ? 1 : 0;
  return depth;
}

std::uint32_t PredefinedOf(HKEY h) {
  auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h));
  return low >= kPredefinedFirst && low <= kDynData ? low : 0;
}

// 0, or ERROR_INVALID_HANDLE for a null, unknown or closed handle and for the
// roots this machine does not have.
LONG Identify(HKEY h, Base* base) {
  if (!h) return ERROR_INVALID_HANDLE;
  if (std::uint32_t root = PredefinedOf(h)) {
    base->predefined = root;
    switch (root) {
      case kLocalMachine:
        base->id = kLocalMachineId;
        return ERROR_SUCCESS;
      case kCurrentUser:
        base->id = kCurrentUserId;
        return ERROR_SUCCESS;
      case kUsers:
        base->id = kUsersId;
        return ERROR_SUCCESS;
      case kClassesRoot:
        base->depth = PathDepth(kClassesRootPath);
        return ERROR_SUCCESS;
      case kCurrentConfig:
        base->depth = PathDepth(kCurrentConfigPath);
        return ERROR_SUCCESS;
      case kDynData:
        if (!IsWindows9x()) return ERROR_INVALID_HANDLE;
        base->id = kDynDataId;
        return ERROR_SUCCESS;
      default:  // HKEY_PERFORMANCE_DATA: no keys behind it here
        return ERROR_INVALID_HANDLE;
    }
  }
  auto& keys = Handles().keys;
  auto it = keys.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == keys.end()) return ERROR_INVALID_HANDLE;
  base->id = it->second.id;
  base->access = it->second.access;
  base->depth = it->second.depth;
  return ERROR_SUCCESS;
}

// Store failures that are not answers (2, 1018) may have cost the run its
// transaction; the machine then fails the rest of the run.
LONG Checked(LONG status) {
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_KEY_DELETED)
    NoteStoreFailure();
  return status;
}

// The store's key under HKEY_LOCAL_MACHINE at a fixed path, made if missing.
LONG AliasKey(RegistryStore* store, const char* path, KeyId* out) {
  KeyId id = kLocalMachineId;
  std::string_view rest(path);
  while (!rest.empty()) {
    std::size_t cut = rest.find('\\');
    bool created = false;
    if (LONG err = store->CreateChild(id, rest.substr(0, cut), "", &id, &created)) return err;
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  *out = id;
  return ERROR_SUCCESS;
}

// Finds the store's key of a base: the alias roots' keys, or ERROR_KEY_DELETED
// for a handle whose key has been deleted.
LONG Locate(RegistryStore* store, Base* base) {
  if (base->predefined == kClassesRoot)
    return Checked(AliasKey(store, kClassesRootPath, &base->id));
  if (base->predefined == kCurrentConfig)
    return Checked(AliasKey(store, kCurrentConfigPath, &base->id));
  if (base->predefined) return ERROR_SUCCESS;
  KeyRecord record;
  return Checked(store->GetKey(base->id, &record));
}

// Identify, then the store, then Locate: the common start of every call.
LONG Resolve(HKEY h, RegistryStore** store, Base* base) {
  if (LONG err = Identify(h, base)) return err;
  if (LONG err = AcquireRegistry(store)) return err;
  return Locate(*store, base);
}

// Splits a subkey into its names. Runs of backslashes count as one and
// trailing ones are ignored; a leading one is a bad path, except that
// HKEY_CLASSES_ROOT skips one. A backslash that is the trail byte of a
// double-byte character is part of a name.
LONG SplitSubkey(const LeadBytes& lead, const char* subkey, bool classesRoot,
                 std::vector<std::string_view>* parts) {
  parts->clear();
  if (!subkey) return ERROR_SUCCESS;
  std::string_view s(subkey);
  if (classesRoot && !s.empty() && s[0] == '\\') s.remove_prefix(1);
  if (!s.empty() && s[0] == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size();) {
    if (i == s.size() || s[i] == '\\') {
      if (i > start) {
        std::string_view part = s.substr(start, i - start);
        if (lead.CountChars(part) > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        parts->push_back(part);
      }
      start = ++i;
    } else {
      i += lead.IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    }
  }
  return ERROR_SUCCESS;
}

REGSAM Granted(REGSAM desired) {
  if (desired & (MAXIMUM_ALLOWED | kGenericAll)) return KEY_ALL_ACCESS;
  REGSAM granted = desired & KEY_ALL_ACCESS;
  if (desired & kGenericRead) granted |= KEY_READ;
  if (desired & kGenericWrite) granted |= KEY_WRITE;
  if (desired & kGenericExecute) granted |= KEY_EXECUTE;
  return granted;
}

HKEY NewHandle(KeyId id, REGSAM desired, std::size_t depth) {
  HandleTable& t = Handles();
  std::uintptr_t value = t.next;
  t.next += kHandleStep;
  t.keys[value] = OpenKey{id, Granted(desired), depth};
  return reinterpret_cast<HKEY>(value);
}

bool Allows(const Base& base, REGSAM needed) {
  return (base.access & needed) == needed;
}

std::string_view ValueName(LPCSTR name) {
  return name ? std::string_view(name) : std::string_view();
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies value data into a caller's buffer that is known to be large enough.
// A string stored without its terminator gets one when the buffer has a
// spare byte, uncounted, as Windows does.
void CopyData(DWORD type, const std::string& data, LPBYTE out, DWORD capacity) {
  if (data.empty()) return;
  std::memcpy(out, data.data(), data.size());
  if (IsStringType(type) && data.size() < capacity && data.back() != '\0') out[data.size()] = 0;
}

// The key a subkey path leads to under a base, without creating anything.
LONG Walk(RegistryStore* store, const Base& base, const std::vector<std::string_view>& parts,
          KeyId* out) {
  KeyId id = base.id;
  for (std::string_view part : parts)
    if (LONG err = Checked(store->FindChild(id, part, &id))) return err;
  *out = id;
  return ERROR_SUCCESS;
}

// Keys that deleting must never remove: the roots and the keys behind the
// alias roots, with their ancestors.
bool IsProtected(RegistryStore* store, KeyId id) {
  if (id <= kLastRootId) return true;
  for (const char* path : {kClassesRootPath, kCurrentConfigPath}) {
    KeyId at = kLocalMachineId;
    std::string_view rest(path);
    while (!rest.empty()) {
      std::size_t cut = rest.find('\\');
      if (store->FindChild(at, rest.substr(0, cut), &at) != ERROR_SUCCESS) break;
      if (at == id) return true;
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
  }
  return false;
}

EnumCache& FreshCache() {
  EnumCache& c = Handles().cache;
  if (c.generation != StoreGeneration()) {
    c.subkeys.clear();
    c.values.clear();
    c.generation = StoreGeneration();
  }
  return c;
}

LONG CachedSubkeys(RegistryStore* store, KeyId id, const std::vector<SubkeyEntry>** out) {
  EnumCache& c = FreshCache();
  auto it = c.subkeys.find(id);
  if (it == c.subkeys.end()) {
    std::vector<SubkeyEntry> list;
    if (LONG err = Checked(store->ListSubkeys(id, &list))) return err;
    it = c.subkeys.emplace(id, std::move(list)).first;
  }
  *out = &it->second;
  return ERROR_SUCCESS;
}

LONG CachedValues(RegistryStore* store, KeyId id, const std::vector<ValueEntry>** out) {
  EnumCache& c = FreshCache();
  auto it = c.values.find(id);
  if (it == c.values.end()) {
    std::vector<ValueEntry> list;
    if (LONG err = Checked(store->ListValues(id, &list))) return err;
    it = c.values.emplace(id, std::move(list)).first;
  }
  *out = &it->second;
  return ERROR_SUCCESS;
}

void SetFileTime(PFILETIME out, std::int64_t ticks) {
  if (!out) return;
  auto t = static_cast<std::uint64_t>(ticks);
  out->dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
  out->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// Creates (or opens) the keys of a path under a base, as one step: a failure
// part-way leaves none of the keys it would have made.
LONG CreatePath(RegistryStore* store, const Base& base, const std::vector<std::string_view>& parts,
                std::string_view keyClass, KeyId* out, bool* created) {
  *created = false;
  *out = base.id;
  if (parts.empty()) return ERROR_SUCCESS;
  if (LONG err = Checked(store->SavepointBegin())) return err;
  LONG status = ERROR_SUCCESS;
  KeyId id = base.id;
  for (std::size_t i = 0; i < parts.size() && status == ERROR_SUCCESS; ++i)
    status = store->CreateChild(id, parts[i], i + 1 == parts.size() ? keyClass : "", &id, created);
  status = Checked(store->SavepointEnd(status));
  if (status == ERROR_SUCCESS) {
    *out = id;
    BumpStoreGeneration();
  }
  return status;
}

}  // namespace

void ResetRegistryHandles() {
  HandleTable& t = Handles();
  t.keys.clear();
  t.cache = EnumCache{};
}

}  // namespace emulated

using namespace emulated;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegOpenKeyExA")) {
    *phkResult = nullptr;
    return fault;
  }
  // Only a null handle leaves the result untouched; a closed or unusable
  // one answers with a null result, as Wine does.
  if (hKey != nullptr) *phkResult = nullptr;
  Base base;
  if (LONG err = Identify(hKey, &base)) return err;
  // A root with no subkey is the root's own constant, not a new handle.
  if (base.predefined && (!lpSubKey || !*lpSubKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  *phkResult = nullptr;
  RegistryStore* store = nullptr;
  if (LONG err = AcquireRegistry(&store)) return err;
  if (LONG err = Locate(store, &base)) return err;
  std::vector<std::string_view> parts;
  if (LONG err = SplitSubkey(store->lead(), lpSubKey, base.predefined == kClassesRoot, &parts))
    return err;
  if (base.depth + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  KeyId id = 0;
  if (LONG err = Walk(store, base, parts, &id)) return err;
  *phkResult = NewHandle(id, samDesired, base.depth + parts.size());
  return ERROR_SUCCESS;
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  // Any handle, even none, comes back as it is for an empty subkey.
  if (!lpSubKey || !*lpSubKey) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD /*dwOptions*/,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_BADKEY;
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegCreateKeyExA")) {
    *phkResult = nullptr;
    return fault;
  }
  Base base;
  if (LONG err = Identify(hKey, &base)) return err;  // *phkResult untouched
  *phkResult = nullptr;
  RegistryStore* store = nullptr;
  if (LONG err = AcquireRegistry(&store)) return err;
  if (LONG err = Locate(store, &base)) return err;
  std::vector<std::string_view> parts;
  if (LONG err = SplitSubkey(store->lead(), lpSubKey, base.predefined == kClassesRoot, &parts))
    return err;
  if (base.depth + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  KeyId id = 0;
  bool created = false;
  if (LONG err = CreatePath(store, base, parts, lpClass ? lpClass : "", &id, &created)) return err;
  *phkResult = NewHandle(id, samDesired, base.depth + parts.size());
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (!lpSubKey && PredefinedOf(hKey)) {
    Base base;
    if (LONG err = Identify(hKey, &base)) return err;
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED,
                         nullptr, phkResult, nullptr);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegQueryValueExA")) return fault;
  if (PredefinedOf(hKey) == kPerformanceData) {
    // Windows answers with performance counters, which this machine has none
    // of; it never returns them whole to a first, sizeless query either.
    if (!lpData && lpcbData) *lpcbData = 0;
    return ERROR_MORE_DATA;
  }
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  if (!Allows(base, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  std::uint32_t type = 0;
  std::string data;
  if (LONG err = Checked(store->GetValue(base.id, ValueName(lpValueName), &type, &data))) {
    if (err == ERROR_FILE_NOT_FOUND && !lpData && lpcbData) *lpcbData = 0;
    return err;
  }
  if (lpType) *lpType = type;
  auto size = static_cast<DWORD>(data.size());
  if (lpData) {
    if (size > *lpcbData) {
      *lpcbData = size;
      return ERROR_MORE_DATA;  // the buffer is left as it was
    }
    CopyData(type, data, lpData, *lpcbData);
  }
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  if (LONG fault = TakeInjectedFault("RegSetValueExA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  if (!Allows(base, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpData && cbData > 0) return ERROR_NOACCESS;
  std::string_view name = ValueName(lpValueName);
  if (store->lead().CountChars(name) > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  // Exactly cbData bytes are stored: nothing is read beyond the caller's
  // buffer to find a terminator the size left out.
  std::string_view data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
  if (LONG err = Checked(store->SetValue(base.id, name, dwType, data))) return err;
  BumpStoreGeneration();
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  if (LONG fault = TakeInjectedFault("RegDeleteValueA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  if (!Allows(base, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (LONG err = Checked(store->DeleteValue(base.id, ValueName(lpValueName)))) return err;
  BumpStoreGeneration();
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegDeleteKeyA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  std::vector<std::string_view> parts;
  if (LONG err = SplitSubkey(store->lead(), lpSubKey, base.predefined == kClassesRoot, &parts))
    return err;
  if (base.depth + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  // No right of the handle is needed, not even for its own key (""): Windows
  // opens the key anew for deleting.
  KeyId id = 0;
  if (LONG err = Walk(store, base, parts, &id)) return err;
  if (IsProtected(store, id)) return ERROR_ACCESS_DENIED;
  bool hasSubkeys = false;
  if (LONG err = Checked(store->HasSubkeys(id, &hasSubkeys))) return err;
  if (hasSubkeys) return ERROR_ACCESS_DENIED;
  if (LONG err = Checked(store->SavepointBegin())) return err;
  if (LONG err = Checked(store->SavepointEnd(store->DeleteKey(id)))) return err;
  BumpStoreGeneration();
  return ERROR_SUCCESS;
}

LONG SHDeleteKeyA(HKEY hKey, LPCSTR pszSubKey) {
  // An empty subkey would take the handle's own key and all below it; the
  // program never means that, and on a root it would wipe the machine.
  if (!pszSubKey || !*pszSubKey) return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("SHDeleteKeyA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  std::vector<std::string_view> parts;
  if (LONG err = SplitSubkey(store->lead(), pszSubKey, base.predefined == kClassesRoot, &parts))
    return err;
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  if (base.depth + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  KeyId id = 0;
  if (LONG err = Walk(store, base, parts, &id)) return err;
  if (IsProtected(store, id)) return ERROR_ACCESS_DENIED;
  if (LONG err = Checked(store->SavepointBegin())) return err;
  if (LONG err = Checked(store->SavepointEnd(store->DeleteTree(id)))) return err;
  BumpStoreGeneration();
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpReserved || !lpName || !lpcchName || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegEnumKeyExA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  if (!Allows(base, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  const std::vector<SubkeyEntry>* list = nullptr;
  if (LONG err = CachedSubkeys(store, base.id, &list)) return err;
  if (dwIndex >= list->size()) return ERROR_NO_MORE_ITEMS;
  const SubkeyEntry& e = (*list)[dwIndex];
  if (e.name.size() >= *lpcchName) return ERROR_MORE_DATA;  // nothing copied
  if (lpClass && e.keyClass.size() >= *lpcchClass) return ERROR_MORE_DATA;
  std::memcpy(lpName, e.name.data(), e.name.size());
  lpName[e.name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(e.name.size());
  if (lpClass) {
    std::memcpy(lpClass, e.keyClass.data(), e.keyClass.size());
    lpClass[e.keyClass.size()] = '\0';
  }
  if (lpcchClass) *lpcchClass = static_cast<DWORD>(e.keyClass.size());
  SetFileTime(lpftLastWriteTime, e.written);
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  if (LONG fault = TakeInjectedFault("RegEnumValueA")) return fault;
  Base base;
  RegistryStore* store = nullptr;
  if (LONG err = Resolve(hKey, &store, &base)) return err;
  if (!Allows(base, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const std::vector<ValueEntry>* list = nullptr;
  if (LONG err = CachedValues(store, base.id, &list)) return err;
  if (dwIndex >= list->size()) return ERROR_NO_MORE_ITEMS;
  const ValueEntry& v = (*list)[dwIndex];
  auto size = static_cast<DWORD>(v.data.size());
  if (lpType) *lpType = v.type;
  // Data too large: nothing is copied, and its size is told.
  if (lpData && size > *lpcbData) {
    if (lpcbData) *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData) CopyData(v.type, v.data, lpData, *lpcbData);
  if (lpcbData) *lpcbData = size;
  if (v.name.size() >= *lpcchValueName) {
    // Name too long: as much of it as fits, whole characters only; the
    // length stays as the caller gave it.
    if (*lpcchValueName > 0) {
      std::size_t fit = 0;
      while (fit < v.name.size()) {
        std::size_t step = store->lead().IsLead(static_cast<unsigned char>(v.name[fit])) ? 2 : 1;
        if (fit + step > *lpcchValueName - 1) break;
        fit += step;
      }
      std::memcpy(lpValueName, v.name.data(), fit);
      lpValueName[fit] = '\0';
    }
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.data(), v.name.size());
  lpValueName[v.name.size()] = '\0';
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (LONG fault = TakeInjectedFault("RegQueryInfoKeyA")) return fault;
  Base base;
  if (LONG err = Identify(hKey, &base)) return err;
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  RegistryStore* store = nullptr;
  if (LONG err = AcquireRegistry(&store)) return err;
  if (LONG err = Locate(store, &base)) return err;
  if (!Allows(base, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  KeyRecord record;
  KeyCounts counts;
  if (LONG err = Checked(store->GetKey(base.id, &record))) return err;
  if (LONG err = Checked(store->Counts(base.id, &counts))) return err;
  if (lpcSubKeys) *lpcSubKeys = counts.subkeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = counts.maxSubkeyName;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = counts.maxSubkeyClass;
  if (lpcValues) *lpcValues = counts.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = counts.maxValueName;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = counts.maxValueData;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;  // keys here carry no security
  SetFileTime(lpftLastWriteTime, record.written);
  LONG status = ERROR_SUCCESS;
  if (lpClass) {
    if (record.keyClass.size() >= *lpcchClass) {
      status = ERROR_MORE_DATA;
    } else {
      std::memcpy(lpClass, record.keyClass.data(), record.keyClass.size());
      lpClass[record.keyClass.size()] = '\0';
    }
  }
  if (lpcchClass) *lpcchClass = static_cast<DWORD>(record.keyClass.size());
  return status;
}

LONG RegCloseKey(HKEY hKey) {
  if (LONG fault = TakeInjectedFault("RegCloseKey")) return fault;
  if (PredefinedOf(hKey)) return ERROR_SUCCESS;
  auto& keys = Handles().keys;
  return keys.erase(reinterpret_cast<std::uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
