#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace ravdel {

class Win32MainLoop;

// The one box that reports a failure no handler dealt with: caption "Ravdel", error icon, OK,
// the failure text's full-stop rule applied. Modal; the program goes on afterwards.
void showFailureBox(HWND owner, std::string_view message);

// The failure box of the frame path, shown without holding up the window: it runs on a thread
// of its own, so frames go on and Stop stays within reach while it is open. `closed` runs on
// the main thread, from the loop, once the user dismissed it. One box at a time (the monitor
// logs further failures while one is open). Construct, use and destroy on the main thread;
// destroying closes a box still open.
class FrameFailureBox {
 public:
  explicit FrameFailureBox(Win32MainLoop& loop);
  ~FrameFailureBox();
  FrameFailureBox(const FrameFailureBox&) = delete;
  FrameFailureBox& operator=(const FrameFailureBox&) = delete;

  void show(const std::string& text, std::function<void()> closed);
  // The box's window while it shows (any thread); nullptr otherwise.
  HWND window() const { return box_.load(); }

 private:
  void close();

  Win32MainLoop& loop_;
  std::thread thread_;
  std::atomic<HWND> box_{nullptr};  // written by the box's thread, read by the main thread
  std::atomic<bool> closing_{false};
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // main thread only
};

}  // namespace ravdel
