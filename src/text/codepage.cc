// Locale names, the code page in force, and the case rules that follow it.
#include "text/codepage.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/win32api.h"

namespace text {
namespace {

constexpr unsigned kCLocale = 0;
constexpr unsigned kUtf8 = 65001;

// The locale in force: its code page (0 for the C locale).
unsigned codePageInForce = kCLocale;

struct NameAndCodePage {
  const char* name;
  unsigned codePage;
};

// Languages as the Windows C runtime names them (full names and the
// three-letter abbreviations), with the ANSI code page of each.
constexpr NameAndCodePage kLanguages[] = {
    {"chinese", 936},
    {"chinese-simplified", 936},
    {"chs", 936},
    {"chinese-traditional", 950},
    {"cht", 950},
    {"chinese-hongkong", 950},
    {"zhh", 950},
    {"chinese-singapore", 936},
    {"zhi", 936},
    {"japanese", 932},
    {"jpn", 932},
    {"korean", 949},
    {"kor", 949},
    {"english", 1252},
    {"american", 1252},
    {"american english", 1252},
    {"american-english", 1252},
    {"english-american", 1252},
    {"english-us", 1252},
    {"english-usa", 1252},
    {"english-uk", 1252},
    {"english-can", 1252},
    {"english-aus", 1252},
    {"english-nz", 1252},
    {"australian", 1252},
    {"canadian", 1252},
    {"enu", 1252},
    {"eng", 1252},
    {"ena", 1252},
    {"enc", 1252},
    {"enz", 1252},
    {"eni", 1252},
    {"french", 1252},
    {"fra", 1252},
    {"german", 1252},
    {"deu", 1252},
    {"italian", 1252},
    {"ita", 1252},
    {"spanish", 1252},
    {"esp", 1252},
    {"esn", 1252},
    {"dutch", 1252},
    {"nld", 1252},
    {"portuguese", 1252},
    {"ptg", 1252},
    {"ptb", 1252},
    {"swedish", 1252},
    {"sve", 1252},
    {"norwegian", 1252},
    {"nor", 1252},
    {"danish", 1252},
    {"dan", 1252},
    {"finnish", 1252},
    {"fin", 1252},
    {"icelandic", 1252},
    {"isl", 1252},
    {"czech", 1250},
    {"csy", 1250},
    {"hungarian", 1250},
    {"hun", 1250},
    {"polish", 1250},
    {"plk", 1250},
    {"slovak", 1250},
    {"sky", 1250},
    {"russian", 1251},
    {"rus", 1251},
    {"greek", 1253},
    {"ell", 1253},
    {"turkish", 1254},
    {"trk", 1254},
    {"hebrew", 1255},
    {"heb", 1255},
    {"arabic", 1256},
    {"ara", 1256},
    {"lithuanian", 1257},
    {"lth", 1257},
    {"latvian", 1257},
    {"lvi", 1257},
    {"estonian", 1257},
    {"eti", 1257},
    {"vietnamese", 1258},
    {"vit", 1258},
    {"thai", 874},
    {"tha", 874},
    // Locale names of the form language-REGION.
    {"zh-cn", 936},
    {"zh-sg", 936},
    {"zh-tw", 950},
    {"zh-hk", 950},
    {"zh-mo", 950},
    {"ja-jp", 932},
    {"ko-kr", 949},
    {"en-us", 1252},
    {"en-gb", 1252},
    {"de-de", 1252},
    {"fr-fr", 1252},
    {"ru-ru", 1251},
    {"pl-pl", 1250},
    {"cs-cz", 1250},
    {"el-gr", 1253},
    {"tr-tr", 1254},
    {"he-il", 1255},
    {"ar-sa", 1256},
    {"vi-vn", 1258},
    {"th-th", 874},
};

// Countries after "Language_": only Chinese depends on the country; the
// others need only be names the runtime knows.
constexpr NameAndCodePage kChineseCountries[] = {
    {"china", 936},         {"prc", 936},       {"people's republic of china", 936},
    {"singapore", 936},     {"taiwan", 950},    {"hong kong", 950},
    {"hong kong sar", 950}, {"hong-kong", 950}, {"macau", 950},
    {"macao", 950},         {"macao sar", 950},
};
constexpr const char* kCountries[] = {
    "us",
    "usa",
    "united states",
    "america",
    "united-states",
    "uk",
    "united kingdom",
    "united-kingdom",
    "britain",
    "great britain",
    "england",
    "canada",
    "australia",
    "new zealand",
    "ireland",
    "japan",
    "korea",
    "south korea",
    "germany",
    "france",
    "italy",
    "spain",
    "netherlands",
    "holland",
    "portugal",
    "brazil",
    "sweden",
    "norway",
    "denmark",
    "finland",
    "iceland",
    "czech republic",
    "czech",
    "czechia",
    "hungary",
    "poland",
    "slovakia",
    "russia",
    "greece",
    "turkey",
    "israel",
    "saudi arabia",
    "lithuania",
    "latvia",
    "estonia",
    "vietnam",
    "viet nam",
    "thailand",
    "austria",
    "switzerland",
    "belgium",
    "mexico",
    "argentina",
    "south africa",
    "india",
    "chn",
    "twn",
    "hkg",
    "sgp",
    "jpn",
    "kor",
    "gbr",
    "can",
    "aus",
    "deu",
    "fra",
};

// Code pages the machine can convert, besides 0.
constexpr unsigned kKnownCodePages[] = {874,  932,  936,  949,  950, 1250, 1251,  1252,  1253, 1254,
                                        1255, 1256, 1257, 1258, 437, 850,  20127, 28591, kUtf8};

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return out;
}

bool IsKnownCodePage(unsigned cp) {
  for (unsigned k : kKnownCodePages)
    if (k == cp) return true;
  return false;
}

// The code page after the dot: a number, ACP/OCP, or UTF-8.
std::optional<unsigned> ParseCodePage(const std::string& s) {
  if (s == "acp") return GetACP();
  if (s == "ocp") {
    unsigned acp = GetACP();
    return acp == 1252 ? 437 : acp >= 1250 && acp <= 1258 ? 850 : acp;
  }
  if (s == "utf8" || s == "utf-8") return kUtf8;
  if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  unsigned cp = static_cast<unsigned>(std::stoul(s));
  if (!IsKnownCodePage(cp)) return std::nullopt;
  return cp;
}

std::optional<unsigned> LanguageCodePage(const std::string& language) {
  for (const auto& l : kLanguages)
    if (language == l.name) return l.codePage;
  return std::nullopt;
}

// The case rules of one code page: the lower-case byte of each byte, and
// which bytes lead a double-byte character.
struct CaseTable {
  std::array<unsigned char, 256> lower;
  std::array<bool, 256> lead;
};

// Lower case of the upper-case letters that the single-byte Windows code
// pages hold: Latin-1, Latin Extended-A and -B (Vietnamese), Greek, Cyrillic.
char16_t LowerUnit(char16_t c) {
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  if (c == 0x1A0 || c == 0x1AF) return static_cast<char16_t>(c + 1);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  if (c == 0x490) return 0x491;
  return c;
}

CaseTable BuildCaseTable(unsigned cp) {
  CaseTable t;
  for (unsigned b = 0; b < 256; ++b) {
    t.lower[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
    t.lead[b] = false;
  }
  if (cp == kCLocale || cp == kUtf8) return t;
  for (unsigned b = 0x80; b < 256; ++b) t.lead[b] = IsDBCSLeadByteEx(cp, static_cast<BYTE>(b)) != 0;
  bool doubleByte = false;
  for (bool l : t.lead) doubleByte = doubleByte || l;
  if (doubleByte) return t;  // only A-Z change case in a double-byte code page
  // A single-byte code page: each upper-case letter it holds lowers to the
  // byte of its lower-case letter, when the code page holds that too.
  for (unsigned b = 0x80; b < 256; ++b) {
    char in = static_cast<char>(b);
    WCHAR wide = 0;
    if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, &in, 1, &wide, 1) != 1) continue;
    auto lowerWide = static_cast<WCHAR>(LowerUnit(static_cast<char16_t>(wide)));
    if (lowerWide == wide) continue;
    char out[4];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, &lowerWide, 1, out, sizeof out, nullptr,
                                &usedDefault);
    if (n == 1 && !usedDefault) t.lower[b] = static_cast<unsigned char>(out[0]);
  }
  return t;
}

