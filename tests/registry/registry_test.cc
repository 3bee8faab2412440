// The registry layer and the .reg reader through their interfaces on fresh emulated machines.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/emulated/machine.h"
#include "platform/emulated/registry_store.h"
#include "registry/regfile.h"
#include "registry/regfile_parts.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qm {

using namespace std::string_literals;

void Fail(const char* call, int nth = 1, LONG error = ERROR_ACCESS_DENIED) {  // the nth call; those before pass
  for (int i = 1; i <= nth; ++i) emulated::InjectRegistryFault(call, i < nth ? ERROR_SUCCESS : error, 1);
}

// A value exactly as given (a string's terminator included), past the code under test.
void Put(const std::string& sub, const char* name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, sub.c_str(), &key), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

// HKCU\`sub` and below: "[subkey]" before its values, each "name=text;" (REG_SZ) or "name=type:bytes;".
std::string Dump(const std::string& sub) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_READ, &key)) return "";
  std::string s = sub.size() > 2 ? "[" + sub.substr(2) + "]" : "", name(600, 0), data(70000, 0);
  for (DWORD i = 0, n = 600, size = 70000, type = 0;
       !RegEnumValueA(key, i, name.data(), &n, 0, &type, (BYTE*)data.data(), &size); ++i, n = 600, size = 70000)
    s += name.substr(0, n) + "=" + (type == REG_SZ ? "" : std::to_string(type) + ":") +
         data.substr(0, size - (type == REG_SZ)) + ";";
  for (DWORD i = 0, n = 600; !RegEnumKeyExA(key, i, name.data(), &n, 0, 0, 0, 0); ++i, n = 600)
    s += Dump(sub + "\\" + name.substr(0, n));
  return RegCloseKey(key), s;
}

TEST(RegistryPaths, NameARootOnlyByItsFullNameAndCompareVersionsAsNumbers) {
  const std::string k(kMaxSubkeyLength, 'k'), no = "untouched";
  std::vector<std::tuple<std::string, HKEY, std::string>> cases = {
      {"HKEY_USERS\\", HKEY_USERS, ""}, {"HKEY_USERS\\a\\\\b\\", HKEY_USERS, "a\\\\b\\"},
      {"HKEY_CURRENT_USER\\" + k, HKEY_CURRENT_USER, k}, {"HKEY_CURRENT_USER\\k" + k, nullptr, no}};
  for (const char* text : {" HKEY_CURRENT_USER\\S", "HKEY_CURRENT_USER \\S", "HKEY_CURRENT_XXXX\\S", "HKLM\\S", "HKCU\\S",
                           "HKEY_LOCAL_MACHINEX\\S", "ABCDEFGHIJ\\S", "HKEY_LOCAL_MACHINE", "HKEY_USERS/S", "", "\\S"})
    cases.emplace_back(text, nullptr, no);
  for (auto [root, name] : {std::pair{HKEY_CLASSES_ROOT, "hKeY_ClAsSeS_RoOt"}, {HKEY_CURRENT_USER, "Hkey_Current_User"},
                            {HKEY_LOCAL_MACHINE, "HKEY_local_MACHINE"}, {HKEY_USERS, "HKEY_UsErS"},
                            {HKEY_CURRENT_CONFIG, "hkey_CURRENT_cONFIG"}, {HKEY_DYN_DATA, "hkey_dYN_data"},
                            {HKEY_PERFORMANCE_DATA, "HKEY_perfORMANCE_data"}}) {  // as here, in capitals, in small
    std::string upper = name, lower = name;
    for (size_t i = 0; i < upper.size(); ++i) upper[i] = char(toupper(name[i])), lower[i] = char(tolower(name[i]));
    for (const std::string& spelled : {std::string(name), upper, lower}) cases.emplace_back(spelled + "\\S\\k", root, "S\\k");
  }
  for (const auto& [path, root, subkey] : cases) {
    std::string out = no;
    EXPECT_EQ(ParseRegistryPath(out, path), root) << path.substr(0, 30);
    EXPECT_EQ(out, subkey) << path.substr(0, 30);
  }
  for (auto [a, b] : {std::pair{"10.0", "8.50"}, {"17", "1.8.0_301"}, {"1.10", "1.9"}, {"1.4.2", "1.4"}, {"x", "1"},
                      {"1.8.0_301", "1.8.0_45"}, {"9.56b", "9.56a"}, {"10", "007"}, {"19", "2"}, {"1.1", "1.01"},
                      {"100000000000000000001", "99999999999999999999"}})  // equal as numbers: the bytes decide
    EXPECT_TRUE(CompareVersionNames(a, b) > 0 && CompareVersionNames(b, a) < 0 && !CompareVersionNames(a, a)) << a;
}

