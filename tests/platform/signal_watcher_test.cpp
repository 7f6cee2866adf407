#include "platform/signal_watcher.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace ravdel {
namespace {

// What reached the callback, and on which thread.
class Received {
 public:
  struct Call {
    Signal signal;
    std::thread::id thread;
  };

  // Called on the watcher's thread.
  void add(Signal signal) {
    const std::lock_guard lock(mutex_);
    calls_.push_back({signal, std::this_thread::get_id()});
    arrived_.notify_all();
  }
  // The first `count` calls; fewer when they did not come in time.
  std::vector<Call> waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(30), [&] { return calls_.size() >= count; });
    return calls_;
  }

 private:
  std::mutex mutex_;  // guards calls_: written by the watcher's thread, read by the test's
  std::condition_variable arrived_;
  std::vector<Call> calls_;
};

bool blocked(int signal) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, signal) == 1;
}

std::vector<bool> blockedNow() {
  return {blocked(SIGTERM), blocked(SIGINT), blocked(SIGHUP), blocked(SIGUSR2)};
}

// Each signal is sent only while a watcher exists, whose constructor blocked it here: otherwise
// it would end the test process.
TEST(SignalWatcherTest, EachSignalReachesTheCallbackOnTheWatchersThread) {
  const struct {
    int number;
    Signal expected;
  } cases[] = {
      {SIGTERM, Signal::terminate},
      {SIGINT, Signal::interrupt},
      {SIGHUP, Signal::hangup},
  };
  Received received;
  SignalWatcher watcher([&](Signal signal) { received.add(signal); });
  std::size_t count = 0;
  for (const auto& c : cases) {
    ASSERT_EQ(::kill(::getpid(), c.number), 0);
    // One at a time: signals pending together are taken in no set order.
    const auto calls = received.waitFor(++count);
    ASSERT_EQ(calls.size(), count) << "signal " << c.number;
    EXPECT_EQ(calls.back().signal, c.expected) << "signal " << c.number;
    EXPECT_NE(calls.back().thread, std::this_thread::get_id());
  }
}

TEST(SignalWatcherTest, ReplacedWatcherReceivesAndTheMaskComesBack) {
  const auto before = blockedNow();
  for (int round = 0; round < 2; ++round) {
    Received received;
    {
      SignalWatcher watcher([&](Signal signal) { received.add(signal); });
      EXPECT_TRUE(blocked(SIGTERM) && blocked(SIGINT) && blocked(SIGHUP));
      EXPECT_EQ(blocked(SIGUSR2), before[3]) << "the stop signal stays the watcher's thread's";
      ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
      ASSERT_EQ(received.waitFor(1).size(), 1u) << "round " << round;
    }
    EXPECT_EQ(blockedNow(), before);
  }
}

// The stop may come before the watcher's thread first waits; it must neither be lost (a hang)
// nor reach a thread that does not block it (the end of the process).
TEST(SignalWatcherTest, StopsRightAfterConstruction) {
  for (int i = 0; i < 200; ++i) {
    SignalWatcher watcher([](Signal) {});
  }
}

}  // namespace
}  // namespace ravdel
