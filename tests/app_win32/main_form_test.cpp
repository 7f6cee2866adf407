// The Win32 window over a camera the test drives: its controls and their states through Run
// and Stop, the tray menu, the power and session messages sent to it, the instance mutex, the
// settings written with the system's INI routines and read back, the links.
#include "app_win32/main_form.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_win32/failure_box.h"
#include "app_win32/glyphs.h"
#include "capture/directshow/win32_main_loop.h"
#include "inside_modal_loop.h"
#include "monitor/settings.h"
#include "platform/file_version.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "platform/windows_text.h"
#include "store/store.h"
#include "support/fake_camera.h"
#include "support/page_fetch.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

std::string textOf(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return windows::narrow(text);
}

std::string classOf(HWND control) {
  char name[64] = {};
  ::GetClassNameA(control, name, sizeof name);
  return name;
}

// Wine's tray window takes two seconds to go when its last icon goes, which every window of
// these tests would wait for; an icon of the test program's own keeps it.
class TrayKeeper : public ::testing::Environment {
 public:
  void SetUp() override {
    window_ =
        ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    icon_ =
        std::make_unique<TrayIcon>(window_, WM_APP, ::LoadIconW(nullptr, IDI_APPLICATION), "tests");
    icon_->add();
  }
  void TearDown() override {
    icon_.reset();
    ::DestroyWindow(window_);
  }

 private:
  HWND window_ = nullptr;
  std::unique_ptr<TrayIcon> icon_;
};
[[maybe_unused]] ::testing::Environment* const kTrayKeeper =
    ::testing::AddGlobalTestEnvironment(new TrayKeeper);

struct Message {
  std::string text;
  std::string caption;
  UINT type;
};

class MainFormTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    settings_ = path("RVD.ini");
  }
  void TearDown() override {
    form_.reset();
    EXPECT_EQ(backend_.liveDevices, 0) << "the camera was not given back";
    TempDirTest::TearDown();
  }

  std::unique_ptr<TMainForm> makeForm() {
    MainFormSetup setup;
    setup.backend = &backend_;
    setup.settingsPath = settings_;
    setup.defaultDirectory = withTrailingSeparator(utf8FromPath(dir_));
    setup.instanceName = instanceName_;
    auto form = std::make_unique<TMainForm>(setup);
    form->messageBox = [this](const std::string& text, const std::string& caption, UINT type) {
      messages_.push_back({text, caption, type});
      return IDOK;
    };
    form->openUrl = [this](const std::string& url) { urls_.push_back(url); };
    form->showBalloon = [this](const std::string& title, const std::string& text, BalloonIcon,
                               int seconds, bool inPlace) {
      balloons_.push_back(title + "|" + text + "|" + std::to_string(seconds));
      inPlace_.push_back(inPlace);
    };
    return form;
  }
  TMainForm& form() {
    if (!form_) form_ = makeForm();
    return *form_;
  }
  HWND control(ControlId id) { return form().control(id); }
  std::string text(ControlId id) { return textOf(control(id)); }
  bool enabled(ControlId id) { return ::IsWindowEnabled(control(id)) != FALSE; }
  void click(ControlId id) {
    ::SendMessageW(form().window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(control(id)));
  }
  void command(int id) { ::SendMessageW(form().window(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      form().loop().run(std::chrono::milliseconds(20));
    }
    return true;
  }
  // A frame from the camera, once the loop has been idle: frame delivery drops frames while
  // the loop is held up.
  void deliver(std::uint8_t value) {
    form().loop().run(std::chrono::milliseconds(1));
    backend_.last->deliver(value);
  }
  std::string ini(const char* key) {
    return readPrivateProfileString(settings_, "Settings", key, "<none>", 2048);
  }

  GdiplusSession gdiplus_;
  test::FakeBackend backend_;
  std::string settings_;
  std::string instanceName_ = "RavdelWindowTest-" + std::to_string(::GetCurrentProcessId());
  std::vector<Message> messages_;
  std::vector<std::string> urls_;
  std::vector<std::string> balloons_;
  std::vector<bool> inPlace_;  // of each balloon: its text changed where it stood
  std::unique_ptr<TMainForm> form_;
};