// The table of the locale in force, built once per code page.
const CaseTable& Table() {
  static unsigned builtFor = ~0u;
  static CaseTable table;
  if (builtFor != codePageInForce) {
    table = BuildCaseTable(codePageInForce);
    builtFor = codePageInForce;
  }
  return table;
}

// Length of the character at `i`: 2 for a lead byte with a byte after it.
size_t CharLength(const CaseTable& t, std::string_view s, size_t i) {
  return t.lead[static_cast<unsigned char>(s[i])] && i + 1 < s.size() ? 2 : 1;
}

}  // namespace

std::optional<unsigned> CodePageOfLocale(std::string_view name) {
  std::string n = Lowered(name);
  if (n == "c") return kCLocale;
  // The user's default locale: the machine's ANSI code page.
  if (n.empty()) return GetACP();
  size_t dot = n.find('.');
  std::string head = n.substr(0, dot);
  std::optional<unsigned> fromDot;
  if (dot != std::string::npos) {
    fromDot = ParseCodePage(n.substr(dot + 1));
    if (!fromDot) return std::nullopt;
    if (head.empty()) return fromDot;  // ".936", ".ACP", ".utf8"
  }
  size_t underscore = head.find('_');
  std::optional<unsigned> cp = LanguageCodePage(head.substr(0, underscore));
  if (!cp) return std::nullopt;
  if (underscore != std::string::npos) {
    std::string country = head.substr(underscore + 1);
    bool known = false;
    if (*cp == 936 || *cp == 950) {
      for (const auto& c : kChineseCountries)
        if (country == c.name) {
          cp = c.codePage;
          known = true;
        }
    }
    for (const char* c : kCountries) known = known || country == c;
    if (!known) return std::nullopt;
  }
  return fromDot ? fromDot : cp;
}

