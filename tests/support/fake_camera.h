#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/fourcc.h"
#include "capture/capture_device.h"

namespace ravdel::test {

// A camera the test drives: frames are handed to the receiver on the calling thread.
class FakeDevice final : public CaptureDevice {
 public:
  FakeDevice(std::vector<std::string> names, std::vector<std::string> paths,
             std::vector<VideoFormat> formats, int& live)
      : names_(std::move(names)),
        paths_(std::move(paths)),
        formats_(std::move(formats)),
        live_(live) {
    ++live_;
  }
  ~FakeDevice() override { --live_; }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;
  HResult StartVideoAt(std::int32_t position, std::string& foundName) override {
    if (position < 1 || static_cast<std::size_t>(position) > names_.size()) return kEFail;
    foundName = trimDeviceText(names_[static_cast<std::size_t>(position - 1)]);
    openedPosition = position;
    if (!startFailure.empty()) return kEFail;
    running_ = true;
    return kSOk;
  }
  std::string devicePath() const override {
    return openedPosition > 0 && !paths_.empty()
               ? paths_[static_cast<std::size_t>(openedPosition - 1)]
               : std::string();
  }
  std::string failure() const override { return startFailure; }
  void setPatient(bool p) override { patient = p; }
  HResult GetStreamInfo(std::int32_t& w, std::int32_t& h, std::uint32_t& code) override {
    w = width;
    h = height;
    code = fourcc::kRgb;
    return kSOk;
  }
  void SetFrameCallback(FrameReceiver* receiver) override { slot_.install(receiver); }
  const std::vector<VideoFormat>& formats() const override { return formats_; }
  HResult SetFormatByIndex(std::int32_t index) override {
    selectedFormat = index;
    if (failed(formatResult)) running_ = false;  // as when the new format finds no bandwidth
    if (atFormatSwitch) atFormatSwitch();
    return formatResult;
  }
  HResult SetRunning(bool run) override {
    running_ = run;
    return kSOk;
  }
  bool running() const override { return running_; }

  // A frame whose every byte is `value`.
  void deliver(std::uint8_t value) {
    const std::vector<std::uint8_t> frame(static_cast<std::size_t>(width * height * 3), value);
    slot_.deliver(frame.data(), static_cast<std::int32_t>(frame.size()), moment);
  }

  // A frame of these bytes: RGB, bottom row first.
  void deliverBytes(const std::vector<std::uint8_t>& frame) {
    slot_.deliver(frame.data(), static_cast<std::int32_t>(frame.size()));
  }

  std::int32_t width = 4, height = 2;
  FrameMoment moment;                // of the frames delivered: none of the camera's own by default
  std::int32_t openedPosition = 0;   // 1-based; 0 until opened
  bool patient = true;               // as the opener set it
  std::string startFailure;          // not empty: opening fails, saying this
  std::int32_t selectedFormat = -1;  // the last table entry asked for
  HResult formatResult = kSFalse;    // what a format switch answers
  std::function<void()> atFormatSwitch;

 protected:
  HResult listDeviceNames(std::vector<std::string>& names) override {
    names = names_;
    return kSOk;
  }
  HResult listDevicePaths(std::vector<std::string>& paths) override {
    if (paths_.empty()) return noDevicePaths(names_, paths);
    paths = paths_;
    return kSOk;
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string> paths_;
  std::vector<VideoFormat> formats_;
  ReceiverSlot slot_;
  bool running_ = false;
  int& live_;
};

class FakeBackend final : public CaptureBackend {
 public:
  HResult ListVideoDevices(std::vector<std::string>& list) override {
    list = names;
    return names.empty() ? kSFalse : kSOk;
  }
  std::unique_ptr<CaptureDevice> CreateDevice() override {
    auto device = std::make_unique<FakeDevice>(names, paths, formats, liveDevices);
    device->formatResult = formatResult;
    device->startFailure = startFailure;
    device->atFormatSwitch = atFormatSwitch;
    last = device.get();
    return device;
  }
  HResult ListDevicePaths(std::vector<std::string>& list) override {
    if (paths.empty()) return noDevicePaths(names, list);
    list = paths;
    return kSOk;
  }
  std::vector<std::string> names{"Cam A", "Cam B"};
  std::vector<std::string> paths;  // the devices' own paths; empty: they have none
  // The format table of the devices made from now on; frames are always 4x2 RGB.
  std::vector<VideoFormat> formats{{4, 2, 24, 0, kRgbCapabilityCode}};
  // The device most recently created; it dies with whoever owns it (TVideoImage frees it in
  // VideoStop), so read it only while that owner keeps it open.
  FakeDevice* last = nullptr;
  HResult formatResult = kSFalse;  // given to the devices made from now on
  std::string startFailure;        // the same: opening them fails, saying this
  std::function<void()> atFormatSwitch;
  int liveDevices = 0;  // devices made and not yet freed: 0 once the camera is given back
};

}  // namespace ravdel::test
