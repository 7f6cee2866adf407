#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "base/fourcc.h"
#include "capture/headless_main_loop.h"
#include "capture/v4l2/v4l2_query.h"
#include "capture/video_image.h"
#include "v4l2_test_camera.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;

bool workerThreadExists() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == "ravdel-v4l2") return true;
  }
  return false;
}

std::vector<std::string> tail(const std::vector<std::string>& events, std::size_t count) {
  return {events.end() - static_cast<std::ptrdiff_t>(std::min(count, events.size())), events.end()};
}

bool hasEvent(const std::shared_ptr<FakeV4l2Io>& fake, const std::string& event) {
  const std::vector<std::string> events = fake->events();
  return std::find(events.begin(), events.end(), event) != events.end();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

struct StreamInfo {
  std::int32_t width = 0, height = 0;
  std::uint32_t code = 0;
  bool operator==(const StreamInfo&) const = default;
};

StreamInfo streamInfo(CaptureDevice& device) {
  StreamInfo info;
  EXPECT_EQ(device.GetStreamInfo(info.width, info.height, info.code), kSOk);
  return info;
}

// The index of the format table entry with this line; -1 when there is none.
std::int32_t entryIndex(const CaptureDevice& device, const std::string& line) {
  const std::vector<VideoFormat>& formats = device.formats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (formatLine(formats[i]) == line) return static_cast<std::int32_t>(i);
  }
  return -1;
}

// bytesused, not the page-sized buffer, is delivered; a frame the driver marks damaged is not.
TEST(V4l2StreamTest, DeliversTheBytesUsedOfEachFrame) {
  auto fake = makeCamera();
  RecordingReceiver receiver;
  auto device = startCamera(fake, &receiver);
  const Bytes first(16, 7), second = {1, 2, 3};
  fake->pushFrame(first);
  fake->pushFrame(Bytes(16, 9), V4L2_BUF_FLAG_ERROR);
  fake->pushFrame(second);
  ASSERT_TRUE(receiver.waitForFrames(2));
  EXPECT_EQ(receiver.frames(), (std::vector<Bytes>{first, second}));
  EXPECT_TRUE(workerThreadExists());

  device.reset();
  receiver.close();
  // join() returns as the thread exits; the kernel drops its task entry a moment later.
  EXPECT_TRUE(waitUntil([] { return !workerThreadExists(); }));
  EXPECT_EQ(tail(fake->events(), 7),
            (std::vector<std::string>{"STREAMOFF", "munmap", "munmap", "munmap", "munmap",
                                      "REQBUFS 0", "close"}));
  EXPECT_EQ(fake->openCount(), 0);
}

TEST(V4l2StreamTest, InterruptionsAndEmptyDequeuesAreSkipped) {
  auto fake = makeCamera();
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  fake->failNext(FakeV4l2Io::kPoll, EINTR, 3);
  fake->pushFrame({1});
  ASSERT_TRUE(receiver.waitForFrames(1));
  fake->failNext(FakeV4l2Io::kPoll, EAGAIN, 3);
  fake->failNext(VIDIOC_DQBUF, EINTR, 2);
  fake->pushFrame({2});
  ASSERT_TRUE(receiver.waitForFrames(2));
  fake->failNext(VIDIOC_DQBUF, EAGAIN, 2);
  fake->failNext(VIDIOC_QBUF, EINTR, 1);
  fake->pushFrame({3});
  fake->pushFrame({4});
  ASSERT_TRUE(receiver.waitForFrames(4));
  EXPECT_TRUE(device->running());
}