TEST_F(MainFormTest, ControlsCarryTheirKindsTextsAndInitialStates) {
  struct Case {
    ControlId id;
    const char* className;
    const char* text;
    bool enabled;
  };
  const Case cases[] = {
      {IDC_CamLstCB, "ComboBox", "Cam A", true},
      {IDC_UpdateSB, "Button", "", true},
      {IDC_RunSB, "Button", "", true},
      {IDC_StopSB, "Button", "", false},
      {IDC_ThumbI, "Static", "", true},
      {IDC_SourceNL, "Static", "Source:", true},
      {IDC_SourceXYL, "Static", "... x ...", true},
      {IDC_RedL, "Static", "...", true},
      {IDC_SPMNL, "Static", "SPM:", true},
      {IDC_EvsL, "Static", "...", true},
      {IDC_EPDNL, "Static", "EPD:", true},
      {IDC_LimitNL, "Static", "Limit:", true},
      {IDC_LimitE, "Edit", "150", true},
      {IDC_LimitUD, "msctls_updown32", "", true},
      {IDC_SoundCB, "Button", "Sound", true},
      {IDC_InverseCB, "Button", "Inverse", true},
      {IDC_GrayCB, "Button", "Gray", true},
      {IDC_DirSB, "Button", "", true},
      {IDC_SaveSetSB, "Button", "", true},
      {IDC_ExitSB, "Button", "", true},
      {IDC_LogM, "Edit", "", true},
      {IDC_NameL, "Static", "Ravdel", true},
      {IDC_HomeL, "Static", "https://ravdel.example.org", true},
      {IDC_MailL, "Static", "support@ravdel.example.org", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_NE(control(c.id), nullptr);
    EXPECT_STRCASEEQ(classOf(control(c.id)).c_str(), c.className);
    EXPECT_EQ(text(c.id), c.text);
    EXPECT_EQ(enabled(c.id), c.enabled);
  }
  EXPECT_EQ(textOf(form().window()), "Ravdel");
  EXPECT_FALSE(::IsWindowVisible(form().window())) << "the program starts in the tray";
  EXPECT_EQ(text(IDC_VersionL), ReadFileVersion(true));
  EXPECT_NE(text(IDC_OSL), "...");
  // The client area at this DPI; no maximize box.
  RECT client{};
  ::GetClientRect(form().window(), &client);
  const UINT dpi = ::GetDpiForWindow(form().window());
  EXPECT_EQ(client.right, ::MulDiv(TMainForm::kClientWidth, static_cast<int>(dpi), 96));
  EXPECT_EQ(client.bottom, ::MulDiv(TMainForm::kClientHeight, static_cast<int>(dpi), 96));
  EXPECT_EQ(::GetWindowLongW(form().window(), GWL_STYLE) & WS_MAXIMIZEBOX, 0);
  // The up-down: 5 to 255, bound to the edit box.
  int low = 0, high = 0;
  ::SendMessageW(control(IDC_LimitUD), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                 reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 5);
  EXPECT_EQ(high, 255);
  EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageW(control(IDC_LimitUD), UDM_GETBUDDY, 0, 0)),
            control(IDC_LimitE));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, SecondInstanceEndsAtOnceWithoutAWord) {
  form();
  auto second = makeForm();
  EXPECT_TRUE(second->terminated());
  EXPECT_FALSE(::IsWindowVisible(second->window()));
  EXPECT_TRUE(messages_.empty());
  // Only the first opened the camera list.
  EXPECT_EQ(textOf(second->control(IDC_CamLstCB)), "");
}

