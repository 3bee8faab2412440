#include "cli/driver.h"

#include <climits>
#include <string>
#include <string_view>

#include "cli/screens.h"
#include "detect/tex_detect.h"
#include "platform/lifecycle.h"
#include "text/codepage.h"
#include "text/output.h"

namespace qm {

namespace {

// The C runtime's name for the user's default locale: the machine's ANSI
// code page (GetACP), in which the command line and the registry's texts
// are written. Rules of another code page would misread them (0xE9, e-acute
// in code page 1252, is a lead byte in 936 and would swallow a backslash).
constexpr std::string_view kMachineLocale = "";
// Options that are recognised by their first letters need this many
// characters; only the help, x, locale and -refresh words may be shorter.
constexpr size_t kMinOptionLength = 4;
// The r-options other than -read-reg are exactly this long (+regk, -regl...).
constexpr size_t kRegistryOptionLength = 5;
constexpr std::string_view kDefaultJavawVariable = "javacommand";
constexpr std::string_view kPathVariable = "Path";

constexpr int kExitMiKTeXNormal = 1;
constexpr int kExitMiKTeXDirectCD = 2;

bool IsSign(char c) {
  return c == '+' || c == '-' || c == '=';
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "setup.EXE" and "install.bat" start the launcher. The last four bytes are
// ASCII whenever they can match, so no code page is involved.
bool IsProgramFileName(std::string_view arg) {
  if (arg.size() < 4) return false;
  std::string ext;
  for (char c : arg.substr(arg.size() - 4)) ext += AsciiLower(c);
  return ext == ".bat" || ext == ".exe";
}

// The C runtime's atoi: optional blanks and sign, then digits; anything else
// ends the number, no digits give 0. Out-of-range values saturate instead of
// wrapping.
int ToInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// -read-reg's finding: with -x the bare value, otherwise as a section of a
// registration file. The value is printed up to its first zero byte.
void PrintReadValue(const std::string& key, const std::string& name, std::string_view value,
                    bool plain) {
  if (plain) {
    text::PrintCString(value);
    return;
  }
  text::Print("\n[" + key + "]\n" + name + "=");
  text::PrintCString(value);
  text::Print("\n");
}

// -regl's finding: with -x the latest subkey's name and the value on lines of
// their own, otherwise as a section of a registration file.
void PrintLatestSubkeyValue(const std::string& key, std::string_view latest,
                            const std::string& name, std::string_view value, bool plain) {
  if (plain) {
    text::PrintCString(latest);
    text::Print("\n");
    text::PrintCString(value);
    return;
  }
  text::Print("\n[" + key + "\\");
  text::PrintCString(latest);
  text::Print("]\n" + name + "=");
  text::PrintCString(value);
  text::Print("\n");
}

// One run of option mode: the arguments, the switches, the operations.
class OptionRun {
 public:
  OptionRun(std::span<const std::string> args, const Operations& ops) : args_(args), ops_(ops) {}

  int Run();

 private:
  // What an option did to the run.
  enum class Next { Continue, Exit };

  // Words left after the option at `pos_`.
  size_t WordsLeft() const { return args_.size() - pos_ - 1; }
  // The n-th word after the option (1 is the first).
  const std::string& Word(size_t n) const { return args_[pos_ + n]; }

  Next Option(const std::string& lower);
  Next EnvOption(const std::string& lower, char sign);
  Next RegistryOption(const std::string& lower, char sign);
  Next ReadValueOption();
  Next LatestSubkeyOption();
  Next PathValueOption(char sign);
  Next ValueOption(char sign);
  Next MiKTeXOption();

  // Records an operation's status, prints the result line, and moves past
  // the option and the `taken` words it consumed.
  Next Finish(int status, size_t taken) {
    options_.lastStatus = status;
    text::Print(status != 0 ? kFailedLine : kSucceededLine);
    pos_ += 1 + taken;
    return Next::Continue;
  }
  Next Switch() {
    pos_ += 1;
    return Next::Continue;
  }
  // The screens end the run as they are, with nothing announced.
  Next ExitWith(int code) {
    exitCode_ = code;
    return Next::Exit;
  }
  // Every other option that ends the run first announces what the run
  // changed, as its normal end would: a directory that +gswin32c put on the
  // system Path, or what an earlier option did, must reach running programs.
  Next EndRunWith(int code) {
    AnnounceChanges();
    return ExitWith(code);
  }
  void AnnounceChanges() {
    if (options_.forceRefresh) ops_.markEnvironmentChanged();
    if (!options_.noRefresh) ops_.broadcastEnvironmentChange();
  }
  Next SyntaxError() { return ExitWith(ReportSyntaxError()); }
  // The detection options print what they found (an empty text when nothing)
  // and end the run with their status.
  Next PrintFound(const std::function<int(std::string&)>& find) {
    std::string found;
    int status = find(found);
    text::PrintCString(found);
    return EndRunWith(status);
  }

  std::span<const std::string> args_;
  const Operations& ops_;
  RunOptions options_;
  size_t pos_ = 0;
  int exitCode_ = 0;
};

int OptionRun::Run() {
  while (pos_ < args_.size()) {
    // Options are recognised on a lower-case copy made under the locale in
    // force; operations get the word as typed.
    const std::string lower = text::ToLower(args_[pos_]);
    if (Option(lower) == Next::Exit) return exitCode_;
  }
  AnnounceChanges();
  return 0;
}

OptionRun::Next OptionRun::Option(const std::string& lower) {
  if (lower.size() < 2) return SyntaxError();
  const char sign = lower[0];
  const char letter = lower[1];
  // -help
  if (letter == 'h') return ExitWith(ShowHelp(0));
  // -x
  if (letter == 'x') {
    options_.plainOutput = true;
    return Switch();
  }
  // -code-page, -language
  if (letter == 'c' || letter == 'l') {
    if (WordsLeft() < 1) return SyntaxError();
    text::SetLocale(Word(1));
    pos_ += 2;
    return Next::Continue;
  }
  if (lower == "-refresh") {
    options_.forceRefresh = true;
    options_.noRefresh = false;
    return Switch();
  }
  if (lower.size() < kMinOptionLength) return SyntaxError();

  // Any option from here on may read or change the registry or the startup
  // files: from now on the run has the machine to itself.
  port::TakeMachineTurn();
  switch (letter) {
    case 'e':  // +env, -env, =env, -env-size, -end, -examples
      return EnvOption(lower, sign);
    case 'g':  // +gswin32c, -gswin32c
      // +gswin32c always works on the system Path, at its start.
      if (sign == '+')
        return EndRunWith(ops_.addGhostscriptToPath(EnvScope::System, PathPlacement::Start));
      return PrintFound(ops_.findLatestGhostscript);
    case 'j':  // +javaw, -javaw
      if (sign == '+')
        return EndRunWith(ops_.registerJavaw(WordsLeft() >= 1 ? std::string_view(Word(1))
                                                              : kDefaultJavawVariable));
      return PrintFound(ops_.findLatestJava);
    case 'm':  // -md5, -miktex
      if (lower == "-md5") {
        // Without a file nothing is stamped: that is a failure to report,
        // not a success.
        constexpr int kNothingStamped = 1;
        if (WordsLeft() < 1) return Finish(kNothingStamped, 0);
        return Finish(ops_.recordFileDigest(Word(1)), 1);
      }
      return MiKTeXOption();
    case 'n':  // -no-refresh
      options_.noRefresh = true;
      options_.forceRefresh = false;
      return Switch();
    case 'p':  // +path, -path
      if (WordsLeft() < 1) return SyntaxError();
      if (sign == '+')
        return Finish(
            ops_.addPathToEnvironment(Word(1), kPathVariable, options_.scope, options_.placement),
            1);
      if (sign == '-')
        return Finish(ops_.removePathFromEnvironment(Word(1), kPathVariable, options_.scope), 1);
      return SyntaxError();
    case 'r':  // -read-reg, +regf, -regf, +regk, -regk, -regl, +regp, -regp, +regv, =regv, -regv
      return RegistryOption(lower, sign);
    case 's':  // -sys, -start
      if (lower[2] == 'y') {
        options_.scope = EnvScope::System;
        return Switch();
      }
      if (lower[2] == 't') {
        options_.placement = PathPlacement::Start;
        return Switch();
      }
      return SyntaxError();
    case 'u':  // -user
      options_.scope = EnvScope::User;
      return Switch();
    case 'w':  // -WinEdt
      return PrintFound(ops_.detectWinEdt);
    default:
      return SyntaxError();
  }
}

OptionRun::Next OptionRun::EnvOption(const std::string& lower, char sign) {
  // -env-size
  if (lower.find("-size") != std::string::npos) {
    if (WordsLeft() < 1) return SyntaxError();
    return Finish(ops_.setEnvironmentSize(ToInt(Word(1))), 1);
  }
  // -examples
  if (lower[2] == 'x') return ExitWith(ShowExamples());
  // -end
  if (lower[3] == 'd') {
    options_.placement = PathPlacement::End;
    return Switch();
  }
  // +env, -env, =env. An optional second word is taken whenever one is
  // there: -env FOO -user removes the path "-user" from FOO.
  if (WordsLeft() >= 2) {
    const std::string& name = Word(1);
    const std::string& value = Word(2);
    switch (sign) {
      case '+':
        return Finish(ops_.addPathToEnvironment(value, name, options_.scope, options_.placement),
                      2);
      case '-':
        return Finish(ops_.removePathFromEnvironment(value, name, options_.scope), 2);
      case '=':
        return Finish(ops_.setEnvironmentValue(value, name, options_.scope), 2);
      default:
        return SyntaxError();
    }
  }
  if (WordsLeft() == 1 && sign == '-')
    return Finish(ops_.deleteEnvironmentValue(Word(1), options_.scope), 1);
  return SyntaxError();
}

OptionRun::Next OptionRun::RegistryOption(const std::string& lower, char sign) {
  if (lower == "-read-reg") return ReadValueOption();
  if (lower.size() != kRegistryOptionLength || WordsLeft() < 1) return SyntaxError();
  const std::string& key = Word(1);
  switch (lower[4]) {
    case 'f':  // +regf, -regf
      if (sign == '+') return Finish(ops_.processRegFile(key, RegFileMode::Import), 1);
      if (sign == '-') return Finish(ops_.processRegFile(key, RegFileMode::Removal), 1);
      return SyntaxError();
    case 'k':  // +regk, -regk
      if (sign == '+') return Finish(ops_.createRegistryPathKey(key), 1);
      if (sign == '-') return Finish(ops_.deleteRegistryPathKey(key), 1);
      return SyntaxError();
    case 'l':  // -regl, whatever its sign
      return LatestSubkeyOption();
    case 'p':  // +regp, -regp
      return PathValueOption(sign);
    case 'v':  // +regv, =regv, -regv
      return ValueOption(sign);
    default:
      return SyntaxError();
  }
}

OptionRun::Next OptionRun::ReadValueOption() {
  if (WordsLeft() < 2) return SyntaxError();
  const std::string& key = Word(1);
  const std::string& name = Word(2);
  std::string value;
  const int status = ops_.readRegistryPathValue(value, key, name);
  if (status != 0) return Finish(status, 2);
  PrintReadValue(key, name, value, options_.plainOutput);
  return EndRunWith(0);
}

OptionRun::Next OptionRun::LatestSubkeyOption() {
  if (WordsLeft() < 2) return SyntaxError();
  const std::string& key = Word(1);
  const std::string& name = Word(2);
  std::string value;
  std::string latest;
  const int status = ops_.readLatestSubkeyValue(value, latest, key, name);
  if (status != 0) return Finish(status, 2);
  PrintLatestSubkeyValue(key, latest, name, value, options_.plainOutput);
  return EndRunWith(0);
}

OptionRun::Next OptionRun::PathValueOption(char sign) {
  // key [value] path: the value name is there when two words follow the
  // key, so -regp KEY C:\dir -end takes C:\dir as the name.
  if (WordsLeft() < 2) return SyntaxError();
  const std::string& key = Word(1);
  const bool named = WordsLeft() >= 3;
  const std::string_view name = named ? std::string_view(Word(2)) : std::string_view();
  const std::string& path = named ? Word(3) : Word(2);
  const size_t taken = named ? 3 : 2;
  if (sign == '+')
    return Finish(ops_.addPathToRegistryValue(path, key, name, options_.placement), taken);
  if (sign == '-') return Finish(ops_.removePathFromRegistryValue(path, key, name), taken);
  return SyntaxError();
}

OptionRun::Next OptionRun::ValueOption(char sign) {
  const std::string& key = Word(1);
  if (sign == '+' || sign == '=') {
    // key [value] sz
    if (WordsLeft() < 2) return SyntaxError();
    const bool named = WordsLeft() >= 3;
    const std::string_view name = named ? std::string_view(Word(2)) : std::string_view();
    const std::string& sz = named ? Word(3) : Word(2);
    return Finish(ops_.writeRegistryPathValue(sz, key, name), named ? 3 : 2);
  }
  if (sign == '-') {
    // key [value]
    const bool named = WordsLeft() >= 2;
    const std::string_view name = named ? std::string_view(Word(2)) : std::string_view();
    return Finish(ops_.deleteRegistryPathValue(key, name), named ? 2 : 1);
  }
  return SyntaxError();
}

OptionRun::Next OptionRun::MiKTeXOption() {
  std::string texmf;
  std::string localTexmf;
  const std::uint8_t kind = ops_.detectMiKTeX(texmf, localTexmf);
  if (kind != MiKTeXNormal && kind != MiKTeXDirectCD) {
    text::Print("No MiKTeX installation is detected!\n");
    return EndRunWith(0);
  }
  text::Print(kind == MiKTeXNormal ? "Normal MiKTeX installation:\nTeXMF="
                                   : "MiKTeX Direct CD:\nTeXMF=");
  text::PrintCString(texmf);
  text::Print("\nLocalTeXMF=");
  text::PrintCString(localTexmf);
  text::Print("\n");
  return EndRunWith(kind == MiKTeXNormal ? kExitMiKTeXNormal : kExitMiKTeXDirectCD);
}

}  // namespace

int RunQuillmark(std::span<const std::string> args, const Operations& ops) {
  // Every mode reads its paths by the machine's rules until -language or
  // -code-page names others (a launcher path too: its trail bytes may be
  // 0x5C).
  text::SetLocale(kMachineLocale);
  if (args.empty()) return ShowHelp(0);
  const std::string& first = args[0];
  if (first.empty() || !IsSign(first[0])) {
    if (!IsProgramFileName(first)) return ReportSyntaxError();
    // Words after the second are not the launcher's.
    ops.runProgram(first, args.size() > 1 ? std::string_view(args[1]) : std::string_view());
    return 0;
  }
  // Exactly "-run", as typed: -RUN is an option word (and a syntax error).
  if (first == "-run") return ops.runCommandLine(args.subspan(1));
  return OptionRun(args, ops).Run();
}

int RunQuillmark(std::span<const std::string> args) {
  return RunQuillmark(args, ProductionOperations());
}

}  // namespace qm
