// Detection where the scenarios do not reach: limits, Direct CD, what counts, double bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "detect/gs_java.h"
#include "detect/tex_detect.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qm {
namespace {

std::string Expand(std::string s) {  // "<N>": a directory of N characters
  for (size_t at; (at = s.find('<')) != std::string::npos;)
    s.replace(at, s.find('>', at) - at + 1, "C:\\" + std::string(std::stoul(s.substr(at + 1)) - 3, 'd'));
  return s;
}

TEST(Detect, Edges) {
  // Each row lays out a fresh machine: f:FILE, r:FILE (read-only), $NAME=VALUE (a variable), and
  // i= I= l= L= (MiKTeX's Install Root, Local Root: user's, machine's), J<v>= (JavaHome), GPL AFPL<v>=
  // (GS_DLL; no "=": the key alone). Then "result|text": M DetectMiKTeX (root|local root), G the
  // Ghostscript directory, J RegisterJavaw (javacommand), A AddGhostscriptToPath (Path's first entry).
  const std::string cd = "f:C:\\CD\\miktex\\bin\\tex.exe r:C:\\CD\\miktex\\config\\md.ini I=C:\\CD ";
  const struct { char what; std::string items; const char* expected; } kRows[] = {
      // Direct CD: MD_LOCALROOT, else a folder on SystemDrive (NT) or in windir (9x).
      {'M', cd + "$SystemDrive=D: L=C:\\l", "2|C:\\CD|D:\\MiKTeXDirect"},
      {'M', cd + "$SystemDrive=D: $windir=C:\\W $QUILLMARK_WINVER=win98", "2|C:\\CD|C:\\W\\MiKTeXDirect"},
      // Nothing that would pass 260 characters is taken, composed or looked up.
      {'M', cd + "$MD_LOCALROOT=<260>", "2|C:\\CD|<260>"},
      {'M', cd + "$MD_LOCALROOT=<261> $SystemDrive=D:", "2|C:\\CD|D:\\MiKTeXDirect"},
      {'M', cd + "$SystemDrive=<248>", "2|C:\\CD|"},
      {'M', "f:<241>\\miktex\\bin\\tex.exe I=<241> L=<260>", "1|<241>|<260>"},
      {'M', "f:<242>\\miktex\\bin\\tex.exe I=<242> L=C:\\l", "0||"},
      {'M', "f:<241>\\miktex\\bin\\tex.exe $PATH=<241>\\miktex\\bin\\ L=C:\\l", "1|<241>|C:\\l"},
      {'M', "f:<242>\\miktex\\bin\\tex.exe $PATH=<242>\\miktex\\bin L=C:\\l", "0||"},
      {'M', "f:<241>\\miktex\\bin\\tex.exe r:<241>\\miktex\\config\\md.ini I=<241> l=C:\\l", "1|<241>|C:\\l"},
      {'M', "f:C:\\T\\miktex\\bin\\tex.exe I=C:\\T L=<261>", "3|C:\\T|"},
      {'M', "f:C:\\All\\miktex\\bin\\tex.exe i=C:\\Gone I=C:\\All L=C:\\l", "0||"},  // the user's first
      {'M', "f:C:\\miktex\\bin\\tex.exe i= l=C:\\l", "0||"},  // an empty root is none, not the drive's
      // The newest version's value or none, never an older one's; "\xD5\x5C" is one character.
      {'G', "GPL8.50=C:\\gpl\\x.dll AFPL8.0=C:\\afpl\\x.dll AFPL8.54", "0|C:\\gpl"},
      {'G', "GPL10.0=C:\\gs\\bin\\gs\xD5\x5C.dll", "0|C:\\gs\\bin"},
      {'J', "J1.4=C:\\j J1.5", "1|"}, {'J', "J1.4=<246>", "0|<246>\\bin\\javaw.exe"}, {'J', "J1.4=<247>", "1|"},
      // Ghostscript joins Path unless gswin32c.exe is reachable or its directory is no one entry.
      {'A', "f:C:\\T\\gswin32c.exe $PATH=C:\\w;C:\\T GPL10.0=C:\\gs\\x.dll", "0|%SystemRoot%\\system32"},
      {'A', "GPL10.0=C:\\a;C:\\b\\x.dll", "2|%SystemRoot%\\system32"},
      {'A', "GPL10.0=C:\\gs\\x.dll AFPL8.0=<249>\\gsdll32.dll", "2|%SystemRoot%\\system32"},
      {'A', "f:<248>\\gsdll32.dll AFPL8.0=<248>\\gsdll32.dll", "0|<248>"},
  };
  const HKEY cu = HKEY_CURRENT_USER, lm = HKEY_LOCAL_MACHINE;
  const std::string m = "SOFTWARE\\MiK\\MiKTeX\\CurrentVersion\\MiKTeX", s = "SOFTWARE\\";
  const std::map<std::string, std::tuple<HKEY, std::string, const char*>> kValues = {
      {"i", {cu, m, "Install Root"}}, {"I", {lm, m, "Install Root"}}, {"l", {cu, m, "Local Root"}},
      {"L", {lm, m, "Local Root"}}, {"J", {lm, s + "JavaSoft\\Java Runtime Environment\\", "JavaHome"}},
      {"GPL", {lm, s + "GPL Ghostscript\\", "GS_DLL"}}, {"AFPL", {lm, s + "AFPL Ghostscript\\", "GS_DLL"}}};
  text::SetLocale("chinese-simplified");
  for (const auto& row : kRows) {  // each test runs in a process of its own: no variable is put back
    qmtest::TempPrefix prefix;
    for (const char* name : {"SystemDrive", "windir", "MD_LOCALROOT", "QUILLMARK_WINVER"}) ::unsetenv(name);
    ::setenv("PATH", "C:\\windows", 1);
    prefix.ChangeDir("C:\\");
    std::istringstream in(Expand(row.items));
    for (std::string item; in >> item;) {
      const size_t eq = item.find('='), tag = item.find_first_of("0123456789=");
      if (item[0] == '$') ::setenv(item.substr(1, eq - 1).c_str(), item.c_str() + eq + 1, 1);
      if (item[1] == ':') prefix.WriteFile(item.substr(2), "");
      if (item[0] == 'r') std::filesystem::permissions(prefix.HostPath(item.substr(2)), {});
      if (item[0] == '$' || item[1] == ':') continue;
      const auto& [root, key, name] = kValues.at(item.substr(0, tag));
      const std::string subkey = key + item.substr(tag, eq - tag), value = item.substr(eq + 1);
      ASSERT_EQ(eq == std::string::npos ? CreateRegistryKey(root, subkey)
                                        : WriteRegistryString(value, root, subkey, name), 0);
    }
    std::string text, local;  // what is found
    int result = 0;
    if (row.what == 'M') result = DetectMiKTeX(text, local), text += "|" + local;
    if (row.what == 'G') result = FindLatestGhostscript(text);
    if (row.what == 'J') result = RegisterJavaw("javacommand");
    if (row.what == 'A') result = AddGhostscriptToPath(EnvScope::System, PathPlacement::Start);
    if (row.what == 'J' || row.what == 'A')
      GetEnvironmentValue(text, row.what == 'J' ? "javacommand" : "Path", EnvScope::System);
    text = text.substr(0, row.what == 'A' ? text.find(';') : std::string::npos);
    EXPECT_EQ(std::to_string(result) + "|" + text, Expand(row.expected)) << row.what << row.items;
  }
}

}  // namespace
}  // namespace qm