TEST_F(MainFormTest, RunAndStopSetTheControlsLogTheFormatsAndResetTheStatistics) {
  click(IDC_RunSB);
  ASSERT_TRUE(form().monitor().Running);
  for (const auto& [id, on] : {std::pair{IDC_CamLstCB, false},
                               {IDC_UpdateSB, false},
                               {IDC_RunSB, false},
                               {IDC_StopSB, true},
                               {IDC_DirSB, true},
                               {IDC_SaveSetSB, true},
                               {IDC_ExitSB, true},
                               {IDC_LimitE, true}}) {
    EXPECT_EQ(enabled(id), on) << id;
  }
  EXPECT_EQ(text(IDC_UpTimeL), "0 h");
  EXPECT_EQ(text(IDC_EvsL), "0");
  EXPECT_EQ(text(IDC_EPDL), "-");
  EXPECT_NE(text(IDC_LogM).find("4*2"), std::string::npos) << text(IDC_LogM);
  EXPECT_TRUE(form().monitor().SPMTimer().isActive());
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW)) << "the hourglass went";

  click(IDC_StopSB);
  EXPECT_FALSE(form().monitor().Running);
  for (const auto& [id, on] : {std::pair{IDC_CamLstCB, true},
                               {IDC_UpdateSB, true},
                               {IDC_RunSB, true},
                               {IDC_StopSB, false}}) {
    EXPECT_EQ(enabled(id), on) << id;
  }
  EXPECT_EQ(text(IDC_CamLstCB), "Cam A");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, NoCameraShowsTheDashesAndRunFailsWithTheErrorBox) {
  backend_.names.clear();
  form();
  EXPECT_FALSE(enabled(IDC_CamLstCB));
  EXPECT_EQ(::SendMessageW(control(IDC_CamLstCB), CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(::SendMessageW(control(IDC_CamLstCB), CB_GETCURSEL, 0, 0), CB_ERR);
  click(IDC_RunSB);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Could not start monitoring!");
  EXPECT_EQ(messages_[0].caption, "Error");
  EXPECT_EQ(messages_[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  // The statistics were reset all the same; the controls stay idle.
  EXPECT_EQ(text(IDC_EvsL), "0");
  EXPECT_TRUE(enabled(IDC_RunSB));
  EXPECT_FALSE(enabled(IDC_StopSB));
}

TEST_F(MainFormTest, AnEventIsShownLoggedStoredAndAnnounced) {
  click(IDC_RunSB);
  ASSERT_NE(backend_.last, nullptr);
  deliver(10);  // the lens check's frame: dark
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_SourceXYL) == "4 x 2"; }));
  deliver(200);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_EvsL) == "1"; }));
  EXPECT_EQ(text(IDC_RedL), "200");
  EXPECT_NE(text(IDC_LogM).find("R:200 G:200 B:200"), std::string::npos);
  EXPECT_EQ(balloons_, std::vector<std::string>{"Information|Event detected!|10"});
  EXPECT_EQ(entryCount(), 1) << "the picture beside nothing else (no settings written)";
}

TEST_F(MainFormTest, CloseHidesAndOnlyAnExitRequestCloses) {
  command(IDM_Restore);
  EXPECT_TRUE(::IsWindowVisible(form().window()));
  click(IDC_RunSB);
  ::SendMessageW(form().window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(form().window()));
  EXPECT_FALSE(::IsWindowVisible(form().window()));
  EXPECT_TRUE(form().monitor().Running) << "hiding leaves monitoring alone";
  command(IDM_Minimize);
  EXPECT_TRUE(form().monitor().Running);

  click(IDC_ExitSB);
  EXPECT_EQ(form().window(), nullptr);
  EXPECT_FALSE(form().monitor().CaptureReady);
  EXPECT_EQ(backend_.liveDevices, 0);
  EXPECT_FALSE(std::filesystem::exists(native(settings_))) << "exit writes no settings";
}

// Keys reach the controls through the loop, whose dialog handling moves the focus: Tab to the
// next enabled tab stop, the arrows within a row's group.
TEST_F(MainFormTest, TabAndArrowKeysMoveTheFocusBetweenTheControls) {
  struct Case {
    ControlId from;
    WPARAM key;
    ControlId to;
  };
  const Case cases[] = {
      {IDC_CamLstCB, VK_TAB, IDC_UpdateSB},
      {IDC_RunSB, VK_TAB, IDC_LimitE},  // past the disabled Stop and the labels
      {IDC_DirSB, VK_RIGHT, IDC_SaveSetSB},
      {IDC_ExitSB, VK_RIGHT, IDC_DirSB},  // round within the row
  };
  command(IDM_Restore);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    ::SetFocus(control(c.from));
    ASSERT_EQ(::GetFocus(), control(c.from));
    ::PostMessageW(control(c.from), WM_KEYDOWN, c.key, 1);
    EXPECT_TRUE(pumpUntil([&] { return ::GetFocus() == control(c.to); }));
  }
}