// However the device goes away, the worker ends and the device reports stopped at once (the
// monitor watches running()), logs the stream's counts once, and tears down cleanly later
// without logging the teardown calls a vanished device fails.
TEST(V4l2StreamTest, VanishingDeviceEndsTheStream) {
  const struct {
    const char* name;
    unsigned long request;
    int error;
    short revents;
    std::size_t delivered;
  } cases[] = {{"unplugged", 0, 0, 0, 0},
               {"poll ENODEV", FakeV4l2Io::kPoll, ENODEV, 0, 0},
               {"DQBUF ENODEV", VIDIOC_DQBUF, ENODEV, 0, 0},
               {"DQBUF EIO", VIDIOC_DQBUF, EIO, 0, 0},
               {"QBUF ENXIO", VIDIOC_QBUF, ENXIO, 0, 1},
               {"POLLERR", VIDIOC_DQBUF, 0, POLLERR, 0},
               {"POLLHUP", VIDIOC_DQBUF, 0, POLLHUP, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fake = makeCamera();
    RecordingReceiver receiver;
    testing::internal::CaptureStderr();
    auto device = startCamera(fake, &receiver);
    if (c.request == 0) fake->unplug();
    if (c.error != 0) fake->failNext(c.request, c.error, FakeV4l2Io::kForever);
    fake->reportOnPoll(c.revents);
    fake->pushFrame({1});
    EXPECT_TRUE(waitUntil([&] { return !device->running(); }));
    std::vector<std::string> lines;
    device->ListFormats(lines);
    EXPECT_TRUE(lines.empty());
    fake->pushFrame({2});
    std::this_thread::sleep_for(20ms);
    device.reset();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(log, "stream stopped after"), 1u) << log;
    EXPECT_EQ(occurrences(log, "capture ended"), 1u) << log;
    EXPECT_EQ(occurrences(log, "VIDIOC_STREAMOFF"), 0u) << log;
    EXPECT_EQ(occurrences(log, "VIDIOC_REQBUFS"), 0u) << log;
    EXPECT_EQ(receiver.frames().size(), c.delivered);
    EXPECT_EQ(fake->openCount(), 0);
    EXPECT_EQ(fake->mappedCount(), 0);
  }
}

// A camera that stops sending without an error is still streaming: the monitor tells it from
// the frame count, and frames flow again when the camera recovers.
TEST(V4l2StreamTest, StalledCameraStaysRunning) {
  auto fake = makeCamera();
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  fake->pushFrame({1});
  ASSERT_TRUE(receiver.waitForFrames(1));
  fake->setStalled(true);
  fake->pushFrame({2});
  const int polls = fake->pollCount();
  ASSERT_TRUE(waitUntil([&] { return fake->pollCount() > polls + 20; })) << "worker idles on";
  EXPECT_TRUE(device->running());
  EXPECT_EQ(receiver.frames().size(), 1u);
  fake->setStalled(false);
  EXPECT_TRUE(receiver.waitForFrames(2));
}

// The driver may grant fewer buffers than asked for; the stream cycles through those.
TEST(V4l2StreamTest, FewerBuffersThanAskedForStillStream) {
  auto fake = makeCamera();
  fake->setBufferLimit(2);
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  EXPECT_TRUE(hasEvent(fake, "REQBUFS 2"));
  EXPECT_EQ(fake->mappedCount(), 2);
  for (std::uint8_t i = 0; i < 7; ++i)
    fake->pushFrame({i});
  ASSERT_TRUE(receiver.waitForFrames(7));
  EXPECT_EQ(receiver.frames().back(), Bytes{6});
}

// BGR24 rows arrive top-down with padding; the receiver gets packed rows bottom row first.
// A short frame arrives as it is, so that the picture's notice shows its size.
TEST(V4l2StreamTest, Bgr24RowsAreFlippedBottomRowFirst) {
  auto fake = makeCamera(V4L2_PIX_FMT_BGR24, {2, 3}, 8);
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  const Bytes top = {1, 2, 3, 4, 5, 6}, middle = {7, 8, 9, 10, 11, 12},
              bottom = {13, 14, 15, 16, 17, 18}, pad = {0xAA, 0xBB};
  Bytes frame;
  for (const Bytes* row : {&top, &pad, &middle, &pad, &bottom})
    frame.insert(frame.end(), row->begin(), row->end());
  const Bytes shortFrame(frame.begin(), frame.begin() + 8 + 8 + 5);
  fake->pushFrame(frame);
  fake->pushFrame(shortFrame);
  ASSERT_TRUE(receiver.waitForFrames(2));
  Bytes upright = bottom;
  upright.insert(upright.end(), middle.begin(), middle.end());
  upright.insert(upright.end(), top.begin(), top.end());
  EXPECT_EQ(receiver.frames(), (std::vector<Bytes>{upright, shortFrame}));
}

