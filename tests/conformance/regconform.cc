// regconform: runs the registry call table (cases.txt) against the registry
// it is built for -- the emulated machine, or Windows (under Wine) -- and
// says where a call's result differs from the table.
//
//   regconform [--emulated] [--key SUBKEY] TABLE
//
// A case "[name]" starts with an empty key of its own (SUBKEY\name under
// HKEY_CURRENT_USER), open as K; "[name] emulated" runs only with --emulated.
// Each line is a call and, after " => ", what it must give. Exit code 0 when
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

using Words = std::vector<std::string>;
// A handle value no call hands out: an out-argument still holding it was not written.
const HKEY kUntouched = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5a5a5a50));

// A line's words: "..." is one text (\0 a zero byte, \xHH a byte; any other
// backslash is itself), "t"*N repeats it. A text word keeps a leading quote.
Words Split(const std::string& text) {
  Words words;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') continue;
    if (text[i] != '"') {
      const size_t end = std::min(text.find(' ', i), text.size());
      words.push_back(text.substr(i, end - i));
      i = end;
      continue;
    }
    std::string s = "\"";
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      const bool hex = text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
                       std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                       std::isxdigit(static_cast<unsigned char>(text[i + 3]));
      if (text.compare(i, 2, "\\0") == 0) s += '\0', ++i;
      else if (hex) s += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)), i += 3;
      else s += text[i];
    }
    if (i + 1 < text.size() && text[i + 1] == '*') {
      const std::string once = s.substr(1);
      for (int n = std::stoi(text.substr(i + 2)); n > 1; --n) s += once;
      i = std::min(text.find(' ', i), text.size());
    }
    words.push_back(s);
  }
  return words;
}

// Bytes as a quoted C string, so that NULs and odd bytes show.
std::string Show(const BYTE* data, DWORD size) {
  std::string out = "\"";
  for (DWORD i = 0; i < size; ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, data[i] == '\\' || data[i] == '"' ? "\\%c"
                                   : data[i] >= 0x20 && data[i] < 0x7f ? "%c" : "\\x%02x", data[i]);
    out += buf;
  }
  return out + "\"";
}

class Runner {
 public:
  Runner(HKEY caseKey, const std::string& path) : path_(path) {
    handles_ = {{"HKCU", HKEY_CURRENT_USER},   {"HKLM", HKEY_LOCAL_MACHINE},
                {"HKCR", HKEY_CLASSES_ROOT},   {"HKU", HKEY_USERS},
                {"HKCC", HKEY_CURRENT_CONFIG}, {"HKPD", HKEY_PERFORMANCE_DATA},
                {"NULL", nullptr},             {"K", caseKey}};
  }

