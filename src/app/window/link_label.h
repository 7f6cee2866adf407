#pragma once

#include <QLabel>
#include <functional>

class QEnterEvent;
class QMouseEvent;

namespace ravdel {

// A label that acts as a link: it reports the mouse moving over it, leaving it, and a click
// with the left button released over it. The callbacks run on the GUI thread.
class LinkLabel final : public QLabel {
 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

  std::function<void()> onMouseMove;
  std::function<void()> onMouseLeave;
  std::function<void()> onClick;

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The screen-wide cursor: one override for the whole application, which hides every other
// cursor while it is set. Setting it replaces the override in place, so repeated moves over a
// link never stack; resetting removes every override, back to the default cursor.
void setScreenCursor(Qt::CursorShape shape);
void resetScreenCursor();

}  // namespace ravdel
