// Frame delivery and the monitoring sequence over the DirectShow backend and the Windows main
// loop: the program's own road of a frame, from the camera's streaming thread to the main
// thread, and a camera that drops out reaching the monitor's reconnection.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "capture/directshow/directshow_backend.h"
#include "capture/directshow/win32_main_loop.h"
#include "capture/video_image.h"
#include "monitor/monitor.h"
#include "support/silent_view.h"
#include "support/temp_dir.h"
#include "test_camera.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;

// Runs the loop, timers and idle notifications included, until `done`.
bool runUntil(Win32MainLoop& loop, const std::function<bool()>& done,
              std::chrono::seconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.run(20ms);
  }
  return true;
}

class VideoImageDirectShowTest : public test::DirectShowTest {
 protected:
  DirectShowBackend backend_;
  Win32MainLoop loop_;
};

TEST_F(VideoImageDirectShowTest, FramesCrossFromTheStreamingThreadToTheMainThreadConverted) {
  TVideoImage image(backend_, loop_);  // on the system tick, timeGetTime
  std::set<DWORD> threads;
  int frames = 0;
  FrameBitmap picture;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    threads.insert(GetCurrentThreadId());
    ++frames;
    sender.GetBitmap(picture);
  };
  ASSERT_EQ(image.VideoStart("#1"), 0);
  EXPECT_EQ(image.width(), 640);
  EXPECT_EQ(image.height(), 480);
  EXPECT_EQ(image.fourcc(), fourcc::kYuy2);
  ASSERT_TRUE(runUntil(loop_, [&] { return frames >= 5; }));
  EXPECT_EQ(threads, std::set<DWORD>{GetCurrentThreadId()}) << "the frame event: main thread";
  EXPECT_NE(camera().workerThread(0), 0u);
  EXPECT_NE(camera().workerThread(0), GetCurrentThreadId()) << "sent on the camera's thread";
  EXPECT_EQ(picture.width(), 640);
  EXPECT_EQ(picture.height(), 480);

  // The last entry of the table, as Run picks it: 640x480 Motion-JPEG, decoded.
  const auto last = static_cast<std::int32_t>(image.formatTable().size()) - 1;
  ASSERT_EQ(image.SelectFormat(last), 0);
  EXPECT_EQ(image.fourcc(), fourcc::kMjpg);
  const int before = frames;
  ASSERT_TRUE(runUntil(loop_, [&] { return frames >= before + 3; }));
  EXPECT_EQ(camera().currentFourcc(0), fourcc::kMjpg);
  EXPECT_EQ(picture.width(), 640);

  ASSERT_EQ(image.SelectFormat(0), 0);  // 160x120 YUY2
  const int switched = frames;
  ASSERT_TRUE(runUntil(loop_, [&] { return frames >= switched + 3; }));
  EXPECT_EQ(picture.width(), 160);
  EXPECT_EQ(picture.height(), 120);
  image.VideoStop();
  EXPECT_GT(image.framesReceived(), 0u);
}

// The share of pixels with a channel above 200: a dark frame with a few hits has next to none.
double brightShare(const FrameBitmap& picture) {
  std::int64_t bright = 0;
  for (std::int32_t y = 0; y < picture.height(); ++y) {
    const std::uint8_t* row = picture.row(y);
    for (std::int32_t x = 0; x < picture.width() * 3; x += 3)
      bright += row[x] > 200 || row[x + 1] > 200 || row[x + 2] > 200;
  }
  return static_cast<double>(bright) / (std::int64_t{picture.width()} * picture.height());
}

// Drivers that pad their rows (biWidth the stride, the picture in rcTarget) and hand out
// buffers larger than a frame: every uncompressed format arrives packed and converts. Unpacked,
// each frame would show the format notice; packed with the wrong stride, the padding's bright
// bytes would show as a bright band.
TEST_F(VideoImageDirectShowTest, PaddedRowsAndLargerBuffersArePackedForEveryFormat) {
  for (int device = 0; device < testcam::kDevices; ++device) {
    camera().setQuirks(device, testcam::kQuirkPadded);
    TVideoImage image(backend_, loop_);
    int frames = 0;
    FrameBitmap picture;
    image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                                const std::uint8_t*) {
      ++frames;
      sender.GetBitmap(picture);
    };
    ASSERT_EQ(image.VideoStart("#" + std::to_string(device + 1)), 0);
    const std::vector<VideoFormat> table = image.formatTable();
    for (std::int32_t index = 0; index < static_cast<std::int32_t>(table.size()); ++index) {
      const VideoFormat& format = table[static_cast<std::size_t>(index)];
      if (format.fourcc == fourcc::kMjpg) continue;
      SCOPED_TRACE(std::to_string(device) + ": " + formatLine(format));
      ASSERT_EQ(image.SelectFormat(index), 0);
      EXPECT_EQ(image.width(), format.width) << "the picture, not the stride";
      const int before = frames;
      ASSERT_TRUE(runUntil(loop_, [&] { return frames >= before + 3; }));
      EXPECT_FALSE(picture.showsNotice());
      EXPECT_EQ(picture.width(), format.width);
      EXPECT_EQ(picture.height(), format.height);
      EXPECT_LT(brightShare(picture), 0.005);
    }
    image.VideoStop();
  }
}

// Says nothing; remembers the log and what the monitor reported of the camera.
class QuietView final : public test::SilentView, public EventSink {
 public:
  void showMessage(MessageKind, const std::string& text) override { messages.push_back(text); }
  void showFrameFailure(const std::string& text, std::function<void()> closed) override {
    messages.push_back(text);
    closed();
  }
  void appendLogLine(const std::string& line) override { log.push_back(line); }
  void cameraLost(const std::string& camera, const std::string& why) override {
    lost.push_back(camera + ": " + why);
  }
  void cameraBack(const std::string& camera) override { back.push_back(camera); }

