// Appending whole lines on POSIX systems: O_APPEND makes moving to the end and writing one
// step, so a write() of the complete line cannot be split by another writer's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/append_file.h"

namespace ravdel {
namespace {

bool isRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Reads `size` bytes at `offset`; false on a failure or a short read.
bool readAt(int fd, char* buffer, std::size_t size, off_t offset) {
  ssize_t got;
  do {
    got = ::pread(fd, buffer, size, offset);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(size);
}

// A regular file whose last byte is no line feed ends in the middle of a line.
bool endsMidLine(int fd) {
  struct stat st {};
  char last = '\n';
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
         readAt(fd, &last, 1, st.st_size - 1) && last != '\n';
}

// The offset just after the file's last line feed (0 when it has none); -1 on a failure.
off_t afterLastLineFeed(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  char block[4096];
  for (off_t end = st.st_size; end > 0;) {
    const auto size = static_cast<std::size_t>(std::min<off_t>(end, sizeof block));
    const off_t start = end - static_cast<off_t>(size);
    if (!readAt(fd, block, size, start)) return -1;
    for (std::size_t i = size; i > 0; --i) {
      if (block[i - 1] == '\n') return start + static_cast<off_t>(i);
    }
    end = start;
  }
  return 0;
}

}  // namespace

void AppendFile::close() {
  if (handle_ != -1) ::close(static_cast<int>(std::exchange(handle_, -1)));
  tornTail_ = false;
}

bool AppendFile::reopen() {
  // CLOEXEC: a program we start must not keep writing into our log. Read access is for finding
  // the last line feed when a line has to be taken off again.
  int fd;
  do {
    fd = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  close();
  handle_ = fd;
  tornTail_ = endsMidLine(fd);
  return true;
}

bool AppendFile::cutTornTail() {
  const int fd = static_cast<int>(handle_);
  const off_t keep = afterLastLineFeed(fd);
  if (keep < 0 || ::ftruncate(fd, keep) != 0) {
    error_ = std::strerror(errno);
    return false;
  }
  tornTail_ = false;
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
  if (tornTail_ && !cutTornTail()) return false;
  std::string bytes;
  bytes.reserve(line.size() + 1);
  bytes.append(line).push_back('\n');

  const int fd = static_cast<int>(handle_);
  ssize_t written;
  do {
    written = ::write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  // Writing the rest in a second call could put another writer's line into the middle of
  // ours. A file takes fewer bytes than offered only when its disk or size limit is full;
  // the system says which only on the next write. The piece written is taken off again.
  if (static_cast<std::size_t>(written) != bytes.size()) {
    tornTail_ = written > 0 && isRegularFile(fd);
    if (tornTail_) cutTornTail();
    error_ = std::strerror(ENOSPC);
    return false;
  }
  return true;
}

}  // namespace ravdel
