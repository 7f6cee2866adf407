#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QObject>

#include "capture/main_loop.h"

namespace ravdel {

// The main loop of a Qt program as frame delivery sees it: a notification is a posted event
// to this object (posted events arrive in order), and the loop is idle when its dispatcher is
// about to block. Set QT_NO_GLIB=1 before the application object exists: the glib dispatcher
// reports aboutToBlock on every pass, the Unix one only when the queue has run empty.
// Create and use it on the main thread, after the application object; postFrameNotification
// may come from any thread while this object exists.
class QtMainLoop final : public QObject, public MainLoop {
 public:
  explicit QtMainLoop(QObject* parent = nullptr);
  ~QtMainLoop() override;

  void attach(MainLoopClient* client) override;
  void postFrameNotification() override;
  // A QTimer underneath; its callback runs from the Qt event loop.
  std::unique_ptr<LoopTimer> createTimer(std::function<void()> onTimeout, int milliseconds,
                                         bool singleShot) override;
  void processEvents() override;

 protected:
  bool event(QEvent* e) override;

 private:
  static QEvent::Type frameEventType();

  MainLoopClient* client_ = nullptr;  // main thread only
  QMetaObject::Connection idleConnection_;
};

}  // namespace ravdel
