#pragma once

// Helpers of the Windows implementation files only: our text is UTF-8, the system's wide
// functions take UTF-16.
#include <windows.h>

#include <string>
#include <string_view>

namespace ravdel::windows {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The system's description of an error code, without the trailing line break.
std::string errorText(DWORD code);

// Owns a kernel handle; INVALID_HANDLE_VALUE and nullptr both mean none.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace ravdel::windows
