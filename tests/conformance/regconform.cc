// regconform: runs the registry call table (cases.txt) against the registry
// it is built for -- the emulated machine, or Windows (under Wine) -- and
// says where a call's result differs from the table.
//
//   regconform [--emulated] [--key SUBKEY] TABLE
//
// A case "[name]" starts with an empty key of its own (SUBKEY\name under
// HKEY_CURRENT_USER), open as K; "[name] emulated" runs only with --emulated. Each
// line is a call and, after "=>", what it must give: return codes and what
// the call left in its out-arguments (never an address). Exit code 0 when
// every line gave its result, 1 otherwise, 2 when the table cannot be read.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/lifecycle.h"
#include "platform/win32api.h"

namespace {

// A handle value no call hands out: an out-argument still holding it was not written.
const HKEY kUntouched = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5a5a5a50));

struct Call {
  std::vector<std::string> words;  // verb and arguments, strings unquoted
  std::string expected;
};

// Splits a table line into words: "..." is one text (\0 a zero byte, \xHH a
// byte; any other backslash is itself), "t"*N repeats it, NULL stays the
// word NULL (a null pointer where a text goes).
bool ParseLine(const std::string& line, Call& call) {
  const size_t arrow = line.find(" => ");
  if (arrow == std::string::npos) return false;
  call.expected = line.substr(arrow + 4);
  const std::string text = line.substr(0, arrow);
  call.words.clear();
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
    } else if (text[i] != '"') {
      size_t end = std::min(text.find(' ', i), text.size());
      call.words.push_back(text.substr(i, end - i));
      i = end;
    } else {
      std::string s;
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && text.compare(i + 1, 1, "0") == 0) {
          s += '\0';
          ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
          s += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
          i += 3;
        } else {
          s += text[i];
        }
      }
      ++i;  // the closing quote
      if (i < text.size() && text[i] == '*') {
        size_t end = std::min(text.find(' ', i), text.size());
        std::string once = s;
        for (int n = std::stoi(text.substr(i + 1, end - i - 1)); n > 1; --n) s += once;
        i = end;
      }
      call.words.push_back("\"" + s);  // a leading quote marks a text word
    }
  }
  return !call.words.empty();
}

// Bytes as a quoted C string, so that NULs and odd bytes show.
std::string Show(const BYTE* data, DWORD size) {
  std::string out = "\"";
  for (DWORD i = 0; i < size; ++i) {
    char buf[8];
    if (data[i] == '\\' || data[i] == '"') std::snprintf(buf, sizeof buf, "\\%c", data[i]);
    else if (data[i] >= 0x20 && data[i] < 0x7f) std::snprintf(buf, sizeof buf, "%c", data[i]);
    else std::snprintf(buf, sizeof buf, "\\x%02x", data[i]);
    out += buf;
  }
  return out + "\"";
}

class Runner {
 public:
  Runner(HKEY caseKey, const std::string& path) {
    handles_ = {{"HKCU", HKEY_CURRENT_USER},   {"HKLM", HKEY_LOCAL_MACHINE},
                {"HKCR", HKEY_CLASSES_ROOT},   {"HKU", HKEY_USERS},
                {"HKCC", HKEY_CURRENT_CONFIG}, {"HKPD", HKEY_PERFORMANCE_DATA},
                {"NULL", nullptr},             {"K", caseKey}};
    path_ = path;
  }
  HKEY CaseKey() { return handles_["K"]; }

