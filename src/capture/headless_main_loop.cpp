#include "capture/headless_main_loop.h"

#include <algorithm>
#include <utility>

namespace ravdel {

// A timer of the loop; main thread only. It outlives the loop harmlessly: once the loop is
// gone, starting it does nothing.
class HeadlessMainLoop::Timer final : public LoopTimer {
 public:
  Timer(std::weak_ptr<HeadlessMainLoop*> loop, std::function<void()> onTimeout, int milliseconds,
        bool singleShot)
      : loop_(std::move(loop)),
        onTimeout_(std::move(onTimeout)),
        interval_(milliseconds),
        singleShot_(singleShot) {}
  ~Timer() override { stop(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void start() override {
    if (const auto loop = loop_.lock()) {
      (*loop)->schedule(this, Clock::now() + std::chrono::milliseconds(interval_));
      active_ = true;
    }
  }
  void stop() override {
    if (const auto loop = loop_.lock()) (*loop)->unschedule(this);
    active_ = false;
  }
  bool isActive() const override { return active_; }
  void setInterval(int milliseconds) override { interval_ = milliseconds; }
  int interval() const override { return interval_; }

  // From the loop, once the timer is due and taken off the schedule.
  void fire() {
    active_ = false;
    if (!singleShot_) start();
    onTimeout_();  // last: it may stop, restart or destroy this timer
  }

 private:
  std::weak_ptr<HeadlessMainLoop*> loop_;
  std::function<void()> onTimeout_;
  int interval_;
  bool singleShot_;
  bool active_ = false;
};

HeadlessMainLoop::HeadlessMainLoop() : self_(std::make_shared<HeadlessMainLoop*>(this)) {}

HeadlessMainLoop::~HeadlessMainLoop() = default;

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

void HeadlessMainLoop::postTask(std::function<void()> task) {
  {
    const std::lock_guard lock(queueMutex_);
    tasks_.push_back(std::move(task));
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

std::unique_ptr<LoopTimer> HeadlessMainLoop::createTimer(std::function<void()> onTimeout,
                                                         int milliseconds, bool singleShot) {
  return std::make_unique<Timer>(self_, std::move(onTimeout), milliseconds, singleShot);
}

void HeadlessMainLoop::schedule(Timer* timer, Clock::time_point due) {
  unschedule(timer);
  timers_.push_back({timer, due});
}

void HeadlessMainLoop::unschedule(Timer* timer) {
  std::erase_if(timers_, [timer](const TimerEntry& entry) { return entry.timer == timer; });
}

HeadlessMainLoop::Clock::time_point HeadlessMainLoop::nextTimerDue() const {
  Clock::time_point next = Clock::time_point::max();
  for (const TimerEntry& entry : timers_)
    next = std::min(next, entry.due);
  return next;
}

// Fires each timer due now once, earliest first. A callback may start, stop or destroy timers,
// so the schedule is searched afresh each time.
void HeadlessMainLoop::fireDueTimers() {
  const Clock::time_point now = Clock::now();
  for (;;) {
    const auto due =
        std::min_element(timers_.begin(), timers_.end(),
                         [](const TimerEntry& a, const TimerEntry& b) { return a.due < b.due; });
    if (due == timers_.end() || due->due > now) return;
    Timer* timer = due->timer;
    timers_.erase(due);
    timer->fire();
  }
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

bool HeadlessMainLoop::runOneTask() {
  std::function<void()> task;
  {
    const std::lock_guard lock(queueMutex_);
    if (tasks_.empty()) return false;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
  return true;
}

void HeadlessMainLoop::processPending() {
  drain(Clock::time_point::max());
}

void HeadlessMainLoop::processEvents() {
  processPending();
}

// Handles tasks, notifications and due timers until none is left (then the loop is idle) or
// the deadline passed.
void HeadlessMainLoop::drain(Clock::time_point deadline) {
  for (;;) {
    while (runOneTask()) {
    }
    fireDueTimers();
    if (!handleOne()) break;
    if (Clock::now() >= deadline) return;
  }
  if (client_ != nullptr) client_->onIdle();
}

void HeadlessMainLoop::run(std::chrono::milliseconds timeout) {
  const bool forever = timeout == std::chrono::milliseconds::max();
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    drain(deadline);
    if (Clock::now() >= deadline) return;
    const auto wakeUp = std::min(deadline, nextTimerDue());
    std::unique_lock lock(queueMutex_);
    const auto ready = [this] { return pending_ > 0 || !tasks_.empty() || quit_; };
    if (wakeUp == Clock::time_point::max()) {
      queueChanged_.wait(lock, ready);
    } else {
      queueChanged_.wait_until(lock, wakeUp, ready);
    }
    if (quit_) {
      quit_ = false;
      return;
    }
  }
}

}  // namespace ravdel
