#include "app/window/main_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/window/directory_chooser.h"
#include "app/window/link_label.h"
#include "capture/video_image.h"
#include "monitor/settings.h"
#include "store/store.h"
#include "support/fake_camera.h"
#include "support/page_fetch.h"
#include "window_test_app.h"

namespace ravdel {
namespace {

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }

  MainFormSetup setup() {
    MainFormSetup s;
    s.backend = &backend_;
    s.settingsPath = path("RVD.ini");
    s.defaultDirectory = withTrailingSeparator(dir_.path().toStdString());
    s.instanceLockPath = path("RVDAMutex");
    return s;
  }

  std::unique_ptr<TMainForm> makeForm() { return std::make_unique<TMainForm>(setup()); }

  // One frame of equal bytes through the real delivery path: the loop goes idle, the fake
  // camera delivers, the notification reaches OnNewFrame.
  void deliver(std::uint8_t value) {
    test::spinLoop();
    ASSERT_NE(backend_.last, nullptr);
    backend_.last->deliver(value);
    test::spinLoop();
  }

  // The failure boxes of the frame path on the screen; they do not block the window.
  static std::vector<QMessageBox*> frameFailureBoxList() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box && box->objectName() == "FrameFailureBox" && box->isVisible()) boxes.push_back(box);
    }
    return boxes;
  }
  static int frameFailureBoxes() { return static_cast<int>(frameFailureBoxList().size()); }
  static QMessageBox* frameFailureBox() {
    const auto boxes = frameFailureBoxList();
    return boxes.empty() ? nullptr : boxes.front();
  }

  void expectIdleControls(const TMainForm& form) {
    EXPECT_FALSE(form.monitor().Running);
    EXPECT_FALSE(form.StopSB->isEnabled());
    EXPECT_TRUE(form.RunSB->isEnabled());
    EXPECT_TRUE(form.UpdateSB->isEnabled());
    EXPECT_TRUE(form.CamLstCB->isEnabled());
  }

  void run(TMainForm& form) {
    form.RunSB->click();
    ASSERT_TRUE(form.monitor().Running);
  }

  QStringList logLines(const TMainForm& form) const {
    return form.LogM->toPlainText().split(QLatin1Char('\n'));
  }

  test::WindowTestApp app_;
  QTemporaryDir dir_;
  test::FakeBackend backend_;
};

TEST_F(MainFormTest, ControlsCarryTheirNamesTextsAndInitialStates) {
  auto form = makeForm();
  ASSERT_FALSE(form->terminated());
  EXPECT_EQ(form->windowTitle(), "Ravdel");
  EXPECT_EQ(form->size(), QSize(242, 267));
  EXPECT_FALSE(form->isVisible()) << "the window opens from the tray, not at start";
  for (const char* name :
       {"CamLstCB", "UpdateSB",   "RunSB",   "StopSB",    "ThumbI",  "SourceNL", "SourceXYL",
        "RedL",     "GreenL",     "BlueL",   "SPMNL",     "SPML",    "UpTimeL",  "EvsL",
        "EPDNL",    "EPDL",       "LimitNL", "LimitE",    "LimitUD", "SoundCB",  "InverseCB",
        "GrayCB",   "DirectoryL", "DirSB",   "SaveSetSB", "ExitSB",  "LogM",     "AboutGB"}) {
    EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;
  }
  ASSERT_NE(form->SPMTimer, nullptr);
  EXPECT_EQ(form->SPMTimer->interval(), 60000);
  EXPECT_FALSE(form->SPMTimer->isActive());

  EXPECT_EQ(form->SourceNL->text(), "Source:");
  EXPECT_EQ(form->SourceXYL->text(), "... x ...");
  EXPECT_EQ(form->findChild<QLineEdit*>("LimitE")->text(), "150");
  EXPECT_EQ(form->LimitUD->singleStep(), 5);
  EXPECT_EQ(form->LimitUD->maximum(), 255);
  EXPECT_TRUE(form->LogM->isReadOnly());

  // Start-up with two cameras and no settings file: the first one selected.
  expectIdleControls(*form);
  EXPECT_EQ(form->CamLstCB->count(), 2);
  EXPECT_EQ(form->CamLstCB->currentIndex(), 0);
  EXPECT_TRUE(form->monitor().CaptureReady);
  EXPECT_EQ(form->monitor().OutputDirectory, setup().defaultDirectory);

  // White thumbnail with the rectangle's top and left edges.
  const QImage thumb = form->ThumbI->pixmap().toImage();
  EXPECT_EQ(thumb.size(), QSize(64, 64));
  EXPECT_EQ(thumb.pixelColor(10, 10), QColor(Qt::white));
  EXPECT_EQ(thumb.pixelColor(10, 0), QColor(Qt::black));
  EXPECT_EQ(thumb.pixelColor(0, 10), QColor(Qt::black));
}

