#include "app/window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <stdexcept>
#include <vector>

#include "app/platform/event_sound.h"
#include "app/qt_main_loop.h"
#include "app/window/directory_chooser.h"
#include "app/window/failure_box.h"
#include "app/window/link_label.h"
#include "capture/video_image.h"
#include "detection/frame_analysis.h"
#include "monitor/settings.h"
#include "platform/file_version.h"

namespace ravdel {
namespace {

constexpr int kThumbSide = 64;
constexpr int kBalloonSeconds = 10;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect where,
                  const char* style = nullptr) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(where);
  if (style) label->setStyleSheet(QString::fromLatin1(style));
  return label;
}

// A link label's look: underlined, in the given colour.
QString linkStyle(const char* colour) {
  return QStringLiteral("color: %1; text-decoration: underline;").arg(QLatin1String(colour));
}

// Mouse moves over a link come by the hundred; restyling the label each time would re-polish it
// each time, so only a change of colour is applied.
void setLinkColour(QLabel* link, const char* colour) {
  const QString style = linkStyle(colour);
  if (link->styleSheet() != style) link->setStyleSheet(style);
}

// One of the program's own pictures, drawn from the embedded icon set.
QIcon glyph(const char* name) {
  return QIcon(QStringLiteral(":/ravdel/icons/%1.svg").arg(QLatin1String(name)));
}

QLabel* makeImage(QWidget* parent, const char* name, const QIcon& icon, QRect where) {
  auto* image = new QLabel(parent);
  image->setObjectName(QString::fromLatin1(name));
  image->setGeometry(where);
  image->setPixmap(icon.pixmap(where.size()));
  return image;
}

QToolButton* makeGlyphButton(QWidget* parent, const char* name, const char* icon,
                             const QString& tip, QPoint at) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(glyph(icon));
  button->setToolTip(tip);
  button->setGeometry(QRect(at, QSize(24, 24)));
  return button;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& text, QRect where) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(where);
  return box;
}

// The hourglass for the whole screen with one pass of the event loop, so that it shows.
// Restores the cursor on the way out, also when the start or stop throws.
class BusyCursor {
 public:
  BusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QCoreApplication::processEvents();
  }
  ~BusyCursor() { restore(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
  void restore() {
    if (active_) QApplication::restoreOverrideCursor();
    active_ = false;
  }

 private:
  bool active_ = true;
};

}  // namespace

QString makerSite() {
  return QStringLiteral(RAVDEL_MAKER_SITE);
}

QString supportMail() {
  return QStringLiteral(RAVDEL_SUPPORT_MAIL);
}

