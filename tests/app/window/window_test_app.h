#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "support/qt_test_app.h"

namespace ravdel::test {

using WindowTestApp = QtTestApp<QApplication>;

// Runs the event loop for a moment, long enough for it to block once (the idle notice).
inline void spinLoop(int ms = 20) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// What the next modal message box said; it is answered with OK.
struct BoxSeen {
  bool shown = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the next modal message box, remembering what it showed. Looks for it every few
// milliseconds, since the code under test may run the event loop before the box opens.
inline void answerNextBox(BoxSeen& seen, int triesLeft = 500) {
  QTimer::singleShot(10, [&seen, triesLeft] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (triesLeft > 0) answerNextBox(seen, triesLeft - 1);
      return;
    }
    seen.shown = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    box->accept();
  });
}

// Runs `steps` on the next modal dialog of type Dialog once it is open, then cancels it if the
// steps left it open, so that a failing test does not hang.
template <typename Dialog>
void whenModalOpens(std::function<void(Dialog&)> steps, int triesLeft = 500) {
  QTimer::singleShot(10, [steps, triesLeft] {
    auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      if (triesLeft > 0) whenModalOpens<Dialog>(steps, triesLeft - 1);
      return;
    }
    steps(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
}

}  // namespace ravdel::test
