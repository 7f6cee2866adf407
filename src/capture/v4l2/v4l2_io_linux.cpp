#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "capture/v4l2/v4l2_io.h"

namespace ravdel {
namespace {

class LinuxV4l2Io final : public V4l2Io {
 public:
  std::vector<std::string> listDirectory(const std::string& directory) override {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
      names.push_back(it->path().filename().string());
    }
    return names;
  }

  int open(const std::string& path) override {
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  int close(int fd) override { return ::close(fd); }
  int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }

  void* mmap(std::size_t length, int fd, off_t offset) override {
    void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return address == MAP_FAILED ? nullptr : address;
  }
  int munmap(void* address, std::size_t length) override { return ::munmap(address, length); }

  int poll(pollfd* fds, nfds_t count, int timeoutMs) override {
    return ::poll(fds, count, timeoutMs);
  }
};

}  // namespace

std::shared_ptr<V4l2Io> linuxV4l2Io() {
  static const std::shared_ptr<V4l2Io> io = std::make_shared<LinuxV4l2Io>();
  return io;
}

}  // namespace ravdel
