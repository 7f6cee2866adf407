#include "app/qt_main_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <utility>

namespace ravdel {

namespace {

class QtLoopTimer final : public LoopTimer {
 public:
  QtLoopTimer(std::function<void()> onTimeout, int milliseconds, bool singleShot)
      : onTimeout_(std::move(onTimeout)) {
    timer_.setInterval(milliseconds);
    timer_.setSingleShot(singleShot);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { onTimeout_(); });
  }
  void start() override { timer_.start(); }
  void stop() override { timer_.stop(); }
  bool isActive() const override { return timer_.isActive(); }
  void setInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
  int interval() const override { return timer_.interval(); }

 private:
  std::function<void()> onTimeout_;
  QTimer timer_;
};

}  // namespace

QEvent::Type QtMainLoop::frameEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QtMainLoop::QtMainLoop(QObject* parent) : QObject(parent) {
  frameEventType();  // registered here, on the main thread, before any capture thread posts
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
    idleConnection_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
      if (client_ != nullptr) client_->onIdle();
    });
  }
}

QtMainLoop::~QtMainLoop() {
  disconnect(idleConnection_);
}

void QtMainLoop::attach(MainLoopClient* client) {
  client_ = client;
}

// Any thread. Qt owns the posted event and deletes it once delivered.
void QtMainLoop::postFrameNotification() {
  QCoreApplication::postEvent(this, new QEvent(frameEventType()));
}

bool QtMainLoop::event(QEvent* e) {
  if (e->type() != frameEventType()) return QObject::event(e);
  if (client_ != nullptr) client_->onFrameNotification();
  return true;
}

std::unique_ptr<LoopTimer> QtMainLoop::createTimer(std::function<void()> onTimeout,
                                                   int milliseconds, bool singleShot) {
  return std::make_unique<QtLoopTimer>(std::move(onTimeout), milliseconds, singleShot);
}

void QtMainLoop::processEvents() {
  QCoreApplication::processEvents();
}

}  // namespace ravdel
