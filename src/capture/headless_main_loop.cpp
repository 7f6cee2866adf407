#include "capture/headless_main_loop.h"

namespace ravdel {

void HeadlessMainLoop::attach(MainLoopClient* client) {
  client_ = client;
}

void HeadlessMainLoop::postFrameNotification() {
  {
    const std::lock_guard lock(queueMutex_);
    ++pending_;
  }
  queueChanged_.notify_one();
}

void HeadlessMainLoop::quit() {
  {
    const std::lock_guard lock(queueMutex_);
    quit_ = true;
  }
  queueChanged_.notify_one();
}

bool HeadlessMainLoop::handleOne() {
  {
    const std::lock_guard lock(queueMutex_);
    if (pending_ == 0) return false;
    --pending_;
  }
  if (client_ != nullptr) client_->onFrameNotification();
  return true;
}

void HeadlessMainLoop::processPending() {
  drain(std::chrono::steady_clock::time_point::max());
}

// Handles notifications until none is left (then the loop is idle) or the deadline passed.
void HeadlessMainLoop::drain(std::chrono::steady_clock::time_point deadline) {
  while (handleOne()) {
    if (std::chrono::steady_clock::now() >= deadline) return;
  }
  if (client_ != nullptr) client_->onIdle();
}

void HeadlessMainLoop::run(std::chrono::milliseconds timeout) {
  const bool forever = timeout == std::chrono::milliseconds::max();
  const auto deadline = forever ? std::chrono::steady_clock::time_point{}
                                : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    drain(forever ? std::chrono::steady_clock::time_point::max() : deadline);
    if (!forever && std::chrono::steady_clock::now() >= deadline) return;
    std::unique_lock lock(queueMutex_);
    const auto ready = [this] { return pending_ > 0 || quit_; };
    if (forever) {
      queueChanged_.wait(lock, ready);
    } else if (!queueChanged_.wait_until(lock, deadline, ready)) {
      return;
    }
    if (quit_) {
      quit_ = false;
      return;
    }
  }
}

}  // namespace ravdel
