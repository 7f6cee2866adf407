#include "app/window/network_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace ravdel {
namespace {

QLineEdit* makeField(QWidget* parent, const char* name, const std::string& text,
                     const QString& placeholder) {
  auto* field = new QLineEdit(QString::fromStdString(text), parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setPlaceholderText(placeholder);
  field->setMinimumWidth(260);
  return field;
}

}  // namespace

NetworkDialog::NetworkDialog(const NetworkSettings& settings, bool passwordKept, QWidget* parent)
    : QDialog(parent), shown_(settings) {
  setObjectName(QStringLiteral("NetworkDialog"));
  setWindowTitle(QStringLiteral("Station network"));
  setModal(true);

  server_ = makeField(this, "server", settings.server, QStringLiteral("host or host:port"));
  station_ = makeField(this, "station", settings.station, QStringLiteral("this station's name"));
  password_ = makeField(this, "password", "",
                        passwordKept ? QStringLiteral("unchanged") : QStringLiteral("password"));
  password_->setEchoMode(QLineEdit::Password);
  tlsCa_ =
      makeField(this, "tlsCa", settings.tlsCa, QStringLiteral("certificate authority file (TLS)"));
  location_ = makeField(this, "location", settings.location, QStringLiteral("48.21,16.37"));
  history_ = new QCheckBox(QStringLiteral("Keep this station's history"), this);
  history_->setObjectName(QStringLiteral("history"));
  history_->setChecked(settings.history);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Server:"), server_);
  form->addRow(QStringLiteral("Station:"), station_);
  form->addRow(QStringLiteral("Password:"), password_);
  form->addRow(QStringLiteral("TLS:"), tlsCa_);
  form->addRow(QStringLiteral("Location:"), location_);
  form->addRow(history_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* note = new QLabel(
      QStringLiteral("Without a server, events stay on this machine. With one, they are kept "
                     "here until the network has stored them."),
      this);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

NetworkSettings NetworkDialog::settings() const {
  NetworkSettings chosen = shown_;  // the keys the dialog does not show stay as they were
  chosen.server = server_->text().toStdString();
  chosen.station = station_->text().toStdString();
  chosen.tlsCa = tlsCa_->text().toStdString();
  chosen.location = location_->text().toStdString();
  chosen.history = history_->isChecked();
  return chosen;
}

std::optional<std::string> NetworkDialog::password() const {
  if (password_->text().isEmpty()) return std::nullopt;
  return password_->text().toStdString();
}

}  // namespace ravdel
