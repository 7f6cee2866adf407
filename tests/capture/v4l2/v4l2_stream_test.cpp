#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "base/fourcc.h"
#include "capture/v4l2/v4l2_query.h"
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
  EXPECT_FALSE(workerThreadExists());
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

// However the device goes away, the stream ends by itself; the device reports stopped and
// tears down cleanly later.
TEST(V4l2StreamTest, VanishingDeviceEndsTheStream) {
  const struct {
    unsigned long request;
    int error;
    short revents;
    std::size_t delivered;
  } cases[] = {{FakeV4l2Io::kPoll, ENODEV, 0, 0}, {VIDIOC_DQBUF, ENODEV, 0, 0},
               {VIDIOC_DQBUF, EIO, 0, 0},         {VIDIOC_QBUF, ENXIO, 0, 1},
               {VIDIOC_DQBUF, 0, POLLERR, 0},     {VIDIOC_DQBUF, 0, POLLHUP, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.error) + " " + std::to_string(c.revents));
    auto fake = makeCamera();
    RecordingReceiver receiver;
    auto device = startCamera(fake, &receiver);
    if (c.error != 0) fake->failNext(c.request, c.error, FakeV4l2Io::kForever);
    fake->reportOnPoll(c.revents);
    fake->pushFrame({1});
    for (int i = 0; i < 1000 && device->running(); ++i)
      std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(device->running());
    std::vector<std::string> lines;
    device->ListFormats(lines);
    EXPECT_TRUE(lines.empty());
    fake->pushFrame({2});
    std::this_thread::sleep_for(20ms);
    device.reset();
    EXPECT_EQ(receiver.frames().size(), c.delivered);
    EXPECT_EQ(fake->openCount(), 0);
    EXPECT_EQ(fake->mappedCount(), 0);
  }
}

// BGR24 rows arrive top-down with padding; the receiver gets packed rows bottom row first.
// A short frame keeps its complete rows.
TEST(V4l2StreamTest, Bgr24RowsAreFlippedBottomRowFirst) {
  auto fake = makeCamera(V4L2_PIX_FMT_BGR24, {2, 3}, 8);
  RecordingReceiver receiver;
  const auto device = startCamera(fake, &receiver);
  const Bytes top = {1, 2, 3, 4, 5, 6}, middle = {7, 8, 9, 10, 11, 12},
              bottom = {13, 14, 15, 16, 17, 18}, pad = {0xAA, 0xBB};
  Bytes frame;
  for (const Bytes* row : {&top, &pad, &middle, &pad, &bottom})
    frame.insert(frame.end(), row->begin(), row->end());
  fake->pushFrame(frame);
  fake->pushFrame(Bytes(frame.begin(), frame.begin() + 8 + 6 + 1));
  ASSERT_TRUE(receiver.waitForFrames(2));
  Bytes upright = bottom, shortUpright = middle;
  upright.insert(upright.end(), middle.begin(), middle.end());
  upright.insert(upright.end(), top.begin(), top.end());
  shortUpright.insert(shortUpright.end(), top.begin(), top.end());
  EXPECT_EQ(receiver.frames(), (std::vector<Bytes>{upright, shortUpright}));
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
