#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/frame_bitmap.h"
#include "capture/capture_device.h"
#include "capture/main_loop.h"
#include "convert/frame_converter.h"
#include "platform/tick_count.h"

namespace ravdel {

// Frame delivery: the capture side's face toward the main window. Frames arrive on the
// capture thread, are copied into the next of three slots and announced to the main thread;
// there they are converted into the frame bitmap only when a picture is asked for.
//
// Threads: receiveFrame runs on the capture thread; everything else on the main thread.
// They share the slots, the published slot and the last idle time, without a lock: the
// capture thread writes only into a slot that is neither published nor claimed by the main
// thread, so a slot is never rewritten, freed or reallocated while it is read.
class TVideoImage final : public FrameReceiver, public MainLoopClient {
 public:
  // Sender, width, height, the raw bytes of the frame being delivered (valid during the call).
  using FrameEvent = std::function<void(TVideoImage& sender, std::int32_t width,
                                        std::int32_t height, const std::uint8_t* frameData)>;
  // Shows a failure that escaped the frame event; the next notification is handled normally.
  using ErrorHandler = std::function<void(const std::string& message)>;
  using Clock = std::uint32_t (*)();

  // Neither the backend nor the loop is owned; both must outlive this object.
  TVideoImage(CaptureBackend& backend, MainLoop& loop, Clock clock = tickMilliseconds);
  ~TVideoImage();
  TVideoImage(const TVideoImage&) = delete;
  TVideoImage& operator=(const TVideoImage&) = delete;

  void GetListOfDevices(std::vector<std::string>& list);
  // Opens the named camera ("#" and a position, or a name) and starts delivery: 0 when it
  // runs, 1 when it failed (then no camera is open and startFailure() says why).
  std::int32_t VideoStart(const std::string& name);
  // Opens the camera of `path` again (devicePath() of an earlier start), or while no camera
  // has that path any longer the one named `name`, and starts delivery, as VideoStart. Never
  // waits for the camera to settle: a reconnection try must not hold the main loop up.
  std::int32_t VideoReopen(const std::string& path, const std::string& name);
  void GetListOfFormats(std::vector<std::string>& list);
  // Switches the open camera to format table entry `index` (GetListOfFormats' order).
  // 0: it streams in that format now (an index outside the table changes nothing: 0 while the
  // camera streams). 1: the switch failed and nothing streams (no USB bandwidth or buffers for
  // the new format, or no camera open), except when the driver refused the format itself:
  // then the previous format streams again and isStreaming() stays true. The picture size
  // follows the stream either way; frames of the previous format still waiting are passed over.
  std::int32_t SelectFormat(std::int32_t index);
  // `dest` becomes a copy of the latest converted frame, converting the current slot first
  // unless this notification already did. The copy shares the pixels until either side writes
  // to them, so a caller that only reads costs no copy of the picture.
  void GetBitmap(FrameBitmap& dest);
  void VideoStop();
  // Detaches from the loop and frees the slots; expects no open camera.
  void Dispose();

  FrameEvent OnNewVideoFrame;
  ErrorHandler OnError;

  bool isOpen() const { return FVideoSample != nullptr; }
  // Open and streaming: false once the camera is gone or its stream has ended.
  bool isStreaming() const { return FVideoSample != nullptr && FVideoSample->running(); }
  // The opened camera's name as its backend lists it; empty when none is open.
  const std::string& deviceName() const { return FDeviceName; }
  // The opened camera's own path (CaptureDevice::devicePath); empty when none is open.
  const std::string& devicePath() const { return devicePath_; }
  // Why the last start or format switch failed, as the backend tells it; empty after success.
  const std::string& startFailure() const { return startFailure_; }
  // The opened camera's format table; empty when none is open.
  std::vector<VideoFormat> formatTable() const;
  std::int32_t width() const { return FWidth; }
  std::int32_t height() const { return FHeight; }
  std::uint32_t fourcc() const { return FFourCC; }
  std::int32_t slotSize(int slot) const { return FSlotSize[static_cast<std::size_t>(slot)]; }
  // Conversions done so far (each frame is converted at most once per notification).
  std::uint64_t conversions() const { return conversions_; }
  // Frames that reached the capture thread's receiver, and those it discarded because the
  // main loop had not been idle lately.
  std::uint64_t framesReceived() const { return framesReceived_.load(); }
  std::uint64_t framesDropped() const { return framesDropped_.load(); }
  // When the frame last handed out by GetBitmap was taken; its device's own time, else the
  // moment it reached the receiver.
  const FrameMoment& frameMoment() const { return FBitmapMoment; }
  // The frame last converted, as the camera gave it.
  const FrameBitmap& convertedFrame() const { return FBitmap; }
  // Frames published without a notification, since enough were waiting already.
  std::uint64_t framesBacklogged() const { return framesBacklogged_.load(); }
  // Notifications that came while the frame event was still running (it pumps the loop).
  std::uint64_t notificationsWhileBusy() const { return notificationsWhileBusy_; }

