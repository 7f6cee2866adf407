#include "app/window/directory_chooser.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <functional>

#include "window_test_app.h"

namespace ravdel {
namespace {

// Runs the test in its own current directory, which is where the chooser opens.
class DirectoryChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RAVDEL_SKIP_WITH_QT_THREADS("The file-system model's");
    ASSERT_TRUE(tmp_.isValid());
    QDir::setCurrent(tmp_.path());
    root_ = QDir::currentPath();
    // An unexpected box would block the test for good: close it and fail instead.
    QObject::connect(&watchdog_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        stray_ += box->text();
        box->reject();
      }
    });
    watchdog_.start(1000);
  }
  void TearDown() override {
    QDir::setCurrent(previous_);
    EXPECT_TRUE(stray_.isEmpty()) << "unexpected box: " << stray_.toStdString();
  }

  QString at(const QString& relative) const { return root_ + QLatin1Char('/') + relative; }

  test::WindowTestApp app_;
  QTemporaryDir tmp_;
  QString previous_ = QDir::currentPath();
  QString root_;
  QTimer watchdog_;
  QString stray_;
};

// Waits for the chooser to open and runs `steps` on it; closes it afterwards with Cancel if the
// steps left it open, so that a failing test does not hang.
void whenChooserOpens(std::function<void(DirectoryChooser&)> steps, int triesLeft = 500) {
  QTimer::singleShot(10, [steps, triesLeft] {
    auto* chooser = dynamic_cast<DirectoryChooser*>(QApplication::activeModalWidget());
    if (!chooser) {
      if (triesLeft > 0) whenChooserOpens(steps, triesLeft - 1);
      return;
    }
    steps(*chooser);
    if (chooser->isVisible()) chooser->reject();
  });
}

// Answers the next box with `answer`, keeping its text; `then` runs first, to await the box after.
void answerNextQuestion(QString& text, QMessageBox::StandardButton answer,
                        std::function<void()> then = {}, int triesLeft = 500) {
  QTimer::singleShot(10, [&text, answer, then, triesLeft] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (triesLeft > 0) answerNextQuestion(text, answer, then, triesLeft - 1);
      return;
    }
    text = box->windowTitle() + QLatin1Char('|') + box->text();
    if (then) then();
    box->button(answer)->click();
  });
}

void typeAndPressOk(DirectoryChooser& chooser, const QString& text) {
  chooser.findChild<QLineEdit*>(QStringLiteral("DirectoryNameE"))->setText(text);
  chooser.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

TEST_F(DirectoryChooserTest, OpensInTheCurrentDirectoryAndFollowsTheTree) {
  QDir(root_).mkdir(QStringLiteral("sub"));
  QFile(at(QStringLiteral("image.png"))).open(QIODevice::WriteOnly);
  DirectoryChooser chooser;
  EXPECT_EQ(chooser.windowTitle(), "Select Directory");
  auto* name = chooser.findChild<QLineEdit*>(QStringLiteral("DirectoryNameE"));
  auto* tree = chooser.findChild<QTreeView*>(QStringLiteral("DirectoryTree"));
  auto* files = chooser.findChild<QListWidget*>(QStringLiteral("FileList"));
  auto* drives = chooser.findChild<QComboBox*>(QStringLiteral("DriveList"));
  ASSERT_TRUE(name && tree && files && drives);
  const auto labels = chooser.findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [name](const QLabel* label) {
    return label->buddy() == name && label->text() == "Directory &Name:";
  }));
  EXPECT_EQ(drives->itemText(0), "/");

  auto* model = dynamic_cast<QFileSystemModel*>(tree->model());
  ASSERT_TRUE(model);
  EXPECT_EQ(name->text(), root_);
  EXPECT_EQ(model->filePath(tree->currentIndex()), root_);
  ASSERT_EQ(files->count(), 1);
  EXPECT_EQ(files->item(0)->text(), "image.png");
  tree->setCurrentIndex(model->index(at(QStringLiteral("sub"))));
  EXPECT_EQ(name->text(), at(QStringLiteral("sub")));
  EXPECT_EQ(files->count(), 0);

  whenChooserOpens([](DirectoryChooser&) {});  // left open: Cancel
  EXPECT_EQ(DirectoryChooser::ChooseDirectory(nullptr), std::nullopt);
}

TEST_F(DirectoryChooserTest, AcceptsOnlyAnExistingDirectoryRelativeToTheShownOne) {
  QDir(root_).mkpath(QStringLiteral("sub/inner"));
  QFile(at(QStringLiteral("afile"))).open(QIODevice::WriteOnly);
  test::BoxSeen notDirectory;
  bool openAfterFile = false;
  whenChooserOpens([&](DirectoryChooser& chooser) {
    test::answerNextBox(notDirectory);
    typeAndPressOk(chooser, at(QStringLiteral("afile")));
    openAfterFile = chooser.isVisible();
    // Relative to the directory picked in the tree, not to the process's.
    auto* tree = chooser.findChild<QTreeView*>(QStringLiteral("DirectoryTree"));
    tree->setCurrentIndex(
        dynamic_cast<QFileSystemModel*>(tree->model())->index(at(QStringLiteral("sub"))));
    typeAndPressOk(chooser, QStringLiteral("./inner/../inner/"));
  });
  EXPECT_EQ(DirectoryChooser::ChooseDirectory(nullptr),
            at(QStringLiteral("sub/inner/")).toStdString());
  EXPECT_TRUE(openAfterFile);
  EXPECT_EQ(notDirectory.title, "Select Directory");
  EXPECT_EQ(notDirectory.icon, QMessageBox::Warning);
  EXPECT_EQ(notDirectory.text, "\"" + at(QStringLiteral("afile")) + "\" is not a directory.");
}

TEST_F(DirectoryChooserTest, MissingDirectoryIsCreatedWithItsParentsOnlyOnYes) {
  QFile(at(QStringLiteral("afile"))).open(QIODevice::WriteOnly);
  const QString nested = at(QStringLiteral("a/b/c"));
  const QString impossible = at(QStringLiteral("afile/sub"));  // fails for root too
  QString question;
  test::BoxSeen failure;
  bool openAfterNo = false;
  bool openAfterFailure = false;
  bool createdOnNo = true;
  whenChooserOpens([&](DirectoryChooser& chooser) {
    answerNextQuestion(question, QMessageBox::No);
    typeAndPressOk(chooser, nested);
    openAfterNo = chooser.isVisible();
    createdOnNo = QFileInfo::exists(at(QStringLiteral("a")));
    answerNextQuestion(question, QMessageBox::Yes, [&failure] { test::answerNextBox(failure); });
    typeAndPressOk(chooser, impossible);
    openAfterFailure = chooser.isVisible();
    answerNextQuestion(question, QMessageBox::Yes);
    typeAndPressOk(chooser, nested);
  });
  EXPECT_EQ(DirectoryChooser::ChooseDirectory(nullptr), (nested + "/").toStdString());
  EXPECT_EQ(question, "Select Directory|The specified directory does not exist. Create it?");
  EXPECT_TRUE(openAfterNo);
  EXPECT_FALSE(createdOnNo);
  EXPECT_TRUE(openAfterFailure);
  EXPECT_EQ(failure.title, "Select Directory");
  EXPECT_TRUE(failure.text.startsWith("Cannot create the directory \"" + impossible + "\"."))
      << failure.text.toStdString();
  EXPECT_TRUE(QFileInfo(nested).isDir());
}

}  // namespace
}  // namespace ravdel
