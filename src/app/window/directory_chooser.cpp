#include "app/window/directory_chooser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QStorageInfo>
#include <QStringList>
#include <QTreeView>

#include "monitor/output_folder.h"
#include "monitor/settings.h"

namespace ravdel {
namespace {

const QString kCaption = QStringLiteral("Select Directory");

// "/" first, then the other mounted volumes that can be read now.
QStringList driveRoots() {
  QStringList roots{QDir::rootPath()};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady()) continue;
    if (!roots.contains(volume.rootPath())) roots.append(volume.rootPath());
  }
  return roots;
}

QLabel* makeBuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

DirectoryChooser::DirectoryChooser(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DirectoryChooser"));
  setWindowTitle(kCaption);
  setModal(true);

  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(QStringLiteral("DirectoryNameE"));

  dirs_ = new QFileSystemModel(this);
  dirs_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  dirs_->setRootPath(QDir::rootPath());
  tree_ = new QTreeView(this);
  tree_->setObjectName(QStringLiteral("DirectoryTree"));
  tree_->setModel(dirs_);
  tree_->setHeaderHidden(true);
  // Name only: size, type and date say nothing about where images should go.
  for (int column = 1; column < dirs_->columnCount(); ++column)
    tree_->hideColumn(column);

  fileList_ = new QListWidget(this);
  fileList_->setObjectName(QStringLiteral("FileList"));

  driveList_ = new QComboBox(this);
  driveList_->setObjectName(QStringLiteral("DriveList"));
  driveList_->addItems(driveRoots());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(makeBuddyLabel(QStringLiteral("Directory &Name:"), nameEdit_, this), 0, 0, 1, 2);
  grid->addWidget(nameEdit_, 1, 0, 1, 2);
  grid->addWidget(makeBuddyLabel(QStringLiteral("&Directories:"), tree_, this), 2, 0);
  grid->addWidget(makeBuddyLabel(QStringLiteral("&Files: (*.*)"), fileList_, this), 2, 1);
  grid->addWidget(tree_, 3, 0);
  grid->addWidget(fileList_, 3, 1);
  grid->addWidget(makeBuddyLabel(QStringLiteral("D&rives:"), driveList_, this), 4, 0);
  grid->addWidget(driveList_, 5, 0);
  grid->addWidget(buttons, 5, 1);
  grid->setColumnStretch(0, 3);
  grid->setColumnStretch(1, 2);
  grid->setRowStretch(3, 1);
  resize(420, 320);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) showDirectory(dirs_->filePath(current));
          });
  connect(driveList_, &QComboBox::activated, this,
          [this](int row) { goTo(driveList_->itemText(row)); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Deliberately the process's directory, not the program's current output folder.
  goTo(QDir::currentPath());
  nameEdit_->setFocus();
}

std::optional<std::string> DirectoryChooser::ChooseDirectory(QWidget* parent) {
  DirectoryChooser chooser(parent);
  if (chooser.exec() != QDialog::Accepted) return std::nullopt;
  return withTrailingSeparator(chooser.chosenPath().toStdString());
}

void DirectoryChooser::goTo(const QString& path) {
  const QModelIndex index = dirs_->index(path);
  if (!index.isValid() || index == tree_->currentIndex()) {
    showDirectory(path);
    return;
  }
  tree_->setCurrentIndex(index);  // shows it through currentChanged
  tree_->scrollTo(index);         // expands the parents
  tree_->expand(index);
}

void DirectoryChooser::showDirectory(const QString& path) {
  shown_ = path;
  nameEdit_->setText(path);
  fileList_->clear();
  fileList_->addItems(QDir(path).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
  const int drive = driveList_->findText(QStorageInfo(path).rootPath());
  if (drive >= 0) driveList_->setCurrentIndex(drive);
}

void DirectoryChooser::accept() {
  OutputFolderPrompts prompts;
  prompts.confirmCreate = [this] {
    return QMessageBox::question(
               this, kCaption, QStringLiteral("The specified directory does not exist. Create it?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
  };
  prompts.warn = [this](const std::string& text) {
    QMessageBox::warning(this, kCaption, QString::fromStdString(text));
  };
  const auto accepted =
      acceptTypedFolder(shown_.toStdString(), nameEdit_->text().toStdString(), prompts);
  if (!accepted) return;
  chosen_ = QString::fromStdString(*accepted);
  QDialog::accept();
}

}  // namespace ravdel
