#include "app/window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
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
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/platform/event_sound.h"
#include "app/qt_main_loop.h"
#include "app/window/detection_options_dialog.h"
#include "app/window/directory_chooser.h"
#include "app/window/failure_box.h"
#include "app/window/link_label.h"
#include "app/window/network_dialog.h"
#include "monitor/event_notice.h"
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

// The log and the about area use a smaller font than the window, in step with it.
QFont smallerFont(QFont font, int points) {
  if (font.pointSizeF() > 0) font.setPointSizeF(std::max(6.0, font.pointSizeF() - points));
  return font;
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
      setup_(setup),
      InstanceMutex(setup.instanceLockPath.empty() ? SingleInstance::defaultLockPath()
                                                   : setup.instanceLockPath),
      thumbPicture_(std::make_unique<QImage>(kThumbSide, kThumbSide, QImage::Format_RGB888)),
      loop_(std::make_unique<QtMainLoop>()),
      session_(std::make_unique<MonitorSession>(*setup.backend, *loop_,
                                                static_cast<MonitorView&>(*this),
                                                MonitorSession::Setup{setup.settingsPath})) {
  setObjectName(QStringLiteral("MainForm"));
  session_->addSink(static_cast<EventSink&>(*this));
  SPMTimer = &monitor().SPMTimer();
  ResumeTimer = &monitor().ResumeTimer();
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
  SourceNL = makeLabel(this, "SourceNL", QStringLiteral("Source:"), {74, 32, 46, 16});
  SourceXYL = makeLabel(this, "SourceXYL", QStringLiteral("... x ..."), {122, 32, 116, 16});
  RedL = makeLabel(this, "RedL", dots, {74, 48, 50, 16}, "color: red;");
  GreenL = makeLabel(this, "GreenL", dots, {128, 48, 50, 16}, "color: lime;");
  BlueL = makeLabel(this, "BlueL", dots, {182, 48, 56, 16}, "color: blue;");
  SPMNL = makeLabel(this, "SPMNL", QStringLiteral("SPM:"), {74, 64, 32, 16});
  SPML = makeLabel(this, "SPML", dots, {108, 64, 70, 16}, "color: blue;");
  UpTimeL = makeLabel(this, "UpTimeL", dots, {182, 64, 56, 16});
  EvsL = makeLabel(this, "EvsL", dots, {74, 80, 42, 16}, "color: red; font-weight: bold;");
  EPDNL = makeLabel(this, "EPDNL", QStringLiteral("EPD:"), {116, 80, 29, 16});
  EPDL = makeLabel(this, "EPDL", dots, {145, 80, 95, 16}, "color: red;");

  LimitNL = makeLabel(this, "LimitNL", QStringLiteral("Limit:"), {4, 102, 34, 20});
  LimitUD = new QSpinBox(this);
  LimitUD->setObjectName(QStringLiteral("LimitUD"));
  LimitUD->setGeometry(40, 100, 64, 24);
  LimitUD->setRange(setting::limit.least, setting::limit.most);
  LimitUD->setSingleStep(setting::limit.step);
  LimitUD->setValue(setting::limit.fallback);
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
  LogM->setFont(smallerFont(font(), 2));

  createAboutArea();
  fitToFont();

  createTray();
  connectHandlers();
}

// The arrangement is drawn for the default font (9 pt). With a larger font every position and
// size grows by the one factor that lets the widest text fit where it stands, so the window
// keeps its arrangement and cuts no text; at the default font it stays as drawn.
void TMainForm::fitToFont() {
  std::vector<std::pair<QWidget*, QRect>> designs;
  for (QWidget* parent : {static_cast<QWidget*>(this), static_cast<QWidget*>(AboutGB)}) {
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      designs.emplace_back(child, child->geometry());
  }
  double factor = 1.0;
  const auto need = [&factor](const QRect& design, QSize size) {
    factor = std::max({factor, static_cast<double>(size.width()) / design.width(),
                       static_cast<double>(size.height()) / design.height()});
  };
  for (const auto& [widget, design] : designs) {
    if (widget == ThumbI) continue;
    if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull()) {
      label->ensurePolished();  // a style sheet's bold changes the widths
      const QFontMetrics metrics = label->fontMetrics();
      const QString text = longestText(label);
      need(design, {metrics.horizontalAdvance(text), metrics.height()});
    } else if (widget == LimitUD) {
      need(design, widget->sizeHint());
    } else if (qobject_cast<QCheckBox*>(widget)) {
      // The hint's height has room for a focus frame around the text; the text needs less.
      const int indicator =
          widget->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, widget);
      need(design,
           {widget->sizeHint().width(), std::max(widget->fontMetrics().height(), indicator)});
    }
  }
  const auto scale = [factor](int v) { return static_cast<int>(std::ceil(v * factor)); };
  for (const auto& [widget, design] : designs) {
    const QSize size = widget == ThumbI ? design.size()  // the thumbnail is 64 pixels
                                        : QSize(scale(design.width()), scale(design.height()));
    widget->setGeometry(QRect(QPoint(scale(design.x()), scale(design.y())), size));
  }
  setFixedSize(scale(kClientWidth), scale(kClientHeight));
}

