#include "app/platform/power_events.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/qt_test_app.h"

namespace ravdel {
namespace {

// Each case needs its own system bus address, and QtDBus and libdbus settle that address once
// per process. So each runs in a fresh copy of this binary (a threadsafe death test), which
// reports trouble on stderr: the parent wants it silent and exiting with 0.
int fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  return 1;
}

void sendSleep(const QDBusConnection& from, bool starting) {
  QDBusMessage signal = QDBusMessage::createSignal(
      "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
  signal << starting;
  from.send(signal);
  // A round trip through the bus: the signal has been routed, or dropped, before we go on.
  from.interface()->isServiceRegistered("org.freedesktop.login1");
}

int signalsFromLogindOnly() {
  const test::QtTestApp<QCoreApplication> app;
  const QTemporaryDir dir;
  QProcess daemon;
  daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });  // if we crash
  daemon.start(
      QStandardPaths::findExecutable("dbus-daemon"),
      {"--session", "--nofork", "--address=unix:path=" + dir.filePath("bus"), "--print-address=1"});
  while (!daemon.canReadLine())
    if (!daemon.waitForReadyRead(5000)) return fail("dbus-daemon gave no address");
  const QString address = QString::fromUtf8(daemon.readLine().trimmed());
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

  const QThread* const mainThread = QThread::currentThread();
  std::vector<PowerEvent> seen;
  bool offMainThread = false;
  {
    QDBusConnection logind = QDBusConnection::connectToBus(address, "fake-logind");
    const QDBusConnection impostor = QDBusConnection::connectToBus(address, "impostor");
    if (!logind.registerService("org.freedesktop.login1")) return fail("name not taken");
    const PowerEvents events([&](PowerEvent event) {
      seen.push_back(event);
      offMainThread |= QThread::currentThread() != mainThread;
    });
    if (!events.active()) return fail("not active on a live bus");
    // A round trip on our own connection, so the bus has our subscription before anyone sends.
    QDBusConnection::systemBus().interface()->isServiceRegistered("org.freedesktop.login1");
    if (!seen.empty()) return fail("callback ran before the event loop");

    sendSleep(impostor, true);
    sendSleep(logind, true);
    sendSleep(logind, false);
    const QDeadlineTimer deadline(5000);
    while (seen.size() < 2 && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();  // room for anything extra to show
  }
  QDBusConnection::disconnectFromBus("fake-logind");
  QDBusConnection::disconnectFromBus("impostor");
  daemon.terminate();
  daemon.waitForFinished(5000);

  if (seen != std::vector<PowerEvent>{PowerEvent::Suspend, PowerEvent::Resume})
    return fail("expected exactly Suspend, Resume from the owner of the name");
  if (offMainThread) return fail("callback ran off the main thread");
  return 0;
}

int noSystemBus() {
  const test::QtTestApp<QCoreApplication> app;
  const QTemporaryDir dir;
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.filePath("nobody-listens").toUtf8());
  const PowerEvents events([](PowerEvent) {});
  return events.active() ? fail("active without a bus") : 0;
}

TEST(PowerEventsTest, FollowsPrepareForSleepFromLogindOnly) {
  RAVDEL_SKIP_WITH_QT_THREADS("QtDBus and libdbus");
  if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
    GTEST_SKIP() << "no dbus-daemon to stand in for the system bus";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(signalsFromLogindOnly()), ::testing::ExitedWithCode(0), "^$");
}

// Containers and CI have no system bus: quietly inactive.
TEST(PowerEventsTest, InactiveAndSilentWithoutASystemBus) {
  RAVDEL_SKIP_WITH_QT_THREADS("QtDBus");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(noSystemBus()), ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace ravdel
