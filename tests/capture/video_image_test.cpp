#include "capture/video_image.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/fourcc.h"
#include "capture/headless_main_loop.h"
#include "capture/simulated/simulated_camera.h"
#include "detection/frame_analysis.h"
#include "support/fake_camera.h"

namespace ravdel {
namespace {

using test::FakeBackend;
using test::FakeDevice;

std::atomic<std::uint32_t> fakeNow{5000};
std::uint32_t fakeClock() {
  return fakeNow.load();
}

class VideoImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 5000;
    image.OnNewVideoFrame = [this](TVideoImage& sender, std::int32_t, std::int32_t,
                                   const std::uint8_t*) {
      FrameBitmap picture;
      sender.GetBitmap(picture);
      seen.push_back(picture.row(0)[0]);
    };
    ASSERT_EQ(image.VideoStart("#2"), 0);
    device = backend.last;
  }
  void TearDown() override { fakeNow = 5000; }

  FakeBackend backend;
  HeadlessMainLoop loop;
  TVideoImage image{backend, loop, fakeClock};
  FakeDevice* device = nullptr;
  std::vector<int> seen;
};

TEST_F(VideoImageTest, FramesNeedARecentIdleLoop) {
  device->deliver(1);
  loop.processPending();  // nothing queued yet; the loop reports idle at 5000
  EXPECT_TRUE(seen.empty()) << "dropped until the loop has been idle once";
  fakeNow = 6000;
  device->deliver(2);  // exactly 1000 ms after idle: taken
  fakeNow = 6001;
  device->deliver(3);  // 1001 ms: dropped
  fakeNow = 5000 - 1000;
  device->deliver(4);  // the distance is made absolute
  fakeNow = 6000;
  loop.processPending();
  EXPECT_EQ(seen, (std::vector<int>{4, 4})) << "two notifications, both of the latest frame";
  EXPECT_EQ(image.framesDropped(), 2u);
}

TEST_F(VideoImageTest, IdleRuleSurvivesTheClockWrapping) {
  fakeNow = 0xFFFFFF00u;
  loop.processPending();
  fakeNow = 0x000000E0u;  // 480 ms later, across the wrap
  device->deliver(7);
  loop.processPending();
  EXPECT_EQ(seen, std::vector<int>{7});
}

TEST_F(VideoImageTest, NotificationsCoalesceAndConvertOncePerNotification) {
  loop.processPending();
  device->deliver(1);
  device->deliver(2);
  device->deliver(3);
  loop.processPending();
  EXPECT_EQ(seen, (std::vector<int>{3, 3, 3}));
  EXPECT_EQ(image.conversions(), 3u);

  image.OnNewVideoFrame = [](TVideoImage& sender, std::int32_t, std::int32_t, const std::uint8_t*) {
    FrameBitmap a, b;
    sender.GetBitmap(a);
    sender.GetBitmap(b);
  };
  device->deliver(4);
  loop.processPending();
  EXPECT_EQ(image.conversions(), 4u) << "asking twice in one notification converts once";
}

// The picture is handed on without a copy; what the handler then does to its bitmap (the
// display options) touches neither the converter's picture nor a snapshot kept earlier, and a
// sample shown as the notice is drawn over the picture as converted.
TEST_F(VideoImageTest, HandsThePictureOnWithoutACopyAndKeepsItsOwnIntact) {
  device->width = 300;  // room beside the notice's text
  device->height = 60;
  ASSERT_EQ(image.SelectFormat(0), 0);
  loop.processPending();
  FrameBitmap work, kept;
  bool shared = false;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    sender.GetBitmap(work);
    FrameBitmap again;
    sender.GetBitmap(again);
    shared = again.sharesPixelsWith(work);
    if (kept.empty()) kept = work;
    std::uint8_t& corner = work.row(59)[3 * 299];
    corner = static_cast<std::uint8_t>(255 - corner);  // as "Inverse" would
  };
  device->deliver(40);
  loop.processPending();
  EXPECT_TRUE(shared);
  device->deliver(41);
  loop.processPending();
  EXPECT_EQ(kept.row(59)[3 * 299], 40);
  EXPECT_EQ(work.row(59)[3 * 299], 255 - 41);

  device->deliverBytes(std::vector<std::uint8_t>(7, 42));  // not 4 x 2 x 3 bytes: the notice
  loop.processPending();
  EXPECT_TRUE(work.showsNotice());
  EXPECT_EQ(image.conversions(), 3u);
  FrameBitmap picture;
  image.GetBitmap(picture);
  EXPECT_EQ(picture.row(59)[3 * 299], 41) << "the notice covers the picture as converted";
}

