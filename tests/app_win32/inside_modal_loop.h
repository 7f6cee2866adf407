#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace ravdel::test {

// Steps run inside a modal loop the test has started (a menu, a dialog), from a timer of this
// thread, until one of them returns true.
class InsideModalLoop {
 public:
  explicit InsideModalLoop(std::function<bool()> step) {
    step_ = std::move(step);
    timer_ = ::SetTimer(nullptr, 0, 50, &InsideModalLoop::tick);
  }
  ~InsideModalLoop() {
    ::KillTimer(nullptr, timer_);
    step_ = nullptr;
  }
  InsideModalLoop(const InsideModalLoop&) = delete;
  InsideModalLoop& operator=(const InsideModalLoop&) = delete;

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    if (step_ && step_()) step_ = nullptr;
  }
  static inline std::function<bool()> step_;
  UINT_PTR timer_ = 0;
};

}  // namespace ravdel::test