// Every text fits where it stands at the usual system font sizes; the window grows with the
// font and keeps its drawn size at the default one.
TEST_F(MainFormTest, NoTextIsCutAtSystemFontsOf9To12Points) {
  const QFont original = QApplication::font();
  for (const int points : {9, 10, 11, 12}) {
    QFont font = original;
    font.setPointSize(points);
    QApplication::setFont(font);
    auto form = makeForm();
    if (points == 9) {
      EXPECT_EQ(form->size(), QSize(242, 267));
    }
    // The readouts at their widest.
    form->EPDL->setText("74880.0000000");
    form->SourceXYL->setText("1920 x 1080");
    form->EvsL->setText("12345");
    form->SPML->setText("18000");
    form->UpTimeL->setText("168 h");
    form->DirectoryL->setText(
        QString::fromStdString(directoryLabel("/home/ravdel/Pictures/Ravdel/events/")));
    // A person can look: RAVDEL_WINDOW_SHOTS names a folder for a picture per size.
    if (const QString shots = qEnvironmentVariable("RAVDEL_WINDOW_SHOTS"); !shots.isEmpty()) {
      form->grab().save(QStringLiteral("%1/window-%2pt.png").arg(shots).arg(points));
    }
    const QRect client = form->rect();
    for (QWidget* widget : form->findChildren<QWidget*>()) {
      if (!widget->isVisibleTo(form.get()) || widget->isWindow()) continue;
      const std::string where =
          std::to_string(points) + " pt, " + widget->objectName().toStdString();
      EXPECT_TRUE(client.contains(QRect(widget->mapTo(form.get(), QPoint()), widget->size())))
          << where << " lies outside the window";
      auto* label = qobject_cast<QLabel*>(widget);
      if (label != nullptr && label->pixmap().isNull() && label != form->ThumbI) {
        label->ensurePolished();
        const QFontMetrics metrics = label->fontMetrics();
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width())
            << where << " cuts '" << label->text().toStdString() << "'";
        EXPECT_LE(metrics.height(), label->contentsRect().height()) << where;
      }
      if (qobject_cast<QCheckBox*>(widget) != nullptr || widget == form->LimitUD) {
        EXPECT_LE(widget->sizeHint().width(), widget->width()) << where;
      }
    }
  }
  QApplication::setFont(original);
}