TEST_F(MainFormTest, TrayMenuHoldsRestoreMinimizeTheOptionsAndExitWithImages) {
  const HMENU menu = form().PopupMenu();
  ASSERT_EQ(::GetMenuItemCount(menu), 9);
  struct Entry {
    UINT id;
    const char* caption;
  };
  const Entry entries[] = {{IDM_Restore, "Restore"},
                           {0, ""},
                           {IDM_Minimize, "Minimize"},
                           {0, ""},
                           {IDM_DetectionOptions, "Detection options\xE2\x80\xA6"},
                           {IDM_NetworkOptions, "Network\xE2\x80\xA6"},
                           {IDM_History, "History\xE2\x80\xA6"},
                           {0, ""},
                           {IDM_Quit, "Exit"}};
  for (UINT i = 0; i < 9; ++i) {
    wchar_t caption[32] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_BITMAP;
    item.dwTypeData = caption;
    item.cch = 32;
    ASSERT_TRUE(::GetMenuItemInfoW(menu, i, TRUE, &item));
    EXPECT_EQ(item.wID, entries[i].id) << i;
    EXPECT_EQ(windows::narrow(caption), entries[i].caption) << i;
    EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, entries[i].id == 0) << i;
    if (entries[i].id != 0) {
      EXPECT_NE(item.hbmpItem, nullptr) << i;
    }
  }
  // A left click on the icon shows the window; Exit from the menu closes.
  ::SendMessageW(form().window(), TMainForm::kTrayMessage, TrayIcon::kId, WM_LBUTTONUP);
  EXPECT_TRUE(::IsWindowVisible(form().window()));
  command(IDM_Quit);
  EXPECT_EQ(form().window(), nullptr);
}

