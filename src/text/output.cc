// The program's output sink.
#include "text/output.h"

#include <cstdio>

namespace text {
namespace {

std::string* captured = nullptr;

}  // namespace

void Print(std::string_view s) {
  if (captured) {
    captured->append(s);
    return;
  }
  if (!s.empty()) std::fwrite(s.data(), 1, s.size(), stdout);
}

void PrintCString(std::string_view s) {
  size_t nul = s.find('\0');
  Print(nul == std::string_view::npos ? s : s.substr(0, nul));
}

void CaptureOutput(std::string* sink) {
  captured = sink;
}

}  // namespace text
