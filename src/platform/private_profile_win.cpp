// GetPrivateProfileStringA and WritePrivateProfileStringA. Each call opens and closes the file.
#include <windows.h>

#include <vector>

#include "platform/private_profile.h"

namespace ravdel {

std::string readPrivateProfileString(const std::string& path, std::string_view section,
                                     std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::vector<char> buffer(bufferSize, '\0');
  const DWORD length = ::GetPrivateProfileStringA(
      std::string(section).c_str(), std::string(key).c_str(), std::string(defaultValue).c_str(),
      buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), length);
}

bool writePrivateProfileString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value) {
  return ::WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), path.c_str()) != FALSE;
}

}  // namespace ravdel