TEST_F(MainFormTest, SecondInstanceEndsAtOnceAndNoCameraShowsTheDashes) {
  auto first = makeForm();
  // A second instance with a start-up warning and a folder to create: it ends before
  // showing or making either.
  MainFormSetup late = setup();
  late.startupWarning = "RAVDEL_SIMULATED_CAMERA: size: 'huge' is not a size";
  late.defaultDirectory = path("pictures/Ravdel") + "/";
  late.createDefaultDirectory = true;
  test::BoxSeen seen;
  test::answerNextBox(seen, 20);
  auto second = std::make_unique<TMainForm>(late);  // a box would be answered inside
  EXPECT_FALSE(first->terminated());
  EXPECT_TRUE(second->terminated());
  EXPECT_FALSE(second->monitor().CaptureReady);
  EXPECT_FALSE(seen.shown) << "a second instance shows nothing";
  EXPECT_FALSE(QDir(dir_.filePath("pictures")).exists()) << "and creates nothing";
  second.reset();
  first.reset();

  test::answerNextBox(seen);
  auto only = std::make_unique<TMainForm>(late);
  EXPECT_TRUE(seen.shown) << "the only instance shows the warning";
  EXPECT_EQ(seen.text.toStdString(), late.startupWarning + ".");
  EXPECT_TRUE(QDir(dir_.filePath("pictures/Ravdel")).exists());
  only.reset();

  backend_.names.clear();
  auto form = makeForm();
  EXPECT_FALSE(form->terminated()) << "the lock went with the first window";
  EXPECT_EQ(form->monitor().CameraCount, 0);
  EXPECT_FALSE(form->CamLstCB->isEnabled());
  EXPECT_EQ(form->CamLstCB->count(), 1);
  EXPECT_EQ(form->CamLstCB->itemText(0), "---");
  EXPECT_EQ(form->CamLstCB->currentIndex(), -1);
  EXPECT_TRUE(form->RunSB->isEnabled());
}

TEST_F(MainFormTest, RunAndStopSetControlsLogFormatsAndResetTheStatistics) {
  auto form = makeForm();
  run(*form);
  EXPECT_TRUE(form->StopSB->isEnabled());
  EXPECT_FALSE(form->RunSB->isEnabled());
  EXPECT_FALSE(form->UpdateSB->isEnabled());
  EXPECT_FALSE(form->CamLstCB->isEnabled());
  EXPECT_TRUE(form->monitor().LensCheckPending);
  EXPECT_TRUE(form->SPMTimer->isActive());
  EXPECT_EQ(form->UpTimeL->text(), "0 h");
  EXPECT_EQ(form->EvsL->text(), "0");
  EXPECT_EQ(form->EPDL->text(), "-");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  std::vector<std::string> formats;
  form->captureObject()->GetListOfFormats(formats);
  ASSERT_EQ(formats.size(), 1u);
  const QStringList lines = logLines(*form);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0].toStdString(), formats[0]);
  EXPECT_EQ(lines[1], "");

  // The user picks the second camera; Stop re-reads the list and keeps it selected.
  form->StopSB->click();
  expectIdleControls(*form);
  EXPECT_TRUE(form->SPMTimer->isActive()) << "Stop leaves the minute tick running";
  EXPECT_FALSE(form->captureObject()->isOpen());
  form->CamLstCB->setCurrentIndex(1);
  form->CamLstCBChange();
  form->StopSB->setEnabled(true);
  form->StopSB->click();
  EXPECT_EQ(form->monitor().CameraIndex, 1);
  EXPECT_EQ(form->CamLstCB->currentIndex(), 1);
}

