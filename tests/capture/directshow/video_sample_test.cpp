#include "capture/directshow/video_sample.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/fourcc.h"
#include "test_camera.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;
using test::DirectShowTest;

// Remembers what reached it on the streaming thread.
class RecordingReceiver final : public FrameReceiver {
 public:
  void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                    const FrameMoment&) override {
    const std::lock_guard lock(mutex_);
    ++frames_;
    sizes_.insert(byteCount);
    threads_.insert(GetCurrentThreadId());
    firstBytes_ = byteCount >= 2 ? (data[0] << 8 | data[1]) : -1;
    byteCount = 0;  // changes nothing for the callback
  }
  int frames() const {
    const std::lock_guard lock(mutex_);
    return frames_;
  }
  std::set<std::int32_t> sizes() const {
    const std::lock_guard lock(mutex_);
    return sizes_;
  }
  std::set<DWORD> threads() const {
    const std::lock_guard lock(mutex_);
    return threads_;
  }
  int firstBytes() const {
    const std::lock_guard lock(mutex_);
    return firstBytes_;
  }
  void clear() {
    const std::lock_guard lock(mutex_);
    frames_ = 0;
    sizes_.clear();
    threads_.clear();
  }

 private:
  mutable std::mutex mutex_;  // guards everything below
  int frames_ = 0;
  std::set<std::int32_t> sizes_;
  std::set<DWORD> threads_;
  int firstBytes_ = -1;
};

// One expected entry of a format table: size, the device's capability index, format code.
struct TableEntry {
  std::int32_t w, h, caps;
  std::uint32_t code;
};

void expectTable(const std::vector<VideoFormat>& table, const std::vector<TableEntry>& expected) {
  ASSERT_EQ(table.size(), expected.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(table[i].width, expected[i].w);
    EXPECT_EQ(table[i].height, expected[i].h);
    EXPECT_EQ(table[i].capsIndex, expected[i].caps);
    EXPECT_EQ(table[i].fourcc, expected[i].code);
  }
}

class VideoSampleTest : public DirectShowTest {
 protected:
  // A started sample as frame delivery makes one: no owner window, native format, SampleCB.
  std::unique_ptr<TVideoSample> start(const std::string& device, HWND owner = nullptr,
                                      bool forceRgb24 = false, std::int32_t mode = 0) {
    HResult setup = E_FAIL;
    auto sample = std::make_unique<TVideoSample>(owner, forceRgb24, mode, setup);
    EXPECT_EQ(setup, S_OK);
    std::string found;
    EXPECT_TRUE(test::succeeded(sample->StartVideo(device, false, found))) << device;
    return sample;
  }

  static bool framesArrive(const RecordingReceiver& receiver, int count = 5) {
    return pumpUntil([&] { return receiver.frames() >= count; });
  }
};

TEST_F(VideoSampleTest, TheFormatTableIsSortedByWidthThenHeightKeepingTheDevicesOrder) {
  auto sample = start("#1");
  // Reported as 640x480 YUY2, 320x240 YUY2, 640x480 MJPG, 160x120 YUY2 (the documented example).
  const std::vector<VideoFormat>& table = sample->formats();
  expectTable(table, {{160, 120, 3, fourcc::kYuy2},
                      {320, 240, 1, fourcc::kYuy2},
                      {640, 480, 0, fourcc::kYuy2},
                      {640, 480, 2, fourcc::kMjpg}});
  for (const VideoFormat& format : table) {
    EXPECT_EQ(format.fastest.numerator, 333333u) << "the capability's shortest interval";
    EXPECT_EQ(format.fastest.denominator, 10000000u);
  }
  EXPECT_EQ(table[0].sampleSize, 160 * 120 * 2);

  std::vector<std::string> lines;
  sample->ListFormats(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"160*120  (YUY2) 30 fps", "320*240  (YUY2) 30 fps",
                                             "640*480  (YUY2) 30 fps", "640*480  (MJPG) 30 fps"}));
  sample->SetRunning(false);
  sample->ListFormats(lines);
  EXPECT_TRUE(lines.empty()) << "a stopped object lists nothing";
}