// A laptop camera behind an ISP: buffers go through their one plane, whose frame starts after
// a header (data_offset, counted into bytesused), and formats are set through pix_mp.
TEST(V4l2StreamTest, MultiPlanarNodeStreamsThroughItsPlane) {
  auto fake = makeCamera(V4L2_PIX_FMT_YUYV, {2, 1}, 0, V4L2_CAP_VIDEO_CAPTURE_MPLANE);
  fake->addFormat(V4L2_PIX_FMT_GREY, {{4, 2}});
  fake->setDataOffset(3);
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  fake->pushFrame({1, 2, 3, 4});
  ASSERT_TRUE(receiver.waitForFrames(1));
  EXPECT_EQ(receiver.frames()[0], (Bytes{1, 2, 3, 4}));

  fake->setRowPadding(2);
  ASSERT_EQ(device->SetFormatByIndex(entryIndex(*device, "4*2  (GREY)")), kSOk);
  EXPECT_EQ(streamInfo(*device), (StreamInfo{4, 2, fourcc::kGrey}));
  fake->pushFrame({1, 2, 3, 4, 0, 0, 5, 6, 7, 8});
  ASSERT_TRUE(receiver.waitForFrames(2));
  EXPECT_EQ(receiver.frames()[1], (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

// A node left in a format of separate memory planes is switched to one it can stream.
TEST(V4l2StreamTest, MultiPlanarNodeLeavesAFormatOfSeveralPlanes) {
  auto fake = makeCamera(V4L2_PIX_FMT_NV12, {4, 2}, 0, V4L2_CAP_VIDEO_CAPTURE_MPLANE);
  fake->addFormat(V4L2_PIX_FMT_NV12M, {{4, 2}}, 2);
  fake->setCurrent(V4L2_PIX_FMT_NV12M, {4, 2});
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  EXPECT_TRUE(hasEvent(fake, "S_FMT NV12 4x2"));
  EXPECT_EQ(streamInfo(*device), (StreamInfo{4, 2, fourcc::kNv12}));
  fake->pushFrame(Bytes(12, 9));
  EXPECT_TRUE(receiver.waitForFrames(1));
}

TEST(V4l2StreamTest, SetFormatByIndexSwitchesToTheEntrysOwnPixelFormat) {
  auto fake = makeCamera(V4L2_PIX_FMT_YUYV, {640, 480});
  fake->addFormat(V4L2_PIX_FMT_JPEG, {{800, 600}});
  const auto device = startCamera(fake);
  const auto before = fake->events().size();
  EXPECT_EQ(device->SetFormatByIndex(-1), kSFalse);
  EXPECT_EQ(device->SetFormatByIndex(2), kSFalse);
  EXPECT_EQ(fake->events().size(), before);

  EXPECT_EQ(device->SetFormatByIndex(1), kSOk);
  EXPECT_EQ(tail(fake->events(), 9),
            (std::vector<std::string>{"STREAMOFF", "munmap", "munmap", "munmap", "munmap",
                                      "REQBUFS 0", "S_FMT JPEG 800x600", "REQBUFS 4", "STREAMON"}));
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  EXPECT_EQ(device->GetStreamInfo(w, h, code), kSOk);
  EXPECT_EQ(std::tie(w, h, code), std::make_tuple(800, 600, fourcc::kMjpg));
  EXPECT_TRUE(device->running());
}

// Drivers grant the nearest size they can (here aligned to 4 pixels, rows padded); the stream
// runs in that size at the highest rate offered there, and frames are packed for it.
TEST(V4l2StreamTest, SwitchStreamsTheSizeTheDriverGrants) {
  auto fake = makeCamera();
  fake->addFormat(V4L2_PIX_FMT_GREY, {{6, 3}});
  fake->setIntervals(V4L2_PIX_FMT_GREY, {6, 3}, {{1, 90}});
  fake->setIntervals(V4L2_PIX_FMT_GREY, {8, 4}, {{1, 10}, {1, 20}});
  fake->setAlignment(4);
  fake->setRowPadding(2);
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  ASSERT_EQ(device->SetFormatByIndex(entryIndex(*device, "6*3  (GREY) 90 fps")), kSOk);
  EXPECT_EQ(streamInfo(*device), (StreamInfo{8, 4, fourcc::kGrey}));
  EXPECT_TRUE(hasEvent(fake, "S_PARM 1/20"));
  Bytes frame, packed;
  for (std::uint8_t row = 0; row < 4; ++row) {
    const Bytes pixels(8, row);
    frame.insert(frame.end(), pixels.begin(), pixels.end());
    frame.insert(frame.end(), {0xEE, 0xEE});
    packed.insert(packed.end(), pixels.begin(), pixels.end());
  }
  fake->pushFrame(frame);
  ASSERT_TRUE(receiver.waitForFrames(1));
  EXPECT_EQ(receiver.frames()[0], packed);
}

// After a switch the camera is asked for its highest rate at the new size, when it lets the
// application choose.
TEST(V4l2StreamTest, SwitchAsksForTheHighestRate) {
  const struct {
    const char* name;
    std::vector<v4l2_fract> intervals;
    bool stepwise, settable;
    const char* set;  // nullptr: no S_PARM
  } cases[] = {{"discrete", {{1, 5}, {1, 30}, {1, 15}}, false, true, "S_PARM 1/30"},
               {"stepwise", {{1, 60}, {1, 1}}, true, true, "S_PARM 1/60"},
               {"rate fixed by the driver", {{1, 5}, {1, 30}}, false, false, nullptr},
               {"no intervals enumerated", {}, false, true, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fake = makeCamera();
    fake->addFormat(V4L2_PIX_FMT_MJPEG, {{8, 4}});
    if (!c.intervals.empty())
      fake->setIntervals(V4L2_PIX_FMT_MJPEG, {8, 4}, c.intervals, c.stepwise);
    fake->setTimePerFrame(c.settable);
    const auto device = startCamera(fake);
    const auto before = fake->events().size();
    EXPECT_EQ(device->SetFormatByIndex(1), kSOk);
    const std::vector<std::string> events = fake->events();
    const std::vector<std::string> sParm = [&] {
      std::vector<std::string> found;
      std::copy_if(events.begin() + static_cast<std::ptrdiff_t>(before), events.end(),
                   std::back_inserter(found),
                   [](const std::string& e) { return e.rfind("S_PARM", 0) == 0; });
      return found;
    }();
    EXPECT_EQ(sParm, c.set ? std::vector<std::string>{c.set} : std::vector<std::string>{});
    EXPECT_TRUE(device->running());
  }
}

// A switch whose stream cannot start again (STREAMON ENOSPC: no USB bandwidth left for the
// larger format; REQBUFS failing) is reported, through SelectFormat too, and leaves the camera
// stopped; a format that fits streams again.
TEST(V4l2StreamTest, FailedRestartAfterASwitchIsReported) {
  for (const bool bandwidth : {true, false}) {
    SCOPED_TRACE(bandwidth ? "no bandwidth" : "no buffers");
    auto fake = makeCamera();
    fake->addFormat(V4L2_PIX_FMT_UYVY, {{64, 48}});
    V4l2Backend backend(fake);
    HeadlessMainLoop loop;
    TVideoImage image(backend, loop);
    ASSERT_EQ(image.VideoStart(""), 0);
    if (bandwidth) {
      fake->setBandwidth(1000);
    } else {
      fake->failNext(FakeV4l2Io::kAllocate, ENOMEM);
    }
    EXPECT_EQ(image.SelectFormat(1), 1);
    EXPECT_FALSE(image.isStreaming());
    EXPECT_EQ(image.width(), 64) << "the picture follows the format that was set";
    EXPECT_EQ(fake->mappedCount(), 0);

    EXPECT_EQ(image.SelectFormat(0), 0);
    EXPECT_TRUE(image.isStreaming());
    EXPECT_EQ(image.width(), 4);
  }
}

// Padded planar frames reach the picture converted, not as the notice; a short one shows it.
TEST(V4l2StreamTest, PaddedFramesAreConvertedIntoThePicture) {
  auto fake = makeCamera(V4L2_PIX_FMT_YUV420, {4, 2}, 8);
  V4l2Backend backend(fake);
  HeadlessMainLoop loop;
  TVideoImage image(backend, loop);
  std::vector<bool> notices;
  std::vector<int> firstBlue;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    FrameBitmap picture;
    sender.GetBitmap(picture);
    notices.push_back(picture.showsNotice());
    firstBlue.push_back(picture.row(0)[0]);
    loop.quit();
  };
  ASSERT_EQ(image.VideoStart(""), 0);
  loop.processPending();  // idle once: frames are taken from now on
  // Luma 235 (white) in every pixel, neutral chroma at half the stride, padding dark.
  Bytes frame;
  for (int row = 0; row < 2; ++row)
    frame.insert(frame.end(), {235, 235, 235, 235, 0, 0, 0, 0});
  frame.insert(frame.end(), {128, 128, 0, 0, 128, 128, 0, 0});
  fake->pushFrame(frame);
  loop.run(std::chrono::seconds(10));
  fake->pushFrame(Bytes(frame.begin(), frame.begin() + 10));
  loop.run(std::chrono::seconds(10));
  image.VideoStop();
  EXPECT_EQ(notices, (std::vector<bool>{false, true}));
  ASSERT_FALSE(firstBlue.empty());
  EXPECT_EQ(firstBlue[0], 255);
}

TEST(V4l2StreamTest, FailingSetFormatStreamsTheOldFormatAgain) {
  auto fake = makeCamera();
  fake->addFormat(V4L2_PIX_FMT_MJPEG, {{640, 480}});
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  fake->failNext(VIDIOC_S_FMT, EBUSY);
  EXPECT_EQ(device->SetFormatByIndex(1), hresultFromErrno(EBUSY));
  EXPECT_TRUE(device->running());
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  EXPECT_EQ(device->GetStreamInfo(w, h, code), kSOk);
  EXPECT_EQ(std::tie(w, h, code), std::make_tuple(4, 2, fourcc::kYuyv));
  fake->pushFrame({1});
  EXPECT_TRUE(receiver.waitForFrames(1));
}

TEST(V4l2StreamTest, StopAndRestart) {
  auto fake = makeCamera();
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  EXPECT_EQ(device->SetRunning(true), kSFalse);
  EXPECT_EQ(device->SetRunning(false), kSOk);
  EXPECT_EQ(device->SetRunning(false), kSFalse);
  EXPECT_FALSE(device->running());
  EXPECT_EQ(fake->mappedCount(), 0);
  EXPECT_EQ(device->SetRunning(true), kSOk);
  fake->pushFrame({1});
  EXPECT_TRUE(receiver.waitForFrames(1));
}

// Frames keep coming while the device is destroyed; none reaches the receiver afterwards.
TEST(V4l2StreamTest, NoReceiverCallAfterDestruction) {
  for (int round = 0; round < 20; ++round) {
    auto fake = makeCamera();
    fake->setEndless(true);
    RecordingReceiver receiver;
    auto device = startCamera(fake, &receiver);
    ASSERT_TRUE(receiver.waitForFrames(static_cast<std::size_t>(round % 3)));
    device.reset();
    receiver.close();
    std::this_thread::sleep_for(1ms);
    EXPECT_EQ(receiver.late(), 0);
  }
}

TEST(V4l2StreamTest, RealCameraDeliversFrames) {
  V4l2Backend backend;
  std::vector<std::string> names;
  if (backend.ListVideoDevices(names) != kSOk) GTEST_SKIP() << "no video capture device";
  RecordingReceiver receiver;
  auto device = backend.CreateDevice();
  device->SetFrameCallback(&receiver);
  std::string found;
  const HResult hr = device->StartVideoAt(1, found);
  if (hr == hresultFromErrno(EBUSY)) GTEST_SKIP() << "the camera is in use";
  ASSERT_EQ(hr, kSOk);
  EXPECT_EQ(found, trimDeviceText(names[0]));
  EXPECT_FALSE(device->formats().empty());
  EXPECT_TRUE(receiver.waitForFrames(3));
  device.reset();
}

}  // namespace
}  // namespace ravdel
