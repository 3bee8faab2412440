// libFuzzer target: the rewriters of autoexec.bat and CONFIG.SYS. An input is
//
//   op, flags, VALUE, NUL, CURRENT, NUL, NAME, NUL, FILE
//
// op % 3: 0 RemoveAutoexecSetLines (VALUE, NAME), 1 AppendAutoexecSetLine
// (VALUE, NAME, placement), 2 SetEnvironmentSize (VALUE read as a decimal
// number, kept within an int). FILE is the content of autoexec.bat or CONFIG.SYS.
// flags bit 0: placement End; bit 1: the process has a variable Path;
// bit 2: the process has the variable NAME, with the text CURRENT; bit 3:
// the file is read-only; bit 4: there is no file; bit 5: the locale is
// Chinese (code page 936, where a set line may hold double-byte characters
// whose second byte is an ASCII letter that no case rule may touch), else C.
//
// Checked against the file's bytes before and after:
// - a failure leaves the file exactly as it was (or still missing), and no
//   temporary file behind;
// - a success of the autoexec.bat rewriters keeps every line that is not one
//   of this program's set lines for the value (or an empty line), in order,
//   and adds exactly the new set line;
// - a success of SetEnvironmentSize changes only the first line, into the
//   SHELL line with the new size, and keeps every other byte;
// - an operation that nothing stands in the way of succeeds.
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "env/startup_files.h"
#include "fuzz_machine.h"
#include "platform/crt.h"
#include "text/codepage.h"

extern char** environ;

namespace {

constexpr size_t kPieceLength = 259;    // autoexec.bat lines are read in pieces this long
constexpr size_t kMaxSetLine = 263;     // a set line, its line end included
constexpr size_t kMaxConfigLine = 260;  // the first line of CONFIG.SYS, its line end included
constexpr char kComSpec[] = "C:\\COMMAND.COM";

std::string g_context;  // what the current input does, for the failure message

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "startup_fuzzer: %s\n  %s\n", what.c_str(), g_context.c_str());
  std::abort();
}

bool g_chinese = false;  // the locale of the current input

// Lines compared as the locale in force compares them: ASCII letters without
// regard to case, and under code page 936 a lead byte (0x81-0xFE) and the
// byte after it as one character, compared as they are.
bool EqualsLineNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (size_t i = 0; i < a.size(); ++i) {
    const auto byte = static_cast<unsigned char>(a[i]);
    if (g_chinese && byte >= 0x81 && byte <= 0xFE && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A DOS text file as a program reads it: up to a Ctrl-Z, CR LF as LF.
std::string DecodeText(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\x1a') break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out.push_back(bytes[i]);
  }
  return out;
}
std::string EncodeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

struct Forms {
  std::string plain, atEnd, atStart;
};

Forms MakeForms(const std::string& name, const std::string& value) {
  const std::string q = EqualsAsciiNoCase(name, "PATH") ? "\"" : "";
  const std::string self = "%" + name + "%";
  return {"set " + name + "=" + q + value + q + "\n",
          "set " + name + "=" + q + self + ";" + value + q + "\n",
          "set " + name + "=" + q + value + ";" + self + q + "\n"};
}

bool Fits(const Forms& f) {
  return f.plain.size() <= kMaxSetLine && f.atEnd.size() <= kMaxSetLine &&
         f.atStart.size() <= kMaxSetLine;
}

// The text with this program's set lines for the value, and empty lines,
// taken out. A line longer than one read is never taken for a set line.
std::string WithoutSetLines(const std::string& text, const Forms& f) {
  std::string kept;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t lf = text.find('\n', begin);
    size_t end = lf == std::string::npos ? text.size() : lf + 1;
    const std::string line = text.substr(begin, end - begin);
    begin = end;
    const bool whole = line.back() == '\n' && line.size() <= kPieceLength;
    if (whole && (line == "\n" || EqualsLineNoCase(line, f.plain) ||
                  EqualsLineNoCase(line, f.atEnd) || EqualsLineNoCase(line, f.atStart)))
      continue;
    kept += line;
  }
  return kept;
}

// Where "/e:" begins in `lower` on a character boundary: under code page
// 936 a lead byte takes the byte after it, so a '/' there is no switch.
size_t FindSwitch(const std::string& lower) {
  for (size_t i = 0; i < lower.size();) {
    if (lower.compare(i, 3, "/e:") == 0) return i;
    const auto byte = static_cast<unsigned char>(lower[i]);
    i += (g_chinese && byte >= 0x81 && byte <= 0xFE && i + 1 < lower.size()) ? 2 : 1;
  }
  return std::string::npos;
}