// A camera faster than the analysis leaves a bounded backlog, all of it showing the newest frame.
TEST_F(VideoImageTest, BacklogOfNotificationsIsBounded) {
  loop.processPending();
  for (int i = 0; i < 100; ++i)
    device->deliver(static_cast<std::uint8_t>(i));
  loop.processPending();
  EXPECT_EQ(seen, std::vector<int>(16, 99));
  device->deliver(100);
  loop.processPending();
  EXPECT_EQ(seen.size(), 17u) << "room again once the backlog is handled";
}

TEST_F(VideoImageTest, NotificationArrivingWhileTheHandlerRunsIsDropped) {
  loop.processPending();
  int calls = 0;
  image.OnNewVideoFrame = [&](TVideoImage&, std::int32_t, std::int32_t, const std::uint8_t*) {
    ++calls;
    device->deliver(9);
    loop.processPending();  // the handler pumps the loop
  };
  device->deliver(8);
  loop.processPending();
  EXPECT_EQ(calls, 1);
}

TEST_F(VideoImageTest, AfterStopTheLastFrameStaysAndQueuedNotificationsDeliverIt) {
  loop.processPending();
  device->deliver(5);
  image.VideoStop();
  EXPECT_FALSE(image.isOpen());
  loop.processPending();
  EXPECT_EQ(seen, std::vector<int>{5});
  FrameBitmap picture;
  image.GetBitmap(picture);
  EXPECT_EQ(picture.row(1)[3], 5);
}

TEST_F(VideoImageTest, NewByteCountReallocatesOnlyTheSlotWrittenInto) {
  loop.processPending();
  device->deliver(1);  // slot 1
  device->deliver(1);  // slot 2
  device->deliver(1);  // slot 0
  device->width = 8;
  device->deliver(2);  // slot 1 again, twice the size
  EXPECT_EQ(image.slotSize(1), 8 * 2 * 3);
  EXPECT_EQ(image.slotSize(0), 4 * 2 * 3);
  EXPECT_EQ(image.slotSize(2), 4 * 2 * 3);
}

// A frame of the old size still waiting after a switch would only show the notice.
TEST_F(VideoImageTest, FramesOfThePreviousFormatArePassedOver) {
  loop.processPending();
  device->deliver(1);
  device->width = 8;
  EXPECT_EQ(image.SelectFormat(0), 0);
  loop.processPending();
  EXPECT_TRUE(seen.empty());
  device->deliver(2);
  loop.processPending();
  EXPECT_EQ(seen, std::vector<int>{2});
  EXPECT_EQ(image.width(), 8);
}

TEST_F(VideoImageTest, AFailingHandlerIsReportedAndTheNextFrameHandled) {
  loop.processPending();
  std::vector<std::string> errors;
  image.OnError = [&](const std::string& message) { errors.push_back(message); };
  bool fail = true;
  image.OnNewVideoFrame = [&](TVideoImage&, std::int32_t, std::int32_t, const std::uint8_t*) {
    if (fail) throw std::runtime_error("Cannot create file");
    seen.push_back(0);
  };
  device->deliver(1);
  loop.processPending();
  fail = false;
  device->deliver(2);
  loop.processPending();
  EXPECT_EQ(errors, std::vector<std::string>{"Cannot create file"});
  EXPECT_EQ(seen.size(), 1u);
}

