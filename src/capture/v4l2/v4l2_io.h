#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ravdel {

// The system calls the V4L2 backend makes, behind one seam so that tests can drive the backend
// with a scripted device. Each call behaves like the system call of the same name: failure is
// -1 (nullptr for mmap) with errno set. Called from the main thread and from a stream's worker
// thread at once, so implementations are thread-safe.
class V4l2Io {
 public:
  virtual ~V4l2Io() = default;

  // The entry names of a directory ("video0", ...), in no particular order; empty on failure.
  virtual std::vector<std::string> listDirectory(const std::string& directory) = 0;
  // Opens a device node for reading and writing, non-blocking, close-on-exec.
  virtual int open(const std::string& path) = 0;
  virtual int close(int fd) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  // A shared read-write mapping of `length` bytes of the device at `offset`.
  virtual void* mmap(std::size_t length, int fd, off_t offset) = 0;
  virtual int munmap(void* address, std::size_t length) = 0;
  // Polls `fds`, which may mix device descriptors with ordinary ones (the stop event).
  virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// The real thing: the Linux system calls. One shared instance.
std::shared_ptr<V4l2Io> linuxV4l2Io();

}  // namespace ravdel
