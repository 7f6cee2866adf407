#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "capture/main_loop.h"

namespace ravdel {

// The Windows main loop as frame delivery and the monitoring sequence see it: a
// hidden message-only window of the main thread receives the private frame message 1686,
// posted with PostMessageA from the capture thread, and the timers' WM_TIMER; run() pumps the
// thread's whole message queue, so other windows of the thread (the main window) work as
// usual, and each time the queue has run empty the client hears onIdle before the loop waits.
//
// Threads: construct, run and destroy on the main thread; postFrameNotification, postTask and
// quit may be called from any thread while the object exists.
class Win32MainLoop final : public MainLoop {
 public:
  static constexpr UINT kFrameMessage = 1686;

  Win32MainLoop();
  ~Win32MainLoop() override;
  Win32MainLoop(const Win32MainLoop&) = delete;
  Win32MainLoop& operator=(const Win32MainLoop&) = delete;

  void attach(MainLoopClient* client) override;
  // Any thread: PostMessageA of 1686 to the hidden window; never waits.
  void postFrameNotification() override;
  // A WM_TIMER timer of the hidden window (SetTimer; periods under 10 ms become 10 ms).
  std::unique_ptr<LoopTimer> createTimer(std::function<void()> onTimeout, int milliseconds,
                                         bool singleShot) override;
  // Dispatches the messages waiting now, without waiting and without an idle notification
  // (as Application.ProcessMessages); messages posted meanwhile are left for the loop, after
  // the first of them.
  void processEvents() override;

  // Pumps the thread's messages until quit() or until `timeout` has passed.
  void run(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  // Any thread: makes run() return.
  void quit();
  // Any thread: runs `task` on the main thread, in order with the messages posted before it.
  void postTask(std::function<void()> task);

  // Main thread: keyboard messages for `window` and its controls go through IsDialogMessageW
  // first, so Tab, Shift+Tab and the arrow keys move between the controls. nullptr: none.
  void setDialogWindow(HWND window) { dialogWindow_ = window; }

  HWND window() const { return window_; }
  // The thread that made the loop, whose queue it pumps.
  DWORD threadId() const { return threadId_; }

 private:
  class Timer;

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void dispatch(MSG& message);
  void runOneTask();
  void fireTimer(UINT_PTR id);
  UINT_PTR addTimer(Timer* timer);
  void removeTimer(UINT_PTR id);

  const DWORD threadId_;
  HWND window_ = nullptr;
  MainLoopClient* client_ = nullptr;   // main thread only
  HWND dialogWindow_ = nullptr;        // main thread only
  bool quitRequested_ = false;         // main thread only: set from the quit message
  std::map<UINT_PTR, Timer*> timers_;  // main thread only: every timer made, by id
  UINT_PTR nextTimerId_ = 1;           // main thread only
  std::mutex tasksMutex_;              // guards tasks_
  std::deque<std::function<void()>> tasks_;
  // Lets timers that outlive the loop find out that it is gone. Main thread only.
  std::shared_ptr<Win32MainLoop*> self_;
};

}  // namespace ravdel