// CONFIG.SYS after the environment size was set, as nothing-lost asks: the
// first line, which ends at its first CR or LF, either gets the switch or
// follows a new SHELL line; every byte after that line end stays (a lone CR
// ends the first line, and what follows it is the next line).
std::string ExpectedConfig(const std::string& old, int size) {
  const std::string sz = std::to_string(size);
  if (old.empty()) return std::string("SHELL=") + kComSpec + " /E:" + sz + " /P\r\n";
  const size_t cut = std::min(old.find_first_of("\r\n"), old.size());
  const std::string first = old.substr(0, cut);
  size_t rest = cut;
  if (rest < old.size()) rest += old.compare(rest, 2, "\r\n") == 0 ? 2 : 1;
  std::string lower = first;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::string head;
  if (lower.rfind("shell=", 0) == 0) {
    const size_t option = FindSwitch(lower);
    if (option == std::string::npos) {
      head = first + " /E:" + sz;
    } else {
      // The old size ends at a blank, a tab or the next switch; what follows stays.
      const size_t blank = lower.find_first_of(" \t/", option + 3);
      head = first.substr(0, option) +
             (blank == std::string::npos ? " /E:" + sz : "/E:" + sz + first.substr(blank));
    }
    head += "\r\n";
  } else {
    head = std::string("SHELL=") + kComSpec + " /E:" + sz + " /P\r\n" + first + "\r\n";
  }
  return head + old.substr(rest);
}

// Removes every host variable whose name is `name` in any letter case.
void UnsetNoCase(const std::string& name) {
  std::vector<std::string> found;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq && EqualsAsciiNoCase(std::string_view(*e, static_cast<size_t>(eq - *e)), name)) found.emplace_back(static_cast<const char*>(*e), eq);
  }
  for (const std::string& n : found) ::unsetenv(n.c_str());
}

bool IsVariableName(const std::string& name) {
  return !name.empty() && name.find('=') == std::string::npos;
}

class StartupMachine {
 public:
  StartupMachine() { UnsetNoCase("Path"); }

