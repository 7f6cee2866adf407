#pragma once

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

// The main thread's event loop as frame delivery sees it: the desktop program implements it
// with Qt, a headless program with a plain queue.
class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Main thread. nullptr detaches; notifications still queued then reach nobody.
  virtual void attach(MainLoopClient* client) = 0;
  // Any thread: queues one frame notification for the main thread. Never waits for it.
  virtual void postFrameNotification() = 0;
};

}  // namespace ravdel