  std::vector<std::string> messages, log, lost, back;
};

// The monitor with reconnection on, as ravdel-monitor runs it, on the test cameras.
class CameraLossTest : public test::DirectShowTestOn<test::TempDirTest> {
 protected:
  void TearDown() override {
    if (monitor_) monitor_->Close();
    monitor_.reset();  // every capture object gone before the camera's objects are counted
    DirectShowTestOn::TearDown();
  }

  void startMonitoring() {
    monitor_.emplace(backend_, loop_, view_, MonitorConfig{FormatChoice{}, true});
    monitor_->addSink(view_);
    monitor_->Open(path("RVD.ini"), path("events") + "\\");
    ASSERT_TRUE(monitor_->RunSBClick()) << (view_.messages.empty() ? "" : view_.messages[0]);
    ASSERT_TRUE(runUntil(loop_, [&] { return monitor_->framesSinceRun() >= 3; }));
  }

  // The camera is lost for `why`, comes back once `restore` has run, and frames flow again.
  void expectLossAndReturn(const std::string& why, const std::function<void()>& restore) {
    ASSERT_TRUE(runUntil(loop_, [&] { return monitor_->cameraLost(); }));
    ASSERT_EQ(view_.lost.size(), 1u);
    EXPECT_EQ(view_.lost[0].rfind(std::string(testcam::kNamesUtf8[0]) + ": " + why, 0), 0u)
        << view_.lost[0];
    EXPECT_TRUE(monitor_->Running) << "monitoring goes on while the camera is away";
    restore();
    ASSERT_TRUE(runUntil(loop_, [&] { return !view_.back.empty(); })) << "reopened by name";
    EXPECT_EQ(view_.back[0], testcam::kNamesUtf8[0]);
    const std::int64_t seen = monitor_->framesSinceRun();
    ASSERT_TRUE(runUntil(loop_, [&] { return monitor_->framesSinceRun() >= seen + 3; }));
    EXPECT_EQ(monitor_->captureObject()->fourcc(), fourcc::kMjpg) << "in the format it had";
    monitor_->StopSBClick();
  }

  DirectShowBackend backend_;
  Win32MainLoop loop_;
  QuietView view_;
  std::optional<Monitor> monitor_;
};

TEST_F(CameraLossTest, ACameraPulledOutIsLostAndReopenedWhenItIsBack) {
  ASSERT_NO_FATAL_FAILURE(startMonitoring());
  camera().setUnplugged(0, TRUE);  // EC_DEVICE_LOST; Run fails until it is back
  expectLossAndReturn("its stream ended", [&] { camera().setUnplugged(0, FALSE); });
}

TEST_F(CameraLossTest, ACameraThatStopsSendingIsLostAndReopened) {
  ASSERT_NO_FATAL_FAILURE(startMonitoring());
  camera().setStalled(0, TRUE);  // no event at all: only the silence tells
  expectLossAndReturn("no frame for", [&] { camera().setStalled(0, FALSE); });
}

// Two cameras of one name: the second drops out and comes back; reopened by its name alone, the
// first would have been opened (in its own smaller format) and logged as back.
TEST_F(CameraLossTest, OfTwoCamerasOfOneNameTheOneThatDroppedOutComesBack) {
  ASSERT_TRUE(camera().setFriendlyName(1, testcam::kNames[0]));
  monitor_.emplace(backend_, loop_, view_, MonitorConfig{FormatChoice{}, true});
  monitor_->addSink(view_);
  monitor_->Open(path("RVD.ini"), path("events") + "\\");
  monitor_->CamLstCBChange(1);
  ASSERT_TRUE(monitor_->RunSBClick());
  ASSERT_TRUE(runUntil(loop_, [&] { return monitor_->framesSinceRun() >= 3; }));
  EXPECT_EQ(monitor_->captureObject()->fourcc(), fourcc::kI420);
  camera().setUnplugged(1, TRUE);
  ASSERT_TRUE(runUntil(loop_, [&] { return monitor_->cameraLost(); }));
  camera().setUnplugged(1, FALSE);
  ASSERT_TRUE(runUntil(loop_, [&] { return !view_.back.empty(); }));
  EXPECT_EQ(monitor_->captureObject()->devicePath(), testcam::kDevicePathsUtf8[1]);
  EXPECT_EQ(monitor_->captureObject()->fourcc(), fourcc::kI420) << "in the format it had";
  EXPECT_EQ(camera().framesSent(0), 0u) << "the other camera of that name stayed closed";
  monitor_->StopSBClick();
}

// Run on a camera that cannot start: the box, and the reason in the log.
TEST_F(CameraLossTest, ACameraThatCannotStartIsExplainedInTheLog) {
  camera().setUnplugged(0, TRUE);
  monitor_.emplace(backend_, loop_, view_, MonitorConfig{FormatChoice{}, true});
  monitor_->Open(path("RVD.ini"), path("events") + "\\");
  EXPECT_FALSE(monitor_->RunSBClick());
  ASSERT_FALSE(view_.log.empty());
  const std::string& why = view_.log.front();
  EXPECT_EQ(why.rfind(std::string("Could not open ") + testcam::kNamesUtf8[0] + ": ", 0), 0u)
      << why;
  EXPECT_NE(why.find("IMediaControl::Run"), std::string::npos) << why;
  EXPECT_EQ(view_.messages, std::vector<std::string>{"Could not start monitoring!"});
}

}  // namespace
}  // namespace ravdel
