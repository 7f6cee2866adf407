#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/single_instance.h"

namespace ravdel {

std::string SingleInstance::defaultLockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/RVDAMutex";
  // /tmp is shared by all users: the uid keeps ours apart, tryAcquire checks the owner.
  return "/tmp/RVDAMutex-" + std::to_string(::geteuid());
}

void SingleInstance::release() {
  if (held()) ::close(static_cast<int>(std::exchange(handle_, -1)));
}

bool SingleInstance::tryAcquire() {
  if (held()) return true;
  // CLOEXEC: a browser or mail program we launch must not inherit the lock and outlive us with
  // it. NOFOLLOW: a symlink planted in /tmp must not make us create or lock another file.
  const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = path_ + ": " + std::strerror(errno);
    return true;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    // Another user's file: they could hold its lock to keep us from running.
    error_ = path_ + ": not a regular file of this user";
    ::close(fd);
    return true;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    handle_ = fd;
    error_.clear();
    return true;
  }
  const int err = errno;
  ::close(fd);
  if (err == EWOULDBLOCK) return false;
  error_ = path_ + ": " + std::strerror(err);
  return true;
}

}  // namespace ravdel