TEST_F(MainFormTest, FailedRunShowsTheErrorAndStillResetsTheStatistics) {
  Settings settings;
  settings.cam = 3;  // beyond the two cameras: nothing selected, Run names "#0"
  SaveSettings(path("RVD.ini"), settings);
  auto form = makeForm();
  EXPECT_EQ(form->CamLstCB->currentIndex(), -1);

  test::BoxSeen seen;
  test::answerNextBox(seen);
  form->RunSB->click();
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, "Error");
  EXPECT_EQ(seen.text, "Could not start monitoring!");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  expectIdleControls(*form);
  EXPECT_TRUE(form->SPMTimer->isActive());
  EXPECT_EQ(form->UpTimeL->text(), "0 h");
  EXPECT_EQ(form->EvsL->text(), "0");
  EXPECT_EQ(form->EPDL->text(), "-");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, FramesAreIgnoredWhileBusyOrBeforeCaptureIsReady) {
  auto form = makeForm();
  run(*form);
  form->monitor().FrameBusy = true;
  deliver(0);
  EXPECT_EQ(form->records().minuteFrames(), 0);
  EXPECT_TRUE(form->monitor().FrameBusy);
  EXPECT_EQ(form->SourceXYL->text(), "... x ...");

  form->monitor().FrameBusy = false;
  form->monitor().CaptureReady = false;
  deliver(0);
  EXPECT_EQ(form->records().minuteFrames(), 0);
  EXPECT_FALSE(form->monitor().FrameBusy);
  form->monitor().CaptureReady = true;

  deliver(0);
  EXPECT_EQ(form->records().minuteFrames(), 1);
  EXPECT_EQ(form->SourceXYL->text(), "4 x 2");
  EXPECT_FALSE(form->monitor().LensCheckPending);
  EXPECT_EQ(form->ThumbI->size(), QSize(64, 32));

  form->SPMTimerTimer();
  EXPECT_EQ(form->SPML->text(), "1");
  EXPECT_EQ(form->records().minuteFrames(), 0);
  EXPECT_EQ(form->UpTimeL->text(), "0 h");
}

TEST_F(MainFormTest, EventFrameIsCountedLoggedAndStored) {
  auto form = makeForm();
  int balloons = 0;
  form->showEventBalloon = [&](const BalloonRequest& balloon) {
    ++balloons;
    EXPECT_EQ(balloon.title, "Information");
    EXPECT_EQ(balloon.text, "Event detected!");
    EXPECT_EQ(balloon.icon, BalloonIcon::Information);
    EXPECT_EQ(balloon.timeoutMs, 10000);
  };
  run(*form);
  deliver(0);  // the dark first frame passes the lens check
  const int before = static_cast<int>(logLines(*form).size());
  deliver(200);
  EXPECT_FALSE(form->monitor().FrameBusy);
  EXPECT_EQ(form->EvsL->text(), "1");
  EXPECT_EQ(form->EPDL->text(), "-");
  EXPECT_EQ(balloons, 1);
  const QStringList lines = logLines(*form);
  ASSERT_EQ(lines.size(), before + 3);
  EXPECT_TRUE(lines[before].startsWith("Event at ")) << lines[before].toStdString();
  EXPECT_EQ(lines[before + 1], "R:200 G:200 B:200");
  EXPECT_EQ(lines[before + 2], "");
  EXPECT_TRUE(form->LogM->cursorForPosition(QPoint(4, 4)).block().text().startsWith("Event at"))
      << "the small log shows the event's time, not only its colour";
  const QStringList pngs = QDir(dir_.path()).entryList({"*.png"}, QDir::Files);
  ASSERT_EQ(pngs.size(), 1);
  EXPECT_EQ(pngs[0].size(), 19);

  // An image that cannot be written: still counted, reported in the failure box, and the
  // next frame is analysed again. The box does not hold up the window: further failures of the
  // run go to the log instead of more boxes, and Stop can be reached.
  QFile taken(QString::fromStdString(path("taken")));
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));  // a file where the folder should be
  taken.close();
  form->monitor().OutputDirectory = path("taken/sub/");
  deliver(200);
  QMessageBox* box = frameFailureBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), "Ravdel");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_TRUE(box->text().startsWith("Cannot create file")) << box->text().toStdString();
  EXPECT_TRUE(box->text().endsWith(".")) << "the failure box's full stop";
  EXPECT_EQ(form->EvsL->text(), "2");
  EXPECT_EQ(balloons, 1);
  EXPECT_FALSE(form->monitor().FrameBusy);

  deliver(200);
  EXPECT_EQ(form->EvsL->text(), "3");
  EXPECT_TRUE(logLines(*form).last().startsWith("Cannot create file")) << "logged, not boxed";
  EXPECT_EQ(frameFailureBoxes(), 1);
  box->accept();
  test::spinLoop();
  EXPECT_EQ(frameFailureBoxes(), 0);
  deliver(200);
  EXPECT_EQ(frameFailureBoxes(), 0) << "one box a run; then the log counts them";
  EXPECT_TRUE(logLines(*form).last().endsWith("(3 pictures not written since Run)"))
      << logLines(*form).last().toStdString();
  EXPECT_EQ(form->records().minuteFrames(), 5);
  form->StopSB->click();
  EXPECT_FALSE(form->monitor().Running) << "Stop is reachable while the box is open";
}

