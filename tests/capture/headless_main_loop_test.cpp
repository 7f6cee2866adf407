#include "capture/headless_main_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace ravdel {
namespace {

using namespace std::chrono_literals;

// Runs the loop until `done`, for at most a generous while.
template <typename Done>
bool runUntil(HeadlessMainLoop& loop, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.run(20ms);
  }
  return true;
}

TEST(HeadlessMainLoopTest, TimersFireFromTheLoopAndStopWhenTold) {
  HeadlessMainLoop loop;
  int repeats = 0, once = 0;
  auto repeating = loop.createTimer([&] { ++repeats; }, 1, false);
  auto single = loop.createTimer([&] { ++once; }, 1, true);
  EXPECT_FALSE(repeating->isActive()) << "created stopped";
  repeating->start();
  single->start();
  ASSERT_TRUE(runUntil(loop, [&] { return repeats >= 3 && once == 1; }));
  EXPECT_TRUE(repeating->isActive());
  EXPECT_FALSE(single->isActive()) << "a single shot is done after firing";

  repeating->stop();
  const int stoppedAt = repeats;
  single->setInterval(5);
  single->start();
  ASSERT_TRUE(runUntil(loop, [&] { return once == 2; }));
  EXPECT_EQ(repeats, stoppedAt) << "a stopped timer stays quiet";
}

TEST(HeadlessMainLoopTest, ATimerMayStopOrDestroyTimersFromItsCallback) {
  HeadlessMainLoop loop;
  std::unique_ptr<LoopTimer> victim;
  int victimFired = 0, killerFired = 0;
  victim = loop.createTimer([&] { ++victimFired; }, 1, false);
  auto killer = loop.createTimer(
      [&] {
        ++killerFired;
        victim.reset();
      },
      1, true);
  killer->start();
  victim->start();
  ASSERT_TRUE(runUntil(loop, [&] { return killerFired == 1; }));
  loop.processPending();
  EXPECT_EQ(victim, nullptr);
  EXPECT_LE(victimFired, 1) << "the destroyed timer fires no more";
}

TEST(HeadlessMainLoopTest, TasksFromOtherThreadsRunInOrderOnTheLoop) {
  HeadlessMainLoop loop;
  std::vector<int> order;
  const auto loopThread = std::this_thread::get_id();
  bool onLoopThread = true;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      loop.postTask([&, i] {
        order.push_back(i);
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
      });
    }
    loop.postTask([&] { loop.quit(); });
  });
  loop.run();  // until the last task quits it
  poster.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_TRUE(onLoopThread);
}

TEST(HeadlessMainLoopTest, ATimerOutlivingItsLoopIsHarmless) {
  std::unique_ptr<LoopTimer> timer;
  {
    HeadlessMainLoop loop;
    timer = loop.createTimer([] {}, 1, false);
    timer->start();
  }
  timer->start();
  timer->stop();
  EXPECT_FALSE(timer->isActive());
}

}  // namespace
}  // namespace ravdel
