// quillmark-reg: looks into the emulated machine's registry.
//
//   quillmark-reg query KEY [/v NAME | /ve] [/s]
//
// prints what `reg query` prints on Windows (as Wine's reg.exe writes it, CR LF
// line ends included), so that a test can compare the emulated registry with
// a real one line by line. Exit code 0 when the key (and value) was found,
// 1 otherwise.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "reg_roots.h"
#include "registry/registry.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitFailed = 1;
constexpr const char* kNewline = "\r\n";
constexpr const char* kIndent = "    ";

void Out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}
void Line(std::string_view text) {
  Out(text);
  Out(kNewline);
}

int Fail(const char* message) {
  Out("reg: ");
  Line(message);
  return kExitFailed;
}

int SyntaxError() {
  return Fail("Invalid syntax. Type \"REG QUERY /?\" for help.");
}

using regtool::EqualsAsciiNoCase;

std::string Hex(const std::string& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : data) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::uint64_t LittleEndian(const std::string& data) {
  std::uint64_t v = 0;
  for (std::size_t i = data.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "0x" + std::to_string(type);
  }
}

std::string FormatData(DWORD type, const std::string& data) {
  char number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return data.substr(0, data.find('\0'));
    case REG_MULTI_SZ: {
      // Strings joined by a literal \0; the empty string that ends the list
      // (and anything after it) is not shown.
      std::string out;
      std::size_t at = 0;
      while (at < data.size()) {
        std::size_t end = data.find('\0', at);
        if (end == std::string::npos) end = data.size();
        if (end == at) break;
        if (!out.empty()) out += "\\0";
        out.append(data, at, end - at);
        at = end + 1;
      }
      return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      if (data.size() != 4) return Hex(data);
      std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(LittleEndian(data)));
      return number;
    case REG_QWORD:
      if (data.size() != 8) return Hex(data);
      std::snprintf(number, sizeof number, "0x%llx",
                    static_cast<unsigned long long>(LittleEndian(data)));
      return number;
    default:
      return Hex(data);
  }
}

void PrintValue(const std::string& name, DWORD type, const std::string& data) {
  std::string line = kIndent;
  line += name.empty() ? "(Default)" : name;
  line += kIndent + TypeName(type) + kIndent + FormatData(type, data);
  Line(line);
}

struct Value {
  std::string name;
  DWORD type = 0;
  std::string data;
};

// The values and subkey names of an open key, in enumeration order.
bool ReadKey(HKEY key, std::vector<Value>* values, std::vector<std::string>* subkeys) {
  DWORD subkeyCount = 0, maxSubkey = 0, valueCount = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, nullptr,
                       &valueCount, &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<char> name(maxName + 1);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG rc = RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return false;
    values->push_back({std::string(name.data(), nameSize), type,
                       std::string(reinterpret_cast<char*>(data.data()), dataSize)});
  }
  std::vector<char> subkey(maxSubkey + 1);
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(subkey.size());
    LONG rc = RegEnumKeyExA(key, i, subkey.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return false;
    subkeys->push_back(std::string(subkey.data(), size));
  }
  return true;
}

qm::RegistryKey OpenSubkey(HKEY parent, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  return qm::RegistryKey(key);
}

// Every value of a key, then (with /s) of each subkey; a key without values
// shows no header of its own.
void QueryAll(HKEY key, const std::string& path, bool recurse) {
  std::vector<Value> values;
  std::vector<std::string> subkeys;
  if (!ReadKey(key, &values, &subkeys)) return;
  if (!values.empty()) {
    Line(path);
    for (const Value& v : values) PrintValue(v.name, v.type, v.data);
    Line("");
  }
  for (const std::string& name : subkeys) {
    std::string subpath = path + "\\" + name;
    if (!recurse) {
      Line(subpath);
      continue;
    }
    if (const qm::RegistryKey sub = OpenSubkey(key, name)) QueryAll(sub.Get(), subpath, true);
  }
}

bool ReadValue(HKEY key, const char* name, DWORD* type, std::string* data) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  std::vector<BYTE> buffer(size + 1);
  size = static_cast<DWORD>(buffer.size());
  if (RegQueryValueExA(key, name, nullptr, type, buffer.data(), &size) != ERROR_SUCCESS)
    return false;
  data->assign(reinterpret_cast<char*>(buffer.data()), size);
  return true;
}