TEST_F(MainFormTest, UncoveredLensStopsLikeTheStopButton) {
  auto form = makeForm();
  run(*form);
  test::BoxSeen seen;
  test::answerNextBox(seen);
  deliver(200);
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, "Ravdel");
  EXPECT_EQ(seen.text, "Stick a piece of duct tape over the camera lens!");
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  expectIdleControls(*form);
  EXPECT_EQ(form->CamLstCB->currentIndex(), 0);
  EXPECT_FALSE(form->monitor().LensCheckPending);
  EXPECT_FALSE(form->monitor().FrameBusy);
  EXPECT_FALSE(form->captureObject()->isOpen());
  EXPECT_EQ(form->EvsL->text(), "0") << "no event test after a failed lens check";
  EXPECT_EQ(form->ThumbI->size(), QSize(64, 64)) << "no thumbnail either";
}

TEST_F(MainFormTest, ExitWhileTheLensMessageIsOpenClosesUnderTheRunningHandler) {
  auto form = makeForm();
  run(*form);
  // The exit arrives while the frame handler waits in its message box: the capture object
  // must outlive the handler that is still running inside it. Watched for, not timed: on a busy
  // machine a fixed delay let the exit come before the frame, and the test then handed the
  // frame to a camera already given back.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&form, &watch] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    watch.stop();
    form->Quit->trigger();
    box->close();
  });
  watch.start(10);
  deliver(200);
  EXPECT_FALSE(form->monitor().CaptureReady);
  EXPECT_EQ(backend_.liveDevices, 0);
}

TEST_F(MainFormTest, SaveSetWritesTheControlsAndReportsAFailedWrite) {
  auto form = makeForm();
  form->SoundCB->setChecked(true);
  form->GrayCB->setChecked(true);
  form->LimitUD->setValue(75);
  form->CamLstCB->setCurrentIndex(1);  // as the user picks it
  emit form->CamLstCB->activated(1);
  form->SaveSetSB->click();
  const Settings read = LoadSettings(form->settingsPath(), "elsewhere/");
  EXPECT_TRUE(read.sound);
  EXPECT_FALSE(read.inverse);
  EXPECT_TRUE(read.gray);
  EXPECT_EQ(read.limit, 75);
  EXPECT_EQ(read.directory, form->monitor().OutputDirectory);
  EXPECT_EQ(read.cam, 1);
  form.reset();

  // A settings file below a plain file cannot be written.
  QFile blocker(dir_.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  MainFormSetup s = setup();
  s.settingsPath = path("blocker/RVD.ini");
  TMainForm broken(s);
  test::BoxSeen seen;
  test::answerNextBox(seen);
  broken.SaveSetSB->click();
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, "Ravdel");
  EXPECT_EQ(seen.text.toStdString(), "Unable to write to " + s.settingsPath + ".");
}

TEST_F(MainFormTest, WithoutANotificationAreaTheWindowShowsAndMinimizesToTheTaskbar) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "offscreen has no tray";
  auto form = makeForm();
  form->ShowAtStart();
  EXPECT_TRUE(form->isVisible()) << "else the program could never be reached";

  // The close button only puts the window away, to the taskbar here; monitoring goes on.
  run(*form);
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMinimized());
  EXPECT_TRUE(form->monitor().Running);
  form->MinimizeClick();
  EXPECT_TRUE(form->isVisible());
  form->RestoreClick();
  EXPECT_FALSE(form->isMinimized());

  // The end of the session closes for real, capture stopped, even from the minimized window.
  form->showMinimized();
  form->QueryEndSession();
  EXPECT_TRUE(form->ExitRequested);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->monitor().CaptureReady);
  EXPECT_FALSE(form->captureObject()->isOpen());
  EXPECT_EQ(backend_.liveDevices, 0) << "the camera was given back";
}