TEST(RegistryOperations, GiveTheirResultCodesAndDoNothingElse) {
  qmtest::TempPrefix prefix;
  const std::string v = "HKEY_LOCAL_MACHINE\\V\\", none = "untouched";
  for (std::string sub : {"E\\10", "E\\9", "F\\2.0"}) WriteRegistryPathValue(sub.substr(2), v + sub, "Home");
  CreateRegistryPathKey(v + "F\\3.0"), CreateRegistryPathKey(v + "None");  // without the value
  const std::tuple<std::string, bool, const char*, int, LONG, int, std::string> latest[] = {  // version order?
      {"E", 0, "", 0, 0, 0, "9"}, {"E", 1, "", 0, 0, 0, "10"}, {"F", 0, "", 0, 0, 1, "3.0"}, {"G", 0, "", 0, 0, 11, none},
      {"E", 0, "RegOpenKeyExA", 2, 5, 2, "9"}, {"None", 0, "", 0, 0, 12, ""},
      {"E", 1, "RegEnumKeyExA", 1, ERROR_MORE_DATA, 0, "9"},  // a name too long for the buffer is skipped
      {"E", 1, "RegEnumKeyExA", 1, ERROR_KEY_DELETED, 12, ""}};  // another error would come for ever: the end
  for (const auto& [sub, version, call, nth, error, result, name] : latest) {
    std::string out = none, found = none;
    if (*call) Fail(call, nth, error);
    EXPECT_EQ(ReadLatestSubkeyValue(out, found, v + sub, "Home", SubkeyOrder(version)), result) << sub << call;
    EXPECT_EQ(found + "|" + out, name + "|" + (result ? none : name + '\0')) << sub << call;
  }
  const std::string p = "HKEY_CURRENT_USER\\S\\K", q = "HKEY_CURRENT_USER\\S\\Q", r = "HKCU\\S", b = "HKEY_CURRENT_USER\\B";
  Put("S\\K", "expand", REG_EXPAND_SZ, "%A%\0"s);
  Put("S\\K", "plain", REG_SZ, "x\0"s);
  Put("B", "big", REG_BINARY, std::string(kValueCapacity + 1, 'b'));
  Fail("SHDeleteKeyA");  // for the first tree deletion that asks: never one of a root
  const RegistryKey key = OpenRegistryPathKey(p, false);
  std::string out = "untouched";
  RegistryValue t;
  const int cases[][2] = {
      {ReadRegistryPathValue(out, r, "n"), 10}, {ReadRegistryPathTypedValue(t, r, "n"), 10},  // no root
      {WriteRegistryPathValue("v", r, "n"), 10}, {RewriteRegistryPathValue("v", r, "n"), 10},
      {WriteRegistryPathTypedString("v", REG_SZ, r, "n"), 10}, {CreateRegistryPathKey(r), 1},
      {DeleteRegistryPathKey(r), 1}, {DeleteRegistryPathValue(r, "n"), 1}, {CreateRegistryKey(nullptr, "S"), 1},
      {DeleteRegistryKey(nullptr, "S"), 1}, {ReadRegistryPathValue(out, q, "n"), 1},  // missing key, value
      {ReadRegistryPathValue(out, p, "n"), 2}, {ReadRegistryPathValue(out, b, "big"), 2},  // never cut
      {ReadRegistryValue(t, HKEY_CURRENT_USER, "S\\K", "plain", 1), 2},
      {DeleteRegistryPathValue(q, "n"), 1}, {WriteRegistryPathTypedString("v", 3, q, "n"), 2},  // no key made
      {bool(OpenRegistryPathKey(q, true)), 0}, {bool(OpenExistingRegistryPathKey(q)), 0},
      {WriteKeyString("w", OpenRegistryPathKey(p, true).Get(), "w"), 1},  // read only
      {DeleteRegistryPathKey("HKEY_CURRENT_USER\\"), 2}, {DeleteRegistryKey(HKEY_USERS, "\\\\"), 2},  // a root
      {CreateRegistryPathKey(p + "\\Sub"), 0}, {DeleteRegistryPathKey(p + "\\Sub"), 2},  // the armed fault
      {DeleteRegistryPathKey(p + "\\Sub"), 0}, {DeleteRegistryPathKey(p + "\\Sub"), 2},
      {(Fail("RegQueryValueExA"), RewriteRegistryPathValue("y", p, "expand")), 2},  // type unknown: nothing
      {RewriteRegistryPathValue("%B%", p, "expand"), 0}, {RewriteRegistryPathValue("y", p, "plain"), 0},
      {RewriteRegistryPathValue("z", p, "new"), 0}, {ReadRegistryPathTypedValue(t, p, "expand"), 0},
      {WriteRegistryPathTypedString("%C%", REG_EXPAND_SZ, p, "typed"), 0},
      {WriteRegistryPathValue("home", p, ""), 0}, {ReadRegistryPathValue(out, p, ""), 0},  // the default value
      {DeleteRegistryPathValue(p, ""), 0}, {DeleteRegistryPathValue(p, ""), 2},
      {WriteKeyMultiString("a\0b\0\0c\0\0"s, key.Get(), "m1"), 0},  // up to the first pair of zero bytes
      {WriteKeyMultiString("\0\0a\0\0"s, key.Get(), "m2"), 0}, {WriteKeyMultiString("a\0b\0"s, key.Get(), "m3"), 1}};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i][0], cases[i][1]) << "case " << i;
  EXPECT_EQ(out + std::to_string(t.type) + t.bytes, "home\0" "2%B%\0"s);
  EXPECT_EQ(Dump("S"), "[K]expand=2:%B%\0;plain=y;new=z;typed=2:%C%\0;m1=7:a\0b\0\0;m2=7:\0\0;"s);
  Fail("RegCloseKey", 1, ERROR_INVALID_HANDLE);  // a holder never closes a root
  EXPECT_EQ(OpenRegistryPathKey("HKEY_CURRENT_USER\\", true).Get(), HKEY_CURRENT_USER);
  EXPECT_EQ(emulated::TakeInjectedFault("RegCloseKey"), ERROR_INVALID_HANDLE);
}

