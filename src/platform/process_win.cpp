// Process identifiers on Windows.
#include <windows.h>

#include <limits>

#include "platform/process.h"
#include "platform/windows_text.h"

namespace ravdel {

std::int64_t currentProcessId() {
  return ::GetCurrentProcessId();
}

bool processRunning(std::int64_t pid) {
  if (pid <= 0 || pid > std::numeric_limits<DWORD>::max()) return false;
  const windows::Handle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  // A process that has ended stays openable while anyone holds a handle to it.
  return !::GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
}

}  // namespace ravdel