TEST_F(MainFormTest, TrayMenuOffersRestoreMinimizeAndExitWhichCloses) {
  auto form = makeForm();
  QStringList entries;
  for (const QAction* action : form->PopupMenu->actions())
    entries << (action->isSeparator() ? "-" : action->objectName() + "=" + action->text());
  EXPECT_EQ(entries.join(' '),
            "Restore=Restore - Minimize=Minimize - DetectionOptions=Detection options\u2026 "
            "NetworkOptions=Network\u2026 History=History\u2026 - Quit=Exit");
  for (const QAction* action : {form->Restore, form->Minimize, form->DetectionOptions,
                                form->NetworkOptions, form->History, form->Quit})
    EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
  EXPECT_EQ(form->TrayI->contextMenu(), form->PopupMenu);

  run(*form);
  form->Quit->trigger();
  EXPECT_TRUE(form->ExitRequested);
  EXPECT_FALSE(form->monitor().CaptureReady);
  EXPECT_EQ(backend_.liveDevices, 0);

  const BalloonRequest cut =
      balloonRequest(QString(70, 't'), QString(300, 'x'), BalloonIcon::Warning, 3);
  EXPECT_EQ(cut.title.size(), 63);
  EXPECT_EQ(cut.text.size(), 255);
  EXPECT_EQ(cut.timeoutMs, 3000);
}

TEST_F(MainFormTest, DetectionOptionsShowTheFileAndOkSavesThemForTheNextRun) {
  DetectionSettings stored;
  stored.lightLeakGuard = true;
  stored.leakLevel = 33;
  SaveDetectionSettings(path("RVD.ini"), stored);
  auto form = makeForm();
  run(*form);

  DetectionSettings chosen = stored;
  chosen.clusters = true;
  chosen.clusterLevel = 70;
  bool shown = false;
  test::whenModalOpens<QDialog>([&](QDialog& dialog) {
    shown = true;
    const auto box = [&](const char* name) { return dialog.findChild<QCheckBox*>(name); };
    const auto level = [&](const char* name) { return dialog.findChild<QSpinBox*>(name); };
    EXPECT_FALSE(box("hotPixelMask")->isChecked());
    EXPECT_TRUE(box("lightLeakGuard")->isChecked());
    EXPECT_EQ(level("leakLevel")->value(), 33);
    EXPECT_FALSE(box("clusters")->isChecked());
    EXPECT_EQ(level("clusterLevel")->value(), 60);
    EXPECT_EQ(level("clusterLevel")->maximum(), 254);
    EXPECT_NE(dialog.findChild<QLabel*>("nextRunNote"), nullptr) << "monitoring: said so";
    box("clusters")->setChecked(true);
    level("clusterLevel")->setValue(70);
    dialog.accept();
  });
  form->DetectionOptions->trigger();
  ASSERT_TRUE(shown);
  EXPECT_EQ(LoadDetectionSettings(path("RVD.ini")), chosen);
  EXPECT_FALSE(form->monitor().config().clusterLevel) << "the running run keeps its options";

  form->StopSB->click();
  run(*form);
  EXPECT_EQ(form->monitor().config().clusterLevel, 70);
  EXPECT_TRUE(form->monitor().config().lightLeakGuard);
  EXPECT_EQ(form->monitor().config().lightLeak.level, 33.0);
}

