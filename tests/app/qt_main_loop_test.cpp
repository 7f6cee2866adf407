#include "app/qt_main_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

#include "capture/video_image.h"
#include "support/fake_camera.h"
#include "support/qt_test_app.h"

namespace ravdel {
namespace {

// Frames from a capture thread reach the handler on the main thread through a real Qt event
// loop, which reports itself idle between them so that delivery goes on.
TEST(QtMainLoopTest, FramesCrossToTheMainThreadThroughARealLoop) {
  test::QtTestApp<QCoreApplication> testApp;
  QCoreApplication& app = testApp.app();
  QtMainLoop loop;
  test::FakeBackend backend;
  TVideoImage image(backend, loop);
  ASSERT_EQ(image.VideoStart("#1"), 0);
  test::FakeDevice* device = backend.last;

  const auto mainThread = std::this_thread::get_id();
  int frames = 0;
  bool offThread = false;
  std::vector<int> values;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    offThread |= std::this_thread::get_id() != mainThread;
    FrameBitmap picture;
    sender.GetBitmap(picture);
    values.push_back(picture.row(0)[0]);
    if (++frames == 20) app.quit();
  };
  std::atomic<bool> stop{false};
  std::thread capture([&] {
    for (std::uint8_t v = 1; !stop.load(); ++v) {
      device->deliver(v);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // a safety net, not a timing
  app.exec();
  stop = true;
  capture.join();
  image.VideoStop();

  // quit() ends the loop after the events it is handling: a frame or two more may come first.
  EXPECT_GE(frames, 20);
  EXPECT_FALSE(offThread);
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << "notifications arrive in order";
}

}  // namespace
}  // namespace ravdel
