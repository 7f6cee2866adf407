// The program: one window that counts particle hits on a covered camera sensor. It lives in the
// notification area; the window opens from there.
#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <QStandardPaths>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/platform/power_events.h"
#include "app/platform/termination_signals.h"
#include "app/window/failure_box.h"
#include "app/window/main_form.h"
#include "capture/system_cameras.h"
#include "monitor/settings.h"

namespace {

// Event pictures go beside the program until the user picks a folder. An installed program's
// folder (/usr/bin) is not writable, and every event would fail to be stored: then they go to
// the user's pictures folder instead, in a folder of their own, which the window creates once
// it knows it is the only instance.
void chooseDefaultDirectory(ravdel::MainFormSetup& setup) {
  QString directory = QApplication::applicationDirPath();
  if (!QFileInfo(directory).isWritable()) {
    directory = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) +
                QStringLiteral("/Ravdel");
    setup.createDefaultDirectory = true;
  }
  setup.defaultDirectory = ravdel::withTrailingSeparator(directory.toStdString());
}

int runProgram() {
  ravdel::MainFormSetup setup;
  const std::unique_ptr<ravdel::DeviceCatalog> cameras =
      ravdel::makeSystemCatalog(setup.startupWarning);
  setup.backend = cameras.get();
  setup.settingsPath = ravdel::SettingsPath();
  chooseDefaultDirectory(setup);
  ravdel::TMainForm form(setup);
  if (form.terminated()) return EXIT_SUCCESS;

  // The end of the session and a kill leave through the normal close path, capture stopped.
  // Both callbacks run on the GUI thread.
  const auto endSession = [&form] { ravdel::guarded(&form, [&] { form.QueryEndSession(); }); };
  const ravdel::TerminationSignals termination([&](int) { endSession(); });
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, &form,
                   [&](QSessionManager&) { endSession(); });

  // Suspend and resume through logind; without a system bus there is simply no power handling.
  const ravdel::PowerEvents power([&form](ravdel::PowerEvent event) {
    ravdel::guarded(&form, [&] { form.OnPowerEvent(event); });
  });

  form.ShowAtStart();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  // The idle notice of frame delivery needs the plain Unix dispatcher (see QtMainLoop).
  qputenv("QT_NO_GLIB", "1");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ravdel"));
  QApplication::setDesktopFileName(QStringLiteral("ravdel"));
  // Hidden in the tray is not closed: only an exit ends the program (the window quits then).
  QApplication::setQuitOnLastWindowClosed(false);
  try {
    return runProgram();
  } catch (const std::exception& e) {
    ravdel::showFailure(nullptr, e.what());
  } catch (...) {
    ravdel::showFailure(nullptr, "Unknown failure");
  }
  return EXIT_FAILURE;
}