// The network dialog writes [Network] and the station's password file, and the station's
// history starts at once: the next event is in the store beside the settings.
TEST_F(MainFormTest, NetworkDialogSavesTheStationAndStartsItsHistory) {
  auto form = makeForm();
  bool shown = false;
  test::whenModalOpens<QDialog>([&](QDialog& dialog) {
    shown = true;
    const auto field = [&](const char* name) { return dialog.findChild<QLineEdit*>(name); };
    EXPECT_EQ(field("password")->placeholderText(), "password") << "none kept yet";
    EXPECT_EQ(field("password")->echoMode(), QLineEdit::Password);
    field("station")->setText(" school-3 ");
    field("password")->setText("s3cret");
    field("location")->setText("48.2082,16.3738");
    dialog.findChild<QCheckBox*>("history")->setChecked(true);
    dialog.accept();
  });
  form->NetworkOptions->trigger();
  ASSERT_TRUE(shown);
  const NetworkSettings saved = LoadNetworkSettings(path("RVD.ini"));
  EXPECT_EQ(saved.station, "school-3");
  EXPECT_TRUE(saved.history);
  EXPECT_EQ(saved.passwordFile, path("RVD-station.password"));
  QFile password(QString::fromStdString(saved.passwordFile));
  ASSERT_TRUE(password.open(QIODevice::ReadOnly));
  EXPECT_EQ(password.readAll(), "s3cret\n");
  EXPECT_EQ(std::filesystem::status(saved.passwordFile).permissions() &
                std::filesystem::perms::group_read,
            std::filesystem::perms::none);

  run(*form);
  form->LimitUD->setValue(100);
  deliver(0);
  deliver(120);
  auto store = Store::open(path("RVD-history.db"));
  const std::vector<EventRow> events = store->undeliveredEvents(10);
  EXPECT_TRUE(events.empty()) << "no server: kept as delivered";
  EXPECT_EQ(store->eventCount(), 1);
  const auto query = store->database().prepare("SELECT station, lat, lon FROM events");
  ASSERT_TRUE(query->step());
  EXPECT_EQ(query->text(0), "school-3");
  EXPECT_EQ(query->real(1), 48.21);
  EXPECT_EQ(query->real(2), 16.37);
}

// "History…" serves the station's page from its history on loopback, under a token, while the
// window lives: first the notice that nothing is kept yet, then the page once an event is. (The
// Windows test closes it by Exit.)
TEST_F(MainFormTest, HistoryServesTheStationsOwnPageUnderItsTokenUntilTheSessionEnds) {
  NetworkSettings network;
  network.history = true;
  SaveNetworkSettings(path("RVD.ini"), network);
  auto form = makeForm();
  QList<QUrl> opened;
  form->openUrl = [&](const QUrl& url) { opened << url; };
  form->History->trigger();
  ASSERT_EQ(opened.size(), 1);
  const QUrl url = opened[0];
  EXPECT_EQ(url.host(), "127.0.0.1");
  EXPECT_EQ(url.fragment(), "/station/local");
  const QString token = url.path().section('/', 1, 1);
  EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch())
      << url.toString().toStdString();

  const std::string page = url.toString().toStdString();
  EXPECT_NE(test::fetchPage(page).body.find("No local history yet"), std::string::npos);
  const std::string root = "http://127.0.0.1:" + std::to_string(url.port());
  for (const std::string& guess : {root + "/", root + "/api/stations", root + "/0123/"})
    EXPECT_EQ(test::fetchPage(guess).status, 404) << guess;

  run(*form);
  form->LimitUD->setValue(100);
  deliver(0);
  deliver(120);
  const test::Fetched filled = test::fetchPage(page);
  EXPECT_EQ(filled.status, 200);
  EXPECT_NE(filled.body.find("<title>Ravdel stations</title>"), std::string::npos);
  const test::Fetched station =
      test::fetchPage(root + "/" + token.toStdString() + "/api/station?station=local&since=-1d");
  EXPECT_EQ(station.status, 200);
  EXPECT_NE(station.body.find("\"latest\":[{"), std::string::npos) << "the event: " << station.body;

  form->History->trigger();
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(opened[1], url) << "one server while the window lives";
  form->QueryEndSession();
  EXPECT_EQ(test::fetchPage(page).status, 0) << "the port is closed at the end of the session";
}

