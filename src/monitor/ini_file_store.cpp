// The settings file through our own INI reader and writer, where the system has none.
#include "monitor/ini_file.h"

namespace ravdel {

std::string readIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize) {
  return readIniValueDirect(path, section, key, defaultValue, bufferSize);
}

bool writeIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  return writeIniValueDirect(path, section, key, value);
}

}  // namespace ravdel
