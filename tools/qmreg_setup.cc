// qmreg-setup: presets the registry of an emulated machine for a test, with
// the arguments of Windows' reg.exe, so that one scenario line prepares the
// emulated machine and (through the real reg.exe) a Wine prefix alike.
//
//   qmreg-setup add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
//   qmreg-setup delete KEY [/v NAME | /ve | /va] [/f]
//
// Types: REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ (entries split at
// SEP, default the two characters \0), REG_DWORD (decimal or 0x hex),
// REG_BINARY (hex digits), REG_NONE. As reg.exe does, `add KEY` without a
// value name also sets the key's default value to an empty string. Exit code
// 0 on success, 1 on any failure (with one line on standard error).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lifecycle.h"
#include "platform/win32api.h"
#include "reg_roots.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

constexpr auto SameNoCase = regtool::EqualsAsciiNoCase;

int Fail(const std::string& message) {
  std::fprintf(stderr, "qmreg-setup: %s\n", message.c_str());
  return kExitFailed;
}

struct Request {
  bool add = false;
  HKEY root = nullptr;
  std::string subkey;
  bool hasName = false;  // /v or /ve given
  std::string name;
  bool allValues = false;  // /va
  std::string type = "REG_SZ";
  std::string separator = "\\0";
  bool hasData = false;
  std::string data;
};

// Splits ROOT\subkey; false when the root is not one reg.exe knows.
bool SplitKey(std::string_view key, Request& req) {
  std::size_t slash = key.find('\\');
  std::string_view root = key.substr(0, slash);
  req.root = regtool::FindRoot(root);
  if (req.root == nullptr) return false;
  req.subkey = slash == std::string_view::npos ? "" : std::string(key.substr(slash + 1));
  return true;
}

// The value's bytes as RegSetValueExA takes them; false on bad data.
bool Encode(const Request& req, DWORD& type, std::vector<BYTE>& bytes) {
  const std::string& d = req.data;
  if (req.type == "REG_SZ" || req.type == "REG_EXPAND_SZ") {
    type = req.type == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    bytes.assign(d.begin(), d.end());
    bytes.push_back(0);
    return true;
  }
  if (req.type == "REG_MULTI_SZ") {
    type = REG_MULTI_SZ;
    std::size_t start = 0;
    while (!d.empty()) {
      std::size_t at = req.separator.empty() ? std::string::npos : d.find(req.separator, start);
      std::string entry = d.substr(start, at == std::string::npos ? std::string::npos : at - start);
      if (entry.empty()) return false;  // reg.exe refuses an empty entry too
      bytes.insert(bytes.end(), entry.begin(), entry.end());
      bytes.push_back(0);
      if (at == std::string::npos) break;
      start = at + req.separator.size();
    }
    bytes.push_back(0);
    return true;
  }
  if (req.type == "REG_DWORD") {
    if (d.empty()) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(d.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull || d[0] == '-') return false;
    type = REG_DWORD;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    return true;
  }
  if (req.type == "REG_BINARY" || req.type == "REG_NONE") {
    type = req.type == "REG_BINARY" ? REG_BINARY : REG_NONE;
    if (d.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < d.size(); i += 2) {
      std::string pair = d.substr(i, 2);
      char* end = nullptr;
      unsigned long v = std::strtoul(pair.c_str(), &end, 16);
      if (*end != '\0' || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return false;
      bytes.push_back(static_cast<BYTE>(v));
    }
    return true;
  }
  return false;
}

const char* ValueName(const Request& req) {
  return req.hasName ? req.name.c_str() : "";
}

int Add(const Request& req) {
  DWORD type = REG_SZ;
  std::vector<BYTE> bytes;
  if (!Encode(req, type, bytes)) return Fail("bad type or data for " + req.type);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(req.root, req.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return Fail("cannot create the key: error " + std::to_string(rc));
  rc = RegSetValueExA(key, ValueName(req), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return Fail("cannot set the value: error " + std::to_string(rc));
  return kExitOk;
}

int Delete(const Request& req) {
  if (!req.hasName && !req.allValues) {
    LONG rc = SHDeleteKeyA(req.root, req.subkey.c_str());
    if (rc != ERROR_SUCCESS) return Fail("cannot delete the key: error " + std::to_string(rc));
    return kExitOk;
  }
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(req.root, req.subkey.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) return Fail("cannot open the key: error " + std::to_string(rc));
  if (req.hasName) {
    rc = RegDeleteValueA(key, ValueName(req));
  } else {
    // Always the first value: deleting shifts the indices of the rest.
    char name[16384];
    for (;;) {
      DWORD size = sizeof name;
      rc = RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) break;
      rc = RegDeleteValueA(key, name);
      if (rc != ERROR_SUCCESS) break;
    }
    if (rc == ERROR_NO_MORE_ITEMS) rc = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return Fail("cannot delete the value: error " + std::to_string(rc));
  return kExitOk;
}

int Run(int argc, char** argv) {
  if (argc < 3) return Fail("usage: qmreg-setup add|delete KEY [options]");
  Request req;
  std::string verb = argv[1];
  if (verb != "add" && verb != "delete") return Fail("unknown command " + verb);
  req.add = verb == "add";
  if (!SplitKey(argv[2], req)) return Fail(std::string("unknown root in ") + argv[2]);
  for (int i = 3; i < argc; ++i) {
    std::string_view opt = argv[i];
    bool hasArg = i + 1 < argc;
    if (SameNoCase(opt, "/f")) {
      continue;
    } else if (SameNoCase(opt, "/ve")) {
      req.hasName = true;
      req.name.clear();
    } else if (SameNoCase(opt, "/va") && !req.add) {
      req.allValues = true;
    } else if (SameNoCase(opt, "/v") && hasArg) {
      req.hasName = true;
      req.name = argv[++i];
    } else if (SameNoCase(opt, "/t") && hasArg && req.add) {
      req.type = argv[++i];
      for (char& c : req.type)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    } else if (SameNoCase(opt, "/s") && hasArg && req.add) {
      req.separator = argv[++i];
    } else if (SameNoCase(opt, "/d") && hasArg && req.add) {
      req.hasData = true;
      req.data = argv[++i];
    } else {
      return Fail("bad option " + std::string(opt));
    }
  }
  if (req.hasName && req.allValues) return Fail("/va cannot go with /v or /ve");
  return req.add ? Add(req) : Delete(req);
}

}  // namespace

int main(int argc, char** argv) {
  int code = Run(argc, argv);
  long commit = port::FinishRun();
  if (code == kExitOk && commit != 0)
    return Fail("the registry was not saved: error " + std::to_string(commit));
  return code;
}