// The longest text a label will show: its own, or for a readout the widest it can hold.
QString TMainForm::longestText(const QLabel* label) const {
  if (label == SourceXYL) return QStringLiteral("8888 x 8888");
  if (label == RedL || label == GreenL || label == BlueL) return QStringLiteral("255");
  if (label == SPML || label == EvsL) return QStringLiteral("88888");
  if (label == UpTimeL) return QStringLiteral("8888 h");
  if (label == EPDL) return QStringLiteral("74880.0000000");
  if (label == DirectoryL) return QStringLiteral("/home/ravdel/Pictures/Ravd...");
  if (label == VersionL) return QStringLiteral("88.88.88.88");
  if (label == OSL) return QStringLiteral("88.88.888");
  return label->text();
}

void TMainForm::createAboutArea() {
  AboutGB = new QGroupBox(this);
  AboutGB->setObjectName(QStringLiteral("AboutGB"));
  AboutGB->setGeometry(4, 200, 234, 64);
  AboutGB->setFont(smallerFont(font(), 1));

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
  // A label with a style sheet does not take its parent's font; these take it explicitly.
  for (QLabel* label : AboutGB->findChildren<QLabel*>())
    label->setFont(AboutGB->font());
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
  DetectionOptions =
      addEntry("DetectionOptions", "options", QStringLiteral("Detection options\u2026"));
  NetworkOptions = addEntry("NetworkOptions", "web", QStringLiteral("Network\u2026"));
  History = addEntry("History", "history", QStringLiteral("History\u2026"));
  PopupMenu->addSeparator();
  Quit = addEntry("Quit", "exit", QStringLiteral("Exit"));

  TrayI = new QSystemTrayIcon(icon, this);
  TrayI->setObjectName(QStringLiteral("TrayI"));
  TrayI->setToolTip(QStringLiteral("Ravdel"));
  TrayI->setContextMenu(PopupMenu);
  showEventBalloon = [this](const BalloonRequest& request) { showBalloon(*TrayI, request); };
  eventNotice_ = std::make_unique<EventNotice>(
      *loop_,
      [this](const std::string& text, bool /*inPlace: a new message replaces the old anyway*/) {
        if (showEventBalloon) {
          showEventBalloon(balloonRequest(QStringLiteral("Information"),
                                          QString::fromStdString(text), BalloonIcon::Information,
                                          EventNotice::kSeconds));
        }
      },
      [this] { return PopupMenu->isVisible(); });
  connect(TrayI, &QSystemTrayIcon::messageClicked, this, [this] { eventNotice_->dismissed(); });
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
  connect(Restore, &QAction::triggered, this, on(&TMainForm::RestoreClick));
  connect(Minimize, &QAction::triggered, this, on(&TMainForm::MinimizeClick));
  connect(DetectionOptions, &QAction::triggered, this, on(&TMainForm::DetectionOptionsClick));
  connect(NetworkOptions, &QAction::triggered, this, on(&TMainForm::NetworkOptionsClick));
  connect(History, &QAction::triggered, this, on(&TMainForm::HistoryClick));
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
    // Another instance runs: leave silently, without telling it, having shown and made nothing.
    terminated_ = true;
    QCoreApplication::quit();
    return;
  }
  runStartupTasks(setup_);
  if (const auto version = osVersion()) {
    OSVersion = *version;
    OSL->setText(qs(OSVersion.text()));
  }
  VersionL->setText(qs(ReadFileVersion(true)));
  paintThumbnailWhite();
  session_->open(setup_.defaultDirectory);
  TrayI->show();
}

