#include "app/window/failure_box.h"

#include <QMessageBox>
#include <QString>

namespace ravdel {

void showFailure(QWidget* parent, std::string_view message) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Ravdel"),
                  QString::fromStdString(failureText(message)), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace ravdel
