// GetPrivateProfileStringW and WritePrivateProfileStringW: the path and the text go to the
// system in UTF-16, so a profile folder outside the ANSI code page works also where the
// manifest's UTF-8 code page does not (Windows 10 before 1903). Each call opens and closes the
// file; its bytes are text of the process's ANSI code page (UTF-8 under the manifest).
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/private_profile.h"
#include "platform/windows_text.h"

namespace ravdel {

bool privateProfileReaches(const std::string& path) {
  return windows::widen(path).size() < MAX_PATH;
}

std::string readPrivateProfileString(const std::string& path, std::string_view section,
                                     std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::vector<wchar_t> buffer(bufferSize, L'\0');
  const DWORD length =
      ::GetPrivateProfileStringW(windows::widen(section).c_str(), windows::widen(key).c_str(),
                                 windows::widen(defaultValue).c_str(), buffer.data(),
                                 static_cast<DWORD>(buffer.size()), windows::widen(path).c_str());
  return windows::narrow(std::wstring_view(buffer.data(), length));
}

bool writePrivateProfileString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value) {
  return ::WritePrivateProfileStringW(windows::widen(section).c_str(), windows::widen(key).c_str(),
                                      windows::widen(value).c_str(),
                                      windows::widen(path).c_str()) != FALSE;
}

unsigned systemAnsiCodePage() {
  wchar_t text[16] = {};
  DWORD size = sizeof text;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage",
                     L"ACP", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS) {
    const unsigned long page = std::wcstoul(text, nullptr, 10);
    if (page != 0 && page != CP_UTF8) return static_cast<unsigned>(page);
  }
  const UINT process = ::GetACP();
  return process != CP_UTF8 ? process : 1252;  // the Western page, the most common one
}

std::string utf8FromCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  const int chars =
      ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (chars <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        chars);
  return windows::narrow(wide);
}

}  // namespace ravdel
