#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "capture/main_loop.h"

namespace ravdel {

// A main loop without a GUI: posted notifications are counted and handed to the client one
// at a time on the thread that runs the loop; each time none is left, the client hears that
// the loop is idle before it waits.
class HeadlessMainLoop final : public MainLoop {
 public:
  void attach(MainLoopClient* client) override;
  void postFrameNotification() override;

  // Runs the loop on the calling thread (the main thread) until quit() or until `timeout`.
  void run(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  // Handles what is queued now, then reports idle once; does not wait.
  void processPending();
  // Any thread: makes run() return.
  void quit();

 private:
  bool handleOne();
  void drain(std::chrono::steady_clock::time_point deadline);

  MainLoopClient* client_ = nullptr;  // main thread only
  std::mutex queueMutex_;             // guards pending_ and quit_
  std::condition_variable queueChanged_;
  std::uint64_t pending_ = 0;
  bool quit_ = false;
};

}  // namespace ravdel
