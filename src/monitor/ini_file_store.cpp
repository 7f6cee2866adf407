// The settings file through our own INI reader and writer, where the system has none.
#include <utility>

#include "monitor/ini_file.h"
#include "platform/files.h"

namespace ravdel {

std::string readIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize) {
  std::string bytes;
  std::optional<std::string> found;
  if (readWholeFile(path, bytes) == FileRead::ok) found = findIniValue(bytes, section, key);
  std::string result = found ? std::move(*found) : std::string(defaultValue);
  if (result.size() >= bufferSize) result.resize(bufferSize > 0 ? bufferSize - 1 : 0);
  return result;
}

bool writeIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  // A line break in a value would write a line of its own: refuse rather than corrupt the file.
  if (!storableIniEntry(section, key, value)) return false;
  std::string bytes;
  if (readWholeFile(path, bytes) == FileRead::failed) return false;
  return replaceFileContents(path, withIniValue(bytes, section, key, value));
}

}  // namespace ravdel
