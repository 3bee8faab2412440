// The option grammar, tried in-process: each argument list against the
// operations it calls (with which arguments), what it prints, and the exit
// code. The operations are replaced by a table that records its calls.
#include "cli/driver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "text/codepage.h"
#include "text/output.h"

namespace qm {
namespace {

using namespace std::string_literals;

const std::string kOk = "Succeeded in doing speicified operation(s)!\n";
const std::string kFail = "Error: Failed to do speicified operation(s)!\n";
const std::string kSyntax = "Syntax error occurs!\n";
const std::string kHelpStart = "Quillmark v 1.08 (20 May 2005), developed by Tamsworth\n";
const std::string kBroadcast = "Broadcast";
const std::string kMark = "MarkChanged";

std::string Scope(EnvScope s) {
  return s == EnvScope::User ? "User" : "System";
}
std::string Place(PathPlacement p) {
  return p == PathPlacement::End ? "End" : "Start";
}

// Answers of the recorded operations, by name: the status, and the texts
// that the reading and detection operations deliver.
struct Answers {
  std::map<std::string, int> status;
  std::string found;
  std::string latest;
  std::uint8_t miktexKind = 0;
};

class Recorder {
 public:
  explicit Recorder(const Answers& answers) : answers_(answers) {
    using sv = std::string_view;
    ops.addPathToEnvironment = [this](sv paths, sv name, EnvScope s, PathPlacement p) {
      return Call("AddPathToEnvironment", paths, name, Scope(s), Place(p));
    };
    ops.removePathFromEnvironment = [this](sv paths, sv name, EnvScope s) {
      return Call("RemovePathFromEnvironment", paths, name, Scope(s));
    };
    ops.setEnvironmentValue = [this](sv value, sv name, EnvScope s) {
      return Call("SetEnvironmentValue", value, name, Scope(s));
    };
    ops.deleteEnvironmentValue = [this](sv name, EnvScope s) {
      return Call("DeleteEnvironmentValue", name, Scope(s));
    };
    ops.setEnvironmentSize = [this](int size) {
      return Call("SetEnvironmentSize", std::to_string(size));
    };
    ops.markEnvironmentChanged = [this] { calls.push_back(kMark); };
    ops.broadcastEnvironmentChange = [this] { calls.push_back(kBroadcast); };
    ops.addPathToRegistryValue = [this](sv paths, sv key, sv value, PathPlacement p) {
      return Call("AddPathToRegistryValue", paths, key, value, Place(p));
    };
    ops.removePathFromRegistryValue = [this](sv paths, sv key, sv value) {
      return Call("RemovePathFromRegistryValue", paths, key, value);
    };
    ops.writeRegistryPathValue = [this](sv sz, sv key, sv value) {
      return Call("WriteRegistryPathValue", sz, key, value);
    };
    ops.deleteRegistryPathValue = [this](sv key, sv value) {
      return Call("DeleteRegistryPathValue", key, value);
    };
    ops.createRegistryPathKey = [this](sv key) { return Call("CreateRegistryPathKey", key); };
    ops.deleteRegistryPathKey = [this](sv key) { return Call("DeleteRegistryPathKey", key); };
    ops.processRegFile = [this](sv file, RegFileMode mode) {
      return Call("ProcessRegFile", file, mode == RegFileMode::Import ? "Import" : "Removal");
    };
    ops.readRegistryPathValue = [this](std::string& out, sv key, sv value) {
      int status = Call("ReadRegistryPathValue", key, value);
      if (status == 0) out = answers_.found;
      return status;
    };
    ops.readLatestSubkeyValue = [this](std::string& out, std::string& latest, sv key, sv value) {
      int status = Call("ReadLatestSubkeyValue", key, value);
      latest = answers_.latest;
      if (status == 0) out = answers_.found;
      return status;
    };
    ops.detectMiKTeX = [this](std::string& texmf, std::string& local) -> std::uint8_t {
      Call("DetectMiKTeX");
      texmf = "C:\\texmf";
      local = "C:\\localtexmf";
      return answers_.miktexKind;
    };
    ops.detectWinEdt = [this](std::string& out) { return Find("DetectWinEdt", out); };
    ops.findLatestGhostscript = [this](std::string& out) {
      return Find("FindLatestGhostscript", out);
    };
    ops.addGhostscriptToPath = [this](EnvScope s, PathPlacement p) {
      return Call("AddGhostscriptToPath", Scope(s), Place(p));
    };
    ops.findLatestJava = [this](std::string& out) { return Find("FindLatestJava", out); };
    ops.registerJavaw = [this](sv name) { return Call("RegisterJavaw", name); };
    ops.recordFileDigest = [this](sv file) { return Call("RecordFileDigest", file); };
    ops.runProgram = [this](sv file, sv dir) { Call("RunProgram", file, dir); };
    ops.runCommandLine = [this](std::span<const std::string> words) {
      return Record("RunCommandLine", std::vector<std::string>(words.begin(), words.end()));
    };
  }