TEST_F(MainFormTest, TheIconComesBackWhenExplorerStartsAgain) {
  ASSERT_TRUE(form().TrayI().shown()) << "no notification area under this display";
  form().TrayI().remove();  // as when Explorer died
  ::SendMessageW(form().window(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(form().TrayI().shown());
}

TEST_F(MainFormTest, SuspendPausesTheMinuteTickAndResumeBringsItBackWhileRunning) {
  form().OSVersion.major = 10;
  const auto power = [&](WPARAM event) {
    return ::SendMessageW(form().window(), WM_POWERBROADCAST, event, 0);
  };
  click(IDC_RunSB);
  ASSERT_TRUE(form().monitor().SPMTimer().isActive());
  EXPECT_NE(power(PBT_APMQUERYSUSPEND), BROADCAST_QUERY_DENY) << "a suspend is never refused";
  power(PBT_APMSUSPEND);
  EXPECT_FALSE(form().monitor().SPMTimer().isActive());
  power(PBT_APMRESUMESUSPEND);  // not for this generation
  EXPECT_FALSE(form().monitor().ResumeTimer().isActive());
  power(PBT_APMRESUMEAUTOMATIC);
  EXPECT_FALSE(form().monitor().SPMTimer().isActive()) << "a timer, not at once";
  ASSERT_TRUE(pumpUntil([&] { return form().monitor().SPMTimer().isActive(); }));
  EXPECT_TRUE(form().monitor().Running) << "capture is left alone";
}

TEST_F(MainFormTest, EndOfSessionLeavesThroughTheClosePath) {
  click(IDC_RunSB);
  EXPECT_EQ(::SendMessageW(form().window(), WM_QUERYENDSESSION, 0, 0), TRUE);
  EXPECT_TRUE(form().ExitRequested);
  // Another program cancelled the end: still here, but the next close really exits.
  ::SendMessageW(form().window(), WM_ENDSESSION, FALSE, 0);
  ASSERT_NE(form().window(), nullptr);
  EXPECT_TRUE(form().monitor().Running);
  ::SendMessageW(form().window(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(form().window(), nullptr);
  EXPECT_EQ(backend_.liveDevices, 0) << "the camera was given back before the session ended";
}

TEST_F(MainFormTest, SettingsAreWrittenWithTheSystemsRoutinesAndReadBack) {
  ::SendMessageW(control(IDC_GrayCB), BM_SETCHECK, BST_CHECKED, 0);
  ::SetWindowTextW(control(IDC_LimitE), L"123");  // typed: used as it stands
  ::SendMessageW(control(IDC_CamLstCB), CB_SETCURSEL, 1, 0);
  ::SendMessageW(form().window(), WM_COMMAND, MAKEWPARAM(IDC_CamLstCB, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(control(IDC_CamLstCB)));
  click(IDC_SaveSetSB);
  EXPECT_EQ(ini("Limit"), "123");
  EXPECT_EQ(ini("Sound"), "0");
  EXPECT_EQ(ini("Gray"), "1");
  EXPECT_EQ(ini("Directory"), withTrailingSeparator(utf8FromPath(dir_)));
  EXPECT_EQ(ini("Cam"), "1");

  form_.reset();
  EXPECT_EQ(text(IDC_LimitE), "123");
  EXPECT_EQ(::SendMessageW(control(IDC_GrayCB), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(control(IDC_SoundCB), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(text(IDC_CamLstCB), "Cam B");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, ASettingsFileThatCannotBeWrittenIsReportedOnce) {
  write(path("blocker"), "a file where the folder should be");
  settings_ = path("blocker") + "\\RVD.ini";
  click(IDC_SaveSetSB);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Unable to write to " + settings_ + ".");
  EXPECT_EQ(messages_[0].caption, "Ravdel");
  EXPECT_EQ(messages_[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_TRUE(::IsWindow(form().window())) << "the program goes on";
}

TEST_F(MainFormTest, LinksChangeColourAndCursorAndOpenTheirAddresses) {
  const auto mouse = [&](ControlId id, UINT message) {
    ::SendMessageW(control(id), message, 0, MAKELPARAM(2, 2));
  };
  mouse(IDC_HomeL, WM_MOUSEMOVE);
  EXPECT_EQ(form().homeColour(), RGB(255, 0, 0));
  EXPECT_EQ(form().screenCursor(), ::LoadCursorW(nullptr, IDC_HAND));
  mouse(IDC_HomeL, WM_MOUSELEAVE);
  EXPECT_EQ(form().homeColour(), RGB(0, 0, 255));
  EXPECT_EQ(form().screenCursor(), nullptr);
  mouse(IDC_MailL, WM_MOUSEMOVE);
  EXPECT_EQ(form().homeColour(), RGB(0, 0, 255)) << "the mail link changes only the cursor";
  EXPECT_EQ(form().screenCursor(), ::LoadCursorW(nullptr, IDC_HAND));
  mouse(IDC_MailL, WM_MOUSELEAVE);

  for (const ControlId id : {IDC_HomeL, IDC_MailL}) {
    ::SendMessageW(form().window(), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                   reinterpret_cast<LPARAM>(control(id)));
  }
  EXPECT_EQ(urls_,
            (std::vector<std::string>{"https://ravdel.example.org/RVD.php",
                                      "mailto:support@ravdel.example.org?subject=RVD_Support"}));
}

TEST_F(MainFormTest, FrameFailuresShowOneBoxThatLeavesStopWithinReach) {
  form().monitor().SetOutputDirectory(path("missing") + "\\");
  click(IDC_RunSB);
  std::filesystem::remove_all(dir_ / "missing");  // gone after Run made it
  write(path("missing"), "a file in the folder's place");
  deliver(10);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_SourceXYL) == "4 x 2"; }));
  deliver(200);
  ASSERT_TRUE(pumpUntil([&] { return form().frameFailureBox().window() != nullptr; }));
  deliver(201);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_EvsL) == "2"; }));
  // The second failure went to the log, not into a second box.
  EXPECT_NE(text(IDC_LogM).find("Cannot create file"), std::string::npos) << text(IDC_LogM);
  click(IDC_StopSB);
  EXPECT_FALSE(form().monitor().Running);
}

// What the notification area was told, by a test's stand-in for Shell_NotifyIconW.
struct NotifyCall {
  DWORD message;
  UINT flags;
  HICON icon;
  std::string info;
};

class TrayIconTest : public MainFormTest {
 protected:
  std::unique_ptr<TMainForm> makeTrayForm(int failingAdds, int retries = 30) {
    MainFormSetup setup;
    setup.backend = &backend_;
    setup.settingsPath = settings_;
    setup.defaultDirectory = withTrailingSeparator(utf8FromPath(dir_));
    setup.instanceName = instanceName_;
    setup.trayRetryMs = 10;
    setup.trayRetries = retries;
    setup.notifyIcon = [this, failingAdds](DWORD message, NOTIFYICONDATAW* d) {
      calls_.push_back({message, d->uFlags, d->hIcon, windows::narrow(d->szInfo)});
      if (message != NIM_ADD) return TRUE;
      return ++adds_ > failingAdds ? TRUE : FALSE;  // Explorer not up yet at log-on
    };
    return std::make_unique<TMainForm>(setup);
  }

  std::vector<NotifyCall> calls_;
  int adds_ = 0;
};

// At log-on Explorer's notification area may come seconds after the program: the icon is
// tried again, and without any notification area at all the window shows.
TEST_F(TrayIconTest, TheIconIsTriedAgainAtLogOnAndTheWindowShowsWithoutANotificationArea) {
  auto late = makeTrayForm(3);
  EXPECT_FALSE(late->TrayI().shown());
  ASSERT_TRUE(pumpUntil([&] { return late->TrayI().shown(); }));
  EXPECT_EQ(adds_, 4);
  EXPECT_FALSE(::IsWindowVisible(late->window())) << "the program starts in the tray";
  late.reset();

  adds_ = 0;
  auto never = makeTrayForm(1000, 3);
  ASSERT_TRUE(pumpUntil([&] { return ::IsWindowVisible(never->window()) != FALSE; }));
  EXPECT_EQ(adds_, 4) << "the first try and three more";
  ::SendMessageW(never->window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(::IsIconic(never->window())) << "minimized to the taskbar, not hidden";
}

// A new DPI brings new icons; the tray must never be left with the destroyed old handle, which
// later balloons and the icon's return after Explorer restarts would carry.
TEST_F(TrayIconTest, TheTrayKeepsALiveIconAcrossADpiChangeAndBalloonsUpdateInPlace) {
  auto tray = makeTrayForm(0);
  RECT suggested{0, 0, 400, 400};
  ::SendMessageW(tray->window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
  calls_.clear();
  tray->TrayI().showBalloon("Information", "Event detected!", BalloonIcon::information, 10);
  tray->TrayI().showBalloon("Information", "3 events detected!", BalloonIcon::information, 10,
                            true);
  ::SendMessageW(tray->window(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  ASSERT_EQ(calls_.size(), 5u);
  for (const NotifyCall& call : calls_) {
    ICONINFO info{};
    EXPECT_TRUE(::GetIconInfo(call.icon, &info))
        << "a destroyed icon handle, message " << call.message;
    if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  }
  // A new balloon takes the old one away first; an update only changes the text.
  EXPECT_EQ(calls_[0].info, "");
  EXPECT_EQ(calls_[1].info, "Event detected!");
  EXPECT_EQ(calls_[2].info, "3 events detected!");
  EXPECT_EQ(calls_[3].message, static_cast<DWORD>(NIM_DELETE)) << "the icon comes back";
  EXPECT_EQ(calls_[4].message, static_cast<DWORD>(NIM_ADD));
}

// Balloons that come while the tray menu is open wait until it has closed: one appeared over
// the menu, covering Exit.
TEST_F(MainFormTest, NoBalloonShowsOverTheOpenTrayMenu) {
  click(IDC_RunSB);
  deliver(10);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_SourceXYL) == "4 x 2"; }));
  std::size_t duringMenu = 99;
  int phase = 0;
  {
    const test::InsideModalLoop inside([&] {
      switch (phase) {
        case 0:
          backend_.last->deliver(200);  // an event while the menu is open
          ++phase;
          return false;
        case 1:
          if (text(IDC_EvsL) != "1") return false;
          backend_.last->SetRunning(false);  // and the camera drops out
          ++phase;
          return false;
        default:
          if (!form().monitor().cameraLost()) return false;
          duringMenu = balloons_.size();
          ::EndMenu();
          return true;
      }
    });
    ::SendMessageW(form().window(), TMainForm::kTrayMessage, TrayIcon::kId, WM_RBUTTONUP);
  }
  EXPECT_EQ(duringMenu, 0u) << "nothing over the menu";
  ASSERT_FALSE(balloons_.empty());
  EXPECT_EQ(balloons_[0].rfind("Camera lost|", 0), 0u) << balloons_[0];
  ASSERT_TRUE(pumpUntil([&] { return balloons_.size() == 2; }));
  EXPECT_EQ(balloons_[1], "Information|Event detected!|10");
  EXPECT_FALSE(inPlace_[1]);
}

// "Detection options…" in the tray menu: the dialog's switches and levels, Enter for OK and
// Escape for Cancel; OK writes the [Detection] section and the next Run takes the options.
TEST_F(MainFormTest, DetectionOptionsFromTheTrayMenuAreWrittenAndTakenByTheNextRun) {
  const auto dialog = [] { return ::FindWindowW(L"#32770", L"Detection options"); };
  // The note's own style: the dialog itself may not show yet when the first step runs.
  const auto noteVisible = [](HWND d) {
    return (::GetWindowLongW(::GetDlgItem(d, IDC_NextRunNL), GWL_STYLE) & WS_VISIBLE) != 0;
  };
  const auto press = [](HWND target, WPARAM key) {
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
  };
  {
    bool noteHidden = false;
    const test::InsideModalLoop inside([&] {
      const HWND d = dialog();
      if (d == nullptr) return false;
      noteHidden = !noteVisible(d);
      ::SendMessageW(::GetDlgItem(d, IDC_HotPixelMaskCB), BM_CLICK, 0, 0);
      ::SetWindowTextW(::GetDlgItem(d, IDC_LeakLevelE), L"300");  // beyond 255
      ::SetFocus(::GetDlgItem(d, IDC_ClustersCB));
      press(::GetDlgItem(d, IDC_ClustersCB), VK_RETURN);
      return true;
    });
    command(IDM_DetectionOptions);
    EXPECT_TRUE(noteHidden) << "not monitoring: no note";
  }
  EXPECT_EQ(readPrivateProfileString(settings_, "Detection", "hot-pixel-mask", "", 16), "1");
  EXPECT_EQ(readPrivateProfileString(settings_, "Detection", "leak-level", "", 16), "255");
  click(IDC_RunSB);
  EXPECT_TRUE(form().monitor().config().hotPixelMask) << "the next Run takes them";

  {
    bool noteShown = false;
    const test::InsideModalLoop inside([&] {
      const HWND d = dialog();
      if (d == nullptr) return false;
      noteShown = noteVisible(d);
      ::SendMessageW(::GetDlgItem(d, IDC_ClustersCB), BM_CLICK, 0, 0);
      press(::GetDlgItem(d, IDC_ClustersCB), VK_ESCAPE);
      return true;
    });
    command(IDM_DetectionOptions);
    EXPECT_TRUE(noteShown) << "monitoring: the options wait for the next Run";
  }
  EXPECT_EQ(readPrivateProfileString(settings_, "Detection", "clusters", "", 16), "0")
      << "Escape cancels";
}

// "Network…" in the tray menu: the station's name and password, its location and history.
// OK saves the [Network] section and the password in a file of its own, and the next Run keeps
// the events in the station's history.
TEST_F(MainFormTest, NetworkOptionsSaveTheStationAndTheNextRunKeepsItsHistory) {
  std::wstring passwordCue(32, L'\0');
  {
    const test::InsideModalLoop inside([&] {
      const HWND d = ::FindWindowW(L"#32770", L"Station network");
      if (d == nullptr) return false;
      ::SendDlgItemMessageW(d, IDC_PasswordE, EM_GETCUEBANNER,
                            reinterpret_cast<WPARAM>(passwordCue.data()),
                            static_cast<LPARAM>(passwordCue.size()));
      ::SetDlgItemTextW(d, IDC_StationE, L" school-3 ");
      ::SetDlgItemTextW(d, IDC_PasswordE, L"s3cret");
      ::SetDlgItemTextW(d, IDC_LocationE, L"48.2082,16.3738");
      ::CheckDlgButton(d, IDC_HistoryCB, BST_CHECKED);
      ::PostMessageW(d, WM_COMMAND, IDOK, 0);
      return true;
    });
    command(IDM_NetworkOptions);
  }
  EXPECT_EQ(passwordCue.c_str(), std::wstring(L"password")) << "none kept yet";
  const NetworkSettings saved = LoadNetworkSettings(settings_);
  EXPECT_EQ(saved.station, "school-3");
  EXPECT_EQ(saved.location, "48.2082,16.3738");
  EXPECT_TRUE(saved.history);
  EXPECT_EQ(saved.passwordFile, path("RVD-station.password"));
  EXPECT_EQ(read(saved.passwordFile), "s3cret\n");

  click(IDC_RunSB);
  deliver(10);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_SourceXYL) == "4 x 2"; }));
  deliver(200);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_EvsL) == "1"; }));
  click(IDC_StopSB);
  EXPECT_EQ(Store::open(path("RVD-history.db"))->eventCount(), 1);
}

