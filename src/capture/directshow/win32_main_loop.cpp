#include "capture/directshow/win32_main_loop.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace ravdel {
namespace {

constexpr char kWindowClass[] = "RavdelMainLoop";
constexpr UINT kTaskMessage = WM_APP + 0x100;
constexpr UINT kQuitMessage = WM_APP + 0x101;

// Registered once per process; a second registration of the same class fails harmlessly.
void registerWindowClass(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  (void)registered;
}

// No exception crosses the window procedure into the system's frames.
template <typename Work>
void guarded(const char* what, Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ravdel: %s: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "ravdel: %s: unknown failure\n", what);
  }
}

}  // namespace

// A WM_TIMER timer of the loop's window; main thread only. It outlives the loop harmlessly:
// once the loop is gone, starting it does nothing.
class Win32MainLoop::Timer final : public LoopTimer {
 public:
  Timer(std::weak_ptr<Win32MainLoop*> loop, std::function<void()> onTimeout, int milliseconds,
        bool singleShot)
      : loop_(std::move(loop)),
        onTimeout_(std::move(onTimeout)),
        interval_(milliseconds),
        singleShot_(singleShot) {
    if (const auto l = loop_.lock()) id_ = (*l)->addTimer(this);
  }
  ~Timer() override {
    stop();
    if (const auto l = loop_.lock()) (*l)->removeTimer(id_);
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void start() override {
    if (const auto l = loop_.lock()) {
      // SetTimer with the same id replaces the timer: a fresh period.
      active_ = SetTimer((*l)->window(), id_, static_cast<UINT>(interval_ < 0 ? 0 : interval_),
                         nullptr) != 0;
    }
  }
  void stop() override {
    if (!active_) return;
    if (const auto l = loop_.lock()) KillTimer((*l)->window(), id_);
    active_ = false;
  }
  bool isActive() const override { return active_; }
  void setInterval(int milliseconds) override { interval_ = milliseconds; }
  int interval() const override { return interval_; }

  // From the loop's WM_TIMER.
  void fire() {
    if (!active_) return;  // a WM_TIMER already queued when the timer was stopped
    if (singleShot_) stop();
    onTimeout_();  // last: it may stop, restart or destroy this timer
  }

 private:
  std::weak_ptr<Win32MainLoop*> loop_;
  std::function<void()> onTimeout_;
  int interval_;
  bool singleShot_;
  bool active_ = false;
  UINT_PTR id_ = 0;
};

Win32MainLoop::Win32MainLoop()
    : threadId_(GetCurrentThreadId()), self_(std::make_shared<Win32MainLoop*>(this)) {
  registerWindowClass(&Win32MainLoop::windowProc);
  window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), this);
  if (window_ == nullptr) {
    std::fprintf(stderr, "ravdel: the main loop's window cannot be made (error %lu)\n",
                 GetLastError());
  }
}

Win32MainLoop::~Win32MainLoop() {
  for (const auto& [id, timer] : timers_)
    KillTimer(window_, id);
  self_.reset();  // timers that outlive the loop now do nothing
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32MainLoop::attach(MainLoopClient* client) {
  client_ = client;
}

void Win32MainLoop::postFrameNotification() {
  PostMessageA(window_, kFrameMessage, 0, 0);
}

void Win32MainLoop::postTask(std::function<void()> task) {
  {
    const std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  PostMessageA(window_, kTaskMessage, 0, 0);
}

void Win32MainLoop::quit() {
  PostMessageA(window_, kQuitMessage, 0, 0);
}

std::unique_ptr<LoopTimer> Win32MainLoop::createTimer(std::function<void()> onTimeout,
                                                      int milliseconds, bool singleShot) {
  return std::make_unique<Timer>(self_, std::move(onTimeout), milliseconds, singleShot);
}

UINT_PTR Win32MainLoop::addTimer(Timer* timer) {
  const UINT_PTR id = nextTimerId_++;
  timers_[id] = timer;
  return id;
}

void Win32MainLoop::removeTimer(UINT_PTR id) {
  timers_.erase(id);
}

void Win32MainLoop::fireTimer(UINT_PTR id) {
  const auto found = timers_.find(id);
  if (found != timers_.end()) found->second->fire();
}

void Win32MainLoop::runOneTask() {
  std::function<void()> task;
  {
    const std::lock_guard lock(tasksMutex_);
    if (tasks_.empty()) return;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  guarded("task", task);
}

LRESULT CALLBACK Win32MainLoop::windowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* loop = reinterpret_cast<Win32MainLoop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (loop == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return loop->handle(window, message, wParam, lParam);
}

// `window` rather than window_: the creation messages come before CreateWindowExA returns.
LRESULT Win32MainLoop::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kFrameMessage:
      if (client_ != nullptr)
        guarded("frame notification", [this] { client_->onFrameNotification(); });
      return 0;
    case WM_TIMER:
      guarded("timer", [this, wParam] { fireTimer(static_cast<UINT_PTR>(wParam)); });
      return 0;
    case kTaskMessage:
      runOneTask();
      return 0;
    case kQuitMessage:
      quitRequested_ = true;
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Wide throughout: the main window and its controls are Unicode windows, and a message taken
// with the ANSI calls would reach them through the code page.
void Win32MainLoop::dispatch(MSG& message) {
  if (dialogWindow_ != nullptr && IsDialogMessageW(dialogWindow_, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void Win32MainLoop::processEvents() {
  const DWORD started = GetTickCount();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that owns it
      return;
    }
    dispatch(message);
    if (static_cast<LONG>(message.time - started) > 0) return;  // posted after the call began
  }
}

void Win32MainLoop::run(std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout == std::chrono::milliseconds::max();
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  quitRequested_ = false;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));  // for the program's own loop
        return;
      }
      dispatch(message);
      if (quitRequested_) {
        quitRequested_ = false;
        return;
      }
      if (!forever && Clock::now() >= deadline) return;
    }
    // The queue has run empty: the idle notification, then wait for the next message.
    if (client_ != nullptr) guarded("idle", [this] { client_->onIdle(); });
    DWORD wait = INFINITE;
    if (!forever) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return;
      wait = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), 0x7fffffff));
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace ravdel
