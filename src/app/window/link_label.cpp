#include "app/window/link_label.h"

#include <QApplication>
#include <QMouseEvent>

namespace ravdel {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setMouseTracking(true);  // moves without a button pressed
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  if (onMouseMove) onMouseMove();
}

void LinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (onMouseLeave) onMouseLeave();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      onClick) {
    onClick();
  }
}

void setScreenCursor(Qt::CursorShape shape) {
  if (const QCursor* current = QApplication::overrideCursor()) {
    if (current->shape() != shape) QApplication::changeOverrideCursor(shape);
  } else {
    QApplication::setOverrideCursor(shape);
  }
}

void resetScreenCursor() {
  while (QApplication::overrideCursor())
    QApplication::restoreOverrideCursor();
}

}  // namespace ravdel
