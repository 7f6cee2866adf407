// The settings file through the system's private-profile routines (Windows).
#include "monitor/ini_file.h"
#include "platform/private_profile.h"

namespace ravdel {

std::string readIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize) {
  return readPrivateProfileString(path, section, key, defaultValue, bufferSize);
}

bool writeIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  // The system would write a line break into the file as it is: refuse, as our writer does.
  if (!storableIniEntry(section, key, value)) return false;
  return writePrivateProfileString(path, section, key, value);
}

}  // namespace ravdel
