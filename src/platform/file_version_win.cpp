// The FileVersion text of the program's own version resource, in the language and code page
// its first translation entry names. Empty when the program carries no such resource.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/file_version.h"

namespace ravdel {
namespace {

std::string programPath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: ask again with room to spare
  }
}

std::string fileVersionOf(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> info(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return {};

  void* translation = nullptr;
  UINT translationSize = 0;
  if (!::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &translation,
                        &translationSize) ||
      translationSize < 2 * sizeof(WORD)) {
    return {};
  }
  const auto* words = static_cast<const WORD*>(translation);
  char block[64];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04X%04X\\FileVersion",
                static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]));
  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(info.data(), block, &text, &length) || text == nullptr) return {};
  return std::string(static_cast<const char*>(text));
}

}  // namespace

std::string ReadFileVersion(bool full) {
  const std::string version = fileVersionOf(programPath());
  return full || version.empty() ? version : cutLastVersionPart(version);
}

}  // namespace ravdel
