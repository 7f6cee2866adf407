#include "capture/directshow/win32_main_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace ravdel {
namespace {

using namespace std::chrono_literals;

// Writes what the loop calls into one line: "F" per frame notification, "I" per idle.
class TraceClient final : public MainLoopClient {
 public:
  void onFrameNotification() override {
    trace += 'F';
    if (GetCurrentThreadId() != mainThread) trace += '!';
  }
  void onIdle() override {
    if (!trace.empty() && trace.back() != 'I') trace += 'I';  // one per pass is enough to see
  }
  std::string trace;
  const DWORD mainThread = GetCurrentThreadId();
};

bool runUntil(Win32MainLoop& loop, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.run(20ms);
  }
  return true;
}

TEST(Win32MainLoopTest, FrameNotificationsFromAnotherThreadArriveInOrderBeforeTheIdle) {
  Win32MainLoop loop;
  ASSERT_NE(loop.window(), nullptr);
  TraceClient client;
  loop.attach(&client);
  std::string order;
  std::thread([&] {
    loop.postFrameNotification();
    loop.postTask([&] { order += "a"; });
    loop.postFrameNotification();
    loop.postTask([&] { order += "b"; });
    loop.postFrameNotification();
  }).join();
  ASSERT_TRUE(runUntil(loop, [&] { return client.trace.find('I') != std::string::npos; }));
  EXPECT_EQ(client.trace, "FFFI") << "all on the main thread, the idle once the queue is empty";
  EXPECT_EQ(order, "ab");

  loop.attach(nullptr);
  loop.postFrameNotification();
  loop.processEvents();
  EXPECT_EQ(client.trace, "FFFI") << "a detached client hears nothing";
}

TEST(Win32MainLoopTest, ProcessEventsHandlesWhatIsPendingWithoutAnIdle) {
  Win32MainLoop loop;
  TraceClient client;
  loop.attach(&client);
  loop.postFrameNotification();
  loop.postFrameNotification();
  loop.processEvents();
  EXPECT_EQ(client.trace, "FF");
}

TEST(Win32MainLoopTest, QuitFromAnotherThreadEndsRun) {
  Win32MainLoop loop;
  bool ran = false;
  loop.postTask([&] { ran = true; });
  std::thread([&] { loop.quit(); }).join();
  loop.run();  // returns: the quit is queued behind the task
  EXPECT_TRUE(ran);
}

TEST(Win32MainLoopTest, TimersFireOnTheLoopOnceOrRepeatedlyAndNotWhenStopped) {
  Win32MainLoop loop;
  int once = 0, repeated = 0, stopped = 0;
  auto single = loop.createTimer([&] { ++once; }, 10, true);
  auto periodic = loop.createTimer([&] { ++repeated; }, 10, false);
  auto never = loop.createTimer([&] { ++stopped; }, 10, false);
  EXPECT_FALSE(single->isActive());
  single->start();
  periodic->start();
  never->start();
  never->stop();
  ASSERT_TRUE(runUntil(loop, [&] { return repeated >= 4; }));
  EXPECT_EQ(once, 1);
  EXPECT_FALSE(single->isActive()) << "a single shot stops itself";
  EXPECT_EQ(stopped, 0);

  // A timer that stops itself from its own callback fires no more.
  int selfStopping = 0;
  std::unique_ptr<LoopTimer> timer;
  timer = loop.createTimer(
      [&] {
        ++selfStopping;
        timer->stop();
      },
      10, false);
  timer->start();
  const int before = repeated;
  ASSERT_TRUE(runUntil(loop, [&] { return repeated >= before + 4; }));
  EXPECT_EQ(selfStopping, 1);

  periodic.reset();  // destroyed while active: nothing fires into freed memory
  never->start();
  ASSERT_TRUE(runUntil(loop, [&] { return stopped >= 2; }));
}

TEST(Win32MainLoopTest, ATimerThatOutlivesItsLoopDoesNothing) {
  std::unique_ptr<LoopTimer> timer;
  {
    Win32MainLoop loop;
    timer = loop.createTimer([] {}, 10, false);
    timer->start();
  }
  timer->start();
  timer->stop();
  timer.reset();
}

}  // namespace
}  // namespace ravdel
