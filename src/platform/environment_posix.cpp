// The process environment and the user's folders on POSIX systems.
#include <cstdlib>

#include "platform/environment.h"

namespace ravdel {

std::string ReadEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

std::string settingsFolder() {
  std::string folder = ReadEnvironmentVariable("APPDATA");
  if (folder.empty()) {
    folder = ReadEnvironmentVariable("XDG_CONFIG_HOME");
    // The base-directory convention ignores a relative value; honouring it would move the
    // settings with the current directory.
    if (!folder.empty() && folder.front() != '/') folder.clear();
  }
  if (folder.empty()) folder = ReadEnvironmentVariable("HOME") + "/.config";
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace ravdel