  Operations ops;
  std::vector<std::string> calls;

 private:
  // Records "Name(a|b|c)" and answers with the status set for Name (0).
  int Record(const std::string& name, const std::vector<std::string>& args) {
    std::string call = name + "(";
    for (size_t i = 0; i < args.size(); ++i) call += (i ? "|" : "") + args[i];
    calls.push_back(call + ")");
    auto it = answers_.status.find(name);
    return it == answers_.status.end() ? 0 : it->second;
  }
  template <typename... Args>
  int Call(const std::string& name, const Args&... args) {
    return Record(name, {std::string(args)...});
  }
  int Find(const std::string& name, std::string& out) {
    int status = Call(name);
    out = status == 0 ? answers_.found : "";
    return status;
  }

  const Answers& answers_;
};

struct Outcome {
  std::vector<std::string> calls;
  std::string output;
  int exitCode = -1;
};

Outcome RunWith(const std::vector<std::string>& args, const Answers& answers = {}) {
  Recorder recorder(answers);
  Outcome run;
  text::CaptureOutput(&run.output);
  run.exitCode = RunQuillmark(args, recorder.ops);
  text::CaptureOutput(nullptr);
  run.calls = recorder.calls;
  return run;
}

struct GrammarCase {
  std::vector<std::string> args;
  std::vector<std::string> calls;
  std::string output;  // the whole output; kSyntax: the syntax-error screen
  int exitCode;
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { text::SetLocale("C"); }
  void TearDown() override { text::SetLocale("C"); }

  static void Check(const std::vector<GrammarCase>& cases, const Answers& answers = {}) {
    for (const GrammarCase& c : cases) {
      std::string line;
      for (const std::string& a : c.args) line += "[" + a + "]";
      Outcome run = RunWith(c.args, answers);
      EXPECT_EQ(run.calls, c.calls) << line;
      EXPECT_EQ(run.exitCode, c.exitCode) << line;
      if (c.output == kSyntax) {
        EXPECT_EQ(run.output.substr(0, kSyntax.size() + kHelpStart.size()), kSyntax + kHelpStart)
            << line;
      } else {
        EXPECT_EQ(run.output, c.output) << line;
      }
    }
  }
};

TEST_F(DriverTest, ModeIsChosenByTheFirstArgument) {
  Check({
      {{"setup.EXE", "C:\\dir", "ignored"}, {"RunProgram(setup.EXE|C:\\dir)"}, "", 0},
      {{"install.bat"}, {"RunProgram(install.bat|)"}, "", 0},
      {{".bat"}, {"RunProgram(.bat|)"}, "", 0},
      {{"setup.com"}, {}, kSyntax, 1},
      {{"bat"}, {}, kSyntax, 1},
      {{"exe"}, {}, kSyntax, 1},
      {{""}, {}, kSyntax, 1},
      {{"-run", "cmd", "/c", "a b"}, {"RunCommandLine(cmd|/c|a b)"}, "", 0},
      {{"-run"}, {"RunCommandLine()"}, "", 0},
      // -RUN is an option word: 4 characters, not -read-reg, not 5 long.
      {{"-RUN", "prog"}, {}, kSyntax, 1},
  });
}

TEST_F(DriverTest, RunReturnsTheExitCodeOfTheCommandLine) {
  Answers answers;
  answers.status["RunCommandLine"] = 1;  // a line too long to run
  Check({{{"-run", "x"}, {"RunCommandLine(x)"}, "", 1}}, answers);
}

TEST_F(DriverTest, HelpAndExamplesEndTheRun) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"-HELP"}, {"+help"}, {"-user", "=h", "+path", "X"}}) {
    Outcome run = RunWith(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.calls.empty());
    EXPECT_EQ(run.output.substr(0, kHelpStart.size()), kHelpStart);
    EXPECT_NE(run.output.find("\t+javaw [ENV]\tadd javaw.exe"), std::string::npos);
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-examples"}, {"-EXAMPLES", "-user"}, {"+ex"}}) {
    Outcome run = RunWith(args);
    if (args[0] == "+ex") {  // three characters: too short for an option
      EXPECT_EQ(run.exitCode, 1);
      continue;
    }
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("Some Examples:\n"), std::string::npos);
    EXPECT_TRUE(run.calls.empty());
  }
}