TMainForm::TMainForm(const MainFormSetup& setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      backend_(*setup.backend),
      settingsPath_(setup.settingsPath),
      defaultDirectory_(setup.defaultDirectory),
      InstanceMutex(setup.instanceLockPath.empty() ? SingleInstance::defaultLockPath()
                                                   : setup.instanceLockPath),
      separators_(currentLocaleSeparators()),
      thumbPicture_(std::make_unique<QImage>(kThumbSide, kThumbSide, QImage::Format_RGB888)) {
  setObjectName(QStringLiteral("MainForm"));
  createControls();
  FormCreate();
}

TMainForm::~TMainForm() {
  // A window destroyed without being closed (a test, an exception at start) still gives the
  // camera back before the loop and the capture object go.
  try {
    FormClose();
  } catch (...) {
  }
}

void TMainForm::createControls() {
  setFixedSize(kClientWidth, kClientHeight);

  CamLstCB = new QComboBox(this);
  CamLstCB->setObjectName(QStringLiteral("CamLstCB"));
  CamLstCB->setGeometry(4, 4, 162, 24);
  CamLstCB->setEnabled(false);
  UpdateSB = makeGlyphButton(this, "UpdateSB", "refresh", QStringLiteral("Refresh the camera list"),
                             {168, 4});
  RunSB = makeGlyphButton(this, "RunSB", "run", QStringLiteral("Start monitoring"), {192, 4});
  StopSB = makeGlyphButton(this, "StopSB", "stop", QStringLiteral("Stop monitoring"), {216, 4});
  StopSB->setEnabled(false);

  ThumbI = new QLabel(this);
  ThumbI->setObjectName(QStringLiteral("ThumbI"));
  ThumbI->setGeometry(4, 32, kThumbSide, kThumbSide);
  ThumbI->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  const QString dots = QStringLiteral("...");
  SourceNL = makeLabel(this, "SourceNL", QStringLiteral("Source:"), {74, 32, 44, 16});
  SourceXYL = makeLabel(this, "SourceXYL", QStringLiteral("... x ..."), {120, 32, 118, 16});
  RedL = makeLabel(this, "RedL", dots, {74, 48, 50, 16}, "color: red;");
  GreenL = makeLabel(this, "GreenL", dots, {128, 48, 50, 16}, "color: lime;");
  BlueL = makeLabel(this, "BlueL", dots, {182, 48, 56, 16}, "color: blue;");
  SPMNL = makeLabel(this, "SPMNL", QStringLiteral("SPM:"), {74, 64, 32, 16});
  SPML = makeLabel(this, "SPML", dots, {108, 64, 70, 16}, "color: blue;");
  UpTimeL = makeLabel(this, "UpTimeL", dots, {182, 64, 56, 16});
  EvsL = makeLabel(this, "EvsL", dots, {74, 80, 40, 16}, "color: red; font-weight: bold;");
  EPDNL = makeLabel(this, "EPDNL", QStringLiteral("EPD:"), {116, 80, 30, 16});
  EPDL = makeLabel(this, "EPDL", dots, {146, 80, 92, 16}, "color: red;");

  LimitNL = makeLabel(this, "LimitNL", QStringLiteral("Limit:"), {4, 102, 34, 20});
  LimitUD = new QSpinBox(this);
  LimitUD->setObjectName(QStringLiteral("LimitUD"));
  LimitUD->setGeometry(40, 100, 64, 24);
  LimitUD->setRange(5, 255);
  LimitUD->setSingleStep(5);
  LimitUD->setValue(150);
  // The spin box is edit box and up-down in one; its edit field carries the edit box's name.
  if (auto* edit = LimitUD->findChild<QLineEdit*>()) edit->setObjectName(QStringLiteral("LimitE"));
  DirSB = makeGlyphButton(this, "DirSB", "folder",
                          QStringLiteral("Choose the directory for events"), {166, 100});
  SaveSetSB =
      makeGlyphButton(this, "SaveSetSB", "save", QStringLiteral("Save the settings"), {190, 100});
  ExitSB = makeGlyphButton(this, "ExitSB", "exit", QStringLiteral("Exit"), {214, 100});

  SoundCB = makeCheckBox(this, "SoundCB", QStringLiteral("Sound"), {4, 126, 74, 18});
  InverseCB = makeCheckBox(this, "InverseCB", QStringLiteral("Inverse"), {80, 126, 80, 18});
  GrayCB = makeCheckBox(this, "GrayCB", QStringLiteral("Gray"), {162, 126, 76, 18});
  DirectoryL = makeLabel(this, "DirectoryL", dots, {4, 144, 234, 14});

  LogM = new QPlainTextEdit(this);
  LogM->setObjectName(QStringLiteral("LogM"));
  LogM->setGeometry(4, 159, 234, 40);
  LogM->setReadOnly(true);
  QFont small = LogM->font();
  small.setPointSize(7);
  LogM->setFont(small);

  createAboutArea();

  SPMTimer = new QTimer(this);
  SPMTimer->setObjectName(QStringLiteral("SPMTimer"));
  SPMTimer->setInterval(kMinuteMs);
  ResumeTimer = new QTimer(this);
  ResumeTimer->setObjectName(QStringLiteral("ResumeTimer"));
  ResumeTimer->setSingleShot(true);
  ResumeTimer->setInterval(kResumeDelayMs);

  createTray();
  connectHandlers();
}

void TMainForm::createAboutArea() {
  AboutGB = new QGroupBox(this);
  AboutGB->setObjectName(QStringLiteral("AboutGB"));
  AboutGB->setGeometry(4, 200, 234, 64);
  QFont small = AboutGB->font();
  small.setPointSize(8);
  AboutGB->setFont(small);

  const QString dots = QStringLiteral("...");
  LogoI = makeImage(AboutGB, "LogoI", glyph("ravdel"), {6, 8, 32, 32});
  NameL = makeLabel(AboutGB, "NameL", QStringLiteral("Ravdel"), {44, 4, 70, 14},
                    "color: black; font-weight: bold;");
  AuthorL = makeLabel(AboutGB, "AuthorL", QStringLiteral("Ravdel team"), {44, 18, 90, 14},
                      "color: blue;");
  VersionL = makeLabel(AboutGB, "VersionL", dots, {136, 4, 94, 14});
  OSI = makeImage(AboutGB, "OSI", glyph("system"), {136, 18, 14, 14});
  OSL = makeLabel(AboutGB, "OSL", dots, {152, 18, 78, 14});

  WebI = makeImage(AboutGB, "WebI", glyph("web"), {44, 33, 14, 14});
  HomeL = new LinkLabel(makerSite(), AboutGB);
  MailI = makeImage(AboutGB, "MailI", glyph("mail"), {44, 47, 14, 14});
  MailL = new LinkLabel(supportMail(), AboutGB);
  const auto setUpLink = [](LinkLabel* link, const char* name, QRect where) {
    link->setObjectName(QString::fromLatin1(name));
    link->setGeometry(where);
    setLinkColour(link, "blue");
  };
  setUpLink(HomeL, "HomeL", {60, 33, 170, 14});
  setUpLink(MailL, "MailL", {60, 47, 170, 14});
}

void TMainForm::createTray() {
  const QIcon icon = glyph("ravdel");
  setWindowIcon(icon);
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  PopupMenu->setWindowTitle(QStringLiteral("Ravdel menu"));  // names the popup for the desktop
  const auto addEntry = [this](const char* name, const char* image, const QString& caption) {
    QAction* action = PopupMenu->addAction(glyph(image), caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  Restore = addEntry("Restore", "restore", QStringLiteral("Restore"));
  PopupMenu->addSeparator();
  Minimize = addEntry("Minimize", "minimize", QStringLiteral("Minimize"));
  PopupMenu->addSeparator();
  Quit = addEntry("Quit", "exit", QStringLiteral("Exit"));

  TrayI = new QSystemTrayIcon(icon, this);
  TrayI->setObjectName(QStringLiteral("TrayI"));
  TrayI->setToolTip(QStringLiteral("Ravdel"));
  TrayI->setContextMenu(PopupMenu);
  showEventBalloon = [this](const BalloonRequest& request) { showBalloon(*TrayI, request); };
  openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

void TMainForm::connectHandlers() {
  const auto on = [this](auto handler) {
    return [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(UpdateSB, &QToolButton::clicked, this, on(&TMainForm::UpdateSBClick));
  connect(RunSB, &QToolButton::clicked, this, on(&TMainForm::RunSBClick));
  connect(StopSB, &QToolButton::clicked, this, on(&TMainForm::StopSBClick));
  connect(DirSB, &QToolButton::clicked, this, on(&TMainForm::DirSBClick));
  connect(SaveSetSB, &QToolButton::clicked, this, on(&TMainForm::SaveSetSBClick));
  connect(ExitSB, &QToolButton::clicked, this, on(&TMainForm::ExitSBClick));
  // activated, not currentIndexChanged: only the user's picks change CameraIndex.
  connect(CamLstCB, &QComboBox::activated, this, on(&TMainForm::CamLstCBChange));
  connect(SPMTimer, &QTimer::timeout, this, on(&TMainForm::SPMTimerTimer));
  connect(ResumeTimer, &QTimer::timeout, this, [this] {
    if (Running) enableMinuteTimer();
  });
  connect(Restore, &QAction::triggered, this, on(&TMainForm::RestoreClick));
  connect(Minimize, &QAction::triggered, this, on(&TMainForm::MinimizeClick));
  connect(Quit, &QAction::triggered, this, on(&TMainForm::QuitClick));
  connect(TrayI, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            // A left click; the right one opens the menu by itself.
            if (reason == QSystemTrayIcon::Trigger) guarded(this, [this] { TrayIClick(); });
          });
  HomeL->onMouseMove = on(&TMainForm::HomeLMouseMove);
  HomeL->onMouseLeave = on(&TMainForm::HomeLMouseLeave);
  HomeL->onClick = on(&TMainForm::HomeLClick);
  MailL->onMouseMove = on(&TMainForm::MailLMouseMove);
  MailL->onMouseLeave = on(&TMainForm::MailLMouseLeave);
  MailL->onClick = on(&TMainForm::MailLClick);
}

void TMainForm::FormCreate() {
  // Not shown here: the window opens from the tray.
  setWindowTitle(QStringLiteral("Ravdel"));
  if (!InstanceMutex.tryAcquire()) {
    // Another instance runs: leave silently, without telling it.
    terminated_ = true;
    QCoreApplication::quit();
    return;
  }
  if (const auto version = osVersion()) {
    OSVersion = *version;
    OSL->setText(qs(OSVersion.text()));
  }
  VersionL->setText(qs(ReadFileVersion(true)));
  Running = false;
  OutputDirectory = defaultDirectory_;

  const Settings settings = LoadSettings(settingsPath_, OutputDirectory);
  SoundCB->setChecked(settings.sound);
  InverseCB->setChecked(settings.inverse);
  GrayCB->setChecked(settings.gray);
  LimitUD->setValue(settings.limit);
  OutputDirectory = settings.directory;  // separator rule applied by LoadSettings
  DirectoryL->setText(qs(directoryLabel(OutputDirectory)));
  CameraIndex = settings.cam;

  loop_ = std::make_unique<QtMainLoop>();
  capture_ = std::make_unique<TVideoImage>(backend_, *loop_);
  capture_->OnError = [this](const std::string& message) { showFailure(this, message); };
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
  capture_->OnNewVideoFrame = [this](TVideoImage&, std::int32_t, std::int32_t,
                                     const std::uint8_t*) { OnNewFrame(); };
  WorkBitmap = FrameBitmap();
  paintThumbnailWhite();
  CaptureReady = true;
  TrayI->show();
}

void TMainForm::ShowAtStart() {
  // With no notification area a hidden window could never be opened.
  if (!terminated_ && !QSystemTrayIcon::isSystemTrayAvailable()) TrayIClick();
}

void TMainForm::FormCloseQuery(bool& canClose) {
  canClose = ExitRequested;
  // Without an exit request closing only puts the program away (into the tray).
  if (!canClose) minimizeApplication();
}

void TMainForm::QueryEndSession() {
  ExitRequested = true;
  close();
}

void TMainForm::FormClose() {
  std::lock_guard lock(FrameLock);
  if (CaptureReady) {
    if (Running) capture_->VideoStop();
    capture_->Dispose();
    // The object itself goes with the window: an exit can arrive while a frame handler pumps
    // the loop (its message boxes, its last pump), and that handler still runs inside it.
    CaptureReady = false;
  }
  try {
    InstanceMutex.release();
  } catch (...) {
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  guarded(this, [&] {
    FormCloseQuery(canClose);
    if (canClose) FormClose();
  });
  if (canClose) {
    event->accept();
    // The tray keeps the program alive without a window, so closing must end it explicitly.
    QCoreApplication::quit();
  } else {
    event->ignore();
  }
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Minimize to the tray: the window and its taskbar button go, the icon stays. Hidden
  // after the state change has been dealt with, not inside it.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && inTray()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

bool TMainForm::inTray() const {
  return TrayI->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::minimizeApplication() {
  if (inTray()) {
    hide();
  } else {
    showMinimized();  // no notification area: to the taskbar
  }
}

void TMainForm::ExitSBClick() {
  ExitRequested = true;
  close();
}

void TMainForm::QuitClick() {
  ExitSBClick();
}

void TMainForm::TrayIClick() {
  if (!shownBefore_) {
    shownBefore_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame(QPoint(), size());
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  show();
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

void TMainForm::RestoreClick() {
  TrayIClick();
}

void TMainForm::MinimizeClick() {
  minimizeApplication();
}

void TMainForm::HomeLMouseMove() {
  setLinkColour(HomeL, "red");
  setScreenCursor(Qt::PointingHandCursor);
}

void TMainForm::HomeLMouseLeave() {
  setLinkColour(HomeL, "blue");
  resetScreenCursor();
}

void TMainForm::HomeLClick() {
  openUrl(QUrl(makerSite() + QStringLiteral("/RVD.php")));
}

void TMainForm::MailLMouseMove() {
  setScreenCursor(Qt::PointingHandCursor);
}

void TMainForm::MailLMouseLeave() {
  resetScreenCursor();
}

void TMainForm::MailLClick() {
  openUrl(QUrl(QStringLiteral("mailto:") + supportMail() + QStringLiteral("?subject=RVD_Support")));
}

void TMainForm::DirSBClick() {
  if (const auto chosen = DirectoryChooser::ChooseDirectory(this)) {
    OutputDirectory = *chosen;  // with its separator, as the chooser gives it
    DirectoryL->setText(qs(directoryLabel(OutputDirectory)));
  }
}

void TMainForm::FillCameraList() {
  CameraCount = 0;
  std::vector<std::string> names;
  capture_->GetListOfDevices(names);
  CameraCount = static_cast<std::int32_t>(names.size());
  CamLstCB->clear();
  for (const auto& name : names)
    CamLstCB->addItem(qs(name));
  CamLstCB->setEnabled(false);
  if (CameraCount <= 0) {
    CamLstCB->addItem(QStringLiteral("---"));
    CamLstCB->setCurrentIndex(-1);
    return;
  }
  if (CamLstCB->currentIndex() < 0 || CamLstCB->currentIndex() >= CamLstCB->count()) {
    CamLstCB->setCurrentIndex(0);
  }
  CamLstCB->setEnabled(true);
}

void TMainForm::selectCameraIndex() {
  // A remembered position outside the list selects nothing; Run then names "#0".
  CamLstCB->setCurrentIndex(CameraIndex >= 0 && CameraIndex < CamLstCB->count() ? CameraIndex : -1);
}

void TMainForm::UpdateSBClick() {
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
}

void TMainForm::CamLstCBChange() {
  CameraIndex = CamLstCB->currentIndex();
}

void TMainForm::setMonitoringControls(bool monitoring) {
  StopSB->setEnabled(monitoring);
  RunSB->setEnabled(!monitoring);
  UpdateSB->setEnabled(!monitoring);
  CamLstCB->setEnabled(!monitoring);
}

void TMainForm::RunSBClick() {
  BusyCursor busy;
  LensCheckPending = true;
  const std::string device = "#" + std::to_string(CamLstCB->currentIndex() + 1);
  const bool started = capture_->VideoStart(device) == 0;

  // The statistics start afresh whether or not the camera runs.
  records_.resetForRun();
  UpTimeL->setText(QStringLiteral("0 h"));
  EvsL->setText(QStringLiteral("0"));
  EPDL->setText(QStringLiteral("-"));
  enableMinuteTimer();

  std::vector<std::string> formats;
  capture_->GetListOfFormats(formats);
  QString block;
  for (const auto& format : formats)
    block += qs(format) + QLatin1Char('\n');
  LogM->appendPlainText(block);  // one line per format, then an empty one
  capture_->SelectFormat(static_cast<std::int32_t>(formats.size()) - 1);

  busy.restore();
  QCoreApplication::processEvents();
  if (!started) {
    QMessageBox::critical(this, QStringLiteral("Error"),
                          QStringLiteral("Could not start monitoring!"));
    return;
  }
  Running = true;
  setMonitoringControls(true);
}

void TMainForm::enableMinuteTimer() {
  // Enabling a running timer must not restart its period.
  if (!SPMTimer->isActive()) SPMTimer->start();
}

void TMainForm::OnPowerEvent(PowerEvent event) {
  if (event == PowerEvent::Suspend) {
    SPMTimer->stop();
    ResumeTimer->stop();  // a resume still waiting when the machine sleeps again
  } else {
    // A timer, not a sleep: the window stays responsive while the camera settles.
    ResumeTimer->start();
  }
}

void TMainForm::StopSBClick() {
  StopMonitoring();
}

void TMainForm::StopMonitoring() {
  BusyCursor busy;
  capture_->VideoStop();
  Running = false;
  busy.restore();
  setMonitoringControls(false);
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
}

void TMainForm::SaveSetSBClick() {
  Settings settings;
  settings.sound = SoundCB->isChecked();
  settings.inverse = InverseCB->isChecked();
  settings.gray = GrayCB->isChecked();
  settings.limit = static_cast<std::int16_t>(LimitUD->value());
  settings.directory = OutputDirectory;
  settings.cam = CamLstCB->currentIndex();
  SaveSettings(settingsPath_, settings);
}

void TMainForm::SPMTimerTimer() {
  const EventRecords::MinuteTick tick = records_.minuteTick();
  SPML->setText(QString::number(tick.framesLastMinute));
  UpTimeL->setText(qs(formatUpTime(tick.minutesElapsed)));
}

void TMainForm::paintThumbnailWhite() {
  thumbPicture_->fill(Qt::white);
  {
    // A white rectangle from (0, 0) to (127, 127) with a black pen: on the 64 x 64 picture
    // only its top and left edges fall inside.
    QPainter painter(thumbPicture_.get());
    painter.setPen(Qt::black);
    painter.drawLine(0, 0, kThumbSide - 1, 0);
    painter.drawLine(0, 0, 0, kThumbSide - 1);
  }
  ThumbI->setPixmap(QPixmap::fromImage(*thumbPicture_));
}

void TMainForm::showThumbnail(const FrameBitmap& thumbnail) {
  ThumbI->resize(thumbnail.width(), thumbnail.height());
  for (std::int32_t y = 0; y < thumbnail.height() && y < kThumbSide; ++y) {
    const std::uint8_t* src = thumbnail.row(y);
    std::uint8_t* dst = thumbPicture_->scanLine(y);
    for (std::int32_t x = 0; x < thumbnail.width() && x < kThumbSide; ++x) {
      dst[3 * x] = src[3 * x + 2];  // BGR to RGB
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  ThumbI->setPixmap(QPixmap::fromImage(*thumbPicture_));
}

void TMainForm::plainMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ravdel"), text, QMessageBox::Ok, this);
  box.exec();
}

void TMainForm::OnNewFrame() {
  if (FrameBusy) return;
  FrameBusy = true;
  if (!CaptureReady) {
    FrameBusy = false;
    QCoreApplication::processEvents();
    return;
  }
  // A failure part-way (an image that cannot be written) leaves the lock free and the busy
  // flag clear, so later frames are analysed and FormClose can take the lock.
  struct BusyReset {
    bool& flag;
    ~BusyReset() { flag = false; }
  } busyReset{FrameBusy};
  std::unique_lock lock(FrameLock);

  records_.countFrame();
  capture_->GetBitmap(WorkBitmap);
  SourceXYL->setText(QStringLiteral("%1 x %2").arg(WorkBitmap.width()).arg(WorkBitmap.height()));
  AnalysisOptions options;
  options.limit = static_cast<std::uint8_t>(LimitUD->value() & 0xff);
  options.gray = GrayCB->isChecked();
  options.inverse = InverseCB->isChecked();
  options.lensCheck = LensCheckPending;
  const FrameAnalysis analysis = analyseFrame(WorkBitmap, options);
  RedL->setText(QString::number(analysis.peak.r));
  GreenL->setText(QString::number(analysis.peak.g));
  BlueL->setText(QString::number(analysis.peak.b));

  if (analysis.lensUncovered) {
    // Stop and the box pump events: neither may run inside the lock or the busy frame.
    lock.unlock();
    FrameBusy = false;
    StopMonitoring();
    LensCheckPending = false;
    plainMessage(QStringLiteral("Stick a piece of duct tape over the camera lens!"));
    return;
  }
  LensCheckPending = false;

  if (!WorkBitmap.empty()) {
    const ThumbnailSize size = thumbnailSize(WorkBitmap.width(), WorkBitmap.height());
    showThumbnail(makeThumbnail(WorkBitmap, size));
  }
  if (analysis.event) RecordEvent(analysis.peak.b, analysis.peak.g, analysis.peak.r);

  lock.unlock();
  FrameBusy = false;
  QCoreApplication::processEvents();
}

void TMainForm::RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const LocalTime t = localTimeNow();
  recordEvent(records_, t, r, g, b, WorkBitmap, OutputDirectory, separators_, *this);
  if (SoundCB->isChecked()) {
    if (!sound_) sound_ = std::make_unique<EventSound>();
    sound_->play();
  }
  if (showEventBalloon) {
    showEventBalloon(balloonRequest(QStringLiteral("Information"),
                                    QStringLiteral("Event detected!"), BalloonIcon::Information,
                                    kBalloonSeconds));
  }
}

void TMainForm::showEventCount(std::int32_t count) {
  EvsL->setText(QString::number(count));
}

void TMainForm::showEventsPerDay(const std::string& text) {
  EPDL->setText(qs(text));
}

void TMainForm::appendLogLine(const std::string& line) {
  LogM->appendPlainText(qs(line));
}

}  // namespace ravdel
