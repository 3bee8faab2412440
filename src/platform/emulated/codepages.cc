// Code pages of the emulated machine: GetACP, IsDBCSLeadByteEx and the two
// conversions, over the C library's iconv, with Windows' calling conventions
// (sizes in units of the output, -1 for a NUL-terminated input that counts
// its NUL, a zero size asking for the size needed, 0 and the last error on
// failure).
//
// There are no best-fit tables here: a character that the code page cannot
// represent always becomes the default character, with or without
// WC_NO_BEST_FIT_CHARS, and *lpUsedDefaultChar says so. iconv is opened
// without //TRANSLIT or //IGNORE, so it stops at such a character (EILSEQ)
// instead of approximating it.
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/emulated/errors.h"

namespace {

constexpr UINT kDefaultAcp = 936;
constexpr UINT kCpOemCp = 1;
constexpr UINT kCpThreadAcp = 3;
constexpr DWORD kMbPrecomposed = 0x01;
constexpr DWORD kMbComposite = 0x02;
constexpr DWORD kMbUseGlyphChars = 0x04;
constexpr DWORD kWcDiscardNs = 0x10;
constexpr DWORD kWcSepChars = 0x20;
constexpr DWORD kWcDefaultChar = 0x40;
constexpr DWORD kWcCompositeCheck = 0x200;
constexpr char16_t kReplacementChar = 0xFFFD;

// The iconv name of each supported code page.
const char* IconvName(UINT codePage) {
  switch (codePage) {
    case 874:
      return "CP874";
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    case 949:
      return "CP949";
    case 950:
      return "CP950";
    case 1250:
      return "CP1250";
    case 1251:
      return "CP1251";
    case 1252:
      return "CP1252";
    case 1253:
      return "CP1253";
    case 1254:
      return "CP1254";
    case 1255:
      return "CP1255";
    case 1256:
      return "CP1256";
    case 1257:
      return "CP1257";
    case 1258:
      return "CP1258";
    case 437:
      return "CP437";
    case 850:
      return "CP850";
    case 20127:
      return "ANSI_X3.4-1968";
    case 28591:
      return "ISO-8859-1";
    case CP_UTF8:
      return "UTF-8";
    default:
      return nullptr;
  }
}

bool IsAnsiCodePage(UINT cp) {
  return cp == 874 || cp == 932 || cp == 936 || cp == 949 || cp == 950 ||
         (cp >= 1250 && cp <= 1258) || cp == CP_UTF8;
}

// The OEM code page that goes with an ANSI code page, as on Windows installs
// of that language; only those the machine supports.
UINT OemCodePageOf(UINT acp) {
  switch (acp) {
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case CP_UTF8:
      return acp;
    case 1252:
      return 437;
    default:
      return 850;
  }
}

// A concrete code page for the pseudo code pages, 0 when unsupported.
UINT ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP || codePage == kCpThreadAcp) return GetACP();
  if (codePage == kCpOemCp) return OemCodePageOf(GetACP());
  return IconvName(codePage) ? codePage : 0;
}

bool IsDoubleByte(UINT cp) {
  return cp == 932 || cp == 936 || cp == 949 || cp == 950;
}

bool IsLead(UINT cp, unsigned char b) {
  switch (cp) {
    case 932:
      return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950:
      return b >= 0x81 && b <= 0xFE;
    default:
      return false;
  }
}

// One converter per direction and code page, opened once: iconv_open loads a
// module and is far dearer than a conversion.
class Converters {
 public:
  ~Converters() {
    for (auto& [key, cd] : open_)
      if (cd != kNone) iconv_close(cd);
  }
  iconv_t Get(UINT codePage, bool toWide) {
    auto key = std::make_pair(codePage, toWide);
    auto it = open_.find(key);
    if (it == open_.end()) {
      const char* name = IconvName(codePage);
      iconv_t cd = toWide ? iconv_open("UTF-16LE", name) : iconv_open(name, "UTF-16LE");
      it = open_.emplace(key, cd).first;
    }
    return it->second;
  }
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

 private:
  std::map<std::pair<UINT, bool>, iconv_t> open_;
};

// A converter in its initial state, or Converters::kNone.
iconv_t Converter(UINT codePage, bool toWide) {
  thread_local Converters converters;
  iconv_t cd = converters.Get(codePage, toWide);
  if (cd != Converters::kNone) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

// Runs iconv over as much of the input as it takes; returns false with errno
// set at the first piece it cannot convert, the input pointer on that piece.
bool Pump(iconv_t cd, const char** in, size_t* inLeft, std::string* out) {
  char chunk[1024];
  while (*inLeft > 0) {
    char* op = chunk;
    size_t opLeft = sizeof chunk;
    char* ip = const_cast<char*>(*in);
    size_t r = iconv(cd, &ip, inLeft, &op, &opLeft);
    int err = errno;
    *in = ip;
    out->append(chunk, static_cast<size_t>(op - chunk));
    if (r == static_cast<size_t>(-1) && err != E2BIG) {
      errno = err;
      return false;
    }
  }
  // A converter may hold a character back (code page 1258 waits for a
  // combining mark that may follow): the end of the input releases it.
  char* op = chunk;
  size_t opLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &op, &opLeft);
  out->append(chunk, static_cast<size_t>(op - chunk));
  return true;
}

// Hands the result over to the caller's buffer, Windows' way: a zero size
// asks for the size needed; a buffer too small fails.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& result, Unit* buffer, int bufferSize) {
  if (result.size() > static_cast<size_t>(INT32_MAX))
    return emulated::Fail(ERROR_NOT_ENOUGH_MEMORY, 0);
  int needed = static_cast<int>(result.size());
  if (bufferSize == 0) return needed;
  if (needed > bufferSize) return emulated::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::memcpy(buffer, result.data(), result.size() * sizeof(Unit));
  return needed;
}

