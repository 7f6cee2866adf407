#include "app/platform/termination_signals.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <memory>
#include <thread>
#include <vector>

#include "support/qt_test_app.h"

namespace ravdel {
namespace {

class TerminationSignalsTest : public ::testing::Test {
 protected:
  test::QtTestApp<QCoreApplication> app_;
};

// Each signal, whichever thread it lands on, reaches the callback on the main thread.
TEST_F(TerminationSignalsTest, SignalsReachTheCallbackOnTheMainThread) {
  const auto mainThread = std::this_thread::get_id();
  std::vector<int> seen;
  bool offThread = false;
  TerminationSignals termination([&](int signal) {
    seen.push_back(signal);
    offThread |= std::this_thread::get_id() != mainThread;
    QCoreApplication::quit();
  });
  ASSERT_TRUE(termination.active());
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    QTimer::singleShot(0, [signal] { std::raise(signal); });
    QTimer::singleShot(5000, &app_.app(), &QCoreApplication::quit);  // a safety net
    QCoreApplication::exec();
  }
  // From another thread: the handler runs there, the callback must not.
  std::thread([] { ::pthread_kill(::pthread_self(), SIGTERM); }).join();
  QTimer::singleShot(5000, &app_.app(), &QCoreApplication::quit);
  QCoreApplication::exec();

  EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT, SIGHUP, SIGTERM}));
  EXPECT_FALSE(offThread);
}

TEST_F(TerminationSignalsTest, OneOwnerAtATimeAndHandlersPutBack) {
  const auto handler = [](int signal) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler;
  };
  ASSERT_EQ(handler(SIGHUP), SIG_DFL);
  {
    TerminationSignals first([](int) {});
    TerminationSignals second([](int) {});
    EXPECT_TRUE(first.active());
    EXPECT_FALSE(second.active());
    EXPECT_NE(handler(SIGHUP), SIG_DFL);
  }
  EXPECT_EQ(handler(SIGHUP), SIG_DFL);
  EXPECT_EQ(handler(SIGTERM), SIG_DFL);
  TerminationSignals again([](int) {});
  EXPECT_TRUE(again.active());
}

// The callback may close the window and with it destroy the object that called it.
TEST_F(TerminationSignalsTest, CallbackMayDestroyItsOwner) {
  int calls = 0;
  std::unique_ptr<TerminationSignals> termination;
  termination = std::make_unique<TerminationSignals>([&](int) {
    ++calls;
    termination.reset();
    QCoreApplication::quit();
  });
  QTimer::singleShot(0, [] {
    std::raise(SIGTERM);
    std::raise(SIGHUP);
  });
  QTimer::singleShot(5000, &app_.app(), &QCoreApplication::quit);
  QCoreApplication::exec();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(termination);
}

}  // namespace
}  // namespace ravdel