  void Run(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const int op = data[0] % 3;
    const uint8_t flags = data[1];
    const bool atEnd = (flags & 1) != 0;
    const bool pathSet = (flags & 2) != 0;
    const bool nameSet = (flags & 4) != 0;
    const bool readOnly = (flags & 8) != 0;
    const bool missing = (flags & 16) != 0;
    g_chinese = (flags & 32) != 0;
    text::SetLocale(g_chinese ? "chinese-simplified" : "C");

    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string fields[3];
    for (std::string& field : fields) {
      const size_t nul = rest.find('\0');
      field = std::string(rest.substr(0, nul));
      rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    const std::string& value = fields[0];
    const std::string& current = fields[1];
    const std::string& name = fields[2];
    const std::string content(rest);

    // The process environment of the run. A name the process already has
    // (windir, ComSpec, ...) is left as it is.
    const bool nameIsPath = EqualsAsciiNoCase(name, "Path");
    if (pathSet) ::setenv("Path", nameIsPath ? current.c_str() : "C:\\WINDOWS", 1);
    bool setName = false;
    if (!nameIsPath && nameSet && IsVariableName(name) && crt::getenv(name.c_str()) == nullptr) {
      ::setenv(name.c_str(), current.c_str(), 1);
      setName = true;
    }
    const char* found = IsVariableName(name) ? crt::getenv(name.c_str()) : nullptr;
    const bool exists = found != nullptr;
    const std::string currentText = exists ? found : "";

    const char* file = op == 2 ? "CONFIG.SYS" : "AUTOEXEC.BAT";
    const std::string dos = std::string("C:\\") + file;
    if (!missing) {
      machine_.WriteHost(file, content);
      SetFileAttributesA(dos.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    }
    // Where the host keeps no DOS attributes the file is simply writable.
    const DWORD attributes = GetFileAttributesA(dos.c_str());
    const bool isReadOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;

    g_context = "op " + std::to_string(op) + ", flags " + std::to_string(flags) + ", value \"" +
                value.substr(0, 100) + "\", name \"" + name.substr(0, 100) + "\", file of " +
                std::to_string(content.size()) + " bytes";

    if (op == 2) {
      const int envSize = static_cast<int>(std::clamp(std::strtoll(value.c_str(), nullptr, 10),
                                                      static_cast<long long>(INT_MIN),
                                                      static_cast<long long>(INT_MAX)));
      CheckEnvironmentSize(envSize, missing, isReadOnly, content);
    } else {
      CheckAutoexec(op, value, name, atEnd, pathSet, exists, currentText, missing, isReadOnly,
                    content);
    }

    UnsetNoCase("Path");
    if (setName) ::unsetenv(name.c_str());
    Clean();
  }

 private:
  void CheckAutoexec(int op, const std::string& value, const std::string& name, bool atEnd,
                     bool pathSet, bool exists, const std::string& current, bool missing,
                     bool readOnly, const std::string& content) {
    const auto placement = atEnd ? qm::PathPlacement::End : qm::PathPlacement::Start;
    const int status = op == 0 ? qm::RemoveAutoexecSetLines(value, name)
                               : qm::AppendAutoexecSetLine(value, name, placement);
    std::string after;
    const bool present = ReadNoCase("AUTOEXEC.BAT", after);
    const Forms forms = MakeForms(name, value);
    const bool alreadyThere = exists && current.find(value) != std::string::npos;

    if (status != 0) {
      if (missing ? present : (!present || after != content))
        Fail("a failed rewrite changed autoexec.bat (status " + std::to_string(status) + ")");
      if (op == 0 && pathSet && !missing && !readOnly && Fits(forms))
        Fail("a removal that nothing stood in the way of failed");
      if (op == 1 && status == 2 && !alreadyThere) Fail("status 2 without the value there");
      if (op == 1 && status != 2 && !readOnly && 1 + forms.plain.size() <= kMaxSetLine &&
          1 + forms.atEnd.size() <= kMaxSetLine && 1 + forms.atStart.size() <= kMaxSetLine)
        Fail("an addition that nothing stood in the way of failed");
    } else {
      if (readOnly) Fail("a read-only autoexec.bat was rewritten");
      if (!present) Fail("autoexec.bat is gone after a success");
      std::string expected;
      if (op == 0) {
        if (!pathSet) Fail("a removal without a variable Path succeeded");
        expected = EncodeText(WithoutSetLines(DecodeText(content), forms));
      } else {
        if (alreadyThere) Fail("an addition of a value already there succeeded");
        std::string text = missing ? std::string() : DecodeText(content);
        if (pathSet && Fits(forms)) text = WithoutSetLines(text, forms);
        const std::string& form = !exists ? forms.plain : atEnd ? forms.atEnd : forms.atStart;
        expected = EncodeText(text + "\n" + form);
      }
      if (after != expected) Fail("autoexec.bat is not what the rewrite should give");
    }
    CheckNoLeftovers();
  }

  void CheckEnvironmentSize(int envSize, bool missing, bool readOnly, const std::string& content) {
    const int status = qm::SetEnvironmentSize(envSize);
    std::string after;
    const bool present = ReadNoCase("CONFIG.SYS", after);
    if (status != 0) {
      if (missing ? present : (!present || after != content))
        Fail("a failed SetEnvironmentSize changed CONFIG.SYS");
      const size_t lf = content.find('\n');
      const size_t firstLength = lf == std::string::npos ? content.size() : lf + 1;
      if (!missing && !readOnly && firstLength <= kMaxConfigLine)
        Fail("SetEnvironmentSize failed on a CONFIG.SYS it could rewrite");
    } else {
      if (missing) Fail("SetEnvironmentSize succeeded without a CONFIG.SYS");
      if (after != ExpectedConfig(content, envSize))
        Fail("CONFIG.SYS is not what setting the size should give");
      std::string backup;
      if (!content.empty() && (!ReadNoCase("CONFIG.SYS.bak", backup) || backup != content))
        Fail("the backup of CONFIG.SYS does not hold its previous content");
    }
    CheckNoLeftovers();
  }

  // A file at the root of C:, found as Windows finds it: without regard to
  // letter case (a new autoexec.bat is made in the case the program names it).
  bool ReadNoCase(const std::string& name, std::string& out) const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.drive(), ec)) {
      const std::string n = entry.path().filename().string();
      if (EqualsAsciiNoCase(n, name)) return entry.is_regular_file() && machine_.ReadHost(n, out);
    }
    return false;
  }

  void CheckNoLeftovers() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.drive(), ec)) {
      const std::string n = entry.path().filename().string();
      if (n.size() > 4 && (EqualsAsciiNoCase(n.substr(n.size() - 4), ".tmp") ||
                           EqualsAsciiNoCase(n.substr(n.size() - 4), ".old")))
        Fail("a temporary file was left behind: " + n);
    }
  }

  // Everything but the directories goes before the next input.
  void Clean() {
    std::error_code ec;
    for (const char* name : {"AUTOEXEC.BAT", "CONFIG.SYS"}) {
      const std::string dos = std::string("C:\\") + name;
      SetFileAttributesA(dos.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.drive(), ec))
      if (entry.is_regular_file()) files.push_back(entry.path());
    for (const auto& f : files) std::filesystem::remove(f, ec);
  }

  qmfuzz::FuzzMachine machine_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static StartupMachine machine;
  machine.Run(data, size);
  return 0;
}
