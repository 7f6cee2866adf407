#include "app_win32/failure_box.h"

#include <utility>

#include "capture/directshow/win32_main_loop.h"
#include "monitor/monitor.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

constexpr wchar_t kTitle[] = L"Ravdel";

// The box thread's own state for its window hook: which box it shows.
struct BoxHook {
  std::atomic<HWND>* box = nullptr;
  std::atomic<bool>* closing = nullptr;
  HHOOK hook = nullptr;
};
thread_local BoxHook tBoxHook;

// Runs on the box's thread as its message box window is activated: the window is published,
// and closed at once when the owner is already on its way out.
LRESULT CALLBACK boxActivated(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && tBoxHook.box != nullptr) {
    const auto window = reinterpret_cast<HWND>(wParam);
    tBoxHook.box->store(window);
    if (tBoxHook.closing->load()) ::PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return ::CallNextHookEx(tBoxHook.hook, code, wParam, lParam);
}

}  // namespace

void showFailureBox(HWND owner, std::string_view message) {
  ::MessageBoxW(owner, windows::widen(failureText(message)).c_str(), kTitle, MB_OK | MB_ICONERROR);
}

FrameFailureBox::FrameFailureBox(Win32MainLoop& loop) : loop_(loop) {}

FrameFailureBox::~FrameFailureBox() {
  close();
}

void FrameFailureBox::close() {
  if (!thread_.joinable()) return;
  closing_ = true;
  if (const HWND box = box_.load()) ::PostMessageW(box, WM_CLOSE, 0, 0);
  thread_.join();
}

void FrameFailureBox::show(const std::string& text, std::function<void()> closed) {
  close();  // a box dismissed earlier: its thread has ended or is ending
  closing_ = false;
  box_ = nullptr;
  const std::wstring wide = windows::widen(failureText(text));
  std::weak_ptr<bool> alive = alive_;
  thread_ = std::thread([this, wide, alive, closed = std::move(closed)]() mutable {
    tBoxHook.box = &box_;
    tBoxHook.closing = &closing_;
    tBoxHook.hook = ::SetWindowsHookExW(WH_CBT, boxActivated, nullptr, ::GetCurrentThreadId());
    ::MessageBoxW(nullptr, wide.c_str(), kTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    if (tBoxHook.hook != nullptr) ::UnhookWindowsHookEx(tBoxHook.hook);
    box_ = nullptr;
    // Back on the main thread; not at all once the window that asked is gone.
    loop_.postTask([alive, closed = std::move(closed)] {
      if (!alive.expired()) closed();
    });
  });
}

}  // namespace ravdel