  std::string Run(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string(); };
    auto has = [&](const char* flag) { return std::find(w.begin(), w.end(), flag) != w.end(); };
    HKEY h = Handle(arg(1));
    std::string name = Text(arg(2));
    const char* n = arg(2) == "NULL" ? nullptr : name.c_str();
    if (verb == "open" || verb == "opena" || verb == "create" || verb == "createa") {
      HKEY out = kUntouched;
      DWORD disposition = 0;
      LONG rc;
      if (verb == "open")
        rc = RegOpenKeyExA(h, n, 0, Access(w), &out);
      else if (verb == "opena")
        rc = RegOpenKeyA(h, n, &out);
      else if (verb == "createa")
        rc = RegCreateKeyA(h, n, &out);
      else
        rc = RegCreateKeyExA(h, n, has("reserved") ? 1 : 0, nullptr, 0, Access(w), nullptr, &out,
                             &disposition);
      std::string state = State(out);
      if (has("->")) handles_[w.back()] = out;
      return std::to_string(rc) + (has("disp") ? " " + std::to_string(disposition) : "") + " " +
             state;
    }
    if (verb == "close") return std::to_string(RegCloseKey(h));
    if (verb == "set") {
      const std::string data = Text(arg(4));
      DWORD size = static_cast<DWORD>(data.size());
      for (const std::string& x : w)
        if (x.rfind("size=", 0) == 0) size = static_cast<DWORD>(std::stoul(x.substr(5)));
      const BYTE* bytes = arg(4) == "NULL" ? nullptr : reinterpret_cast<const BYTE*>(data.data());
      return std::to_string(
          RegSetValueExA(h, n, 0, static_cast<DWORD>(std::stoul(arg(3))), bytes, size));
    }
    if (verb == "query") return Query(h, n, w);
    if (verb == "delval") return std::to_string(RegDeleteValueA(h, n));
    if (verb == "delkey") return std::to_string(RegDeleteKeyA(h, n));
    if (verb == "shdel") return std::to_string(SHDeleteKeyA(h, n));
    if (verb == "keys") return Keys(h);
    if (verb == "enumkey") {
      char buf[64];
      std::memset(buf, 'x', sizeof buf);
      DWORD cap = static_cast<DWORD>(std::stoul(arg(3))), reserved = 0;
      DWORD size = cap;
      LONG rc = RegEnumKeyExA(h, static_cast<DWORD>(std::stoul(arg(2))), buf, &size,
                              has("reserved") ? &reserved : nullptr, nullptr, nullptr, nullptr);
      return std::to_string(rc) + " size=" + std::to_string(size) +
             " buf=" + Show(reinterpret_cast<BYTE*>(buf), cap + 1);
    }
    if (verb == "values") return Values(h);
    if (verb == "info") {
      DWORD subkeys = 99, maxSubkey = 99, values = 99, maxName = 99;
      LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr,
                                 &values, &maxName, nullptr, nullptr, nullptr);
      return std::to_string(rc) + " subkeys=" + std::to_string(subkeys) + " max-subkey=" +
             std::to_string(maxSubkey) + " values=" + std::to_string(values) +
             " max-value-name=" + std::to_string(maxName);
    }
    return "unknown verb";
  }

 private:
  HKEY Handle(const std::string& word) {
    auto it = handles_.find(word);
    return it == handles_.end() ? kUntouched : it->second;
  }
  // A text word; $P in it is the case key's path under HKEY_CURRENT_USER,
  // $N that path with '-' for '\' (one name for a key directly under a root).
  std::string Text(const std::string& word) {
    std::string s = word.empty() || word[0] != '"' ? word : word.substr(1);
    std::string flat = path_;
    std::replace(flat.begin(), flat.end(), '\\', '-');
    for (auto [from, to] : {std::pair{"$P", path_}, std::pair{"$N", flat}})
      for (size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, 2, to);
    return s;
  }
  static REGSAM Access(const std::vector<std::string>& w) {
    const std::map<std::string, REGSAM> kAccess = {{"read", KEY_READ},
                                                   {"all", KEY_ALL_ACCESS},
                                                   {"set", KEY_SET_VALUE},
                                                   {"query", KEY_QUERY_VALUE}};
    for (const std::string& x : w)
      if (kAccess.count(x)) return kAccess.at(x);
    return KEY_ALL_ACCESS;
  }
  // Handle values of closed keys come back: only the roots and K are named.
  std::string State(HKEY out) {
    if (out == nullptr) return "null";
    if (out == kUntouched) return "untouched";
    for (const char* name : {"HKCU", "HKLM", "HKU", "HKCR", "K"})
      if (handles_[name] == out) return std::string("same:") + name;
    return "new";
  }
  // query H NAME [cap=N | nosize | reserved | bare]: a buffer of N bytes
  // that starts out 'x', one byte more shown; without cap=, no buffer.
  std::string Query(HKEY h, const char* name, const std::vector<std::string>& w) {
    std::vector<BYTE> buf(1024 * 1024, 'x');
    DWORD type = 0xdead, size = 1234, reserved = 0, cap = 0;
    bool buffer = false;
    for (const std::string& x : w)
      if (x.rfind("cap=", 0) == 0) {
        buffer = true;
        cap = size = static_cast<DWORD>(std::stoul(x.substr(4)));
      }
    if (std::find(w.begin(), w.end(), "bare") != w.end())
      return std::to_string(RegQueryValueExA(h, name, nullptr, nullptr, nullptr, nullptr));
    if (std::find(w.begin(), w.end(), "nosize") != w.end())
      return std::to_string(RegQueryValueExA(h, name, nullptr, &type, buf.data(), nullptr));
    bool res = std::find(w.begin(), w.end(), "reserved") != w.end();
    LONG rc = RegQueryValueExA(h, name, res ? &reserved : nullptr, &type,
                               buffer ? buf.data() : nullptr, &size);
    std::string out = std::to_string(rc);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) out += " type=" + std::to_string(type);
    // What a failed query leaves in the size is known only for these.
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA || rc == ERROR_FILE_NOT_FOUND)
      out += " size=" + std::to_string(size);
    return buffer ? out + " buf=" + Show(buf.data(), cap + 1) : out;
  }
  static std::string Keys(HKEY h) {
    std::string out;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD size = sizeof name;
      LONG rc = RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) return out + "end=" + std::to_string(rc);
      out += std::string(name, size) + " ";
    }
  }
  // Names with data, as a set: Wine lists values sorted, Windows as written.
  static std::string Values(HKEY h) {
    std::vector<std::string> names;
    LONG rc = ERROR_SUCCESS;
    for (DWORD i = 0; rc == ERROR_SUCCESS; ++i) {
      char name[300];
      BYTE data[64];
      DWORD size = sizeof name, dataSize = sizeof data;
      rc = RegEnumValueA(h, i, name, &size, nullptr, nullptr, data, &dataSize);
      if (rc == ERROR_SUCCESS) names.push_back("[" + std::string(name, size) + "]=" +
                                               Show(data, dataSize));
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& s : names) out += s + " ";
    return out + "end=" + std::to_string(rc);
  }

  std::map<std::string, HKEY> handles_;
  std::string path_;
};

