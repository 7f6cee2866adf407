#pragma once

#include <functional>
#include <memory>

namespace ravdel {

// SIGTERM, SIGINT and SIGHUP. On Windows the console's events: closing the console, logoff
// and shutdown terminate, Ctrl+C and Ctrl+Break interrupt; there is no hangup.
enum class Signal { terminate, interrupt, hangup };

// Turns the termination signals into calls of `onSignal`, for a program without a GUI event
// loop. The signals are taken by a thread of the watcher's own ("ravdel-signals"), so no
// signal handler runs and the program's code is never interrupted by one.
//
// Construct it in main() before any other thread starts: the constructor blocks the three
// signals in the calling thread, every thread started later inherits that, and so only the
// watcher's thread receives them. A thread started earlier could still be chosen for one, and
// the signal's default action would end the process. On POSIX systems the watcher's thread
// also keeps SIGUSR2 for itself (its destructor wakes it with that), so the program must not
// use SIGUSR2 for anything else.
//
// `onSignal` runs on the watcher's thread, once per signal received (the system merges a
// signal that arrives again before it was taken). It must only hand the signal on, e.g. post
// it to the main loop, and must not throw, destroy the watcher or wait for the thread that
// destroys it.
//
// One watcher at a time. Destroy it on the thread that constructed it: the destructor stops
// the watcher's thread and puts back that thread's previous signal mask, after which these
// signals take their usual course again.
class SignalWatcher {
 public:
  explicit SignalWatcher(std::function<void(Signal)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;  // shared with the watcher's thread until it is joined
};

}  // namespace ravdel
