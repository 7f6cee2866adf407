#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/simulated/simulated_description.h"

namespace ravdel {

class SampleSource;

// A described camera made concrete: its sample files and its format table. Made once on the
// main thread, then shared unchanged by the backend and every device it creates.
struct SimulatedSetup {
  SimulatedDescription description;
  std::vector<std::filesystem::path> files;  // directory source, in name order
  std::vector<VideoFormat> formats;          // sorted; capsIndex = order of description
  std::int32_t firstFormat = 0;              // the entry the camera starts in
};

// Whether the camera is plugged in. One per backend, shared with every device it makes, so an
// unplug outlives the device object whose worker saw it: the program makes a new object for
// each start. The worker thread records the unplug, the main thread asks; one atomic, no lock.
class SimulatedPlug {
 public:
  using Clock = std::chrono::steady_clock;

  // Worker thread.
  void unplug(Clock::time_point at) { goneAt_.store(at.time_since_epoch().count()); }
  // Main thread: false while less than `backAfter` has passed since the last unplug.
  bool pluggedIn(Clock::time_point now, std::chrono::milliseconds backAfter) const {
    const Clock::rep gone = goneAt_.load();
    return gone == kNever || now - Clock::time_point(Clock::duration(gone)) >= backAfter;
  }

 private:
  static constexpr Clock::rep kNever = std::numeric_limits<Clock::rep>::min();
  std::atomic<Clock::rep> goneAt_{kNever};
};

// One simulated camera that streams on its own worker thread exactly as a real one would:
// one receiver call per frame through the ReceiverSlot, paced by a steady clock.
class SimulatedDevice final : public CaptureDevice {
 public:
  struct Counters {
    std::uint64_t produced = 0;   // samples made, the empty ones included
    std::uint64_t delivered = 0;  // samples the receiver got
    std::uint64_t skipped = 0;    // empty samples, or no receiver installed
  };

  SimulatedDevice(std::shared_ptr<const SimulatedSetup> setup, std::shared_ptr<SimulatedPlug> plug);
  ~SimulatedDevice() override;
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  HResult StartVideoAt(std::int32_t position, std::string& foundName) override;
  HResult GetStreamInfo(std::int32_t& width, std::int32_t& height, std::uint32_t& fourcc) override;
  void SetFrameCallback(FrameReceiver* receiver) override;
  const std::vector<VideoFormat>& formats() const override;
  HResult SetFormatByIndex(std::int32_t index) override;
  // Once this object's stream was unplugged (unplug-after), starting it again fails with
  // kEFail, like a real camera's dead handle. With back-after every start, a new object's
  // StartVideo too, fails until that time has passed since the unplug; without it a new
  // object streams at once. A directory played once that has ended starts over from its
  // first file.
  HResult SetRunning(bool run) override;
  bool running() const override;

  // Any thread; counts since the device was opened.
  Counters counters() const;
  // Any thread: this object's stream was unplugged.
  bool unplugged() const { return unplugged_.load(); }

 protected:
  HResult listDeviceNames(std::vector<std::string>& names) override;

 private:
  // Main thread: the camera can stream, as far as unplugging goes.
  bool present() const;
  HResult startWorker();
  void stopWorker();
  // Worker thread: the whole stream, then the frames one by one until a stop, the end of a
  // directory played once, or the unplug.
  void run(std::uint32_t fourcc, std::int32_t width, std::int32_t height);
  void stream(bool paced, std::chrono::steady_clock::duration period);
  // Worker thread: true when the stream goes on (no stop requested), after waiting for
  // `due` when paced.
  bool waitUntil(std::chrono::steady_clock::time_point due, bool paced);
  // Worker thread: when frame `frame` (1 for the first since the opening) was taken.
  FrameMoment frameMoment(std::uint64_t frame) const;

  const std::shared_ptr<const SimulatedSetup> setup_;
  const std::shared_ptr<SimulatedPlug> plug_;

  // Main thread only.
  bool startTried_ = false;
  bool opened_ = false;
  std::int32_t current_ = 0;  // index into setup_->formats
  // The opening's moment in UTC microseconds: the start of the stream's clock. Written before
  // the worker starts, read by it.
  std::int64_t openedUtcUs_ = 0;

  // The samples. Owned by the worker thread from its start to its join, by the main thread
  // otherwise; std::thread's start and join order the hand-overs.
  std::unique_ptr<SampleSource> source_;

  ReceiverSlot slot_;
  std::atomic<bool> streaming_{false};      // set by the main thread, cleared by either
  std::atomic<bool> unplugged_{false};      // set by the worker
  std::atomic<std::uint64_t> produced_{0};  // written by the worker
  std::atomic<std::uint64_t> delivered_{0};
  std::atomic<std::uint64_t> skipped_{0};

  std::mutex stopMutex_;
  std::condition_variable stopWake_;  // wakes the worker's pacing wait for a stop
  bool stopRequested_ = false;        // guarded by stopMutex_

  std::thread worker_;  // joined by stopWorker, at the latest in the destructor
};

// The simulated camera as a backend: one device, described by a text (README, "Simulated
// camera"). Main thread.
class SimulatedBackend final : public CaptureBackend {
 public:
  // Parses the description and, for a directory, lists its files and settles the format and
  // size they leave open. Null with a one-line message in `error` when anything is wrong.
  static std::unique_ptr<SimulatedBackend> fromDescription(const std::string& text,
                                                           std::string& error);

  explicit SimulatedBackend(std::shared_ptr<const SimulatedSetup> setup);

  HResult ListVideoDevices(std::vector<std::string>& list) override;
  std::unique_ptr<CaptureDevice> CreateDevice() override;
  std::unique_ptr<SimulatedDevice> createSimulatedDevice() const;

  const SimulatedSetup& setup() const { return *setup_; }

 private:
  std::shared_ptr<const SimulatedSetup> setup_;
  std::shared_ptr<SimulatedPlug> plug_ = std::make_shared<SimulatedPlug>();
};

}  // namespace ravdel
