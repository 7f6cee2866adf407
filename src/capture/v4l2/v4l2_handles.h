#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// An open device node, closed through the seam it was opened with. Move-only; the seam must
// outlive it.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  DeviceHandle(V4l2Io& io, int fd) : io_(&io), fd_(fd) {}
  DeviceHandle(DeviceHandle&& other) noexcept : io_(other.io_), fd_(std::exchange(other.fd_, -1)) {}
  DeviceHandle& operator=(DeviceHandle&& other) noexcept;
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset();

 private:
  V4l2Io* io_ = nullptr;
  int fd_ = -1;
};

// One mmap'ed device buffer, unmapped through the seam. Move-only; the seam must outlive it.
class BufferMapping {
 public:
  BufferMapping(V4l2Io& io, void* address, std::size_t length)
      : io_(&io), address_(address), length_(length) {}
  BufferMapping(BufferMapping&& other) noexcept
      : io_(other.io_),
        address_(std::exchange(other.address_, nullptr)),
        length_(std::exchange(other.length_, 0)) {}
  BufferMapping& operator=(BufferMapping&& other) noexcept;
  BufferMapping(const BufferMapping&) = delete;
  BufferMapping& operator=(const BufferMapping&) = delete;
  ~BufferMapping() { reset(); }

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(address_); }
  std::size_t length() const { return length_; }
  void reset();

 private:
  V4l2Io* io_;
  void* address_;
  std::size_t length_;
};

// The event that wakes a stream's worker to stop: an eventfd that stays readable once
// signalled. Not part of the seam; tests run the real one. Move-only.
class WakeEvent {
 public:
  WakeEvent() = default;
  WakeEvent(WakeEvent&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  WakeEvent& operator=(WakeEvent&& other) noexcept;
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  ~WakeEvent() { reset(); }

  // False with errno set when no eventfd could be made.
  bool create();
  // Any thread; safe to repeat.
  void signal() const;
  int fd() const { return fd_; }
  void reset();

 private:
  int fd_ = -1;
};

}  // namespace ravdel
