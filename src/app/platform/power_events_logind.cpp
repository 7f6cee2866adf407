#include <QDBusConnection>
#include <QPointer>
#include <utility>

#include "app/platform/power_events.h"

namespace ravdel {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSignal = QStringLiteral("PrepareForSleep");

// QtDBus delivers signals only to slots, so the moc-built part stays in here and the public
// class needs no moc on other systems.
class SleepReceiver final : public QObject {
  Q_OBJECT

 public:
  SleepReceiver(std::function<void(PowerEvent)> onEvent, QObject* parent)
      : QObject(parent), onEvent_(std::move(onEvent)) {}

 public slots:
  void prepareForSleep(bool starting) {
    // The callback may destroy us with our owner: it runs from a copy.
    const auto callback = onEvent_;
    if (callback) callback(starting ? PowerEvent::Suspend : PowerEvent::Resume);
  }

 private:
  std::function<void(PowerEvent)> onEvent_;
};

}  // namespace

PowerEvents::PowerEvents(std::function<void(PowerEvent)> onEvent, QObject* parent)
    : QObject(parent) {
  // No system bus is normal in containers; say nothing, just stay inactive.
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  auto* receiver = new SleepReceiver(std::move(onEvent), this);
  // Naming the service makes the bus pass on only what the owner of the name sends, so no
  // other client can fake a suspend. The receiver lives on this thread; QtDBus posts each
  // signal to it, which puts the callback in this thread's event loop.
  active_ =
      bus.connect(kService, kPath, kInterface, kSignal, receiver, SLOT(prepareForSleep(bool)));
  if (!active_) delete receiver;
}

// The receiver, a child, goes with us; QtDBus drops its subscription when it is destroyed.
PowerEvents::~PowerEvents() = default;

}  // namespace ravdel

#include "power_events_logind.moc"
