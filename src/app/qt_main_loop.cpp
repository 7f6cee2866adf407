#include "app/qt_main_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace ravdel {

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

}  // namespace ravdel