TEST_F(DriverTest, SwitchesApplyToTheOptionsAfterThem) {
  Check({
      {{"-user", "+path", "X"}, {"AddPathToEnvironment(X|Path|User|Start)", kBroadcast}, kOk, 0},
      {{"-end", "-user", "+path", "X"},
       {"AddPathToEnvironment(X|Path|User|End)", kBroadcast},
       kOk,
       0},
      {{"-end", "-start", "+path", "X"},
       {"AddPathToEnvironment(X|Path|System|Start)", kBroadcast},
       kOk,
       0},
      {{"-path", "X", "-user"}, {"RemovePathFromEnvironment(X|Path|System)", kBroadcast}, kOk, 0},
      {{"-user", "-sys", "-path", "X"},
       {"RemovePathFromEnvironment(X|Path|System)", kBroadcast},
       kOk,
       0},
      // Only the positions named are examined, signs included.
      {{"+user", "-stop", "=end", "+path", "Mixed\\Case"},
       {"AddPathToEnvironment(Mixed\\Case|Path|User|End)", kBroadcast},
       kOk,
       0},
      {{"-usr1", "-system", "+path", "X"},
       {"AddPathToEnvironment(X|Path|System|Start)", kBroadcast},
       kOk,
       0},
      {{"-user", "xuser", "+path", "X"},
       {"AddPathToEnvironment(X|Path|User|Start)", kBroadcast},
       kOk,
       0},
      {{"-x"}, {kBroadcast}, "", 0},
      {{"-l", "chs"}, {kBroadcast}, "", 0},
      {{"-language"}, {}, kSyntax, 1},
      {{"+no-refresh"}, {}, "", 0},
      {{"-refresh", "-no-refresh"}, {}, "", 0},
      {{"-no-refresh", "-refresh"}, {kMark, kBroadcast}, "", 0},
      {{"-REFRESH"}, {kMark, kBroadcast}, "", 0},
  });
}

TEST_F(DriverTest, EnvironmentOptionsTakeTheirWordsWhateverTheyLookLike) {
  Check({
      {{"-env", "FOO"}, {"DeleteEnvironmentValue(FOO|System)", kBroadcast}, kOk, 0},
      {{"-env", "FOO", "-user"},
       {"RemovePathFromEnvironment(-user|FOO|System)", kBroadcast},
       kOk,
       0},
      {{"-user", "+env", "include", "C:\\inc"},
       {"AddPathToEnvironment(C:\\inc|include|User|Start)", kBroadcast},
       kOk,
       0},
      {{"=env", "localtexmf", "C:\\MiKTeX"},
       {"SetEnvironmentValue(C:\\MiKTeX|localtexmf|System)", kBroadcast},
       kOk,
       0},
      {{"+env", "FOO"}, {}, kSyntax, 1},
      {{"=env", "FOO"}, {}, kSyntax, 1},
      {{"-env"}, {}, kSyntax, 1},
      {{"-user", "*env", "FOO", "x"}, {}, kSyntax, 1},
      {{"-env-size", "4096"}, {"SetEnvironmentSize(4096)", kBroadcast}, kOk, 0},
      {{"+ENV-SIZE", "12abc"}, {"SetEnvironmentSize(12)", kBroadcast}, kOk, 0},
      {{"-env-size", "big"}, {"SetEnvironmentSize(0)", kBroadcast}, kOk, 0},
      {{"-env-size", "99999999999999"}, {"SetEnvironmentSize(2147483647)", kBroadcast}, kOk, 0},
      {{"-env-size"}, {}, kSyntax, 1},
      {{"+path"}, {}, kSyntax, 1},
      {{"=path", "X"}, {}, kSyntax, 1},
      {{"-path", "-path"}, {"RemovePathFromEnvironment(-path|Path|System)", kBroadcast}, kOk, 0},
  });
}