  // Capture thread.
  void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                    const FrameMoment& moment) override;
  // Main thread, from the loop.
  void onFrameNotification() override;
  void onIdle() override;

 private:
  static constexpr int kSlots = 3;
  // Notifications waiting for the main thread at most. Each delivers the frame current when it
  // is handled, so more add nothing but a backlog; without a bound a camera faster than the
  // analysis would fill memory with them during the second before frames are discarded.
  static constexpr int kMaxPendingNotifications = 16;
  static constexpr std::uint64_t kNoGeneration = ~std::uint64_t{0};

  // The published frame: its generation (counting frames) and its slot, in one word so the
  // main thread reads both at once.
  static std::uint64_t pack(std::uint64_t generation, int slot) {
    return generation << 2 | static_cast<std::uint64_t>(slot);
  }
  static int slotOf(std::uint64_t published) { return static_cast<int>(published & 3); }
  static std::uint64_t generationOf(std::uint64_t published) { return published >> 2; }

  using Opening = std::function<HResult(CaptureDevice& device, std::string& foundName)>;
  std::int32_t open(const Opening& opening, bool patient);
  bool fillSlot(int slot, const std::uint8_t* data, std::int32_t byteCount);
  // Capture thread: the device's moment, completed from the receiver's clock where it is silent.
  FrameMoment completeMoment(const FrameMoment& moment);
  std::uint64_t claimCurrentSlot();
  void releaseSlot();
  void convertClaimed(std::uint64_t claimed);
  void reportError(const std::string& message);
  void applyStreamInfo(std::int32_t w, std::int32_t h, std::uint32_t code);

  CaptureBackend& backend_;
  MainLoop& loop_;
  const Clock clock_;

  // Main thread only.
  std::unique_ptr<CaptureDevice> FVideoSample;
  std::string FDeviceName;
  std::string devicePath_;
  std::string startFailure_;
  bool FBusy = false;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  std::uint32_t FFourCC = 0;
  FrameBitmap FBitmap;
  FrameMoment FBitmapMoment;  // of the frame FBitmap was last converted from
  FrameConverter converter_;
  std::uint64_t convertedGeneration_ = kNoGeneration;  // what FBitmap holds, if current
  std::uint64_t firstFreshGeneration_ = 0;  // the first frame of the current stream format
  std::uint64_t handlerClaim_ = 0;          // slot claimed for the running handler
  bool handlerHasClaim_ = false;
  std::uint64_t conversions_ = 0;
  std::uint64_t notificationsWhileBusy_ = 0;
  bool disposed_ = false;

  // The slots. A slot's buffer and size are written only by the capture thread while the slot
  // is neither published nor claimed, and read by the main thread only while it holds a claim
  // on the published slot; the atomics below order the two.
  std::array<std::unique_ptr<std::uint8_t[]>, kSlots> FSlotData;
  std::array<std::int32_t, kSlots> FSlotSize{};
  std::array<FrameMoment, kSlots> FSlotMoment{};
  // Capture thread while a camera streams; reset by VideoStart, when no capture thread runs.
  std::int64_t lastReceivedUs_ = 0;  // the moment of the frame received before

  std::atomic<std::uint64_t> published_{0};     // written by the capture thread
  std::atomic<int> slotInUse_{-1};              // written by the main thread
  std::atomic<std::uint32_t> FLastIdleTime{0};  // written by the main thread
  std::atomic<std::uint64_t> framesReceived_{0};
  std::atomic<std::uint64_t> framesDropped_{0};
  std::atomic<std::uint64_t> framesBacklogged_{0};
  std::atomic<int> notificationsPending_{0};  // posted and not yet handled
};

}  // namespace ravdel
