#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/main_loop.h"

namespace ravdel {

// A main loop without a GUI: posted notifications are counted and handed to the client one
// at a time on the thread that runs the loop; each time none is left, the client hears that
// the loop is idle before it waits. Timers fire from the loop when due; tasks posted from
// other threads run on it in order.
class HeadlessMainLoop final : public MainLoop {
 public:
  using Clock = std::chrono::steady_clock;

  HeadlessMainLoop();
  ~HeadlessMainLoop() override;
  HeadlessMainLoop(const HeadlessMainLoop&) = delete;
  HeadlessMainLoop& operator=(const HeadlessMainLoop&) = delete;

  void attach(MainLoopClient* client) override;
  void postFrameNotification() override;
  std::unique_ptr<LoopTimer> createTimer(std::function<void()> onTimeout, int milliseconds,
                                         bool singleShot) override;
  void processEvents() override;

  // Runs the loop on the calling thread (the main thread) until quit() or until `timeout`.
  void run(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  // Handles what is queued now and the timers due now, then reports idle once; does not wait.
  void processPending();
  // Any thread: makes run() return.
  void quit();
  // Any thread: runs `task` on the loop's thread, after what is queued before it.
  void postTask(std::function<void()> task);

 private:
  class Timer;
  struct TimerEntry {
    Timer* timer;
    Clock::time_point due;
  };

  bool handleOne();
  bool runOneTask();
  void fireDueTimers();
  void drain(Clock::time_point deadline);
  Clock::time_point nextTimerDue() const;
  void schedule(Timer* timer, Clock::time_point due);
  void unschedule(Timer* timer);

  MainLoopClient* client_ = nullptr;  // main thread only
  std::vector<TimerEntry> timers_;    // main thread only: the running timers
  // Shared with whoever posts from other threads; guarded by queueMutex_.
  std::mutex queueMutex_;  // guards pending_, tasks_ and quit_
  std::condition_variable queueChanged_;
  std::uint64_t pending_ = 0;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  // Lets timers that outlive the loop find out that it is gone. Main thread only.
  std::shared_ptr<HeadlessMainLoop*> self_;
};

}  // namespace ravdel
