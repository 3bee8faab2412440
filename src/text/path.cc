#include "text/path.h"

#include "text/codepage.h"

namespace text {

size_t NextCharacter(std::string_view s, size_t i) {
  if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) return i + 2;
  return i + 1;
}

std::string_view LastCharacter(std::string_view s) {
  size_t last = 0;
  for (size_t i = 0; i < s.size(); i = NextCharacter(s, i)) last = i;
  return s.substr(last);
}

size_t FindLastBackslash(std::string_view s) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < s.size(); i = NextCharacter(s, i))
    if (s[i] == '\\') found = i;
  return found;
}

bool EndsWithBackslash(std::string_view s) {
  // Only a text whose last byte is 0x5C needs the walk.
  if (s.empty() || s.back() != '\\') return false;
  return LastCharacter(s) == "\\";
}

std::string_view BaseName(std::string_view path) {
  const size_t slash = FindLastBackslash(path);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void ParentDirectory(std::string& path) {
  if (EndsWithBackslash(path)) {
    if (path.size() <= 2 || path[path.size() - 2] == ':') return;
    path.pop_back();
  }
  const size_t cut = FindLastBackslash(path);
  if (cut == std::string::npos) {
    // A drive ("C:", what the parent of "C:\work" leaves) has no parent:
    // "C:\work\..\..\x" is C:\x, never the relative .\x.
    if (path.size() == 2 && path[1] == ':') return;
    path.clear();
    path.push_back('.');
  } else {
    path.resize(cut);
  }
}

void AppendPathComponent(std::string& dir, std::string_view part) {
  if (!part.empty() && part.front() == '\\') {
    dir.assign(part);
    return;
  }
  if (!EndsWithBackslash(dir)) dir.push_back('\\');
  dir.append(part);
}

}  // namespace text
