// Console control events as termination signals: Ctrl+C and Ctrl+Break are an interrupt; the
// console window's close, the user's logoff and the system's shutdown ask the program to
// terminate. Windows has no hangup.
//
// The system runs the handler on a thread it creates for each event; that thread is the
// "watcher's thread" of the header. After a close, logoff or shutdown event the process ends
// as soon as the handler returns, so the handler then waits, up to the few seconds the system
// grants, until the program has destroyed the watcher on its way out.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/signal_watcher.h"

namespace ravdel {
namespace {

// The one watcher's callback. `gMutex` guards `gActive` and `gOnSignal`; the handler holds it
// while it calls, so the destructor never frees a callback that is running.
std::mutex gMutex;
std::condition_variable gGone;
bool gActive = false;
std::function<void(Signal)>* gOnSignal = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  Signal signal;
  bool endsProcess = false;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal = Signal::interrupt;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = Signal::terminate;
      endsProcess = true;
      break;
    default:
      return FALSE;
  }
  std::unique_lock lock(gMutex);
  if (!gActive) return FALSE;
  (*gOnSignal)(signal);
  if (endsProcess) {
    // The system allows 5 s (close) to 20 s (shutdown) before it ends the process anyway.
    gGone.wait_for(lock, std::chrono::milliseconds(4500), [] { return !gActive; });
  }
  return TRUE;
}

}  // namespace

struct SignalWatcher::State {
  std::function<void(Signal)> onSignal;
};

SignalWatcher::SignalWatcher(std::function<void(Signal)> onSignal)
    : state_(std::make_unique<State>()) {
  state_->onSignal = std::move(onSignal);
  {
    const std::lock_guard lock(gMutex);
    gOnSignal = &state_->onSignal;
    gActive = true;
  }
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

SignalWatcher::~SignalWatcher() {
  ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  {
    const std::lock_guard lock(gMutex);
    gActive = false;
    gOnSignal = nullptr;
  }
  gGone.notify_all();
}

}  // namespace ravdel
