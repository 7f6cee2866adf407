#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ravdel {

// A picture of width x height pixels, 3 bytes each in the order blue, green, red.
// Row 0 is the top row; rows are stored top-down, tightly packed (stride = width * 3).
// Copies are independent snapshots.
class FrameBitmap {
 public:
  static constexpr int kBytesPerPixel = 3;
  // Largest picture we accept: its byte count must fit a signed 32-bit count.
  static constexpr std::int64_t kMaxBytes = 0x7fffffff;

  FrameBitmap() = default;
  FrameBitmap(std::int32_t width, std::int32_t height) { resize(width, height); }

  // Sizes the bitmap; the pixel content afterwards is unspecified until written.
  // Returns false (and leaves an empty 0 x 0 bitmap) for a negative or too large size.
  bool resize(std::int32_t width, std::int32_t height);

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }
  std::size_t stride() const { return static_cast<std::size_t>(width_) * kBytesPerPixel; }
  std::size_t byteCount() const { return pixels_.size(); }

  std::uint8_t* row(std::int32_t y) {
    return pixels_.data() + static_cast<std::size_t>(y) * stride();
  }
  const std::uint8_t* row(std::int32_t y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * stride();
  }
  std::uint8_t* data() { return pixels_.data(); }
  const std::uint8_t* data() const { return pixels_.data(); }

  void fill(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  // True while the picture is the format notice drawn over an unconvertible sample
  // rather than a converted camera frame. Such a picture is shown but never an event.
  bool showsNotice() const { return showsNotice_; }
  void setShowsNotice(bool notice) { showsNotice_ = notice; }

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  bool showsNotice_ = false;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace ravdel