// What a byte that the code page does not define decodes to. Windows code
// page 1252 passes its five holes through as C1 controls.
char16_t UndefinedByteChar(UINT cp, unsigned char b) {
  if (cp == CP_UTF8) return kReplacementChar;
  if (cp == 1252 && (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)) return b;
  return u'?';
}

}  // namespace

UINT GetACP() {
  if (const char* v = std::getenv("QUILLMARK_ACP")) {
    char* end = nullptr;
    unsigned long cp = std::strtoul(v, &end, 10);
    if (end != v && *end == '\0' && cp <= UINT32_MAX && IsAnsiCodePage(static_cast<UINT>(cp)))
      return static_cast<UINT>(cp);
  }
  return kDefaultAcp;
}

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
  UINT cp = ResolveCodePage(CodePage);
  if (cp == 0) return emulated::Fail(ERROR_INVALID_PARAMETER, FALSE);
  return IsLead(cp, TestChar) ? TRUE : FALSE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  using emulated::Fail;
  UINT cp = ResolveCodePage(CodePage);
  if (cp == 0 || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr))
    return Fail(ERROR_INVALID_PARAMETER, 0);
  if (cp == CP_UTF8) {
    if (dwFlags & ~MB_ERR_INVALID_CHARS) return Fail(emulated::kErrorInvalidFlags, 0);
  } else if ((dwFlags &
              ~(kMbPrecomposed | kMbComposite | kMbUseGlyphChars | MB_ERR_INVALID_CHARS)) ||
             ((dwFlags & kMbPrecomposed) && (dwFlags & kMbComposite))) {
    return Fail(emulated::kErrorInvalidFlags, 0);
  }
  size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  iconv_t cd = Converter(cp, true);
  if (cd == Converters::kNone) return Fail(ERROR_INVALID_PARAMETER, 0);

  const char* in = lpMultiByteStr;
  size_t inLeft = length;
  std::string bytes;  // UTF-16LE
  while (!Pump(cd, &in, &inLeft, &bytes)) {
    if (dwFlags & MB_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
    // Substitute the piece iconv stopped at: a lead byte takes its would-be
    // trail byte with it unless that byte cannot be a trail byte at all.
    auto b = static_cast<unsigned char>(*in);
    size_t skip = 1;
    if (IsDoubleByte(cp) && IsLead(cp, b) && inLeft >= 2 &&
        static_cast<unsigned char>(in[1]) >= 0x40)
      skip = 2;
    if (errno == EINVAL) skip = inLeft;  // an incomplete sequence at the end
    char16_t sub = UndefinedByteChar(cp, b);
    bytes.push_back(static_cast<char>(sub & 0xFF));
    bytes.push_back(static_cast<char>(sub >> 8));
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  std::u16string wide(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return Deliver(wide, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  using emulated::Fail;
  UINT cp = ResolveCodePage(CodePage);
  if (cp == 0 || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr))
    return Fail(ERROR_INVALID_PARAMETER, 0);
  if (cp == CP_UTF8) {
    // As on Windows: UTF-8 has no default character and knows one flag only.
    if (dwFlags & ~WC_ERR_INVALID_CHARS) return Fail(emulated::kErrorInvalidFlags, 0);
    if (lpDefaultChar || lpUsedDefaultChar) return Fail(ERROR_INVALID_PARAMETER, 0);
  } else if (dwFlags & ~(kWcCompositeCheck | kWcDiscardNs | kWcSepChars | kWcDefaultChar |
                         WC_NO_BEST_FIT_CHARS)) {
    return Fail(emulated::kErrorInvalidFlags, 0);
  }
  size_t length = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(cchWideChar);
  }
  iconv_t cd = Converter(cp, false);
  if (cd == Converters::kNone) return Fail(ERROR_INVALID_PARAMETER, 0);

  // The default character: the caller's (one character of the code page,
  // which may be a double-byte one) or '?'.
  std::string_view defaultChar = "?";
  if (lpDefaultChar && lpDefaultChar[0] != '\0') {
    bool twoBytes = IsLead(cp, static_cast<unsigned char>(lpDefaultChar[0])) && lpDefaultChar[1];
    defaultChar = std::string_view(lpDefaultChar, twoBytes ? 2 : 1);
  }

  std::string units(length * 2, '\0');
  for (size_t i = 0; i < length; ++i) {
    units[2 * i] = static_cast<char>(lpWideCharStr[i] & 0xFF);
    units[2 * i + 1] = static_cast<char>(lpWideCharStr[i] >> 8);
  }
  const char* in = units.data();
  size_t inLeft = units.size();
  std::string out;
  bool usedDefault = false;
  while (!Pump(cd, &in, &inLeft, &out)) {
    // A character the code page lacks, or a lone surrogate.
    size_t index = static_cast<size_t>(in - units.data()) / 2;
    char16_t unit = lpWideCharStr[index];
    bool pair = unit >= 0xD800 && unit <= 0xDBFF && index + 1 < length &&
                lpWideCharStr[index + 1] >= 0xDC00 && lpWideCharStr[index + 1] <= 0xDFFF;
    if (cp == CP_UTF8) {
      // Only a lone surrogate can fail here.
      if (dwFlags & WC_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
      out += "\xEF\xBF\xBD";
    } else {
      out += defaultChar;
      usedDefault = true;
    }
    size_t skip = pair ? 4 : 2;
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return Deliver(out, lpMultiByteStr, cbMultiByte);
}
