#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/v4l2/v4l2_backend.h"
#include "fake_v4l2_io.h"

namespace ravdel {

using Bytes = std::vector<std::uint8_t>;

// Keeps every frame it receives (worker thread); frames after close() count as late.
class RecordingReceiver final : public FrameReceiver {
 public:
  void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                    const FrameMoment&) override {
    const std::lock_guard lock(mutex_);
    frames_.emplace_back(data, data + byteCount);
    if (closed_) ++late_;
    arrived_.notify_all();
  }
  bool waitForFrames(std::size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return frames_.size() >= count; });
  }
  std::vector<Bytes> frames() const {
    const std::lock_guard lock(mutex_);
    return frames_;
  }
  void close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  int late() const {
    const std::lock_guard lock(mutex_);
    return late_;
  }

 private:
  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable arrived_;
  std::vector<Bytes> frames_;
  bool closed_ = false;
  int late_ = 0;
};

// Polls `condition` every millisecond until it holds or ten seconds have passed (busy CI
// machines); its last value.
template <typename Condition>
bool waitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// One camera node, video0, with a padded card name, streaming `pixelFormat` at `size`; the
// node captures through the API of `captureCap` (V4L2_CAP_VIDEO_CAPTURE or _MPLANE).
inline std::shared_ptr<FakeV4l2Io> makeCamera(std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV,
                                              FakeV4l2Io::Size size = {4, 2},
                                              std::uint32_t bytesPerLine = 0,
                                              std::uint32_t captureCap = V4L2_CAP_VIDEO_CAPTURE) {
  auto fake = std::make_shared<FakeV4l2Io>();
  fake->addNode("video0", "  Test Cam  ", captureCap | V4L2_CAP_STREAMING);
  fake->addFormat(pixelFormat, {size});
  fake->setCurrent(pixelFormat, size, bytesPerLine);
  return fake;
}

inline std::unique_ptr<CaptureDevice> startCamera(const std::shared_ptr<FakeV4l2Io>& fake,
                                                  FrameReceiver* receiver = nullptr) {
  auto device = V4l2Backend(fake).CreateDevice();
  device->SetFrameCallback(receiver);
  std::string found;
  EXPECT_EQ(device->StartVideo("", found), kSOk);
  return device;
}

}  // namespace ravdel
