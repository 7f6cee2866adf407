#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QListWidget;
class QTreeView;

namespace ravdel {

// The modal dialog that picks the folder event images go to. It opens in the process's current
// directory; OK takes the typed path (relative to the directory shown) and offers to create it
// when it is missing.
class DirectoryChooser final : public QDialog {
 public:
  explicit DirectoryChooser(QWidget* parent = nullptr);

  // Runs the dialog; the chosen absolute path with a trailing '/', or nothing on Cancel.
  static std::optional<std::string> ChooseDirectory(QWidget* parent);

  // The accepted directory, absolute and clean; empty until OK succeeds.
  QString chosenPath() const { return chosen_; }

  // Closes only on an existing directory, or one just created at the user's request.
  void accept() override;

 private:
  void goTo(const QString& path);
  void showDirectory(const QString& path);

  QFileSystemModel* dirs_ = nullptr;
  QTreeView* tree_ = nullptr;
  QLineEdit* nameEdit_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QComboBox* driveList_ = nullptr;
  QString shown_;
  QString chosen_;
};

}  // namespace ravdel