// "History…" serves the station's page from its history on loopback, under a token, while the
// window lives: first the notice that nothing is kept yet, then the page once an event is.
TEST_F(MainFormTest, HistoryServesTheStationsOwnPageUnderItsTokenUntilTheWindowCloses) {
  NetworkSettings network;
  network.history = true;
  SaveNetworkSettings(settings_, network);
  command(IDM_History);
  ASSERT_EQ(urls_.size(), 1u);
  const std::string page = urls_[0];
  const std::string root = "http://127.0.0.1:";
  ASSERT_EQ(page.rfind(root, 0), 0u) << page;
  const std::size_t tokenAt = page.find('/', root.size());
  const std::string origin = page.substr(0, tokenAt);
  const std::string token = page.substr(tokenAt + 1, 32);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << page;
  EXPECT_EQ(page.substr(tokenAt + 33), "/#/station/local");

  EXPECT_NE(test::fetchPage(page).body.find("No local history yet"), std::string::npos);
  for (const std::string& guess : {origin + "/", origin + "/api/stations", origin + "/0123/"})
    EXPECT_EQ(test::fetchPage(guess).status, 404) << guess;

  click(IDC_RunSB);
  deliver(10);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_SourceXYL) == "4 x 2"; }));
  deliver(200);
  ASSERT_TRUE(pumpUntil([&] { return text(IDC_EvsL) == "1"; }));
  EXPECT_NE(test::fetchPage(page).body.find("<title>Ravdel stations</title>"), std::string::npos);
  const test::Fetched station =
      test::fetchPage(origin + "/" + token + "/api/station?station=local&since=-1d");
  EXPECT_NE(station.body.find("\"latest\":[{"), std::string::npos) << "the event: " << station.body;

  command(IDM_History);
  ASSERT_EQ(urls_.size(), 2u);
  EXPECT_EQ(urls_[1], page) << "one server while the window lives";
  command(IDM_Quit);
  EXPECT_EQ(test::fetchPage(page).status, 0) << "the port is closed with the window";
}