TEST_F(DriverTest, RegistryWritingOptionsTakeAnOptionalValueName) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley";
  Check({
      {{"-regv", key}, {"DeleteRegistryPathValue(" + key + "|)", kBroadcast}, kOk, 0},
      {{"-regv", key, "e-mail"},
       {"DeleteRegistryPathValue(" + key + "|e-mail)", kBroadcast},
       kOk,
       0},
      {{"-regv", key, "-h"}, {"DeleteRegistryPathValue(" + key + "|-h)", kBroadcast}, kOk, 0},
      {{"+regv", key, "TEXT"}, {"WriteRegistryPathValue(TEXT|" + key + "|)", kBroadcast}, kOk, 0},
      {{"=REGV", key, "NAME", "TEXT"},
       {"WriteRegistryPathValue(TEXT|" + key + "|NAME)", kBroadcast},
       kOk,
       0},
      {{"+regv", key, "NAME", "TEXT", "-user"},
       {"WriteRegistryPathValue(TEXT|" + key + "|NAME)", kBroadcast},
       kOk,
       0},
      {{"+regv", key}, {}, kSyntax, 1},
      {{"-regv"}, {}, kSyntax, 1},
      {{"-regp", key, "C:\\dir"},
       {"RemovePathFromRegistryValue(C:\\dir|" + key + "|)", kBroadcast},
       kOk,
       0},
      {{"-regp", key, "C:\\dir", "-end"},
       {"RemovePathFromRegistryValue(-end|" + key + "|C:\\dir)", kBroadcast},
       kOk,
       0},
      {{"-end", "+regp", key, "path", "C:\\bin"},
       {"AddPathToRegistryValue(C:\\bin|" + key + "|path|End)", kBroadcast},
       kOk,
       0},
      {{"-regp", key}, {}, kSyntax, 1},
      {{"=regp", key, "C:\\dir"}, {}, kSyntax, 1},
      {{"+regk", key}, {"CreateRegistryPathKey(" + key + ")", kBroadcast}, kOk, 0},
      {{"-regk", key}, {"DeleteRegistryPathKey(" + key + ")", kBroadcast}, kOk, 0},
      {{"=regk", key}, {}, kSyntax, 1},
      {{"+regf", "C:\\a.reg"}, {"ProcessRegFile(C:\\a.reg|Import)", kBroadcast}, kOk, 0},
      {{"-REGF", "C:\\a.reg"}, {"ProcessRegFile(C:\\a.reg|Removal)", kBroadcast}, kOk, 0},
      {{"=regf", "C:\\a.reg"}, {}, kSyntax, 1},
      {{"-regz", key}, {}, kSyntax, 1},
      {{"-regkk", key}, {}, kSyntax, 1},
      {{"-regr", key, "GS_DLL"}, {}, kSyntax, 1},
      {{"-z123"}, {}, kSyntax, 1},
      {{"-sza"}, {}, kSyntax, 1},
      {{"-u"}, {}, kSyntax, 1},
      {{"-us"}, {}, kSyntax, 1},
      {{"-p"}, {}, kSyntax, 1},
      {{"+"}, {}, kSyntax, 1},
  });
}