  // open/opena/create/createa PARENT SUBKEY [read|all|set|query] [reserved] [disp] [-> NAME],
  // close H, set H NAME TYPE DATA [size=N], query H NAME [cap=N|nosize|reserved|bare],
  // delval/delkey/shdel H NAME, keys H, enumkey H INDEX CAP [reserved], values H, info H.
  std::string Run(const Words& w) {
    auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string(); };
    auto has = [&](const char* flag) { return std::find(w.begin(), w.end(), flag) != w.end(); };
    auto number = [&](const char* prefix, DWORD otherwise) {
      for (const std::string& x : w)
        if (x.rfind(prefix, 0) == 0) return static_cast<DWORD>(std::stoul(x.substr(std::strlen(prefix))));
      return otherwise;
    };
    const std::string& verb = w[0];
    HKEY h = handles_.count(arg(1)) ? handles_[arg(1)] : kUntouched;
    const std::string name = Text(arg(2)), data = Text(arg(4));
    const char* n = arg(2) == "NULL" ? nullptr : name.c_str();
    if (verb.rfind("open", 0) == 0 || verb.rfind("create", 0) == 0) {
      HKEY out = kUntouched;
      DWORD disposition = 0;
      REGSAM access = has("read") ? KEY_READ : has("set") ? KEY_SET_VALUE
                      : has("query") ? KEY_QUERY_VALUE : KEY_ALL_ACCESS;
      LONG rc = verb == "open"    ? RegOpenKeyExA(h, n, 0, access, &out)
                : verb == "opena" ? RegOpenKeyA(h, n, &out)
                : verb == "createa"
                    ? RegCreateKeyA(h, n, &out)
                    : RegCreateKeyExA(h, n, has("reserved"), nullptr, 0, access, nullptr, &out,
                                      &disposition);
      std::string state = out == nullptr ? "null" : out == kUntouched ? "untouched" : "new";
      // Handle values of closed keys come back: only the roots and K are named.
      for (const char* root : {"HKCU", "HKLM", "HKU", "HKCR", "K"})
        if (out && handles_[root] == out) state = std::string("same:") + root;
      if (has("->")) handles_[w.back()] = out;
      return std::to_string(rc) + (has("disp") ? " " + std::to_string(disposition) : "") + " " + state;
    }
    if (verb == "close") return std::to_string(RegCloseKey(h));
    if (verb == "set")
      return std::to_string(RegSetValueExA(h, n, 0, static_cast<DWORD>(std::stoul(arg(3))),
                                 arg(4) == "NULL" ? nullptr : reinterpret_cast<const BYTE*>(data.data()),
                                 number("size=", static_cast<DWORD>(data.size()))));
    if (verb == "delval") return std::to_string(RegDeleteValueA(h, n));
    if (verb == "delkey") return std::to_string(RegDeleteKeyA(h, n));
    if (verb == "shdel") return std::to_string(SHDeleteKeyA(h, n));
    if (verb == "query") {
      std::vector<BYTE> buf(1 << 20, 'x');
      DWORD type = 0xdead, reserved = 0, cap = number("cap=", 0), size = cap ? cap : 1234;
      if (has("bare")) return std::to_string(RegQueryValueExA(h, n, nullptr, nullptr, nullptr, nullptr));
      if (has("nosize")) return std::to_string(RegQueryValueExA(h, n, nullptr, &type, buf.data(), nullptr));
      LONG rc = RegQueryValueExA(h, n, has("reserved") ? &reserved : nullptr, &type,
                                 cap ? buf.data() : nullptr, &size);
      std::string out = std::to_string(rc);
      if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) out += " type=" + std::to_string(type);
      // What a failed query leaves in the size is known only for these.
      if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA || rc == ERROR_FILE_NOT_FOUND)
        out += " size=" + std::to_string(size);
      return cap ? out + " buf=" + Show(buf.data(), cap + 1) : out;
    }
    if (verb == "enumkey") {
      char buf[64];
      std::fill(buf, buf + sizeof buf, 'x');
      DWORD cap = static_cast<DWORD>(std::stoul(arg(3))), size = cap, reserved = 0;
      LONG rc = RegEnumKeyExA(h, static_cast<DWORD>(std::stoul(arg(2))), buf, &size,
                              has("reserved") ? &reserved : nullptr, nullptr, nullptr, nullptr);
      return std::to_string(rc) + " size=" + std::to_string(size) + " buf=" +
             Show(reinterpret_cast<BYTE*>(buf), cap + 1);
    }
    if (verb == "info") {
      DWORD keys = 99, maxKey = 99, values = 99, maxName = 99;
      LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &keys, &maxKey, nullptr, &values,
                                 &maxName, nullptr, nullptr, nullptr);
      return std::to_string(rc) + " subkeys=" + std::to_string(keys) + " max-subkey=" + std::to_string(maxKey) +
             " values=" + std::to_string(values) + " max-value-name=" + std::to_string(maxName);
    }
    // keys H: the names in order; values H: names and data as a set (Wine
    // lists values sorted, Windows as written); then the code that ended it.
    Words found;
    LONG rc = ERROR_SUCCESS;
    for (DWORD i = 0; rc == ERROR_SUCCESS && (verb == "keys" || verb == "values"); ++i) {
      char item[300];
      BYTE bytes[64];
      DWORD size = sizeof item, dataSize = sizeof bytes;
      rc = verb == "keys" ? RegEnumKeyExA(h, i, item, &size, nullptr, nullptr, nullptr, nullptr)
                          : RegEnumValueA(h, i, item, &size, nullptr, nullptr, bytes, &dataSize);
      if (rc == ERROR_SUCCESS)
        found.push_back(verb == "keys" ? std::string(item, size)
                                       : "[" + std::string(item, size) + "]=" + Show(bytes, dataSize));
    }
    if (verb == "values") std::sort(found.begin(), found.end());
    std::string out;
    for (const std::string& s : found) out += s + " ";
    return verb == "keys" || verb == "values" ? out + "end=" + std::to_string(rc) : "unknown verb";
  }

 private:
  // $P in a text is the case key's path under HKEY_CURRENT_USER, $N that path
  // with '-' for '\' (one name for a key directly under a root).
  std::string Text(const std::string& word) {
    std::string s = word.empty() || word[0] != '"' ? word : word.substr(1), flat = path_;
    std::replace(flat.begin(), flat.end(), '\\', '-');
    for (auto [from, to] : {std::pair{"$P", path_}, std::pair{"$N", flat}})
      for (size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, 2, to);
    return s;
  }

  std::map<std::string, HKEY> handles_;
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  bool emulated = false, skipping = false;
  std::string base = "Software\\QuillmarkConformance", table, line, caseName;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--emulated") emulated = true;
    else if (a == "--key" && i + 1 < argc) base = argv[++i];
    else table = a;
  }
  std::ifstream in(table, std::ios::binary);
  if (!in) return std::printf("regconform: cannot read the table '%s'\n", table.c_str()), 2;
  SHDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
  HKEY caseKey = nullptr;
  Runner* runner = nullptr;
  int calls = 0, failed = 0;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      delete runner;
      runner = nullptr;
      if (caseKey) RegCloseKey(caseKey);
      caseName = line.substr(1, line.find(']') - 1);
      skipping = line.find("] emulated") != std::string::npos && !emulated;
      const std::string path = base + "\\" + caseName;
      if (!skipping && RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &caseKey, nullptr) != ERROR_SUCCESS)
        return std::printf("%s: cannot create its key\n", caseName.c_str()), 1;
      runner = skipping ? nullptr : new Runner(caseKey, path);
      continue;
    }
    const size_t arrow = line.find(" => ");
    if (arrow == std::string::npos) return std::printf("line %d: no \" => \"\n", number), 2;
    if (!runner) continue;
    ++calls;
    const std::string got = runner->Run(Split(line.substr(0, arrow)));
    if (got != line.substr(arrow + 4))
      ++failed, std::printf("%s, line %d: %s\n  expected: %s\n  got:      %s\n", caseName.c_str(), number,
                            line.substr(0, arrow).c_str(), line.substr(arrow + 4).c_str(), got.c_str());
  }
  delete runner;
  std::printf("%d calls, %d gave another result\n", calls, failed);
  SHDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
  return port::FinishRun() == 0 && failed == 0 ? 0 : 1;
}
