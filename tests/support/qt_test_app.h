#pragma once

#include <QtGlobal>
#include <memory>

// Qt's own worker threads (multimedia, D-Bus, the file-system model) are not built for
// ThreadSanitizer: every report from a test that starts them would come from inside Qt, so
// such a test is skipped there. Use at the top of the test body (or SetUp).
#if defined(__SANITIZE_THREAD__)
#define RAVDEL_SKIP_WITH_QT_THREADS(what) \
  GTEST_SKIP() << what << " threads are not built for ThreadSanitizer"
#else
#define RAVDEL_SKIP_WITH_QT_THREADS(what) static_cast<void>(0)
#endif

namespace ravdel::test {

// The application object of one Qt test: offscreen, the plain Unix dispatcher (frame delivery
// counts on its idle notice) and no session bus. Each test makes and ends its own, so that none
// outlives main().
template <typename App>
class QtTestApp {
 public:
  QtTestApp() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    app_ = std::make_unique<App>(argc_, argv_);
  }
  App& app() { return *app_; }

 private:
  int argc_ = 1;
  char name_[12] = "ravdel-test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<App> app_;
};

}  // namespace ravdel::test
