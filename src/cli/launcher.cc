// Starting another program through the command interpreter, as installers
// hand over to a second stage: the launcher runs a file once and deletes it;
// -run runs a command line built from the remaining words.
#include "cli/launcher.h"

#include <string>

#include "env/envstore.h"
#include "platform/crt.h"
#include "text/path.h"

namespace qm {
namespace {

// The C runtime's working-directory buffer: 259 characters and a terminator.
constexpr int kWorkingDirectoryBuffer = 260;

bool HasSpace(std::string_view text) {
  return text.find(' ') != std::string_view::npos;
}

// A path that does not depend on the current directory: one from a drive's
// root ("C:\...") or from the current drive's root or a share ("\...").
// "C:sub\go.bat" is relative to the current directory of drive C.
bool IsAnchored(std::string_view path) {
  if (!path.empty() && path[0] == '\\') return true;
  return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

// Characters that the command interpreter acts on outside quotes.
constexpr std::string_view kInterpreterSpecials = "&<>()@^|";

// The command line that runs `file` and nothing else. Unquoted,
// C:\Program Files\x\setup.bat would make the interpreter run C:\Program
// with the rest as arguments, and C:\R&D\setup.bat would run C:\R and then
// D\setup.bat. cmd /c keeps a quoted name as it is only when nothing
// between the quotes is one of its special characters; otherwise it drops
// the first and the last quote of the line, so such a name gets a second
// pair for it to drop (C:\Program Files (x86)\... is the common case).
// COMMAND.COM of Windows 9x/ME drops no quotes: there one pair encloses it.
std::string InterpreterCommand(const std::string& file) {
  const bool special = file.find_first_of(kInterpreterSpecials) != std::string::npos;
  if (special && IsWindowsNT()) return "\"\"" + file + "\"\"";
  if (special || HasSpace(file)) return "\"" + file + "\"";
  return file;
}

}  // namespace

void RunProgram(std::string_view file, std::string_view directory) {
  char saved[kWorkingDirectoryBuffer];
  const bool haveSaved = crt::getcwd(saved, kWorkingDirectoryBuffer) != nullptr;

  // The file as it will be named once the working directory has changed.
  std::string target(file);
  if (!directory.empty()) {
    // A relative file is the directory's: "inst.bat D:\work" runs and deletes
    // D:\work\inst.bat.
    crt::chdir(std::string(directory).c_str());
  } else {
    std::string dir(file);
    text::ParentDirectory(dir);
    // Once inside sub, sub\go.bat has to be called go.bat, or the run would
    // look for (and delete) sub\sub\go.bat.
    if (crt::chdir(dir.c_str()) == 0 && !IsAnchored(file)) target = text::BaseName(file);
  }

  const std::string command = InterpreterCommand(target);
  // The program's own failure is its own to report; the file goes either way.
  crt::system(command.c_str());
  crt::unlink(target.c_str());

  if (haveSaved) crt::chdir(saved);
}

int RunCommandLine(std::span<const std::string> words) {
  if (words.empty()) return 0;

  std::string line;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i != 0) line.push_back(' ');
    // Only a space calls for quotes; nothing else is escaped, so a word that
    // carries its own quotes reaches the interpreter as typed.
    if (HasSpace(words[i])) {
      line.push_back('"');
      line.append(words[i]);
      line.push_back('"');
    } else {
      line.append(words[i]);
    }
    // A command line cut short would run a different command; too long, it
    // is not run at all.
    if (line.size() > kMaxCommandLine) return 1;
  }

  crt::system(line.c_str());
  return 0;
}

}  // namespace qm
