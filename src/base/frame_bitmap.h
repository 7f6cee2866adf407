#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ravdel {

// A picture of width x height pixels, 3 bytes each in the order blue, green, red.
// Row 0 is the top row; rows are stored top-down, tightly packed (stride = width * 3).
// Copies are independent snapshots. A copy shares the pixels until one side writes (any
// non-const access to the pixels), so handing a frame on costs no copy while nobody changes
// it. Used by one thread at a time, like any value.
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
  std::size_t byteCount() const { return storage_ ? storage_->pixels.size() : 0; }

  std::uint8_t* row(std::int32_t y) { return data() + static_cast<std::size_t>(y) * stride(); }
  const std::uint8_t* row(std::int32_t y) const {
    return data() + static_cast<std::size_t>(y) * stride();
  }
  std::uint8_t* data() { return writable().pixels.data(); }
  const std::uint8_t* data() const { return storage_ ? storage_->pixels.data() : nullptr; }

  void fill(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  // The largest channel value of each row, top row first, when the writer of the pixels
  // measured it on the way (the YUV converters do); empty when unknown. Any write to the
  // pixels afterwards forgets it. The peak search skips rows that cannot hold the peak.
  std::span<const std::uint8_t> rowChannelMax() const;
  // Takes one value per row for the pixels as they are now (ignored for another count).
  void setRowChannelMax(std::span<const std::uint8_t> maxima);

  // True while the picture is the format notice drawn over an unconvertible sample
  // rather than a converted camera frame. Such a picture is shown but never an event.
  bool showsNotice() const { return showsNotice_; }
  void setShowsNotice(bool notice) { showsNotice_ = notice; }

  // True when both hold the same pixels without a copy (for tests of the hand-over).
  bool sharesPixelsWith(const FrameBitmap& other) const {
    return storage_ != nullptr && storage_ == other.storage_;
  }

 private:
  struct Storage {
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> rowChannelMax;  // meaningful only while known
    bool rowChannelMaxKnown = false;
  };

  // The pixels for writing: copied first when another bitmap shares them; forgets the row
  // maxima.
  Storage& writable();

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  bool showsNotice_ = false;
  std::shared_ptr<Storage> storage_;
};

}  // namespace ravdel