TEST_F(DriverTest, FailedOperationsAreReportedAndTheRunGoesOn) {
  Answers answers;
  answers.status["CreateRegistryPathKey"] = 1;
  answers.status["DeleteRegistryPathKey"] = 2;
  Check(
      {
          {{"+regk", "K", "-regk", "K"},
           {"CreateRegistryPathKey(K)", "DeleteRegistryPathKey(K)", kBroadcast},
           kFail + kFail,
           0},
      },
      answers);
  // A syntax error ends the run where it stands: what was done stays done,
  // later options are not looked at, and there is no broadcast.
  Outcome run = RunWith({"+regv", "K", "NAME", "v", "-u", "+regk", "K"});
  EXPECT_EQ(run.calls, std::vector<std::string>{"WriteRegistryPathValue(v|K|NAME)"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output.substr(0, kOk.size() + kSyntax.size()), kOk + kSyntax);
}

TEST_F(DriverTest, ReadingOptionsPrintWhatTheyFoundAndEndTheRun) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\AFPL Ghostscript";
  Answers answers;
  // The value as read: its terminator, and bytes after it that are not text.
  answers.found = "C:\\gs\\%s%d 100%\0junk"s;
  answers.latest = "8.50";
  Check(
      {
          {{"-read-reg", key, "GS_DLL"},
           {"ReadRegistryPathValue(" + key + "|GS_DLL)", kBroadcast},
           "\n[" + key + "]\nGS_DLL=C:\\gs\\%s%d 100%\n",
           0},
          {{"-x", "-READ-REG", key, "GS_DLL"},
           {"ReadRegistryPathValue(" + key + "|GS_DLL)", kBroadcast},
           "C:\\gs\\%s%d 100%",
           0},
          {{"-read-reg", key, "GS_DLL", "-x"},
           {"ReadRegistryPathValue(" + key + "|GS_DLL)", kBroadcast},
           "\n[" + key + "]\nGS_DLL=C:\\gs\\%s%d 100%\n",
           0},
          {{"-regl", key, "GS_DLL"},
           {"ReadLatestSubkeyValue(" + key + "|GS_DLL)", kBroadcast},
           "\n[" + key + "\\8.50]\nGS_DLL=C:\\gs\\%s%d 100%\n",
           0},
          {{"-x", "+regl", key, "GS_DLL"},
           {"ReadLatestSubkeyValue(" + key + "|GS_DLL)", kBroadcast},
           "8.50\nC:\\gs\\%s%d 100%",
           0},
          {{"-read-reg", key}, {}, kSyntax, 1},
          {{"-regl", key}, {}, kSyntax, 1},
          {{"+read-reg", key, "x"}, {}, kSyntax, 1},
      },
      answers);

  answers.status["ReadRegistryPathValue"] = 2;
  answers.status["ReadLatestSubkeyValue"] = 12;
  Check(
      {
          {{"-read-reg", key, "GS_DLL", "-regl", key, "GS_DLL", "+regk", "K"},
           {"ReadRegistryPathValue(" + key + "|GS_DLL)",
            "ReadLatestSubkeyValue(" + key + "|GS_DLL)", "CreateRegistryPathKey(K)", kBroadcast},
           kFail + kFail + kOk,
           0},
      },
      answers);
}

