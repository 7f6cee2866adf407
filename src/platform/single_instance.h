#pragma once

#include <cstdint>
#include <string>

namespace ravdel {

// One running instance per user. On POSIX systems an exclusive lock on a per-user lock file; on
// Windows the named mutex "RVDAMutex". The lock goes with the open file or mutex handle, so
// closing releases it and the system drops it when the process dies. Move-only; use on one
// thread.
class SingleInstance {
 public:
  // The lock file: $XDG_RUNTIME_DIR/RVDAMutex, or /tmp/RVDAMutex-<uid> when that is unset or
  // empty. On Windows the path is the mutex's name, "RVDAMutex".
  SingleInstance();
  explicit SingleInstance(std::string lockPath);
  ~SingleInstance();
  SingleInstance(SingleInstance&& other) noexcept;
  SingleInstance& operator=(SingleInstance&& other) noexcept;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False only while another process holds the lock. When the lock file cannot be used at all
  // (no such folder, a file of another user), this is true without holding anything, so a
  // broken or hostile /tmp cannot keep the program from starting; error() says why.
  bool tryAcquire();
  bool held() const { return handle_ != -1; }
  void release();

  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

  static std::string defaultLockPath();

 private:
  std::string path_;
  std::string error_;
  std::intptr_t handle_ = -1;  // the descriptor, or a HANDLE on Windows; -1 when not held
};

}  // namespace ravdel
