// The install stamp. Installers look a file up by its name under the
// Pinebrook uninstall key and compare the stored digest with the file's.
#include "digest/stamp.h"

#include <string>

#include "digest/md5.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "text/path.h"

namespace qm {
namespace {

constexpr std::string_view kStampKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pinebrook";
constexpr std::string_view kStampPrefix = "MD5:";

// Statuses of RecordFileDigest.
constexpr int kStampStored = 0;
constexpr int kFileNotRead = 1;
constexpr int kNameTooLong = 2;
// 3 + the registry's own status: 4 key not created or opened
// (kValueKeyFailed), 5 value not stored (kValueFailed).
constexpr int kRegistryFailureBase = 3;

}  // namespace

int RecordFileDigest(std::string_view path) {
  // Only the backslash separates: tools/setup.exe is stamped as a whole, as
  // installers running on Windows have always named it.
  const std::string_view baseName = text::BaseName(path);
  // A name that does not fit is refused before anything is read; a cut name
  // would stamp a different file.
  if (kStampPrefix.size() + baseName.size() > kMaxValueNameLength) return kNameTooLong;

  const std::optional<std::string> digest = DigestFile(path);
  if (!digest) return kFileNotRead;

  std::string valueName(kStampPrefix);
  valueName.append(baseName);
  const int written = WriteRegistryString(*digest, HKEY_LOCAL_MACHINE, kStampKey, valueName);
  return written == 0 ? kStampStored : kRegistryFailureBase + written;
}

}  // namespace qm