TEST(RegistrationFiles, AreReadWithinTheirLimitsAndCarriedOutAsFarAsTheyCanBe) {
  auto W = [](std::u16string_view t, std::string b = "") { for (char16_t c : t) b += {char(c), char(c >> 8)}; return b; };
  auto Hex = [](size_t n, std::string list = "") {  // n bytes 5a, a thousand a line
    for (size_t i = 1; i <= n; ++i) list += i == n ? "5a\n" : i % 1000 ? "5a," : "5a,\\\n  ";
    return list;
  };
  const std::tuple<std::string, int, std::string, std::string> lists[] = {  // ParseHexBytes: result, bytes, next line
      {"01,\\\n   02,\\\n03\nx\n", 0, "\x01\x02\x03", "x\n"}, {"01,\\\n", 2, "", ""}, {"01,\\\n02\0\nx\n"s, 2, "", "x\n"},
      {Hex(40000) + "x\n", 3, "", "x\n"}, {Hex(32764) + "x\n", 0, std::string(32764, 'Z'), "x\n"},
      {"01,\\\n" + std::string(32764, ' ') + "02\nx\n", 0, "\x01\x02", "x\n"},  // a line of 32,767
      {"01,\\\n" + std::string(32765, ' ') + "02\nx\n", 3, "", "x\n"}};
  for (const auto& [list, result, bytes, next] : lists) {
    const std::string first = list.substr(0, list.find('\n') + 1), rest = list.substr(first.size());
    text::TextReader reader(fmemopen(const_cast<char*>(rest.data()), rest.size(), "rb"));
    RegLineSource source(reader);
    std::string out, line;
    EXPECT_EQ(ParseHexBytes(out, first, source), result) << first.substr(0, 20);
    EXPECT_EQ(result ? bytes : out, bytes) << first.substr(0, 20);
    EXPECT_EQ(ReadRegLine(line, kRegLineRequest, source) == LineRead::End ? "" : line, next);
  }

  std::string m;  // WideMultiStringToAnsi: entries ended by one zero, the list by two, the end as zeros
  EXPECT_TRUE(!WideMultiStringToAnsi(m, u"\0a\0\0b"s) && m == "\0a\0\0"s && !WideMultiStringToAnsi(m, u"a"s) && m == "a\0\0"s);
  qmtest::TempPrefix prefix;
  const std::string k = "[HKEY_CURRENT_USER\\T]\n", a = "[HKEY_CURRENT_USER\\T\\A]", b = "[HKEY_CURRENT_USER\\T\\B]",
                    n(512, 'n'), s(32766, 's'), x(kRegLineRequest - 9, 'x');  // "v"="x" + x: the longest line
  const std::u16string bom = u"\uFEFF" + std::u16string(k.begin(), k.end());
  // Import (0) or removal (1) of a file: its result, the registry after it, a call failing or the code page.
  const std::tuple<bool, std::string, int, std::string, const char*> cases[] = {
      {0, k + "\"s\"=\"C:\\Tools\"\n\"u\"=\"open\n\"n\" =\"x\"\n\"m\"= \"x\"\n\"q\" \"x\"\n\"a\\\\b\"=\"x\" ;\n\"\"=\"e\"\n@=\"d\"\n"
          "@ =\"x\"\n@\n\"c\"=dword:0AbCdEf12\n\"d\"=DWORD:1\n\"e\"=dword:\n\"h\"=hex:01,,02\n\"i\"=hex(b):01\n"
          "\"j\"=hex(2):41,00,42\n\"o\"=hex(7):61,00,00,00,00,00,62,00\n", 0,
       "s=C:;u=open\n;a\\b=x;=d;c=4:\xf1\xde\xbc\x0a;j=2:AB\0;o=7:a\0\0;"s, ""},
      {0, "\"e\"=\"x\"\n" + a + "\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\T\\C\n\"c\"=\"3\"\n" + k + "\"b\"=\"2\"\n", 2, "b=2;",
       "RegCreateKeyExA"},  // sections without a key: none yet, a key that cannot be made, a malformed line
      {0, k + "\"a\"=\"1\"\n\"b\"=\"2\"\n", 2, "b=2;", "RegSetValueExA"},
      {0, "[HKEY_CURRENT_USER\\T\\K\x81[\x81]x]\n\"n\x81\\\"=\"d\x81\\\\\\\x81\"\n\"z\"=\"\x81\"", 0,
       "[K\x81[\x81]x]n\x81\\=d\x81\\\\\x81;z=\x81;", ""},  // GBK trail bytes 5B, 5D, 5C: no bracket, no escape
      {0, W(bom + u"\"m\"=hex(7):3d,d8,00,de,00,00,00,dc\r\n\"n\"=hex(7):3d,d8,00,de,00,00,61,00\r\n"), 2,
       "n=7:\xF0\x9F\x98\x80\0a\0\0;"s, ".65001"},  // a surrogate pair whole, a lone one not at all
      {0, k + "\"a\"=\"1\"\r\n\x1A\x1A", 0, "a=1;", ""}, {0, W(bom + u"\"a\"=\"1\"\r\n\u001A\u001A"), 0, "a=1;", ""},
      {0, W(bom + u"\"a\"=\"1\"\r\n\u001A\"b\"=\"2\"\r\n"), 2, "a=1;", ""}, {0, "\xFE\xFF" + W(bom.substr(1)), 2, "", ""},
      {0, k + "\"c\"=hex:01,\\\r\n  02\0\r\n\"a\"=\"1\"\r\n[HKEY_CURRENT_USER\\T\\K\0]\r\n\"b\"=\"2\"\r\n"s, 2, "a=1;", ""},
      {0, W(bom + u"\"b\"=\"x\0y\"\r\n\"a\"=\"1\"\r\n[HKEY_CURRENT_USER\\T\\K\0]\r\n\"c\"=\"3\"\r\n"s), 2, "a=1;", ""},
      {0, W(bom + u"\"u\"=\"open\r\n\"x\"=\"\u041A\u4E1A\"\r\n\"c\"=\"3\"\r") + "x", 0, "u=open\r;x=\xA7\xAC\xD2\xB5;c=3;", ""},
      {0, W(bom + u"\"x\"=hex:01,\\\r\n  \U0001F855\r\n\"y\"=hex(2):3e,d8,55,dc\r\n\"b\"=\"2\"\r\n"), 2, "b=2;", ""},
      {0, k + "\"a\"=\"x\"" + x + "\n\"long\"=\"" + x + "\"tail\"=\"\"\n\"c\"=\"1\"\n\"b\"=\"x\"x" + x + "\n[HKEY_CURRENT_USER\\T\\" +
          x + "]\n\"e\"=\"1\"\n" + k + "\"d\"=\"x\"x" + x, 2, "a=x;c=1;d=x;", ""},
      // Names, strings and hex lists up to their limits are stored, over them skipped whole.
      {0, k + "\"" + n + "\"=\"x\"\n\"s\"=\"" + s + "\"\n", 0, n + "=x;s=" + s + ";", ""},
      {0, k + "\"" + n + "n\"=\"x\"\n\"s\"=\"" + s + "s\"\n\"e\"=\"" + s + "\\\\\"\n\"h\"=hex:" + Hex(32765) +
          "\"after\"=\"1\"\n", 2, "after=1;", ""},
      // Removal: only what is marked, nothing written, no root touched (A holds a1, B b1 and b2).
      {1, a + "--uninstall\n\"b1\"=\"1\"--uninstall\n" + b + "\n\"b2\"=\"2\"--uninstall\n", 0, "[B]b1=1;", ""},
      {1, a + "\n\"a1\"=\"x --uninstall\"\n" + b + "\n\"b2\"=hex:01,\\--uninstall\n\"b1\"=dword:2 --uninstall\n", 0,
       "[A]a1=1;[B]", ""},
      {1, "[HKEY_CURRENT_USER\\T\\None]--uninstall\n\"b1\"=\"1\"--uninstall\n[HKEY_CURRENT_USER\\T\\A\\New]\n\"x\"=\"1\""
          "--uninstall\n" + a + "\n\"a1\"=\"2\"\n\"new\"=dword:1\n[HKEY_CURRENT_USER\\T\\B\n\"a1\"=\"1\"--uninstall\n" + a +
          " --uninstall\n" + b + "--UNINSTALL\n\"b1\"=\"1\"--Uninstall\n", 0, "[A]a1=1;[B]b1=1;b2=1;", ""}};
  for (const auto& [removal, bytes, result, dump, setup] : cases) {
    SHDeleteKeyA(HKEY_CURRENT_USER, "T");
    for (const char* v : {"Aa1", "Bb1", "Bb2"}) if (removal) Put("T\\"s + *v, v + 1, REG_SZ, "1\0"s);
    text::SetLocale(*setup == '.' ? setup : "chinese-simplified");
    if (*setup && *setup != '.') Fail(setup);
    prefix.WriteFile("C:\\t.reg", bytes);
    EXPECT_EQ(ProcessRegFile("C:\\t.reg", RegFileMode(removal)), result) << bytes.substr(0, 50);
    EXPECT_EQ(Dump("T"), dump) << bytes.substr(0, 50);
  }
  // The real files give the results they give today: these fail {import, removal}, the others do not.
  const std::map<std::string, std::pair<int, int>> failing = {{"16-kubsonxtm-privacy-registry.reg", {2, 0}},
      {"41-far-ftp-techinfo-rus-utf16.reg", {2, 2}}, {"42-explorerpatcher-settings-utf16.reg", {2, 2}}};
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QM_SHARED_TESTDATA "/reg/real")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".reg" || ++files == 0) continue;
    std::filesystem::copy_file(entry.path(), prefix.HostPath("C:\\t.reg"), std::filesystem::copy_options::overwrite_existing);
    const int imported = ProcessRegFile("C:\\t.reg", RegFileMode::Import);
    EXPECT_EQ(std::pair(imported, ProcessRegFile("C:\\t.reg", RegFileMode::Removal)),
              failing.count(name) ? failing.at(name) : std::pair(0, 0)) << name;
  }
  EXPECT_EQ(files, 42);
  text::SetLocale("C");
}

}  // namespace qm