int RunTable(std::istream& table, const std::string& base, bool emulated) {
  int failed = 0, lines = 0;
  HKEY caseKey = nullptr;
  std::string caseName, line;
  Runner* runner = nullptr;
  bool skipping = false;
  auto endCase = [&] {
    delete runner;
    runner = nullptr;
    if (caseKey != nullptr) RegCloseKey(caseKey);
    caseKey = nullptr;
  };
  for (int number = 1; std::getline(table, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      endCase();
      caseName = line.substr(1, line.find(']') - 1);
      skipping = line.find("] emulated") != std::string::npos && !emulated;
      const std::string path = base + "\\" + caseName;
      if (!skipping && RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &caseKey, nullptr) != 0) {
        std::printf("%s: cannot create its key\n", caseName.c_str());
        return 1;
      }
      if (!skipping) runner = new Runner(caseKey, path);
      continue;
    }
    Call call;
    if (!ParseLine(line, call)) {
      std::printf("line %d: no \" => \": %s\n", number, line.c_str());
      return 2;
    }
    if (skipping || runner == nullptr) continue;
    ++lines;
    std::string got = runner->Run(call.words);
    if (got != call.expected) {
      ++failed;
      std::printf("%s, line %d: %s\n  expected: %s\n  got:      %s\n", caseName.c_str(), number,
                  line.substr(0, line.find(" => ")).c_str(), call.expected.c_str(), got.c_str());
    }
  }
  endCase();
  std::printf("%d calls, %d gave another result\n", lines, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool emulated = false;
  std::string base = "Software\\QuillmarkConformance", table;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--emulated") emulated = true;
    else if (a == "--key" && i + 1 < argc) base = argv[++i];
    else table = a;
  }
  std::ifstream in(table, std::ios::binary);
  if (!in) {
    std::printf("regconform: cannot read the table '%s'\n", table.c_str());
    return 2;
  }
  SHDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
  int status = RunTable(in, base, emulated);
  SHDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
  return port::FinishRun() == 0 ? status : 1;
}
