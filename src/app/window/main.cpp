// The program: one window that counts particle hits on a covered camera sensor.
#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/settings/settings.h"
#include "app/window/failure_box.h"
#include "app/window/main_form.h"
#include "capture/device_catalog.h"

int main(int argc, char* argv[]) {
  // The idle notice of frame delivery needs the plain Unix dispatcher (see QtMainLoop).
  qputenv("QT_NO_GLIB", "1");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ravdel"));
  try {
    std::string warning;
    const std::unique_ptr<ravdel::DeviceCatalog> cameras = ravdel::makeSystemCatalog(warning);
    if (!warning.empty()) ravdel::showFailure(nullptr, warning);

    ravdel::MainFormSetup setup;
    setup.backend = cameras.get();
    setup.settingsPath = ravdel::SettingsPath();
    setup.defaultDirectory =
        ravdel::withTrailingSeparator(QApplication::applicationDirPath().toStdString());
    ravdel::TMainForm form(setup);
    if (form.terminated()) return EXIT_SUCCESS;
    // Until the tray icon exists the window is the only way in, so it shows at start.
    form.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    ravdel::showFailure(nullptr, e.what());
  } catch (...) {
    ravdel::showFailure(nullptr, "Unknown failure");
  }
  return EXIT_FAILURE;
}