// Escape puts the window away as closing it does; Enter presses the focused button.
TEST_F(MainFormTest, EscapeHidesTheWindowAndEnterPressesTheFocusedButton) {
  command(IDM_Restore);
  ::SetFocus(control(IDC_RunSB));
  ::PostMessageW(control(IDC_RunSB), WM_KEYDOWN, VK_RETURN, 1);
  ASSERT_TRUE(pumpUntil([&] { return form().monitor().Running; }));
  ::SetFocus(control(IDC_LimitE));
  ::PostMessageW(control(IDC_LimitE), WM_KEYDOWN, VK_ESCAPE, 1);
  ASSERT_TRUE(pumpUntil([&] { return !::IsWindowVisible(form().window()); }));
  EXPECT_TRUE(form().monitor().Running) << "hiding leaves monitoring alone";
}

// At 96 and 144 dots per inch: no control covers another (the about area's frame covered the
// log's bottom border), the about area's pictures and texts lie within its frame, the links are
// tall enough for their text, and the glyph buttons bring their own disabled picture (the
// system's turned ours into grey striped blocks).
TEST_F(MainFormTest, NoControlCoversAnotherAtEitherDpiAndButtonsHaveADisabledPicture) {
  const auto rectOf = [&](int id) {
    RECT r{};
    ::GetWindowRect(::GetDlgItem(form().window(), id), &r);
    return r;
  };
  const auto inAbout = [](int id) { return id > IDC_AboutGB && id <= IDC_MailL; };
  for (const UINT dpi : {144u, 96u}) {
    SCOPED_TRACE(dpi);
    RECT suggested{0, 0, 600, 600};
    ::SendMessageW(form().window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
    for (int a = IDC_CamLstCB; a <= IDC_MailL; ++a) {
      for (int b = a + 1; b <= IDC_MailL; ++b) {
        if (b == IDC_LimitUD && a == IDC_LimitE) continue;  // the up-down sits on its buddy
        RECT both{}, ra = rectOf(a), rb = rectOf(b);
        if (a == IDC_AboutGB && inAbout(b)) {
          ::InflateRect(&ra, -1, -1);  // inside the frame's lines
          EXPECT_TRUE(::IntersectRect(&both, &ra, &rb) && ::EqualRect(&both, &rb))
              << b << " leaves the about frame";
          continue;
        }
        EXPECT_FALSE(::IntersectRect(&both, &ra, &rb)) << a << " and " << b << " overlap";
      }
    }
    for (const ControlId link : {IDC_HomeL, IDC_MailL}) {
      const HWND control = ::GetDlgItem(form().window(), link);
      const HDC dc = ::GetDC(control);
      const HGDIOBJ old =
          ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
      TEXTMETRICW metrics{};
      ::GetTextMetricsW(dc, &metrics);
      ::SelectObject(dc, old);
      ::ReleaseDC(control, dc);
      RECT client{};
      ::GetClientRect(control, &client);
      EXPECT_GE(client.bottom, metrics.tmHeight) << link << ": descenders cut";
    }
  }
  for (const ControlId button : {IDC_UpdateSB, IDC_RunSB, IDC_StopSB, IDC_DirSB}) {
    BUTTON_IMAGELIST list{};
    ASSERT_TRUE(
        ::SendMessageW(control(button), BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list)));
    EXPECT_EQ(::ImageList_GetImageCount(list.himl), 6) << "one picture per state";
  }
}

}  // namespace
}  // namespace ravdel
