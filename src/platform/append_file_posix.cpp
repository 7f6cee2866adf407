// Appending whole lines on POSIX systems: O_APPEND makes moving to the end and writing one
// step, so a write() of the complete line cannot be split by another writer's.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/append_file.h"

namespace ravdel {

void AppendFile::close() {
  if (handle_ != -1) ::close(static_cast<int>(std::exchange(handle_, -1)));
}

bool AppendFile::reopen() {
  // CLOEXEC: a program we start must not keep writing into our log.
  int fd;
  do {
    fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  close();
  handle_ = fd;
  return true;
}

bool AppendFile::appendLine(std::string_view line) {
  if (!isOpen()) {
    error_ = std::strerror(EBADF);
    return false;
  }
  // Two lines in one would give a reader of the log a line it did not expect.
  if (line.find('\n') != std::string_view::npos) {
    error_ = std::strerror(EINVAL);
    return false;
  }
  std::string bytes;
  bytes.reserve(line.size() + 1);
  bytes.append(line).push_back('\n');

  ssize_t written;
  do {
    written = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  // Writing the rest in a second call could put another writer's line into the middle of
  // ours. A file takes fewer bytes than offered only when its disk or size limit is full;
  // the system says which only on the next write.
  if (static_cast<std::size_t>(written) != bytes.size()) {
    error_ = std::strerror(ENOSPC);
    return false;
  }
  return true;
}

}  // namespace ravdel
