#include "app/window/failure_box.h"

#include <QMessageBox>
#include <QString>

namespace ravdel {

std::string failureText(std::string_view message) {
  std::string text(message);
  // Compared as unsigned bytes, so the tail of a UTF-8 character counts as after ".".
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text += '.';
  }
  return text;
}

void showFailure(QWidget* parent, std::string_view message) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Ravdel"),
                  QString::fromStdString(failureText(message)), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace ravdel
