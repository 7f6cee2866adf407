#pragma once

#include <cstdint>
#include <span>

#include "capture/capture_device.h"

namespace ravdel {

// The format a stream runs in: its frames' code (0 for RGB) and size.
struct StreamFormat {
  std::uint32_t fourcc = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Where a simulated stream's samples come from, one per frame. Used by one thread at a time:
// the device's worker while it streams, the main thread (creation, destruction) otherwise.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // At every stream start, also after a format switch.
  virtual void start(const StreamFormat& format) = 0;
  // The next sample, taken at `moment` (the end of its exposure on the stream's clock), valid
  // until the next call or start. False when the stream has run out (a directory played once);
  // the call after that starts over.
  virtual bool next(std::span<const std::uint8_t>& sample, const FrameMoment& moment) = 0;
};

}  // namespace ravdel
