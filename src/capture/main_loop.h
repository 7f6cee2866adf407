#pragma once

#include <functional>
#include <memory>

namespace ravdel {

// What the main thread's loop calls back. Both run on the main thread.
class MainLoopClient {
 public:
  // One posted frame notification, in the order they were posted.
  virtual void onFrameNotification() = 0;
  // The loop's queue has run empty and it is about to wait.
  virtual void onIdle() = 0;

 protected:
  ~MainLoopClient() = default;
};

// A timer of the main loop; its callback runs on the main thread, from the loop. Created,
// used and destroyed on the main thread.
class LoopTimer {
 public:
  virtual ~LoopTimer() = default;
  // Starts a fresh period; a running timer starts over.
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual bool isActive() const = 0;
  // Takes effect at the next start().
  virtual void setInterval(int milliseconds) = 0;
  virtual int interval() const = 0;
};

// The main thread's event loop as frame delivery and the monitoring sequence see it: the
// desktop program implements it with Qt, a headless program with a plain queue.
class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Main thread. nullptr detaches; notifications still queued then reach nobody.
  virtual void attach(MainLoopClient* client) = 0;
  // Any thread: queues one frame notification for the main thread. Never waits for it.
  virtual void postFrameNotification() = 0;

  // Main thread: a stopped timer that calls `onTimeout` every `milliseconds`, or once per
  // start() when `singleShot`.
  virtual std::unique_ptr<LoopTimer> createTimer(std::function<void()> onTimeout, int milliseconds,
                                                 bool singleShot) = 0;
  // Main thread: handles what is pending now (input, notifications, due timers) once, and
  // returns without waiting.
  virtual void processEvents() = 0;
};

}  // namespace ravdel
