// The process environment and the settings folder on Windows.
#include <windows.h>

#include "platform/environment.h"
#include "platform/windows_text.h"

namespace ravdel {

// Asked twice, as the variable may be of any length: first for the size, then for the value.
// Through the wide function, so a value outside the ANSI code page arrives whole as UTF-8 on
// systems that ignore the manifest's UTF-8 code page.
std::string ReadEnvironmentVariable(const std::string& name) {
  const std::wstring wideName = windows::widen(name);
  const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  return windows::narrow(value);
}

// An unset APPDATA gives "\", the root folder of the current drive.
std::string settingsFolder() {
  std::string folder = ReadEnvironmentVariable("APPDATA");
  if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
  return folder;
}

}  // namespace ravdel
