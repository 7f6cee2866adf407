#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "monitor/settings.h"

class QCheckBox;
class QLineEdit;

namespace ravdel {

// The small modal dialog of the station network, opened from the tray menu: the server, the
// station's name and password, TLS, the location and the history. It only shows and edits; the
// window saves and applies what OK gives. GUI thread only.
class NetworkDialog final : public QDialog {
 public:
  // `passwordKept`: the settings name a password file already; an empty field keeps it.
  NetworkDialog(const NetworkSettings& settings, bool passwordKept, QWidget* parent = nullptr);

  NetworkSettings settings() const;
  // The password typed, if one was.
  std::optional<std::string> password() const;

 private:
  NetworkSettings shown_;
  QLineEdit* server_ = nullptr;
  QLineEdit* station_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* tlsCa_ = nullptr;
  QLineEdit* location_ = nullptr;
  QCheckBox* history_ = nullptr;
};

}  // namespace ravdel