// Many UVC cameras list every mode a second time with a VIDEOINFOHEADER2 block, whose bitmap
// header lies elsewhere: read as a VIDEOINFOHEADER those entries were 0 x 0 of format 0, and Run,
// which streams the last entry, picked one.
TEST_F(VideoSampleTest, FormatsOfferedTwiceAreReadFromEitherKindOfFormatBlock) {
  camera().setQuirks(0, testcam::kQuirkTwins);
  auto sample = start("#1");
  const std::vector<TableEntry> expected = {
      {160, 120, 3, fourcc::kYuy2}, {160, 120, 7, fourcc::kYuy2}, {320, 240, 1, fourcc::kYuy2},
      {320, 240, 5, fourcc::kYuy2}, {640, 480, 0, fourcc::kYuy2}, {640, 480, 2, fourcc::kMjpg},
      {640, 480, 4, fourcc::kYuy2}, {640, 480, 6, fourcc::kMjpg}};
  expectTable(sample->formats(), expected);
  // Each twin streams, and the stream says its size and code from the VIDEOINFOHEADER2.
  for (const std::int32_t index : {1, 3, 7}) {
    SCOPED_TRACE(index);
    ASSERT_EQ(sample->SetFormatByIndex(index), S_OK);
    std::int32_t w = 0, h = 0;
    std::uint32_t code = 0;
    ASSERT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
    const TableEntry& entry = expected[static_cast<std::size_t>(index)];
    EXPECT_EQ(w, entry.w);
    EXPECT_EQ(h, entry.h);
    EXPECT_EQ(code, entry.code);
    EXPECT_TRUE(sample->running());
  }
}

TEST_F(VideoSampleTest, TwentyFourBitRgbIsListedAsRgbWithItsBlank) {
  auto sample = start("#2");
  std::vector<std::string> lines;
  sample->ListFormats(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"160*120  (RGB ) 30 fps", "176*144  (I420) 30 fps",
                                             "320*240  (RGB ) 30 fps", "640*480  (I420) 30 fps"}));
  EXPECT_EQ(sample->formats()[0].fourcc, kRgbCapabilityCode);
}

TEST_F(VideoSampleTest, StreamInfoIsTheCurrentFormatWithAPositiveHeight) {
  auto sample = start("#1");
  std::int32_t w = -1, h = -1;
  std::uint32_t code = 0;
  EXPECT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(w, 640) << "the device's own first format";
  EXPECT_EQ(h, 480);
  EXPECT_EQ(code, fourcc::kYuy2);
  EXPECT_TRUE(sample->running()) << "GetStreamInfo runs the graph again";

  auto rgb = start("#2");
  ASSERT_EQ(rgb->SetFormatByIndex(0), S_OK);  // 160x120 RGB, reported top-down (biHeight -120)
  code = 12345;
  EXPECT_EQ(rgb->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(code, 0u) << "uncompressed RGB";
}

TEST_F(VideoSampleTest, FramesArriveOnTheStreamingThreadWithTheBuffersSize) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver));
  EXPECT_EQ(receiver.sizes(), (std::set<std::int32_t>{640 * 480 * 2}));
  const std::set<DWORD> threads = receiver.threads();
  EXPECT_EQ(threads.count(GetCurrentThreadId()), 0u) << "not on the main thread";
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_GE(sample->framesDelivered(), 5u);
  EXPECT_GE(sample->framesCaptured(), sample->framesDelivered());
  sample->SetFrameCallback(nullptr);
}

TEST_F(VideoSampleTest, AFormatSwitchStreamsTheNewFormatAtItsHighestRate) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver, 2));
  EXPECT_EQ(camera().frameInterval(0), testcam::kDefaultInterval);

  ASSERT_EQ(sample->SetFormatByIndex(0), S_OK);  // 160x120 YUY2
  EXPECT_TRUE(sample->running());
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  ASSERT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(code, fourcc::kYuy2);
  EXPECT_EQ(camera().frameInterval(0), testcam::kFastestInterval);
  receiver.clear();
  ASSERT_TRUE(framesArrive(receiver));
  EXPECT_EQ(receiver.sizes(), (std::set<std::int32_t>{160 * 120 * 2}));

  ASSERT_EQ(sample->SetFormatByIndex(3), S_OK);  // 640x480 MJPG
  receiver.clear();
  ASSERT_TRUE(framesArrive(receiver));
  EXPECT_EQ(receiver.sizes(), (std::set<std::int32_t>{640 * 480 * 3}))
      << "the buffer's allocated size, not the picture's";
  EXPECT_EQ(receiver.firstBytes(), 0xffd8) << "a JPEG picture";
  ASSERT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(code, fourcc::kMjpg);
  sample->SetFrameCallback(nullptr);
}

TEST_F(VideoSampleTest, AnIndexOutsideTheTableChangesNothing) {
  auto sample = start("#1");
  EXPECT_EQ(sample->SetFormatByIndex(-1), S_FALSE);
  EXPECT_EQ(sample->SetFormatByIndex(4), S_FALSE);
  EXPECT_TRUE(sample->running());
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  ASSERT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(w, 640);
}

TEST_F(VideoSampleTest, AFormatTheCameraCannotStreamIsReportedAndLeavesItStopped) {
  auto sample = start("#1");
  camera().refuseFormat(0, fourcc::kMjpg);  // as when the USB bus has no room for it
  const HResult hr = sample->SetFormatByIndex(3);
  EXPECT_TRUE(failed(hr)) << std::hex << hr;
  EXPECT_FALSE(sample->running());
  EXPECT_FALSE(sample->endReason().empty());
}

