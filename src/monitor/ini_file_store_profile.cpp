// The settings file through the system's private-profile routines (Windows).
#include "base/utf8_text.h"
#include "monitor/ini_file.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace ravdel {
namespace {

// The value as the file holds it when that is not UTF-8: an earlier program wrote the file in
// the system's ANSI code page ("ż" as one byte of CP1250), and the system, reading UTF-8 under
// our manifest, has lost the letter. Nothing when the value is UTF-8 or not in the file.
std::optional<std::string> ansiValue(const std::string& path, std::string_view section,
                                     std::string_view key) {
  std::string bytes;
  if (readWholeFile(path, bytes) != FileRead::ok) return std::nullopt;
  const std::optional<std::string> raw = findIniValue(bytes, section, key);
  if (!raw || isUtf8(*raw)) return std::nullopt;
  return utf8FromCodePage(*raw, systemAnsiCodePage());
}

}  // namespace

std::string readIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize) {
  // The system's routines take no path longer than MAX_PATH; ours read the same values.
  std::string value = privateProfileReaches(path)
                          ? readPrivateProfileString(path, section, key, defaultValue, bufferSize)
                          : readIniValueDirect(path, section, key, defaultValue, bufferSize);
  if (std::optional<std::string> old = ansiValue(path, section, key))
    value = cutUtf8(*old, bufferSize > 0 ? bufferSize - 1 : 0);
  return value;
}

bool writeIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  if (!privateProfileReaches(path)) return writeIniValueDirect(path, section, key, value);
  // The system would write a line break into the file as it is: refuse, as our writer does.
  if (!storableIniEntry(section, key, value)) return false;
  return writePrivateProfileString(path, section, key, value);
}

}  // namespace ravdel
