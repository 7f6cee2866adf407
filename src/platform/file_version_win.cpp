// The FileVersion text of the program's own version resource, in the language and code page
// its first translation entry names. Empty when the program carries no such resource.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "platform/file_version.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

// Through the wide functions: the program's folder may lie outside the ANSI code page (a user
// named outside it) where the manifest's UTF-8 code page does not apply.
std::wstring programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: ask again with room to spare
  }
}

std::string fileVersionOf(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> info(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return {};

  void* translation = nullptr;
  UINT translationSize = 0;
  if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translation,
                        &translationSize) ||
      translationSize < 2 * sizeof(WORD)) {
    return {};
  }
  const auto* words = static_cast<const WORD*>(translation);
  wchar_t block[64];
  std::swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\FileVersion",
                static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]));
  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), block, &text, &length) || text == nullptr) return {};
  return windows::narrow(static_cast<const wchar_t*>(text));
}

}  // namespace

std::string ReadFileVersion(bool full) {
  const std::string version = fileVersionOf(programPath());
  return full || version.empty() ? version : cutLastVersionPart(version);
}

}  // namespace ravdel
