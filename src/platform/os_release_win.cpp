// The Windows version through GetVersionExA, looked up by name in kernel32.dll: without it the
// version stays unknown. The call's own result is not checked; a failed call leaves zeros.
#include <windows.h>

#include "platform/os_release.h"

namespace ravdel {
namespace {

class Library {
 public:
  explicit Library(const char* name) : module_(::LoadLibraryA(name)) {}
  ~Library() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

}  // namespace

std::optional<OsVersion> osVersion() {
  using GetVersionExAFn = BOOL(WINAPI*)(OSVERSIONINFOA*);
  const Library kernel("kernel32.dll");
  if (kernel.get() == nullptr) return std::nullopt;
  const FARPROC found = ::GetProcAddress(kernel.get(), "GetVersionExA");
  if (found == nullptr) return std::nullopt;
  // Through a generic function pointer: the cast between function types is intended.
  const auto getVersion = reinterpret_cast<GetVersionExAFn>(reinterpret_cast<void (*)()>(found));
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 156
  getVersion(reinterpret_cast<OSVERSIONINFOA*>(&info));
  return OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

}  // namespace ravdel
