// The shell's folder dialog as the window opens it, driven from inside its modal loop.
#include "app_win32/directory_chooser.h"

#include <gtest/gtest.h>
#include <ole2.h>
#include <shlobj.h>

#include <filesystem>
#include <string>

#include "inside_modal_loop.h"
#include "monitor/settings.h"
#include "platform/files.h"
#include "platform/windows_text.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

class DirectoryChooserTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
    std::error_code ignored;
    std::filesystem::current_path(dir_, ignored);  // where the dialog starts
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(dir_.parent_path(), ignored);
    ::OleUninitialize();
    TempDirTest::TearDown();
  }

  static HWND dialog() { return ::FindWindowW(L"#32770", L"Select Directory"); }
  static HWND field(HWND d) { return ::FindWindowExW(d, nullptr, L"Edit", nullptr); }
  // After OK: a question the dialog asks (it took a shown name for a typed one) is answered No
  // and the dialog cancelled, as is a dialog still open a while later, so that the test fails
  // rather than waits. True once it is gone.
  static bool closeAfterOk(bool& asked, int& ticks) {
    const HWND d = dialog();
    if (d == nullptr) return true;
    if (++ticks > 40) {
      asked = true;
      ::PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
    }
    struct Search {
      HWND dialog;
      HWND box = nullptr;
    } search{d};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
          auto& s = *reinterpret_cast<Search*>(data);
          wchar_t name[16] = {};
          ::GetClassNameW(window, name, 16);
          if (window != s.dialog && std::wstring(name) == L"#32770" && ::IsWindowVisible(window))
            s.box = window;
          return s.box == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.box != nullptr) {
      asked = true;
      ::PostMessageW(search.box, WM_COMMAND, IDNO, 0);
      ::PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
    }
    return false;
  }
  static std::wstring textOf(HWND control) {
    wchar_t text[512] = {};
    ::GetWindowTextW(control, text, 512);
    return text;
  }
};

// Choosing a drive root made a folder named after the name the dialog shows for it (" (C:)"):
// the shell's names in the field are no typed folder names; a typed one still is.
TEST_F(DirectoryChooserTest, TheSelectedFolderIsTakenByItsPathAndATypedNameAsTyped) {
  std::wstring shownName;
  bool asked = false;
  int ticks = 0;
  {
    int phase = 0;
    const test::InsideModalLoop inside([&] {
      const HWND d = dialog();
      switch (phase) {
        case 0:
          if (d == nullptr) return false;
          ::SendMessageW(d, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(L"C:\\"));
          ++phase;
          return false;
        case 1:
          shownName = textOf(field(d));
          ::PostMessageW(d, WM_COMMAND, IDOK, 0);
          ++phase;
          return false;
        default:
          return closeAfterOk(asked, ticks);
      }
    });
    EXPECT_EQ(chooseDirectory(nullptr), std::optional<std::string>("C:\\"))
        << "the field showed " << windows::narrow(shownName);
  }
  EXPECT_FALSE(asked) << "the shown name \"" << windows::narrow(shownName)
                      << "\" was taken for a folder to make, and the dialog stayed";

  std::filesystem::create_directory(dir_ / "typed");
  {
    const test::InsideModalLoop inside([&] {
      const HWND d = dialog();
      if (d == nullptr) return false;
      const HWND name = field(d);
      ::SetFocus(name);
      ::SetWindowTextW(name, L"typed");  // with the focus in the field: the user's typing
      ::PostMessageW(d, WM_COMMAND, IDOK, 0);
      return true;
    });
    EXPECT_EQ(chooseDirectory(nullptr),
              std::optional<std::string>(withTrailingSeparator(utf8FromPath(dir_ / "typed"))));
  }
}

}  // namespace
}  // namespace ravdel