TEST_F(VideoSampleTest, StoppedAndRunAgainTheStreamGoesOn) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver, 1));
  EXPECT_EQ(sample->SetRunning(false), S_OK);
  EXPECT_FALSE(sample->running());
  pumpFor(150ms);
  const int stopped = receiver.frames();
  pumpFor(300ms);
  EXPECT_EQ(receiver.frames(), stopped) << "no frame while stopped";
  EXPECT_TRUE(test::succeeded(sample->SetRunning(true)));
  EXPECT_TRUE(sample->running());
  EXPECT_EQ(sample->SetRunning(true), S_OK) << "running already";
  ASSERT_TRUE(framesArrive(receiver, stopped + 3));
  sample->SetFrameCallback(nullptr);
}

TEST_F(VideoSampleTest, ACameraPulledOutEndsTheStreamAndCannotStartUntilItIsBack) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver, 2));
  camera().setUnplugged(0, TRUE);
  ASSERT_TRUE(pumpUntil([&] { return !sample->running(); })) << "EC_DEVICE_LOST ends it";
  EXPECT_EQ(sample->endReason(), "device lost");
  const int atLoss = receiver.frames();
  pumpFor(300ms);
  EXPECT_EQ(receiver.frames(), atLoss);
  sample->SetFrameCallback(nullptr);
  sample.reset();

  HResult setup = E_FAIL;
  TVideoSample again(nullptr, false, 0, setup);
  std::string found;
  EXPECT_TRUE(failed(again.StartVideo("Ravdel Test Camera", false, found)))
      << "listed, but it does not run";
  EXPECT_EQ(found, testcam::kNamesUtf8[0]);

  camera().setUnplugged(0, FALSE);
  auto back = start("Ravdel Test Camera");
  EXPECT_TRUE(back->running());
}

// "Could not start monitoring!" needs its reason in the log: the failing call, its result and
// what that means for a camera.
TEST_F(VideoSampleTest, AFailedStartSaysWhichCallFailedAndWhatItMeans) {
  camera().setUnplugged(0, TRUE);
  HResult setup = E_FAIL;
  TVideoSample unplugged(nullptr, false, 0, setup);
  std::string found;
  EXPECT_TRUE(failed(unplugged.StartVideo("#1", false, found)));
  // Windows' graph answers Run with the camera's own result (0x8007048F: "the camera is not
  // connected"); Wine's reports a failed state change as E_FAIL.
  EXPECT_EQ(unplugged.failure().rfind("IMediaControl::Run", 0), 0u) << unplugged.failure();
  EXPECT_NE(unplugged.failure().find(" failed with 0x8"), std::string::npos) << unplugged.failure();

  TVideoSample nobody(nullptr, false, 0, setup);
  EXPECT_TRUE(failed(nobody.StartVideo("Nobody's Camera", false, found)));
  EXPECT_EQ(nobody.failure(), "no such camera");

  camera().setUnplugged(0, FALSE);
  auto plugged = start("#1");
  EXPECT_EQ(plugged->failure(), "") << "nothing failed";
}

// The Sample Grabber's server for the test's duration: another DLL, or its own again.
class SampleGrabberServer {
 public:
  SampleGrabberServer() {
    RegOpenKeyExW(HKEY_CLASSES_ROOT,
                  L"CLSID\\{C1F400A0-3F08-11D3-9F0B-006008039E37}\\InprocServer32", 0,
                  KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
    DWORD size = sizeof own_;
    RegGetValueW(key_, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, own_, &size);
  }
  ~SampleGrabberServer() {
    set(own_);
    RegCloseKey(key_);
  }
  SampleGrabberServer(const SampleGrabberServer&) = delete;
  SampleGrabberServer& operator=(const SampleGrabberServer&) = delete;
  bool set(const wchar_t* path) {
    const auto bytes = static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  wchar_t own_[MAX_PATH] = L"qedit.dll";
};

// Without the Sample Grabber (qedit.dll missing or not registered, as on some editions of
// Windows) the log names it.
TEST_F(VideoSampleTest, AMissingSampleGrabberIsNamed) {
  HResult setup = S_OK;
  std::unique_ptr<TVideoSample> sample;
  {
    SampleGrabberServer server;
    ASSERT_TRUE(server.set(L"C:\\nowhere\\qedit-missing.dll"));
    sample = std::make_unique<TVideoSample>(nullptr, false, 0, setup);
  }
  EXPECT_TRUE(failed(setup));
  std::string found;
  EXPECT_TRUE(failed(sample->StartVideo("#1", false, found)));
  EXPECT_EQ(
      sample->failure().rfind("CoCreateInstance(Sample Grabber, qedit.dll) failed with 0x", 0), 0u)
      << sample->failure();
}

// Each camera's own path, which a camera of the same name does not share.
TEST_F(VideoSampleTest, EachCameraHasItsDevicePath) {
  for (int device = 0; device < testcam::kDevices; ++device) {
    auto sample = start("#" + std::to_string(device + 1));
    EXPECT_EQ(sample->devicePath(), testcam::kDevicePathsUtf8[device]);
  }
}

TEST_F(VideoSampleTest, AStreamThatEndsEndsRunning) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver, 2));
  camera().endStream(0);
  ASSERT_TRUE(pumpUntil([&] { return !sample->running(); })) << "EC_COMPLETE ends it";
  EXPECT_EQ(sample->endReason(), "its stream ended");
  EXPECT_TRUE(test::succeeded(sample->SetRunning(true))) << "a fresh start";
  EXPECT_TRUE(sample->running());
  const int before = receiver.frames();
  ASSERT_TRUE(framesArrive(receiver, before + 2));
  sample->SetFrameCallback(nullptr);
}