TEST_F(DriverTest, DetectionOptionsPrintTheTextAndExitWithTheirStatus) {
  Answers found;
  found.found = "C:\\gs\\gs8.50\\bin 50%s";
  Check(
      {
          // An option that ends the run announces what the run changed first.
          {{"-gswin32c"}, {"FindLatestGhostscript()", kBroadcast}, "C:\\gs\\gs8.50\\bin 50%s", 0},
          {{"-javaw", "-user"}, {"FindLatestJava()", kBroadcast}, "C:\\gs\\gs8.50\\bin 50%s", 0},
          {{"-WinEdt"}, {"DetectWinEdt()", kBroadcast}, "C:\\gs\\gs8.50\\bin 50%s", 0},
          // +gswin32c ignores the scope and placement.
          {{"-user", "-end", "+gswin32c"},
           {"AddGhostscriptToPath(System|Start)", kBroadcast},
           "",
           0},
          {{"+javaw"}, {"RegisterJavaw(javacommand)", kBroadcast}, "", 0},
          {{"+javaw", "JAVACMD", "-h"}, {"RegisterJavaw(JAVACMD)", kBroadcast}, "", 0},
          {{"-no-refresh", "+gswin32c"}, {"AddGhostscriptToPath(System|Start)"}, "", 0},
          {{"-refresh", "-javaw"}, {"FindLatestJava()", kMark, kBroadcast}, "C:\\gs\\gs8.50\\bin 50%s", 0},
      },
      found);
  // The screens end the run without a word to other programs.
  EXPECT_EQ(RunWith({"+path", "X", "-examples"}).calls,
            std::vector<std::string>{"AddPathToEnvironment(X|Path|System|Start)"});
  Answers missing;
  missing.status = {{"FindLatestGhostscript", 1},
                    {"FindLatestJava", 1},
                    {"DetectWinEdt", 1},
                    {"AddGhostscriptToPath", 2},
                    {"RegisterJavaw", 1}};
  Check(
      {
          {{"-gswin32c"}, {"FindLatestGhostscript()", kBroadcast}, "", 1},
          {{"-javaw"}, {"FindLatestJava()", kBroadcast}, "", 1},
          {{"-winedt"}, {"DetectWinEdt()", kBroadcast}, "", 1},
          {{"+gswin32c"}, {"AddGhostscriptToPath(System|Start)", kBroadcast}, "", 2},
          {{"+javaw", "J"}, {"RegisterJavaw(J)", kBroadcast}, "", 1},
      },
      missing);
}

TEST_F(DriverTest, MiKTeXReportsByKind) {
  struct Case {
    std::uint8_t kind;
    std::string output;
    int exitCode;
  };
  const Case cases[] = {
      {1, "Normal MiKTeX installation:\nTeXMF=C:\\texmf\nLocalTeXMF=C:\\localtexmf\n", 1},
      {2, "MiKTeX Direct CD:\nTeXMF=C:\\texmf\nLocalTeXMF=C:\\localtexmf\n", 2},
      {0, "No MiKTeX installation is detected!\n", 0},
      {3, "No MiKTeX installation is detected!\n", 0},
  };
  for (const Case& c : cases) {
    Answers answers;
    answers.miktexKind = c.kind;
    Check({{{"-MiKTeX"}, {"DetectMiKTeX()", kBroadcast}, c.output, c.exitCode},
           {{"+md5"}, {"DetectMiKTeX()", kBroadcast}, c.output, c.exitCode}},
          answers);
  }
}

TEST_F(DriverTest, Md5ReportsWhetherTheStampWasStored) {
  Check({
      {{"-md5", "C:\\setup.exe"}, {"RecordFileDigest(C:\\setup.exe)", kBroadcast}, kOk, 0},
      // No file: nothing was stamped.
      {{"-md5"}, {kBroadcast}, kFail, 0},
  });
  Answers unreadable;
  unreadable.status["RecordFileDigest"] = 1;
  Check({{{"-MD5", "C:\\missing"}, {"RecordFileDigest(C:\\missing)", kBroadcast}, kFail, 0}},
        unreadable);
}

TEST_F(DriverTest, OptionModeRecognisesOptionsUnderItsOwnLocale) {
  RunWith({"-x"});
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  RunWith({"-code-page", "japanese"});
  EXPECT_EQ(text::CurrentCodePage(), 932u);
  RunWith({"-language", "no-such-locale"});
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  // Every mode follows the machine's code page, the launcher's too.
  text::SetLocale("C");
  RunWith({"setup.exe"});
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  setenv("QUILLMARK_ACP", "1252", 1);
  RunWith({"-x"});
  EXPECT_EQ(text::CurrentCodePage(), 1252u);
  RunWith({"-x", "-language", "chs"});
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  unsetenv("QUILLMARK_ACP");

  // In code page 936, 0x81 0x55 is one character whose second byte is 'U':
  // it is never lower-cased into a 'u' that would make this word -user.
  Check({{{"-x",
           "\x81U"
           "ser"},
          {},
          kSyntax,
          1}});
  // The word reaches the operation as typed.
  Check({{{"+path", "C:\\\x81U"},
          {"AddPathToEnvironment(C:\\\x81U|Path|System|Start)", kBroadcast},
          kOk,
          0}});
}

}  // namespace
}  // namespace qm
