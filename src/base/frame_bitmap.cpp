#include "base/frame_bitmap.h"

#include <atomic>

namespace ravdel {

bool FrameBitmap::resize(std::int32_t width, std::int32_t height) {
  const std::int64_t bytes = std::int64_t{width} * height * kBytesPerPixel;
  if (width < 0 || height < 0 || bytes > kMaxBytes) {
    width_ = height_ = 0;
    storage_.reset();
    return false;
  }
  const auto size = static_cast<std::size_t>(bytes);
  // A shared picture stays with its other holders: the content is unspecified anyway.
  if (!storage_ || storage_.use_count() > 1) storage_ = std::make_shared<Storage>();
  storage_->pixels.resize(size);
  storage_->rowChannelMaxKnown = false;
  width_ = width;
  height_ = height;
  return true;
}

FrameBitmap::Storage& FrameBitmap::writable() {
  if (!storage_) {
    storage_ = std::make_shared<Storage>();
  } else if (storage_.use_count() > 1) {
    storage_ = std::make_shared<Storage>(*storage_);
  } else {
    // The last other holder may have let go on another thread: its reads come first.
    std::atomic_thread_fence(std::memory_order_acquire);
  }
  storage_->rowChannelMaxKnown = false;
  return *storage_;
}

void FrameBitmap::fill(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  std::uint8_t* p = data();
  const std::size_t bytes = byteCount();
  for (std::size_t i = 0; i + 2 < bytes; i += kBytesPerPixel) {
    p[i] = b;
    p[i + 1] = g;
    p[i + 2] = r;
  }
}

std::span<const std::uint8_t> FrameBitmap::rowChannelMax() const {
  if (!storage_ || !storage_->rowChannelMaxKnown) return {};
  return storage_->rowChannelMax;
}

void FrameBitmap::setRowChannelMax(std::span<const std::uint8_t> maxima) {
  if (!storage_ || maxima.size() != static_cast<std::size_t>(height_)) return;
  Storage& s = writable();
  s.rowChannelMax.assign(maxima.begin(), maxima.end());
  s.rowChannelMaxKnown = true;
}

}  // namespace ravdel
