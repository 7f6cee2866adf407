// Termination signals taken by sigwait on a thread of their own.
//
// Stopping: the destructor sets `stopping` and sends kStopSignal to the watcher's thread alone
// with pthread_kill. That thread has had the stop signal blocked since its start (it inherits
// the mask the constructor set up), so the signal stays pending for it until its sigwait takes
// it, whether the thread is waiting already or has not got there yet: the wake-up cannot be
// lost. The flag tells our wake-up from a SIGUSR2 sent to the whole process.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>
#include <utility>

#include "platform/signal_watcher.h"
#include "platform/thread_name.h"

namespace ravdel {
namespace {

constexpr int kStopSignal = SIGUSR2;

constexpr struct {
  int number;
  Signal signal;
} kWatched[] = {
    {SIGTERM, Signal::terminate},
    {SIGINT, Signal::interrupt},
    {SIGHUP, Signal::hangup},
};

sigset_t watchedSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const auto& watched : kWatched)
    sigaddset(&set, watched.number);
  return set;
}

}  // namespace

// Owned by the SignalWatcher; the watcher's thread uses it until the destructor joins it.
struct SignalWatcher::State {
  void run();

  std::function<void(Signal)> onSignal;  // called on the watcher's thread only
  sigset_t previousMask{};               // the constructing thread's, put back at the end
  std::atomic<bool> stopping{false};     // set by the destructor before it wakes the thread
  std::thread thread;
};

void SignalWatcher::State::run() {
  nameThisThread("ravdel-signals");
  sigset_t waitFor = watchedSet();
  sigaddset(&waitFor, kStopSignal);
  for (;;) {
    int received = 0;
    if (sigwait(&waitFor, &received) != 0) continue;  // fails only for an invalid set
    if (received == kStopSignal) {
      if (stopping.load(std::memory_order_acquire)) return;
      continue;
    }
    for (const auto& watched : kWatched) {
      if (watched.number == received) onSignal(watched.signal);
    }
  }
}

SignalWatcher::SignalWatcher(std::function<void(Signal)> onSignal)
    : state_(std::make_unique<State>()) {
  state_->onSignal = std::move(onSignal);
  sigset_t forThread = watchedSet();
  sigaddset(&forThread, kStopSignal);
  pthread_sigmask(SIG_BLOCK, &forThread, &state_->previousMask);
  try {
    state_->thread = std::thread([state = state_.get()] { state->run(); });
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &state_->previousMask, nullptr);
    throw;
  }
  // The new thread inherited the stop signal blocked; here it goes back to how it was, so
  // threads started later do not swallow a SIGUSR2 the program did not ask to block.
  sigset_t kept = state_->previousMask;
  for (const auto& watched : kWatched)
    sigaddset(&kept, watched.number);
  pthread_sigmask(SIG_SETMASK, &kept, nullptr);
}

SignalWatcher::~SignalWatcher() {
  state_->stopping.store(true, std::memory_order_release);
  pthread_kill(state_->thread.native_handle(), kStopSignal);
  state_->thread.join();
  pthread_sigmask(SIG_SETMASK, &state_->previousMask, nullptr);
}

}  // namespace ravdel