TEST(VideoImageStartTest, StartFailsCleanlyWithoutAMatchingCamera) {
  FakeBackend backend;
  HeadlessMainLoop loop;
  TVideoImage image(backend, loop, fakeClock);
  EXPECT_EQ(image.VideoStart("No such camera"), 1);
  EXPECT_FALSE(image.isOpen());
  std::vector<std::string> formats{"stale"};
  image.GetListOfFormats(formats);
  EXPECT_TRUE(formats.empty());
  EXPECT_EQ(image.SelectFormat(0), 1) << "nothing open: nothing streams";
  EXPECT_EQ(image.VideoStart(" cam b "), 0);
  EXPECT_EQ(image.width(), 4);
  image.GetListOfFormats(formats);
  EXPECT_EQ(formats, std::vector<std::string>{"4*2  (RGB )"});
  EXPECT_EQ(image.SelectFormat(5), 0) << "outside the table: the stream goes on";
  backend.last->SetRunning(false);
  EXPECT_EQ(image.SelectFormat(5), 1) << "a camera that stopped is reported";
}

// The capture thread never writes the slot being converted: every picture the main thread
// gets is one whole frame (all bytes of a frame are equal), while frames pour in.
TEST(VideoImageStressTest, ConvertedPicturesAreNeverTorn) {
  FakeBackend backend;
  HeadlessMainLoop loop;
  TVideoImage image(backend, loop);  // the real clock
  ASSERT_EQ(image.VideoStart("#1"), 0);
  FakeDevice* device = backend.last;
  device->width = 64;
  device->height = 48;
  image.SelectFormat(0);
  int pictures = 0;
  bool torn = false;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    FrameBitmap picture;
    sender.GetBitmap(picture);
    for (std::size_t i = 1; i < picture.byteCount(); ++i)
      torn |= picture.data()[i] != picture.data()[0];
    ++pictures;
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // a slow consumer
  };
  std::atomic<bool> stop{false};
  loop.processPending();
  std::thread capture([&] {
    for (std::uint8_t v = 0; !stop.load(); ++v)
      device->deliver(v);
  });
  loop.run(std::chrono::milliseconds(1500));
  stop = true;
  capture.join();
  image.VideoStop();
  EXPECT_FALSE(torn);
  EXPECT_GT(pictures, 10);
}

// The simulated camera as fast as it goes, a consumer slower than it, a few seconds, and a
// format switch in the middle: everything that crosses threads does so cleanly (run under
// TSan), the backlog stays bounded, and after the switch every picture is a converted frame of
// the new format: frames of the old one still waiting are passed over, not shown as the notice.
TEST(VideoImageStressTest, SimulatedCameraAtFullSpeedAgainstASlowConsumer) {
  std::string error;
  const auto backend = SimulatedBackend::fromDescription(
      "synthetic:format=YUY2,size=320x240,unlimited,hits=30", error);
  ASSERT_TRUE(backend) << error;
  HeadlessMainLoop loop;
  TVideoImage image(*backend, loop);
  ASSERT_EQ(image.VideoStart("#1"), 0);
  int pictures = 0;
  int converted = 0;  // pictures of the stream's size that are frames, not the notice
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t w, std::int32_t h,
                              const std::uint8_t*) {
    FrameBitmap picture;
    sender.GetBitmap(picture);
    analyseFrame(picture, {});
    if (picture.width() == w && picture.height() == h && !picture.showsNotice()) ++converted;
    ++pictures;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  // A few seconds of traffic, then until enough pictures came (sanitizers convert slowly).
  const auto runFor = [&](int picturesWanted) {
    loop.run(std::chrono::milliseconds(1500));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pictures < picturesWanted && std::chrono::steady_clock::now() < deadline)
      loop.run(std::chrono::milliseconds(100));
  };
  runFor(20);
  EXPECT_EQ(converted, pictures);
  std::vector<std::string> formats;
  image.GetListOfFormats(formats);
  ASSERT_EQ(formats.back(), "1280*720  (YUY2)");
  ASSERT_EQ(image.SelectFormat(static_cast<std::int32_t>(formats.size()) - 1), 0);
  ASSERT_EQ(image.width(), 1280);
  const int before = pictures;
  converted = 0;
  runFor(before + 20);
  image.VideoStop();
  loop.processPending();
  EXPECT_GE(pictures - before, 20);
  EXPECT_EQ(converted, pictures - before);
}

}  // namespace
}  // namespace ravdel
