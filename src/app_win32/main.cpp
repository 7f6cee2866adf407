// The program: one window that counts particle hits on a covered camera sensor. It lives in the
// notification area; the window opens from there.
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "app_win32/failure_box.h"
#include "app_win32/glyphs.h"
#include "app_win32/main_form.h"
#include "capture/system_cameras.h"
#include "monitor/settings.h"
#include "platform/windows_text.h"

namespace {

// COM as a single-threaded apartment on the main thread, with OLE for the shell's folder
// dialog; DirectShow runs in it too.
class OleSession {
 public:
  OleSession() : result_(::OleInitialize(nullptr)) {}
  ~OleSession() {
    if (SUCCEEDED(result_)) ::OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;

 private:
  HRESULT result_;
};

// Event pictures go beside the program until the user picks a folder.
std::string programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return ravdel::withTrailingSeparator(
      ravdel::windows::narrow(std::filesystem::path(path).parent_path().wstring()));
}

int runProgram() {
  const OleSession ole;
  INITCOMMONCONTROLSEX controls{
      sizeof controls, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  const ravdel::GdiplusSession gdiplus;

  ravdel::MainFormSetup setup;
  const std::unique_ptr<ravdel::DeviceCatalog> cameras =
      ravdel::makeSystemCatalog(setup.startupWarning);
  setup.backend = cameras.get();
  setup.settingsPath = ravdel::SettingsPath();
  setup.defaultDirectory = programFolder();
  ravdel::TMainForm form(setup);
  if (form.terminated()) return EXIT_SUCCESS;
  return form.run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return runProgram();
  } catch (const std::exception& e) {
    ravdel::showFailureBox(nullptr, e.what());
  } catch (...) {
    ravdel::showFailureBox(nullptr, "Unknown failure");
  }
  return EXIT_FAILURE;
}
