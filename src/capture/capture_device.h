#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ravdel {

// Results of the capture layer, COM style: failed only when the top bit is set, so kSFalse
// is a success that says "nothing done".
using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr bool failed(HResult hr) {
  return hr < 0;
}

// The time from one frame to the next: numerator / denominator seconds (1/30 is 30 frames a
// second). 0/0 when unknown.
struct FrameInterval {
  std::uint32_t numerator = 0;
  std::uint32_t denominator = 0;
  bool known() const { return numerator != 0 && denominator != 0; }
};

// One capability of an opened device.
struct VideoFormat {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t sampleSize = 0;  // bytes of one frame; 0 when it varies (compressed)
  std::int32_t capsIndex = 0;   // the backend's own number for this capability
  std::uint32_t fourcc = 0;     // the format code; "RGB " (0x20424752) for 24-bit RGB
  // The shortest interval the device offers at this size, read when the table is made;
  // unknown when the backend cannot tell without streaming.
  FrameInterval fastest{};
};

inline constexpr std::uint32_t kRgbCapabilityCode = 0x20424752;  // "RGB "

// When a frame was taken, as its device tells: the end of its exposure in UTC microseconds
// (0: the device gives no time of its own), and the time since the device's previous frame
// (0: unknown). A hit lies somewhere in the period before the end.
struct FrameMoment {
  std::int64_t utcUs = 0;
  std::int64_t periodUs = 0;
};

// Receives every captured frame. Runs on the capture's worker thread, once per frame and
// never concurrently with itself. The bytes are valid only during the call; byteCount is
// the number of bytes delivered, and what the receiver writes back into it is ignored.
class FrameReceiver {
 public:
  virtual void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                            const FrameMoment& moment) = 0;

 protected:
  ~FrameReceiver() = default;
};

// The installed receiver of a device, as its worker thread sees it: installed from the main
// thread as one unit, read by the worker once per frame, no lock taken.
class ReceiverSlot {
 public:
  void install(FrameReceiver* receiver) {
    if (receiver != nullptr) received_.store(true);
    receiver_.store(receiver);
  }
  // A receiver was installed at some time: the stream served the program. Any thread.
  bool everInstalled() const { return received_.load(); }
  // Worker thread: hands one frame to the receiver. A frame of no bytes, or one that arrives
  // while no receiver is installed, is not delivered (returns false).
  bool deliver(const std::uint8_t* data, std::int32_t byteCount,
               const FrameMoment& moment = {}) const;

 private:
  std::atomic<FrameReceiver*> receiver_{nullptr};
  std::atomic<bool> received_{false};
};

// One opening of one video input device. Every operation runs on the main thread; only the
// installed receiver runs on the worker thread.
class CaptureDevice {
 public:
  // Stops streaming: once the destructor has returned, the receiver is not called again.
  virtual ~CaptureDevice() = default;

  // Opens the device chosen by name or by "#" and its 1-based position (selectDevice) and
  // starts streaming. foundName receives the matched device's trimmed name, also when
  // opening it then fails. kEFail when no device matches. One start per object.
  HResult StartVideo(const std::string& deviceName, std::string& foundName);
  // The same, with the device given by its 1-based position in listDeviceNames' order.
  virtual HResult StartVideoAt(std::int32_t position, std::string& foundName) = 0;
  // Opens the device of this path again (devicePath() of an earlier opening); only when no
  // device has it any longer, the device named `deviceName` as StartVideo would.
  HResult StartVideoByPath(const std::string& path, const std::string& deviceName,
                           std::string& foundName);

  // The opened device's own path, which tells it apart from another device of the same name
  // and stays while it is plugged in (DirectShow: the moniker's DevicePath; V4L2: bus_info).
  // Empty when none is open or the backend has none.
  virtual std::string devicePath() const { return {}; }
  // Why the last start or format switch failed, in words: the step, the failing call and its
  // result. Empty when it did not fail or the backend cannot tell.
  virtual std::string failure() const { return {}; }
  // Whether a start may wait for the device to reach streaming (a camera may report a failure
  // to start only in its state, after the call returned): yes at Run, not for a reconnection
  // try, which must never hold the main loop up. Set before the start.
  virtual void setPatient(bool /*patient*/) {}

