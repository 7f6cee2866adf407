// Thread names through SetThreadDescription (Windows 10 1607 and newer), looked up at run time
// so that the program still starts on older systems, where threads stay unnamed.
#include <windows.h>

#include "platform/thread_name.h"
#include "platform/windows_text.h"

namespace ravdel {

void nameThisThread(const char* name) {
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = [] {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found =
        kernel != nullptr ? ::GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    // Through a generic function pointer: the cast between function types is intended.
    return reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void (*)()>(found));
  }();
  if (setDescription == nullptr) return;
  std::string kept(name);
  if (kept.size() > 15) kept.resize(15);
  setDescription(::GetCurrentThread(), windows::widen(kept).c_str());
}

}  // namespace ravdel