TEST_F(VideoSampleTest, NoCallbackRunsOnceTheDestructorHasReturned) {
  auto sample = start("#1");
  RecordingReceiver receiver;
  sample->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver, 3));
  EXPECT_EQ(TSampleGrabberCB::liveObjects(), 1);
  sample.reset();
  const int atDestruction = receiver.frames();
  EXPECT_EQ(TSampleGrabberCB::liveObjects(), 0) << "the callback object is freed";
  EXPECT_EQ(camera().liveObjects(), 0) << "the graph let go of the camera";
  pumpFor(300ms);
  EXPECT_EQ(receiver.frames(), atDestruction);
}

TEST_F(VideoSampleTest, AHundredStartsAndStopsLeaveNoReferenceBehind) {
  for (int cycle = 0; cycle < 100; ++cycle) {
    SCOPED_TRACE(cycle);
    RecordingReceiver receiver;
    {
      auto sample = start(cycle % 2 == 0 ? "#1" : "#2");
      std::int32_t w = 0, h = 0;
      std::uint32_t code = 0;
      ASSERT_EQ(sample->GetStreamInfo(w, h, code), S_OK);
      sample->SetFrameCallback(&receiver);
      if (cycle % 10 == 0) {
        ASSERT_EQ(sample->SetFormatByIndex(1), S_OK);
      }
    }
    ASSERT_EQ(camera().liveObjects(), 0);
    ASSERT_EQ(TSampleGrabberCB::liveObjects(), 0);
  }
}

TEST_F(VideoSampleTest, BufferCallbackModeDeliversTooAndForcedRgbStreamsRgb) {
  auto buffers = start("#1", nullptr, false, 1);
  RecordingReceiver receiver;
  buffers->SetFrameCallback(&receiver);
  ASSERT_TRUE(framesArrive(receiver));
  buffers->SetFrameCallback(nullptr);
  buffers.reset();

  auto rgb = start("#2", nullptr, true);  // the RGB camera; its first format is RGB24
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 1;
  ASSERT_EQ(rgb->GetStreamInfo(w, h, code), S_OK);
  EXPECT_EQ(code, 0u);
}

// A message-only window that counts what it is sent.
class MessageCounter {
 public:
  MessageCounter() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MessageCounter::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "RavdelTestOwner";
    RegisterClassExA(&windowClass);
    window_ = CreateWindowExA(0, "RavdelTestOwner", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~MessageCounter() { DestroyWindow(window_); }
  MessageCounter(const MessageCounter&) = delete;
  MessageCounter& operator=(const MessageCounter&) = delete;

  HWND window() const { return window_; }
  int offers = 0;
  WPARAM offeredLength = 0;
  int graphEvents = 0;

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageCounter*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_USER + 2) {
      ++self->offers;
      self->offeredLength = wParam;
      return 0;
    }
    if (self != nullptr && message == 0x8001) {
      ++self->graphEvents;
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  HWND window_ = nullptr;
};

TEST_F(VideoSampleTest, TheOwnerWindowIsOfferedFramesBeforeTheReceiverAndHearsGraphEvents) {
  MessageCounter owner;
  auto sample = start("#1", owner.window());
  ASSERT_TRUE(pumpUntil([&] { return owner.offers >= 2; })) << "message 0x402";
  EXPECT_EQ(owner.offeredLength, WPARAM{640 * 480 * 2});
  const int before = owner.graphEvents;
  camera().setUnplugged(0, TRUE);
  ASSERT_TRUE(pumpUntil([&] { return owner.graphEvents > before; })) << "message 0x8001";
  EXPECT_TRUE(pumpUntil([&] { return !sample->running(); }));
}

}  // namespace
}  // namespace ravdel
