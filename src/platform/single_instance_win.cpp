// One instance per session through the named mutex "RVDAMutex": a second CreateMutexA of the
// name finds the first one's and reports ERROR_ALREADY_EXISTS. The system closes the handle
// when the process dies.
#include <windows.h>

#include <utility>

#include "platform/single_instance.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

HANDLE handleOf(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

std::string SingleInstance::defaultLockPath() {
  return "RVDAMutex";
}

void SingleInstance::release() {
  // An error while closing is of no use to anyone: the handle is gone either way.
  if (held()) ::CloseHandle(handleOf(std::exchange(handle_, -1)));
}

bool SingleInstance::tryAcquire() {
  if (held()) return true;
  // No security attributes, this thread as the initial owner.
  ::SetLastError(ERROR_SUCCESS);
  const HANDLE mutex = ::CreateMutexA(nullptr, TRUE, path_.c_str());
  const DWORD error = ::GetLastError();
  if (mutex == nullptr) {
    // A name taken by another kind of object, say: nothing to hold, but no reason not to run.
    error_ = path_ + ": " + windows::errorText(error);
    return true;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  error_.clear();
  return true;
}

}  // namespace ravdel