bool SetLocale(std::string_view name) {
  std::optional<unsigned> cp = CodePageOfLocale(name);
  if (!cp) return false;
  codePageInForce = *cp;
  return true;
}

unsigned CurrentCodePage() {
  return codePageInForce;
}

bool IsLeadByte(unsigned char byte) {
  return Table().lead[byte];
}

void LowerInPlace(std::string& s) {
  const CaseTable& t = Table();
  for (size_t i = 0; i < s.size();) {
    size_t n = CharLength(t, s, i);
    if (n == 1) s[i] = static_cast<char>(t.lower[static_cast<unsigned char>(s[i])]);
    i += n;
  }
}

std::string ToLower(std::string_view s) {
  std::string out(s);
  LowerInPlace(out);
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  std::string la = ToLower(a), lb = ToLower(b);
  size_t n = la.size() < lb.size() ? la.size() : lb.size();
  int c = std::memcmp(la.data(), lb.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return la.size() == lb.size() ? 0 : la.size() < lb.size() ? -1 : 1;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Lowered(a) == Lowered(b);
}

size_t FindNoCase(std::string_view haystack, std::string_view needle) {
  return LowerText(haystack).Find(needle);
}

LowerText::LowerText(std::string_view text) : lower_(ToLower(text)), boundary_(text.size() + 1) {
  const CaseTable& t = Table();
  // Character boundaries: a match must begin and end on one, so that a
  // trail byte is never taken for a character of its own.
  for (size_t i = 0; i < text.size(); i += CharLength(t, text, i)) boundary_[i] = true;
  boundary_[text.size()] = true;
}

size_t LowerText::Find(std::string_view needle, size_t from) const {
  const std::string n = ToLower(needle);
  if (from > lower_.size()) return std::string_view::npos;
  if (n.empty()) return from;
  for (size_t pos = lower_.find(n, from); pos != std::string::npos; pos = lower_.find(n, pos + 1))
    if (boundary_[pos] && boundary_[pos + n.size()]) return pos;
  return std::string_view::npos;
}

std::optional<std::string> WideToCodePage(std::u16string_view wide) {
  return WideToCodePage(wide, codePageInForce);
}

std::optional<std::string> WideToCodePage(std::u16string_view wide, unsigned codePage) {
  if (wide.empty()) return std::string();
  if (codePage == kCLocale) {
    // The C locale takes the code units 0 to 255 as bytes.
    std::string out;
    out.reserve(wide.size());
    for (char16_t c : wide) {
      if (c > 0xFF) return std::nullopt;
      out.push_back(static_cast<char>(c));
    }
    return out;
  }
  if (wide.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
  auto length = static_cast<int>(wide.size());
  // UTF-8 knows neither best fit nor a default character: invalid input
  // (a lone surrogate) must fail instead of becoming U+FFFD.
  bool utf8 = codePage == kUtf8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = utf8 ? nullptr : &usedDefault;
  const auto* src = reinterpret_cast<LPCWCH>(wide.data());
  int size = WideCharToMultiByte(codePage, flags, src, length, nullptr, 0, nullptr, usedDefaultPtr);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, flags, src, length, out.data(), size, nullptr,
                          usedDefaultPtr) != size ||
      usedDefault)
    return std::nullopt;
  return out;
}

}  // namespace text
