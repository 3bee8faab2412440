// qmreg-setup: presets the emulated machine's registry for a scenario, as
// `reg import` does under Wine. One request a line on standard input, fields
// separated by tabs, names in the machine's code page:
//   delete KEY          the key and everything below it (gone already: fine)
//   delete KEY NAME     one value (an empty NAME: the default value)
//   key KEY             the key
//   value KEY NAME TYPE HEX   a value of that type, its bytes in hex
// Exit code 0, or 1 with the failing line on standard output.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "reg_roots.h"

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

LONG Apply(const std::vector<std::string>& f) {
  const size_t slash = f.size() > 1 ? f[1].find('\\') : std::string::npos;
  HKEY root = f.size() > 1 ? regtool::FindRoot(f[1].substr(0, slash)) : nullptr;
  if (root == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string subkey = slash == std::string::npos ? "" : f[1].substr(slash + 1);
  if (f[0] == "delete" && f.size() == 2) {
    LONG rc = SHDeleteKeyA(root, subkey.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  HKEY key = nullptr;
  LONG rc = f[0] == "delete"
                ? RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS, &key)
                : RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr);
  if (f[0] == "delete") {
    if (rc == ERROR_SUCCESS) rc = RegDeleteValueA(key, f[2].c_str());
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  } else if (rc == ERROR_SUCCESS && f[0] == "value" && f.size() == 5) {
    std::string bytes;
    for (size_t i = 0; i + 1 < f[4].size(); i += 2)
      bytes += static_cast<char>(std::stoi(f[4].substr(i, 2), nullptr, 16));
    rc = RegSetValueExA(key, f[2].c_str(), 0, static_cast<DWORD>(std::stoul(f[3])),
                        reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
  } else if (rc == ERROR_SUCCESS && f[0] != "key") {
    rc = ERROR_INVALID_PARAMETER;
  }
  if (key != nullptr) RegCloseKey(key);
  return rc;
}

}  // namespace

int main() {
  std::string line;
  int status = 0;
  while (status == 0 && std::getline(std::cin, line)) {
    if (line.empty()) continue;
    if (LONG rc = Apply(Fields(line)); rc != ERROR_SUCCESS) {
      std::printf("qmreg-setup: %ld: %s\n", static_cast<long>(rc), line.c_str());
      status = 1;
    }
  }
  return emulated::FinishRun() == 0 ? status : 1;
}