TEST_F(MainFormTest, SuspendPausesTheMinuteTickAndResumeBringsItBackWhileRunning) {
  auto form = makeForm();
  form->ResumeTimer->setInterval(1);  // the real delay is three seconds
  run(*form);
  ASSERT_TRUE(form->SPMTimer->isActive());
  form->OnPowerEvent(PowerEvent::Suspend);
  EXPECT_FALSE(form->SPMTimer->isActive());
  form->OnPowerEvent(PowerEvent::Resume);
  EXPECT_FALSE(form->SPMTimer->isActive()) << "only after the delay";
  test::spinLoop();
  EXPECT_TRUE(form->SPMTimer->isActive());
  EXPECT_TRUE(form->monitor().Running) << "capture is left alone";

  // Stop leaves the tick running; a suspend stops it and a resume without monitoring does not
  // bring it back. A suspend also cancels a resume still waiting.
  form->StopSB->click();
  ASSERT_TRUE(form->SPMTimer->isActive());
  form->OnPowerEvent(PowerEvent::Suspend);
  form->OnPowerEvent(PowerEvent::Resume);
  test::spinLoop();
  EXPECT_FALSE(form->SPMTimer->isActive());
  run(*form);
  form->OnPowerEvent(PowerEvent::Resume);
  form->OnPowerEvent(PowerEvent::Suspend);
  test::spinLoop();
  EXPECT_FALSE(form->SPMTimer->isActive());
}

TEST_F(MainFormTest, LinksChangeColourAndCursorAndOpenTheirAddresses) {
  auto form = makeForm();
  QList<QUrl> opened;
  form->openUrl = [&](const QUrl& url) { opened << url; };
  const auto colour = [](const QLabel* label) { return label->styleSheet(); };

  form->HomeL->onMouseMove();
  form->HomeL->onMouseMove();
  EXPECT_TRUE(colour(form->HomeL).contains("color: red"));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  form->HomeL->onMouseLeave();
  EXPECT_TRUE(colour(form->HomeL).contains("color: blue"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "moves must not stack overrides";

  const QString mailColour = colour(form->MailL);
  form->MailL->onMouseMove();
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  EXPECT_EQ(colour(form->MailL), mailColour);
  form->MailL->onMouseLeave();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  form->HomeL->onClick();
  form->MailL->onClick();
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(opened[0].path(), "/RVD.php");
  EXPECT_EQ(opened[1].toString(), "mailto:" + supportMail() + "?subject=RVD_Support");
  EXPECT_EQ(form->HomeL->text(), makerSite());
  EXPECT_EQ(form->MailL->text(), supportMail());
  EXPECT_FALSE(form->LogoI->pixmap().isNull());
}

TEST_F(MainFormTest, DirectoryChosenBecomesTheOutputDirectoryUntilCancelled) {
  RAVDEL_SKIP_WITH_QT_THREADS("The file-system model's");
  auto form = makeForm();
  const std::string chosen = path("a-folder-with-a-name-longer-than-25");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(chosen)));
  const auto answerChooser = [](const std::string& text) {
    QTimer::singleShot(20, [text] {
      auto* chooser = dynamic_cast<DirectoryChooser*>(QApplication::activeModalWidget());
      ASSERT_NE(chooser, nullptr);
      if (text.empty()) {
        chooser->reject();
        return;
      }
      chooser->findChild<QLineEdit*>("DirectoryNameE")->setText(QString::fromStdString(text));
      chooser->accept();
    });
  };
  answerChooser(chosen);
  form->DirSB->click();
  EXPECT_EQ(form->monitor().OutputDirectory, chosen + "/");
  EXPECT_EQ(form->DirectoryL->text().toStdString(), chosen.substr(0, 25) + "...");

  answerChooser("");
  form->DirSB->click();
  EXPECT_EQ(form->monitor().OutputDirectory, chosen + "/") << "Cancel changes nothing";
}

}  // namespace
}  // namespace ravdel
