#include "capture/v4l2/v4l2_handles.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace ravdel {

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
  if (this != &other) {
    reset();
    io_ = other.io_;
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void DeviceHandle::reset() {
  if (fd_ >= 0) io_->close(fd_);
  fd_ = -1;
}

BufferMapping& BufferMapping::operator=(BufferMapping&& other) noexcept {
  if (this != &other) {
    reset();
    io_ = other.io_;
    address_ = std::exchange(other.address_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

void BufferMapping::reset() {
  if (address_ != nullptr) io_->munmap(address_, length_);
  address_ = nullptr;
  length_ = 0;
}

WakeEvent& WakeEvent::operator=(WakeEvent&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool WakeEvent::create() {
  reset();
  fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd_ >= 0;
}

void WakeEvent::signal() const {
  const std::uint64_t one = 1;
  // Non-blocking: a full counter (never reached) is as good as a signal.
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeEvent::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace ravdel