void TMainForm::runStartupTasks(const MainFormSetup& setup) {
  if (!setup.startupWarning.empty()) ravdel::showFailure(nullptr, setup.startupWarning);
  if (setup.createDefaultDirectory) QDir().mkpath(qs(setup.defaultDirectory));
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
  stationPage_.reset();
  session_->close();
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

void TMainForm::DetectionOptionsClick() {
  DetectionOptionsDialog dialog(session_->detection(), monitor().Running, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // Taken for this session even when the file cannot be written; the failure box says so.
  session_->changeDetection(dialog.settings());
}

void TMainForm::NetworkOptionsClick() {
  NetworkDialog dialog(session_->network(), !session_->network().passwordFile.empty(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // Taken even when a file cannot be written; the failure box says which.
  session_->changeNetwork(dialog.settings(), dialog.password());
}

void TMainForm::HistoryClick() {
  if (!stationPage_) stationPage_ = std::make_unique<StationPage>(session_->historyPath());
  openUrl(QUrl(QString::fromStdString(stationPage_->address(session_->historyStation()))));
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
  // The chooser's answer carries its trailing separator.
  if (const auto chosen = DirectoryChooser::ChooseDirectory(this))
    monitor().SetOutputDirectory(*chosen);
}

void TMainForm::FillCameraList() {
  monitor().FillCameraList();
}

void TMainForm::UpdateSBClick() {
  monitor().UpdateSBClick();
}

void TMainForm::CamLstCBChange() {
  monitor().CamLstCBChange(CamLstCB->currentIndex());
}

void TMainForm::RunSBClick() {
  monitor().RunSBClick();
}

void TMainForm::OnPowerEvent(PowerEvent event) {
  if (event == PowerEvent::Suspend) {
    monitor().Suspend();
  } else {
    monitor().Resume();
  }
}

void TMainForm::StopSBClick() {
  monitor().StopSBClick();
}

void TMainForm::StopMonitoring() {
  monitor().StopMonitoring();
}

void TMainForm::SaveSetSBClick() {
  monitor().SaveSetSBClick();
}

void TMainForm::SPMTimerTimer() {
  monitor().SPMTimerTimer();
}

void TMainForm::OnNewFrame() {
  monitor().OnNewFrame();
}

void TMainForm::RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  monitor().RecordEvent(b, g, r);
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

void TMainForm::showCameraList(const std::vector<std::string>& entries, std::int32_t selected,
                               bool enabled) {
  CamLstCB->clear();
  for (const auto& entry : entries)
    CamLstCB->addItem(qs(entry));
  CamLstCB->setCurrentIndex(selected);
  CamLstCB->setEnabled(enabled);
}

void TMainForm::showCameraSelection(std::int32_t selected) {
  CamLstCB->setCurrentIndex(selected);
}

void TMainForm::showMonitoringState(bool monitoring) {
  StopSB->setEnabled(monitoring);
  RunSB->setEnabled(!monitoring);
  UpdateSB->setEnabled(!monitoring);
  CamLstCB->setEnabled(!monitoring);
}

void TMainForm::showFrameSize(std::int32_t width, std::int32_t height) {
  SourceXYL->setText(QStringLiteral("%1 x %2").arg(width).arg(height));
}

void TMainForm::showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  RedL->setText(QString::number(r));
  GreenL->setText(QString::number(g));
  BlueL->setText(QString::number(b));
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

void TMainForm::showFramesLastMinute(std::int32_t frames) {
  SPML->setText(QString::number(frames));
}

void TMainForm::showUpTime(const std::string& text) {
  UpTimeL->setText(qs(text));
}

void TMainForm::showEventCount(std::int32_t count) {
  EvsL->setText(QString::number(count));
}

void TMainForm::showEventsPerDay(const std::string& text) {
  EPDL->setText(qs(text));
}

// Lines come in blocks that end with an empty one (an event's three lines, the format list).
// The log is only a few lines tall: when a block ends, its first line is scrolled into view
// if the whole block does not fit, so an event shows its time, not only its colour.
void TMainForm::appendLogLine(const std::string& line) {
  LogM->appendPlainText(qs(line));
  QScrollBar* bar = LogM->verticalScrollBar();
  bar->setValue(bar->maximum());
  if (!line.empty()) {
    if (logBlockStart_ < 0) logBlockStart_ = LogM->blockCount() - 1;
    return;
  }
  if (logBlockStart_ >= 0) {
    const QTextBlock start = LogM->document()->findBlockByNumber(logBlockStart_);
    bar->setValue(std::min(start.firstLineNumber(), bar->maximum()));
  }
  logBlockStart_ = -1;
}

void TMainForm::showDirectory(const std::string& label) {
  DirectoryL->setText(qs(label));
}

UserOptions TMainForm::userOptions() const {
  // Read at this moment: changes take effect with the next frame.
  return {LimitUD->value(), SoundCB->isChecked(), InverseCB->isChecked(), GrayCB->isChecked()};
}

void TMainForm::showUserOptions(const UserOptions& options) {
  SoundCB->setChecked(options.sound);
  InverseCB->setChecked(options.inverse);
  GrayCB->setChecked(options.gray);
  LimitUD->setValue(options.limit);
}

void TMainForm::setBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TMainForm::showMessage(MessageKind kind, const std::string& text) {
  if (kind == MessageKind::error) {
    QMessageBox::critical(this, QStringLiteral("Error"), qs(text));
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ravdel"), qs(text), QMessageBox::Ok, this);
  box.exec();
}

void TMainForm::showFrameFailure(const std::string& text, std::function<void()> closed) {
  auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Ravdel"),
                              qs(failureText(text)), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("FrameFailureBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);  // the window, and its Stop, stay usable
  connect(box, &QDialog::finished, this, [closed = std::move(closed)] { closed(); });
  box->show();
}

void TMainForm::showEventNotice() {
  eventNotice_->eventDetected();
}

// The log has the time and the reason; the balloon tells a user who is not looking.
void TMainForm::cameraLost(const std::string& camera, const std::string& /*why*/) {
  if (showEventBalloon) {
    showEventBalloon(balloonRequest(QStringLiteral("Camera lost"),
                                    qs(cameraLostBalloonText(camera)), BalloonIcon::Warning,
                                    kBalloonSeconds));
  }
}

void TMainForm::lightLeakStarted() {
  if (showEventBalloon) {
    showEventBalloon(balloonRequest(QStringLiteral("Light leak"), qs(kLightLeakBalloonText),
                                    BalloonIcon::Warning, kBalloonSeconds));
  }
}

void TMainForm::playEventSound() {
  if (!sound_) sound_ = std::make_unique<EventSound>();
  sound_->play();
}

}  // namespace ravdel