  // The current stream format: width, positive height, and the format code of its frames
  // (0 for uncompressed RGB). width and height become 0 first; fourcc keeps the caller's
  // value unless the format is known.
  virtual HResult GetStreamInfo(std::int32_t& width, std::int32_t& height,
                                std::uint32_t& fourcc) = 0;

  // Installs the receiver as one unit (the worker sees none or all of it); nullptr removes it.
  // A delivery already running is not waited for, so a receiver must outlive this object, or
  // be replaced or removed only while the device is stopped.
  virtual void SetFrameCallback(FrameReceiver* receiver) = 0;

  // The format table, sorted by width, then height, stable.
  virtual const std::vector<VideoFormat>& formats() const = 0;
  // One formatLine per table entry while streaming; empty when stopped.
  void ListFormats(std::vector<std::string>& list) const;

  // Stops streaming, switches to table entry `index` at the highest frame rate the device
  // offers there, and streams again. kSFalse when the index is outside the table. When the
  // stream cannot start again (no USB bandwidth left for the new format, no buffers) that
  // failure is returned and the device is left stopped: running() is false.
  virtual HResult SetFormatByIndex(std::int32_t index) = 0;

  virtual HResult SetRunning(bool run) = 0;
  // True while streaming. Turns false by itself once the stream has ended for good (device
  // gone or failing), never merely because no frame came for a while.
  virtual bool running() const = 0;

 protected:
  // The display names of the devices this object can open, as its backend lists them.
  virtual HResult listDeviceNames(std::vector<std::string>& names) = 0;
  // Their paths in the same order, "" for a device without one; by default none has one.
  virtual HResult listDevicePaths(std::vector<std::string>& paths);
};

// A family of devices (V4L2 cameras, the simulated camera). Main thread.
class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;
  // The display names of the devices, in an order that is the same on every call, without
  // opening any. kSFalse and an empty list when there is none.
  virtual HResult ListVideoDevices(std::vector<std::string>& list) = 0;
  // A new, unopened device object; StartVideo or StartVideoAt opens one of the devices.
  virtual std::unique_ptr<CaptureDevice> CreateDevice() = 0;
  // The devices' paths (CaptureDevice::devicePath) in ListVideoDevices' order, "" for a device
  // without one; by default none has one.
  virtual HResult ListDevicePaths(std::vector<std::string>& paths);
};

// As many empty paths as `names` has: for devices that have none.
HResult noDevicePaths(const std::vector<std::string>& names, std::vector<std::string>& paths);

// Trims characters up to 0x20 at both ends of a device text.
std::string trimDeviceText(const std::string& text);

// The 0-based index of the device that `deviceText` names in `names`, or -1: the text is
// trimmed ("" means "#1"); at each device in order, first its trimmed name is compared with
// a to z folded to A to Z, then "#" and a 1-based position written without a leading zero
// ("#1" to "#9", "#10" on) selects by position; "#0", "#01", "#" and "#1x" select by name only.
// The first device that passes wins.
int selectDevice(const std::vector<std::string>& names, const std::string& deviceText);

// Sorts a format table by width, then height, keeping the device's order among equals.
void sortFormats(std::vector<VideoFormat>& formats);

// "640*480  (YUY2)": the code's bytes cut before the first zero byte; with a known fastest
// interval followed by its rate, "640*480  (YUY2) 30 fps" (at most two decimals: "29.97 fps",
// "7.5 fps").
std::string formatLine(const VideoFormat& format);

// Where the backends' lines go (a device that cannot be opened, a stream that failed or
// stopped): one writer for the whole program, called on any thread. The default writes
// "ravdel: <local time> <text>" to stderr; a program with lines of its own installs a writer
// that gives the backends' lines its prefix. nullptr puts the default back.
using CaptureLogWriter = void (*)(const std::string& text);
void setCaptureLogWriter(CaptureLogWriter writer);
void captureLog(const std::string& text);

// The one line a backend writes when a stream it ran has stopped: how many frames it took and
// how many reached the receiver. Support questions start from it. Nothing for a stream no
// receiver was ever installed on (a camera opened to list its formats): nothing was asked of
// it, so nothing went wrong.
void logStreamStopped(const std::string& device, const ReceiverSlot& slot, std::uint64_t captured,
                      std::uint64_t delivered);

}  // namespace ravdel
