#include "env/startup_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/crt.h"
#include "platform/win32api.h"
#include "text/codepage.h"
#include "text/textstream.h"

namespace qm {

namespace {

// A set line, its line end included, is built in a buffer of 263 characters
// and a terminator; a longer one fails rather than being cut.
constexpr size_t kMaxSetLineLength = 263;
// autoexec.bat is read in pieces of at most this many characters.
constexpr size_t kAutoexecPieceLength = 259;
// The first line of CONFIG.SYS is read with a capacity of 261: at most 260
// characters, its line end included.
constexpr size_t kMaxConfigFirstLine = 260;

constexpr char kAutoexecName[] = "\\autoexec.bat";
constexpr char kConfigName[] = "\\CONFIG.SYS";
constexpr char kTempSuffix[] = ".tmp";
constexpr char kBackupSuffix[] = ".bak";
// Where autoexec.bat waits while its replacement is moved in, on systems
// that cannot replace a file in one step.
constexpr char kAsideSuffix[] = ".old";

// Windows 95/98/ME have MoveFileExA only as a stub that fails with this.
constexpr DWORD kErrorCallNotImplemented = 120;

constexpr size_t npos = std::string::npos;

// The environment size switch of the SHELL line, and what ends its value.
constexpr std::string_view kSizeSwitch = "/e:";
constexpr char kSwitchEnd[] = " \t/";

// The startup files live at the root of the drive that windir names.
bool StartupFilePath(std::string& out, const char* fileName) {
  const char* windir = crt::getenv("windir");
  if (windir == nullptr || std::strlen(windir) < 2) return false;
  out.assign(windir, 2);
  out.append(fileName);
  return true;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The three set lines this program writes for a variable and a value, each
// with its line end. PATH's value is quoted.
struct SetLineForms {
  std::string plain;
  std::string atEnd;
  std::string atStart;

  bool Fit() const {
    return plain.size() <= kMaxSetLineLength && atEnd.size() <= kMaxSetLineLength &&
           atStart.size() <= kMaxSetLineLength;
  }
  bool Matches(std::string_view line) const {
    return text::EqualsNoCase(line, plain) || text::EqualsNoCase(line, atEnd) ||
           text::EqualsNoCase(line, atStart);
  }
};

SetLineForms MakeSetLineForms(std::string_view name, std::string_view value) {
  const std::string_view quote = text::EqualsNoCase(name, "PATH") ? "\"" : "";
  std::string head = "set ";
  head.append(name).append("=").append(quote);
  std::string self = "%";
  self.append(name).append("%");
  SetLineForms forms;
  forms.plain = head;
  forms.plain.append(value).append(quote).append("\n");
  forms.atEnd = head;
  forms.atEnd.append(self).append(";").append(value).append(quote).append("\n");
  forms.atStart = head;
  forms.atStart.append(value).append(";").append(self).append(quote).append("\n");
  return forms;
}

// Reads autoexec.bat as text into `kept`. With `forms`, empty lines and the
// lines equal to one of the forms are left out. A piece that continues a line
// longer than a piece is neither: only whole lines are ever dropped.
// 0 read; 3 not opened; 4 end not sought; 5 size not taken; 6 no memory.
int ReadAutoexec(const std::string& path, const SetLineForms* forms, std::string& kept) {
  FILE* file = crt::fopen(path.c_str(), "rb");
  if (file == nullptr) return kAutoexecFailed;
  if (std::fseek(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return kAutoexecEndNotSought;
  }
  long size = std::ftell(file);
  if (size < 0) {
    std::fclose(file);
    return kAutoexecSizeNotTaken;
  }
  std::rewind(file);
  try {
    kept.clear();
    kept.reserve(static_cast<size_t>(size) + 1);
  } catch (const std::exception&) {  // no memory, or more than a string can hold
    std::fclose(file);
    return kAutoexecNoMemory;
  }

  text::TextReader reader(file);
  std::string piece;
  bool atLineStart = true;
  while (piece.clear(), reader.ReadLine(piece, kAutoexecPieceLength)) {
    const bool wholeLine = atLineStart && piece.back() == '\n';
    atLineStart = piece.back() == '\n';
    if (forms != nullptr && wholeLine && (piece == "\n" || forms->Matches(piece))) continue;
    kept.append(piece);
  }
  return kStartupFileDone;
}

// Moves `temp` over `target`. Where MoveFileExA does not exist the old file
// is set aside first and put back if the new one cannot be moved in.
bool PutInPlace(const std::string& temp, const std::string& target) {
  if (MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (GetLastError() != kErrorCallNotImplemented) return false;
  if (!FileExists(target)) return MoveFileA(temp.c_str(), target.c_str()) != 0;
  const std::string aside = target + kAsideSuffix;
  DeleteFileA(aside.c_str());
  if (!MoveFileA(target.c_str(), aside.c_str())) return false;
  if (!MoveFileA(temp.c_str(), target.c_str())) {
    MoveFileA(aside.c_str(), target.c_str());
    return false;
  }
  DeleteFileA(aside.c_str());
  return true;
}

// Replaces autoexec.bat with `content` (LF line ends, written as CR LF)
// through a temporary file, so that a failure at any point leaves the file
// exactly as it was. Its DOS attributes are kept; a read-only file is not
// replaced.
bool ReplaceAutoexec(const std::string& path, const std::string& content) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return false;
  const std::string temp = path + kTempSuffix;
  text::TextWriter writer(crt::fopen(temp.c_str(), "wb"));
  if (!writer.IsOpen()) return false;
  bool written = writer.Write(content);
  written = writer.Close() && written;
  if (!written || !PutInPlace(temp, path)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path.c_str(), attributes);
  return true;
}

bool ReadWholeFile(FILE* file, std::string& out) {
  char chunk[16384];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, n);
  return std::ferror(file) == 0;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  FILE* file = crt::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return (std::fclose(file) == 0) && written;
}

// The first line of a CONFIG.SYS with the environment size put in.
std::string NewFirstLines(std::string_view firstLine, std::string_view comspec,
                          const std::string& size) {
  const std::string lower = text::ToLower(firstLine);
  std::string out;
  if (lower.starts_with("shell=")) {
    size_t option = text::FindNoCase(lower, kSizeSwitch);
    if (option == npos) {
      out.append(firstLine).append(" /E:").append(size);
    } else {
      // The old value is replaced where it stands; the switches after it stay.
      // DOS needs no blank between switches, so the old size also ends at a
      // tab or at the next switch ("/E:1024/P" keeps its /P).
      size_t blank = lower.find_first_of(kSwitchEnd, option + kSizeSwitch.size());
      out.append(firstLine.substr(0, option));
      if (blank == npos)
        out.append(" /E:").append(size);
      else
        out.append("/E:").append(size).append(firstLine.substr(blank));
    }
    return out.append("\r\n");
  }
  out.append("SHELL=").append(comspec).append(" /E:").append(size).append(" /P\r\n");
  return out.append(firstLine).append("\r\n");
}

// The whole of CONFIG.SYS, as stored. False when it cannot be read.
bool ReadConfigSys(const std::string& path, std::string& content) {
  FILE* in = crt::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  const bool read = ReadWholeFile(in, content);
  std::fclose(in);
  return read;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// An empty CONFIG.SYS is given the SHELL line alone, in place; on failure it
// is made the empty file it was again.
int WriteShellLineOnly(const std::string& config, std::string_view comspec,
                       const std::string& size) {
  const DWORD attributes = GetFileAttributesA(config.c_str());
  SetFileAttributesA(config.c_str(), FILE_ATTRIBUTE_ARCHIVE);
  std::string line = "SHELL=";
  line.append(comspec).append(" /E:").append(size).append(" /P\r\n");
  if (!WriteWholeFile(config, line)) {
    WriteWholeFile(config, "");
    SetFileAttributesA(config.c_str(), attributes);
    return kConfigNotWritten;
  }
  SetFileAttributesA(config.c_str(), FILE_ATTRIBUTE_HIDDEN);
  return kStartupFileDone;
}

// The text of CONFIG.SYS with the environment size put into its first line.
// Nothing when that line, its line end included, is longer than the part that
// is edited: the rewrite would split it in two.
std::optional<std::string> WithShellLine(const std::string& content, std::string_view comspec,
                                         const std::string& size) {
  // The first line ends at its first CR or LF. What follows a CR that is not
  // part of a CR LF is the next line's text, copied like every further line.
  const size_t cut = std::min(content.find_first_of("\r\n"), content.size());
  const std::string_view first = std::string_view(content).substr(0, cut);
  size_t rest = cut;
  if (rest < content.size()) rest += content.compare(rest, 2, "\r\n") == 0 ? 2 : 1;
  if (rest > kMaxConfigFirstLine) return std::nullopt;
  std::string replacement = NewFirstLines(first, comspec, size);
  replacement.append(content, rest);
  return replacement;
}

// Puts a new CONFIG.SYS in place: written beside the old one first, the old
// one then kept as CONFIG.SYS.bak, and the new one hidden. When anything
// fails the old file stays, or is put back, as it was.
int ReplaceConfigSys(const std::string& config, const std::string& replacement) {
  const std::string temp = config + kTempSuffix;
  const std::string backup = config + kBackupSuffix;
  if (!WriteWholeFile(temp, replacement)) {
    DeleteFileA(temp.c_str());
    return kConfigNotWritten;
  }
  // The previous backup is this program's own; its attributes do not protect it.
  if (FileExists(backup)) {
    SetFileAttributesA(backup.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(backup.c_str());
  }
  if (!MoveFileA(config.c_str(), backup.c_str())) {
    DeleteFileA(temp.c_str());
    return kConfigNotWritten;
  }
  if (!MoveFileA(temp.c_str(), config.c_str())) {
    MoveFileA(backup.c_str(), config.c_str());
    DeleteFileA(temp.c_str());
    return kConfigNotWritten;
  }
  SetFileAttributesA(config.c_str(), FILE_ATTRIBUTE_HIDDEN);
  return kStartupFileDone;
}

}  // namespace

int RemoveAutoexecSetLines(std::string_view value, std::string_view name) {
  if (crt::getenv("Path") == nullptr) return kNoPathVariable;
  std::string path;
  if (!StartupFilePath(path, kAutoexecName)) return kAutoexecFailed;
  const SetLineForms forms = MakeSetLineForms(name, value);
  if (!forms.Fit()) return kAutoexecFailed;
  std::string kept;
  int status = ReadAutoexec(path, &forms, kept);
  if (status != kStartupFileDone) return status;
  return ReplaceAutoexec(path, kept) ? kStartupFileDone : kAutoexecFailed;
}

int AppendAutoexecSetLine(std::string_view value, std::string_view name, PathPlacement placement) {
  const std::string variable(name);
  const char* current = crt::getenv(variable.c_str());
  const bool exists = current != nullptr;
  if (exists && std::string_view(current).find(value) != npos) return kValueAlreadySet;

  std::string path;
  if (!StartupFilePath(path, kAutoexecName)) return kAutoexecFailed;
  const SetLineForms forms = MakeSetLineForms(name, value);
  const std::string& form = !exists                           ? forms.plain
                            : placement == PathPlacement::End ? forms.atEnd
                                                              : forms.atStart;
  // The leading line end keeps the new line off a last line without one.
  const std::string line = "\n" + form;
  if (line.size() > kMaxSetLineLength) return kAutoexecFailed;

  // The earlier lines for the same value go, as a removal would take them,
  // and the new line is added in the same rewrite. Without a variable Path
  // the removal would not have run, and the text stays as it is.
  std::string content;
  if (FileExists(path)) {
    const bool clean = crt::getenv("Path") != nullptr && forms.Fit();
    if (ReadAutoexec(path, clean ? &forms : nullptr, content) != kStartupFileDone)
      return kAutoexecFailed;
  }
  content.append(line);
  return ReplaceAutoexec(path, content) ? kStartupFileDone : kAutoexecFailed;
}

int SetEnvironmentSize(int size) {
  std::string config;
  if (!StartupFilePath(config, kConfigName)) return kConfigNotRead;
  std::string content;
  if (!ReadConfigSys(config, content)) return kConfigNotRead;
  const char* comspec = crt::getenv("ComSpec");
  if (comspec == nullptr || *comspec == '\0') return kConfigNotWritten;
  // A read-only CONFIG.SYS is the user's word that it stays as it is, as a
  // read-only autoexec.bat is never replaced either.
  if (IsReadOnly(config)) return kConfigNotWritten;
  const std::string sizeText = std::to_string(size);
  if (content.empty()) return WriteShellLineOnly(config, comspec, sizeText);
  const std::optional<std::string> replacement = WithShellLine(content, comspec, sizeText);
  if (!replacement) return kConfigNotRead;
  return ReplaceConfigSys(config, *replacement);
}

}  // namespace qm