// One value, in the key and (with /s) in every key below it; returns how
// many keys had it.
int SearchValue(HKEY key, const std::string& path, const std::string& name, bool recurse) {
  int found = 0;
  DWORD type = 0;
  std::string data;
  if (ReadValue(key, name.c_str(), &type, &data)) {
    Line(path);
    PrintValue(name, type, data);
    Line("");
    ++found;
  }
  if (!recurse) return found;
  std::vector<Value> values;
  std::vector<std::string> subkeys;
  if (!ReadKey(key, &values, &subkeys)) return found;
  for (const std::string& sub : subkeys) {
    if (const qm::RegistryKey child = OpenSubkey(key, sub))
      found += SearchValue(child.Get(), path + "\\" + sub, name, true);
  }
  return found;
}

// What a query asks for.
struct QueryRequest {
  std::string key;                  // ROOT\subkey, as typed
  const char* valueName = nullptr;  // /v NAME
  bool defaultValue = false;        // /ve
  bool recurse = false;             // /s
};

// The words after "query". False for a syntax error.
bool ParseQuery(int argc, char** argv, QueryRequest& request) {
  if (argc < 1) return false;
  request.key = argv[0];
  for (int i = 1; i < argc; ++i) {
    std::string_view opt = argv[i];
    if (opt.size() < 2 || (opt[0] != '/' && opt[0] != '-')) return false;
    opt.remove_prefix(1);
    const bool valueNamed = request.valueName || request.defaultValue;
    if (EqualsAsciiNoCase(opt, "v") && !valueNamed && i + 1 < argc) {
      request.valueName = argv[++i];
    } else if (EqualsAsciiNoCase(opt, "ve") && !valueNamed) {
      request.defaultValue = true;
    } else if (EqualsAsciiNoCase(opt, "s") && !request.recurse) {
      request.recurse = true;
    } else {
      return false;
    }
  }
  return true;
}

// The root of ROOT\subkey, or nullptr; the subkey without its final
// backslashes goes to `subkey`.
HKEY SplitKeyPath(const std::string& keyPath, std::string& subkey) {
  const std::size_t cut = keyPath.find('\\');
  subkey = cut == std::string::npos ? "" : keyPath.substr(cut + 1);
  while (!subkey.empty() && subkey.back() == '\\') subkey.pop_back();
  return regtool::FindRoot(keyPath.substr(0, cut));
}

// /v NAME or /ve: the value in the key, and with /s in every key below it.
int QueryOneValue(HKEY key, const std::string& path, const QueryRequest& request) {
  const std::string name = request.valueName ? request.valueName : "";
  if (request.recurse) {
    const int found = SearchValue(key, path, name, true);
    Line("Search complete. Number of matches found: " + std::to_string(found));
    return kExitFound;
  }
  if (SearchValue(key, path, name, false) != 0) return kExitFound;
  if (!request.defaultValue) return Fail("Unable to find the specified registry value");
  // Windows shows a missing default value as not set, and succeeds.
  Line(path);
  Line(std::string(kIndent) + "(Default)" + kIndent + "REG_SZ" + kIndent + "(value not set)");
  return kExitFound;
}

int Query(int argc, char** argv) {
  QueryRequest request;
  if (!ParseQuery(argc, argv, request)) return SyntaxError();
  std::string subkey;
  const HKEY root = SplitKeyPath(request.key, subkey);
  if (!root) return Fail("Invalid system key");

  HKEY opened = nullptr;
  if (LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &opened); rc != ERROR_SUCCESS) {
    // Any answer but "not found" means the machine's registry cannot be
    // read at all; the machine has said why on standard error.
    if (rc != ERROR_FILE_NOT_FOUND) return kExitFailed;
    return Fail("Unable to find the specified registry key");
  }
  const qm::RegistryKey key(opened);
  std::string path(qm::RegistryRootName(root));
  if (!subkey.empty()) path += "\\" + subkey;

  Line("");
  if (request.valueName || request.defaultValue) return QueryOneValue(key.Get(), path, request);
  QueryAll(key.Get(), path, request.recurse);
  return kExitFound;
}

int Usage() {
  Line("Usage: quillmark-reg query KEY [/v NAME | /ve] [/s]");
  return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  int status = EqualsAsciiNoCase(argv[1], "query") ? Query(argc - 2, argv + 2) : Usage();
  std::fflush(stdout);
  // Nothing was changed; this only releases the store.
  (void)emulated::FinishRun();
  return status;
}
