#include "app_win32/main_form.h"

#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "app_win32/detection_options_dialog.h"
#include "app_win32/directory_chooser.h"
#include "app_win32/failure_box.h"
#include "app_win32/network_dialog.h"
#include "app_win32/power_action.h"
#include "capture/directshow/win32_main_loop.h"
#include "monitor/event_notice.h"
#include "platform/file_version.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

constexpr wchar_t kWindowClass[] = L"TMainForm";
constexpr char kTitle[] = "Ravdel";
constexpr int kThumbSide = 64;
constexpr int kBalloonSeconds = 10;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kNoColour = CLR_INVALID;

enum class Kind { label, link, glyphButton, checkBox, image, icon, groupBox, combo, edit, log };

// One control as drawn for 96 dots per inch; the about area's positions are the window's.
struct ControlDesign {
  ControlId id;
  Kind kind;
  const char* text;
  RECT at;   // left, top, width, height
  int font;  // index into TMainForm::fonts_
  COLORREF colour = kNoColour;
};

constexpr int kNormal = 0, kBold = 1, kLog = 2, kAbout = 3, kAboutBold = 4, kLink = 5;
constexpr int kAboutX = 4, kAboutY = 200;

constexpr RECT about(int x, int y, int w, int h) {
  return {kAboutX + x, kAboutY + y, w, h};
}

// In creation order, which is also the tab order. The group box comes before the controls that
// stand on it, so that they are drawn above it.
const std::array kControls{
    ControlDesign{IDC_CamLstCB, Kind::combo, "", {4, 4, 162, 160}, kNormal},
    ControlDesign{
        IDC_UpdateSB, Kind::glyphButton, "Refresh the camera list", {168, 4, 24, 24}, kNormal},
    ControlDesign{IDC_RunSB, Kind::glyphButton, "Start monitoring", {192, 4, 24, 24}, kNormal},
    ControlDesign{IDC_StopSB, Kind::glyphButton, "Stop monitoring", {216, 4, 24, 24}, kNormal},
    ControlDesign{IDC_ThumbI, Kind::image, "", {4, 32, kThumbSide, kThumbSide}, kNormal},
    ControlDesign{IDC_SourceNL, Kind::label, "Source:", {74, 32, 46, 16}, kNormal},
    ControlDesign{IDC_SourceXYL, Kind::label, "... x ...", {122, 32, 116, 16}, kNormal},
    ControlDesign{IDC_RedL, Kind::label, "...", {74, 48, 50, 16}, kNormal, kRed},
    ControlDesign{IDC_GreenL, Kind::label, "...", {128, 48, 50, 16}, kNormal, RGB(0, 255, 0)},
    ControlDesign{IDC_BlueL, Kind::label, "...", {182, 48, 56, 16}, kNormal, kBlue},
    ControlDesign{IDC_SPMNL, Kind::label, "SPM:", {74, 64, 32, 16}, kNormal},
    ControlDesign{IDC_SPML, Kind::label, "...", {108, 64, 70, 16}, kNormal, kBlue},
    ControlDesign{IDC_UpTimeL, Kind::label, "...", {182, 64, 56, 16}, kNormal},
    ControlDesign{IDC_EvsL, Kind::label, "...", {74, 80, 42, 16}, kBold, kRed},
    ControlDesign{IDC_EPDNL, Kind::label, "EPD:", {116, 80, 29, 16}, kNormal},
    ControlDesign{IDC_EPDL, Kind::label, "...", {145, 80, 95, 16}, kNormal, kRed},
    ControlDesign{IDC_LimitNL, Kind::label, "Limit:", {4, 104, 34, 18}, kNormal},
    ControlDesign{IDC_LimitE, Kind::edit, "", {40, 100, 64, 24}, kNormal},  // set by LimitUD
    ControlDesign{IDC_DirSB,
                  Kind::glyphButton,
                  "Choose the directory for events",
                  {166, 100, 24, 24},
                  kNormal},
    ControlDesign{
        IDC_SaveSetSB, Kind::glyphButton, "Save the settings", {190, 100, 24, 24}, kNormal},
    ControlDesign{IDC_ExitSB, Kind::glyphButton, "Exit", {214, 100, 24, 24}, kNormal},
    ControlDesign{IDC_SoundCB, Kind::checkBox, "Sound", {4, 126, 74, 18}, kNormal},
    ControlDesign{IDC_InverseCB, Kind::checkBox, "Inverse", {80, 126, 80, 18}, kNormal},
    ControlDesign{IDC_GrayCB, Kind::checkBox, "Gray", {162, 126, 76, 18}, kNormal},
    ControlDesign{IDC_DirectoryL, Kind::label, "...", {4, 144, 234, 14}, kNormal},
    // Three lines tall: an event's block scrolled to its first line shows its time whole.
    // It ends above the about area's frame, which would paint over its bottom border.
    ControlDesign{IDC_LogM, Kind::log, "", {4, 158, 234, 42}, kLog},
    ControlDesign{IDC_AboutGB, Kind::groupBox, "", {4, 201, 234, 64}, kAbout},
    ControlDesign{IDC_LogoI, Kind::icon, "", about(6, 10, 32, 32), kAbout},
    ControlDesign{IDC_NameL, Kind::label, "Ravdel", about(44, 6, 70, 14), kAboutBold, RGB(0, 0, 0)},
    ControlDesign{IDC_AuthorL, Kind::label, "Ravdel team", about(44, 20, 90, 14), kAbout, kBlue},
    ControlDesign{IDC_VersionL, Kind::label, "...", about(136, 6, 94, 14), kAbout},
    ControlDesign{IDC_OSI, Kind::icon, "", about(136, 20, 14, 14), kAbout},
    ControlDesign{IDC_OSL, Kind::label, "...", about(152, 20, 78, 14), kAbout},
    // The links a pixel taller than the other rows: their descenders and underline need it.
    ControlDesign{IDC_WebI, Kind::icon, "", about(44, 34, 14, 14), kAbout},
    ControlDesign{IDC_HomeL, Kind::link, "", about(60, 34, 170, 15), kLink, kBlue},
    ControlDesign{IDC_MailI, Kind::icon, "", about(44, 49, 14, 14), kAbout},
    ControlDesign{IDC_MailL, Kind::link, "", about(60, 49, 170, 15), kLink, kBlue},
};

// The first control of each group the arrow keys move within: a group runs in table order up
// to the next start, so the labels between the rows form groups of their own.
constexpr std::array kGroupStarts{IDC_CamLstCB, IDC_ThumbI,  IDC_LimitE,
                                  IDC_DirSB,    IDC_SoundCB, IDC_DirectoryL};

// The glyph each picture control and button shows, and its size at 96 dots per inch.
struct GlyphUse {
  ControlId id;
  Glyph glyph;
  int size;
};
const std::array kGlyphs{
    GlyphUse{IDC_UpdateSB, Glyph::refresh, 16}, GlyphUse{IDC_RunSB, Glyph::run, 16},
    GlyphUse{IDC_StopSB, Glyph::stop, 16},      GlyphUse{IDC_DirSB, Glyph::folder, 16},
    GlyphUse{IDC_SaveSetSB, Glyph::save, 16},   GlyphUse{IDC_ExitSB, Glyph::exit, 16},
    GlyphUse{IDC_LogoI, Glyph::ravdel, 32},     GlyphUse{IDC_OSI, Glyph::system, 14},
    GlyphUse{IDC_WebI, Glyph::web, 14},         GlyphUse{IDC_MailI, Glyph::mail, 14},
};

const ControlDesign* designOf(int id) {
  const auto found = std::find_if(kControls.begin(), kControls.end(),
                                  [id](const ControlDesign& design) { return design.id == id; });
  return found == kControls.end() ? nullptr : &*found;
}

struct WindowClass {
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

DWORD groupStyle(ControlId id) {
  const bool starts = std::find(kGroupStarts.begin(), kGroupStarts.end(), id) != kGroupStarts.end();
  return starts ? WS_GROUP : 0;
}

WindowClass classOf(Kind kind) {
  constexpr DWORD child = WS_CHILD | WS_VISIBLE;
  switch (kind) {
    case Kind::label:
      return {WC_STATICW, child | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
    case Kind::link:
      return {WC_STATICW, child | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY, 0};
    case Kind::glyphButton:  // the picture comes as an image list, one per state
      return {WC_BUTTONW, child | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case Kind::checkBox:
      return {WC_BUTTONW, child | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case Kind::image:
      return {WC_STATICW, child | SS_OWNERDRAW, 0};
    case Kind::icon:
      return {WC_STATICW, child | SS_ICON | SS_REALSIZECONTROL, 0};
    case Kind::groupBox:
      // A frame without a caption: a group box would draw its top line half its font's height
      // down, through the first row of the about area at large fonts.
      return {WC_STATICW, child | SS_ETCHEDFRAME, 0};
    case Kind::combo:
      return {WC_COMBOBOXW, child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
    case Kind::edit:
      return {WC_EDITW, child | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Kind::log:
      return {WC_EDITW, child | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
              WS_EX_CLIENTEDGE};
  }
  return {WC_STATICW, 0, 0};
}

std::wstring wide(const std::string& text) {
  return windows::widen(text);
}

HINSTANCE instance() {
  return ::GetModuleHandleW(nullptr);
}

}  // namespace

std::string makerSite() {
  return RAVDEL_MAKER_SITE;
}

std::string supportMail() {
  return RAVDEL_SUPPORT_MAIL;
}

TMainForm::TMainForm(const MainFormSetup& setup)
    : setup_(setup),
      InstanceMutex(setup.instanceName.empty() ? SingleInstance::defaultLockPath()
                                               : setup.instanceName),
      loop_(std::make_unique<Win32MainLoop>()),
      session_(std::make_unique<MonitorSession>(*setup.backend, *loop_,
                                                static_cast<MonitorView&>(*this),
                                                MonitorSession::Setup{setup.settingsPath})) {
  session_->addSink(static_cast<EventSink&>(*this));
  messageBox = [this](const std::string& text, const std::string& caption, UINT type) {
    return ::MessageBoxW(window_, wide(text).c_str(), wide(caption).c_str(), type);
  };
  openUrl = [this](const std::string& url) {
    // The shell's answer is of no use: without a browser or mail program nothing happens.
    ::ShellExecuteW(window_, L"open", wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  };
  chooseDirectory = [this] { return ravdel::chooseDirectory(window_); };
  showBalloon = [this](const std::string& title, const std::string& text, BalloonIcon icon,
                       int seconds,
                       bool inPlace) { tray_->showBalloon(title, text, icon, seconds, inPlace); };
  frameFailureBox_ = std::make_unique<FrameFailureBox>(*loop_);
  eventNotice_ = std::make_unique<EventNotice>(
      *loop_,
      [this](const std::string& text, bool inPlace) {
        balloon("Information", text, BalloonIcon::information, EventNotice::kSeconds, inPlace);
      },
      [this] { return menuOpen_; });
  trayRetry_ = loop_->createTimer([this] { retryTrayIcon(); }, setup.trayRetryMs, false);
  createWindow();
  FormCreate();
}

TMainForm::~TMainForm() {
  // A window destroyed without being closed (a test, a failed start) still gives the camera
  // back before the loop and the capture object go.
  try {
    FormClose();
  } catch (...) {
  }
  trayRetry_.reset();
  frameFailureBox_.reset();
  eventNotice_.reset();
  tray_.reset();
  if (window_ != nullptr) ::DestroyWindow(window_);
}

int TMainForm::run() {
  loop_->run();
  return 0;
}

// ---- the window ----------------------------------------------------------------------------

void TMainForm::createWindow() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TMainForm::windowProc;
    windowClass.hInstance = instance();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
  // Hidden: the program starts in the tray.
  // A control parent: the loop's dialog handling moves the focus between its controls.
  window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, wide(kTitle).c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr,
                              nullptr, instance(), this);
  if (window_ == nullptr) throw std::runtime_error("The main window cannot be created.");
  loop_->setDialogWindow(window_);
  dpi_ = ::GetDpiForWindow(window_);
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  createFonts();
  createControls();
  loadGlyphs();
  layoutControls();
  createTray();
  paintThumbnailWhite();
}

int TMainForm::px(int units) const {
  return ::MulDiv(units, static_cast<int>(dpi_), 96);
}

// The system's message font at this DPI, and the smaller ones of the log and the about area.
void TMainForm::createFonts() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_);
  const LOGFONTW base = metrics.lfMessageFont;
  const auto points = [this](int p) { return ::MulDiv(p, static_cast<int>(dpi_), 72); };
  const auto make = [&](int smaller, LONG weight, bool underline) {
    LOGFONTW font = base;
    if (font.lfHeight < 0) font.lfHeight = std::min<LONG>(-6, font.lfHeight + points(smaller));
    font.lfWeight = weight;
    font.lfUnderline = underline ? TRUE : FALSE;
    return GdiObject<HFONT>(::CreateFontIndirectW(&font));
  };
  fonts_.clear();
  fonts_.push_back(make(0, base.lfWeight, false));  // normal
  fonts_.push_back(make(0, FW_BOLD, false));        // bold
  fonts_.push_back(make(2, base.lfWeight, false));  // log
  fonts_.push_back(make(1, base.lfWeight, false));  // about
  fonts_.push_back(make(1, FW_BOLD, false));        // aboutBold
  fonts_.push_back(make(1, base.lfWeight, true));   // link
}

void TMainForm::createControls() {
  for (const ControlDesign& design : kControls) {
    const WindowClass cls = classOf(design.kind);
    std::string text = design.text;
    if (design.id == IDC_HomeL) text = makerSite();
    if (design.id == IDC_MailL) text = supportMail();
    if (design.kind == Kind::glyphButton) text.clear();  // the text is the tip
    const HWND control = ::CreateWindowExW(
        cls.exStyle, cls.className, wide(text).c_str(), cls.style | groupStyle(design.id), 0, 0, 0,
        0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), instance(), nullptr);
    if (design.kind == Kind::link)
      ::SetWindowSubclass(control, &TMainForm::linkProc, design.id,
                          reinterpret_cast<DWORD_PTR>(this));
  }
  // The up-down control of the limit, bound to its edit box.
  const HWND upDown = ::CreateWindowExW(
      0, UPDOWN_CLASSW, L"",
      WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
      0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LimitUD)), instance(),
      nullptr);
  ::SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(control(IDC_LimitE)), 0);
  ::SendMessageW(upDown, UDM_SETRANGE32, setting::limit.least, setting::limit.most);
  UDACCEL step{0, static_cast<UINT>(setting::limit.step)};
  ::SendMessageW(upDown, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
  ::SendMessageW(upDown, UDM_SETPOS32, 0, setting::limit.fallback);
  ::EnableWindow(control(IDC_CamLstCB), FALSE);
  ::EnableWindow(control(IDC_StopSB), FALSE);
  // A long run logs more than an edit control's default 32 K characters.
  ::SendMessageW(control(IDC_LogM), EM_SETLIMITTEXT, 0, 0);

  // The glyph buttons say what they do in a tip.
  const HWND tips = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                                      0, 0, window_, nullptr, instance(), nullptr);
  for (const ControlDesign& design : kControls) {
    if (design.kind != Kind::glyphButton) continue;
    std::wstring tip = wide(design.text);
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = window_;
    info.uId = reinterpret_cast<UINT_PTR>(control(design.id));
    info.lpszText = tip.data();
    ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

// The glyphs at this DPI: buttons (with their own disabled look), about pictures, the window's
// and the tray's icon. Each control takes its new picture before the old one is destroyed.
void TMainForm::loadGlyphs() {
  std::vector<IconHandle> icons;
  std::vector<ImageListHandle> buttonImages;
  for (const GlyphUse& use : kGlyphs) {
    const HWND target = control(use.id);
    const ControlDesign* design = designOf(use.id);
    if (design != nullptr && design->kind == Kind::glyphButton) {
      buttonImages.push_back(glyphButtonImages(use.glyph, px(use.size)));
      BUTTON_IMAGELIST list{buttonImages.back().get(), {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_CENTER};
      ::SendMessageW(target, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
    } else {
      icons.push_back(glyphIcon(use.glyph, px(use.size)));
      ::SendMessageW(target, STM_SETICON, reinterpret_cast<WPARAM>(icons.back().get()), 0);
    }
  }
  icons_ = std::move(icons);
  buttonImages_ = std::move(buttonImages);
  // The window and the tray icon take the new icons before the old ones are destroyed: the
  // tray keeps using its handle for balloons and for the icon's return after Explorer restarts.
  IconHandle big = glyphIcon(Glyph::ravdel, ::GetSystemMetricsForDpi(SM_CXICON, dpi_));
  IconHandle small = glyphIcon(Glyph::ravdel, ::GetSystemMetricsForDpi(SM_CXSMICON, dpi_));
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
  if (tray_) tray_->setIcon(small.get());
  appIcon_ = std::move(big);
  appIconSmall_ = std::move(small);
}

void TMainForm::layoutControls() {
  for (const ControlDesign& design : kControls) {
    const HWND target = control(design.id);
    // Both edges scaled, so that neighbours that touch at 96 dots per inch touch at any DPI.
    const auto left = static_cast<int>(design.at.left), top = static_cast<int>(design.at.top);
    SIZE size{px(left + static_cast<int>(design.at.right)) - px(left),
              px(top + static_cast<int>(design.at.bottom)) - px(top)};
    if (design.id == IDC_ThumbI) size = {px(thumbSize_.cx), px(thumbSize_.cy)};
    ::SetWindowPos(target, nullptr, px(left), px(top), size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(target, WM_SETFONT,
                   reinterpret_cast<WPARAM>(fonts_[static_cast<std::size_t>(design.font)].get()),
                   TRUE);
  }
  // Aligned to the right of the edit box again, which it then narrows.
  ::SendMessageW(control(IDC_LimitUD), UDM_SETBUDDY, reinterpret_cast<WPARAM>(control(IDC_LimitE)),
                 0);
  RECT frame{0, 0, px(kClientWidth), px(kClientHeight)};
  ::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, dpi_);
  ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void TMainForm::onDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  createFonts();
  loadGlyphs();
  layoutControls();
  ::SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

void TMainForm::createTray() {
  popupMenu_.reset(::CreatePopupMenu());
  const auto addEntry = [this](MenuId id, const wchar_t* caption, Glyph glyph) {
    menuImages_.push_back(
        glyphBitmap(glyph, ::GetSystemMetricsForDpi(SM_CXSMICON, dpi_), ::GetSysColor(COLOR_MENU)));
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
    item.wID = static_cast<UINT>(id);
    item.dwTypeData = const_cast<wchar_t*>(caption);
    item.hbmpItem = menuImages_.back().get();
    ::InsertMenuItemW(popupMenu_.get(), static_cast<UINT>(::GetMenuItemCount(popupMenu_.get())),
                      TRUE, &item);
  };
  const auto addSeparator = [this] { ::AppendMenuW(popupMenu_.get(), MF_SEPARATOR, 0, nullptr); };
  addEntry(IDM_Restore, L"Restore", Glyph::restore);
  addSeparator();
  addEntry(IDM_Minimize, L"Minimize", Glyph::minimize);
  addSeparator();
  addEntry(IDM_DetectionOptions, L"Detection options\u2026", Glyph::options);
  addEntry(IDM_NetworkOptions, L"Network\u2026", Glyph::web);
  addEntry(IDM_History, L"History\u2026", Glyph::history);
  addSeparator();
  addEntry(IDM_Quit, L"Exit", Glyph::exit);
  tray_ = std::make_unique<TrayIcon>(window_, kTrayMessage, appIconSmall_.get(), kTitle,
                                     setup_.notifyIcon);
}

// At log-on Explorer may not have its notification area yet and refuses the icon: it is tried
// again every trayRetryMs; with still none after all the tries, the window shows, as it does
// on a desktop without one (and minimizing then goes to the taskbar).
void TMainForm::addTrayIcon() {
  if (tray_->add()) {
    trayRetry_->stop();
    return;
  }
  if (trayRetry_->isActive()) return;
  trayTries_ = 0;
  trayRetry_->start();
}

void TMainForm::retryTrayIcon() {
  if (tray_->add()) return trayRetry_->stop();
  if (++trayTries_ < setup_.trayRetries) return;
  trayRetry_->stop();
  TrayIClick();
}

void TMainForm::balloon(const std::string& title, const std::string& text, BalloonIcon icon,
                        int seconds, bool inPlace) {
  if (menuOpen_) {
    // Over the open menu a balloon covers its entries; the last one waits for the menu to go.
    heldBalloon_ = HeldBalloon{title, text, icon, seconds};
    return;
  }
  showBalloon(title, text, icon, seconds, inPlace);
}

LRESULT CALLBACK TMainForm::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr || form->window_ == nullptr) {
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  LRESULT result = 0;
  form->guarded([&] { result = form->handle(message, wParam, lParam); });
  return result;
}

void TMainForm::rememberFocus() {
  const HWND focus = ::GetFocus();
  if (focus != nullptr && ::IsChild(window_, focus)) focus_ = focus;
}

// The control that had the focus when the window was left, or the first one Tab reaches.
void TMainForm::restoreFocus() {
  HWND target = focus_;
  if (target == nullptr || !::IsWindowEnabled(target))
    target = ::GetNextDlgTabItem(window_, nullptr, FALSE);
  ::SetFocus(target != nullptr ? target : window_);
}

// WM_NEXTDLGCTL: `target` a control when `direct`, else the previous tab stop when non-zero
// and the next one when zero.
void TMainForm::moveFocus(WPARAM target, LPARAM direct) {
  const HWND focus = ::GetFocus();
  const HWND next =
      LOWORD(direct) != 0
          ? reinterpret_cast<HWND>(target)
          : ::GetNextDlgTabItem(window_, ::IsChild(window_, focus) ? focus : nullptr, target != 0);
  if (next != nullptr) ::SetFocus(next);
}

// Main thread: the window's messages, from the loop or from a modal loop inside a handler.
LRESULT TMainForm::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case kTrayMessage:
      onTray(lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return onColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM:
      if (wParam == IDC_ThumbI) onDrawThumbnail(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SETCURSOR:
      if (screenCursor_ == nullptr) break;
      ::SetCursor(screenCursor_);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        minimizeApplication();
        return 0;
      }
      break;
    case WM_CLOSE: {
      bool canClose = true;
      FormCloseQuery(canClose);
      if (canClose) closeWindow();
      return 0;
    }
    case WM_QUERYENDSESSION:
      QueryEndSession();
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: out through the close path, camera given back, before the system
      // ends the process.
      if (wParam != FALSE) closeWindow();
      return 0;
    case WM_POWERBROADCAST:
      OnPowerBroadcast(wParam);
      break;  // the default answer: a suspend is never refused
    case WM_DPICHANGED:
      onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        rememberFocus();
        break;
      }
      restoreFocus();
      return 0;
    case WM_NEXTDLGCTL:
      // What a dialog's own procedure does; the loop's IsDialogMessageW sends it for the arrow
      // keys.
      moveFocus(wParam, lParam);
      return 0;
    case WM_DESTROY:
      loop_->setDialogWindow(nullptr);
      if (tray_) tray_->remove();
      loop_->quit();
      return 0;
    case WM_NCDESTROY: {
      const HWND self = window_;
      window_ = nullptr;
      return ::DefWindowProcW(self, message, wParam, lParam);
    }
    default:
      if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        addTrayIcon();  // Explorer started again, with a taskbar that has never seen our icon
        return 0;
      }
      break;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

void TMainForm::onCommand(int id, int code) {
  switch (id) {
    case IDC_UpdateSB:
      return UpdateSBClick();
    case IDC_RunSB:
      return RunSBClick();
    case IDC_StopSB:
      return StopSBClick();
    case IDC_DirSB:
      return DirSBClick();
    case IDC_SaveSetSB:
      return SaveSetSBClick();
    case IDC_ExitSB:
      return ExitSBClick();
    case IDC_CamLstCB:
      // Only the user's picks: selections made by the program send no CBN_SELCHANGE.
      if (code == CBN_SELCHANGE) CamLstCBChange();
      return;
    case IDC_HomeL:
      if (code == STN_CLICKED) HomeLClick();
      return;
    case IDC_MailL:
      if (code == STN_CLICKED) MailLClick();
      return;
    case IDM_Restore:
      return RestoreClick();
    case IDM_Minimize:
      return MinimizeClick();
    case IDM_Quit:
      return QuitClick();
    case IDM_DetectionOptions:
      return DetectionOptionsClick();
    case IDM_NetworkOptions:
      return NetworkOptionsClick();
    case IDM_History:
      return HistoryClick();
    case IDOK:
    case IDCANCEL:
      return onEscapeOrEnter(id);
    default:
      return;
  }
}

// The loop's dialog handling turns Enter into IDOK and Escape into IDCANCEL: Enter presses the
// focused button, Escape puts the window away as closing it does.
void TMainForm::onEscapeOrEnter(int id) {
  if (id == IDCANCEL) return minimizeApplication();
  const HWND focus = ::GetFocus();
  if (focus == nullptr || !::IsChild(window_, focus)) return;
  const auto code = ::SendMessageW(focus, WM_GETDLGCODE, 0, 0);
  if ((code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0)
    ::SendMessageW(focus, BM_CLICK, 0, 0);
}

void TMainForm::onTray(LPARAM event) {
  switch (LOWORD(event)) {
    case WM_LBUTTONUP:
      return TrayIClick();
    case WM_RBUTTONUP:
      return showPopupMenu();
    case NIN_BALLOONUSERCLICK:
      return eventNotice_->dismissed();
    default:
      return;
  }
}

void TMainForm::showPopupMenu() {
  POINT at{};
  ::GetCursorPos(&at);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  ::SetForegroundWindow(window_);
  menuOpen_ = true;
  ::TrackPopupMenu(popupMenu_.get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, window_,
                   nullptr);
  menuOpen_ = false;
  ::PostMessageW(window_, WM_NULL, 0, 0);
  if (const std::optional<HeldBalloon> held = std::exchange(heldBalloon_, std::nullopt))
    showBalloon(held->title, held->text, held->icon, held->seconds, false);
}

LRESULT TMainForm::onColour(HDC dc, HWND target) {
  const int id = ::GetDlgCtrlID(target);
  const ControlDesign* design = designOf(id);
  COLORREF colour = design != nullptr ? design->colour : kNoColour;
  if (id == IDC_HomeL) colour = homeColour_;
  if (colour != kNoColour) ::SetTextColor(dc, colour);
  ::SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

// ThumbI shows the top-left part of its 64 x 64 picture that the thumbnail fills, stretched
// with the screen's scale.
void TMainForm::onDrawThumbnail(const DRAWITEMSTRUCT& item) {
  const HDC source = ::CreateCompatibleDC(item.hDC);
  const HGDIOBJ old = ::SelectObject(source, thumbPicture_.get());
  ::SetStretchBltMode(item.hDC, COLORONCOLOR);
  ::StretchBlt(item.hDC, 0, 0, item.rcItem.right - item.rcItem.left,
               item.rcItem.bottom - item.rcItem.top, source, 0, 0, thumbSize_.cx, thumbSize_.cy,
               SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

LRESULT CALLBACK TMainForm::linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR data) {
  auto* form = reinterpret_cast<TMainForm*>(data);
  if (message == WM_MOUSEMOVE) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, link, 0};
    ::TrackMouseEvent(&track);
    form->guarded([&] {
      if (id == IDC_HomeL)
        form->HomeLMouseMove();
      else
        form->MailLMouseMove();
    });
  } else if (message == WM_MOUSELEAVE) {
    form->guarded([&] {
      if (id == IDC_HomeL)
        form->HomeLMouseLeave();
      else
        form->MailLMouseLeave();
    });
  } else if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(link, &TMainForm::linkProc, id);
  }
  return ::DefSubclassProc(link, message, wParam, lParam);
}

void TMainForm::showFailure(std::string_view message) {
  messageBox(failureText(message), kTitle, MB_OK | MB_ICONERROR);
}

// ---- start-up and the close path -----------------------------------------------------------

void TMainForm::FormCreate() {
  // Not shown here: the window opens from the tray.
  ::SetWindowTextW(window_, wide(kTitle).c_str());
  if (!InstanceMutex.tryAcquire()) {
    // Another instance runs: leave silently, without telling it, having shown and made nothing.
    terminated_ = true;
    return;
  }
  if (const auto version = osVersion()) {
    OSVersion = *version;
    setText(IDC_OSL, OSVersion.text());
  }
  // The high bit of GetVersion is set on the old Windows line, which this program cannot serve.
  if ((::GetVersion() & 0x80000000u) != 0) {
    messageBox("Not Windows NT-based OS!", kTitle, MB_OK);
    terminated_ = true;
    return;
  }
  if (!setup_.startupWarning.empty()) showFailure(setup_.startupWarning);
  setText(IDC_VersionL, ReadFileVersion(true));
  session_->open(setup_.defaultDirectory);
  addTrayIcon();
}

void TMainForm::FormCloseQuery(bool& canClose) {
  canClose = ExitRequested;
  // Without an exit request closing only puts the program away, into the tray.
  if (!canClose) minimizeApplication();
}

void TMainForm::FormClose() {
  stationPage_.reset();
  session_->close();
  InstanceMutex.release();  // an error while closing is of no use to anyone
}

void TMainForm::closeWindow() {
  FormClose();
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void TMainForm::QueryEndSession() {
  // Stays set when another program cancels the end of the session: the next close exits.
  ExitRequested = true;
}

void TMainForm::OnPowerBroadcast(WPARAM event) {
  switch (powerAction(event, OSVersion.major)) {
    case PowerAction::suspend:
      return monitor().Suspend();
    case PowerAction::resume:
      return monitor().Resume();  // the minute tick comes back kResumeDelayMs later
    case PowerAction::none:
      return;
  }
}

void TMainForm::ExitSBClick() {
  ExitRequested = true;
  ::SendMessageW(window_, WM_CLOSE, 0, 0);
}

void TMainForm::QuitClick() {
  ExitSBClick();
}

void TMainForm::DetectionOptionsClick() {
  const std::optional<DetectionSettings> chosen =
      editDetectionOptions(window_, session_->detection(), monitor().Running);
  // Taken for this session even when the file cannot be written; the failure box says so.
  if (chosen) session_->changeDetection(*chosen);
}

void TMainForm::NetworkOptionsClick() {
  const std::optional<NetworkChoice> chosen = editNetworkOptions(window_, session_->network());
  // Taken even when a file cannot be written; the failure box says which.
  if (chosen) session_->changeNetwork(chosen->settings, chosen->password);
}

void TMainForm::HistoryClick() {
  if (!stationPage_) stationPage_ = std::make_unique<StationPage>(session_->historyPath());
  openUrl(stationPage_->address(session_->historyStation()));
}

// ---- tray and window -----------------------------------------------------------------------

void TMainForm::minimizeApplication() {
  if (tray_->shown()) {
    ::ShowWindow(window_, SW_HIDE);
  } else {
    ::ShowWindow(window_, SW_MINIMIZE);  // no notification area: to the taskbar
  }
}

void TMainForm::TrayIClick() {
  if (!shownBefore_) {
    shownBefore_ = true;
    RECT frame{}, area{};
    ::GetWindowRect(window_, &frame);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const LONG w = frame.right - frame.left, h = frame.bottom - frame.top;
    ::SetWindowPos(window_, nullptr, area.left + (area.right - area.left - w) / 2,
                   area.top + (area.bottom - area.top - h) / 2, 0, 0,
                   SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  ::ShowWindow(window_, ::IsIconic(window_) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(window_);
}

void TMainForm::RestoreClick() {
  TrayIClick();
}

void TMainForm::MinimizeClick() {
  minimizeApplication();
}

void TMainForm::setScreenCursor(LPCWSTR cursor) {
  screenCursor_ = cursor == nullptr ? nullptr : ::LoadCursorW(nullptr, cursor);
  ::SetCursor(screenCursor_ != nullptr ? screenCursor_ : ::LoadCursorW(nullptr, IDC_ARROW));
}

void TMainForm::HomeLMouseMove() {
  // Mouse moves come by the hundred: only a change of colour repaints.
  if (homeColour_ != kRed) {
    homeColour_ = kRed;
    ::InvalidateRect(control(IDC_HomeL), nullptr, TRUE);
  }
  setScreenCursor(IDC_HAND);
}

void TMainForm::HomeLMouseLeave() {
  homeColour_ = kBlue;
  ::InvalidateRect(control(IDC_HomeL), nullptr, TRUE);
  setScreenCursor(nullptr);
}

void TMainForm::HomeLClick() {
  openUrl(makerSite() + "/RVD.php");
}

void TMainForm::MailLMouseMove() {
  setScreenCursor(IDC_HAND);
}

void TMainForm::MailLMouseLeave() {
  setScreenCursor(nullptr);
}

void TMainForm::MailLClick() {
  openUrl("mailto:" + supportMail() + "?subject=RVD_Support");
}

// ---- monitoring: the handlers forward to the monitor ---------------------------------------

void TMainForm::DirSBClick() {
  // The chooser's answer carries its trailing separator.
  if (const auto chosen = chooseDirectory()) monitor().SetOutputDirectory(*chosen);
}

void TMainForm::FillCameraList() {
  monitor().FillCameraList();
}

void TMainForm::UpdateSBClick() {
  monitor().UpdateSBClick();
}

void TMainForm::CamLstCBChange() {
  monitor().CamLstCBChange(
      static_cast<std::int32_t>(::SendMessageW(control(IDC_CamLstCB), CB_GETCURSEL, 0, 0)));
}

void TMainForm::RunSBClick() {
  monitor().RunSBClick();
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

// ---- MonitorView ---------------------------------------------------------------------------

void TMainForm::setText(ControlId id, const std::string& text) {
  ::SetWindowTextW(control(id), wide(text).c_str());
}

// A white picture with the black top and left edges of a rectangle from (0, 0) to (127, 127).
void TMainForm::paintThumbnailWhite() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kThumbSide;
  info.bmiHeader.biHeight = -kThumbSide;  // top-down, as the frame bitmap's rows are addressed
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  thumbPicture_ =
      GdiObject<HBITMAP>(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  thumbBits_ = static_cast<std::uint8_t*>(bits);
  if (thumbBits_ == nullptr) return;
  constexpr int stride = (kThumbSide * 3 + 3) & ~3;
  std::memset(thumbBits_, 0xFF, stride * kThumbSide);
  std::memset(thumbBits_, 0, kThumbSide * 3);  // the top edge
  for (int y = 0; y < kThumbSide; ++y)
    std::memset(thumbBits_ + y * stride, 0, 3);  // the left edge
  ::InvalidateRect(control(IDC_ThumbI), nullptr, FALSE);
}

void TMainForm::showThumbnail(const FrameBitmap& thumbnail) {
  if (thumbBits_ == nullptr) return;
  constexpr int stride = (kThumbSide * 3 + 3) & ~3;
  const int width = std::min(thumbnail.width(), kThumbSide);
  const int height = std::min(thumbnail.height(), kThumbSide);
  ::GdiFlush();
  for (int y = 0; y < height; ++y)  // both are rows of blue, green, red
    std::memcpy(thumbBits_ + y * stride, thumbnail.row(y), static_cast<std::size_t>(width) * 3);
  if (thumbSize_.cx != width || thumbSize_.cy != height) {
    thumbSize_ = {width, height};
    ::SetWindowPos(control(IDC_ThumbI), nullptr, 0, 0, px(width), px(height),
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  }
  ::InvalidateRect(control(IDC_ThumbI), nullptr, FALSE);
}

void TMainForm::showCameraList(const std::vector<std::string>& entries, std::int32_t selected,
                               bool enabled) {
  const HWND list = control(IDC_CamLstCB);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const auto& entry : entries)
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(entry).c_str()));
  ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  ::EnableWindow(list, enabled ? TRUE : FALSE);
}

void TMainForm::showCameraSelection(std::int32_t selected) {
  ::SendMessageW(control(IDC_CamLstCB), CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void TMainForm::showMonitoringState(bool monitoring) {
  ::EnableWindow(control(IDC_StopSB), monitoring ? TRUE : FALSE);
  for (const ControlId id : {IDC_RunSB, IDC_UpdateSB, IDC_CamLstCB})
    ::EnableWindow(control(id), monitoring ? FALSE : TRUE);
}

void TMainForm::showFrameSize(std::int32_t width, std::int32_t height) {
  setText(IDC_SourceXYL, std::to_string(width) + " x " + std::to_string(height));
}

void TMainForm::showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  setText(IDC_RedL, std::to_string(r));
  setText(IDC_GreenL, std::to_string(g));
  setText(IDC_BlueL, std::to_string(b));
}

void TMainForm::showFramesLastMinute(std::int32_t frames) {
  setText(IDC_SPML, std::to_string(frames));
}

void TMainForm::showUpTime(const std::string& text) {
  setText(IDC_UpTimeL, text);
}

void TMainForm::showEventCount(std::int32_t count) {
  setText(IDC_EvsL, std::to_string(count));
}

void TMainForm::showEventsPerDay(const std::string& text) {
  setText(IDC_EPDL, text);
}

// Lines come in blocks that end with an empty one (an event's three lines, the format list).
// The log is only a few lines tall: when a block ends its first line is scrolled to the top,
// so an event shows its time, not only its colour.
void TMainForm::appendLogLine(const std::string& line) {
  const HWND log = control(IDC_LogM);
  const auto length = ::GetWindowTextLengthW(log);
  const std::wstring text = (length > 0 ? L"\r\n" : L"") + wide(line);
  ::SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(length), length);
  ::SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  const auto lastLine = static_cast<int>(::SendMessageW(log, EM_GETLINECOUNT, 0, 0)) - 1;
  if (!line.empty()) {
    if (logBlockStart_ < 0) logBlockStart_ = lastLine;
    return;
  }
  if (logBlockStart_ >= 0) {
    const auto first = static_cast<int>(::SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0));
    ::SendMessageW(log, EM_LINESCROLL, 0, logBlockStart_ - first);
  }
  logBlockStart_ = -1;
}

void TMainForm::showDirectory(const std::string& label) {
  setText(IDC_DirectoryL, label);
}

UserOptions TMainForm::userOptions() const {
  // Read at this moment: changes take effect with the next frame. The up-down reads the number
  // standing in its edit box, so a typed 123 is used as it is.
  const auto checked = [this](ControlId id) {
    return ::SendMessageW(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  };
  BOOL failed = FALSE;
  const auto limit = static_cast<std::int32_t>(
      ::SendMessageW(control(IDC_LimitUD), UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed)));
  return {limit, checked(IDC_SoundCB), checked(IDC_InverseCB), checked(IDC_GrayCB)};
}

void TMainForm::showUserOptions(const UserOptions& options) {
  const auto check = [this](ControlId id, bool on) {
    ::SendMessageW(control(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  };
  check(IDC_SoundCB, options.sound);
  check(IDC_InverseCB, options.inverse);
  check(IDC_GrayCB, options.gray);
  ::SendMessageW(control(IDC_LimitUD), UDM_SETPOS32, 0, options.limit);
}

void TMainForm::setBusy(bool busy) {
  setScreenCursor(busy ? IDC_WAIT : nullptr);
}

void TMainForm::showMessage(MessageKind kind, const std::string& text) {
  if (kind == MessageKind::error) {
    messageBox(text, "Error", MB_OK | MB_ICONERROR);
  } else {
    messageBox(text, kTitle, MB_OK);
  }
}

void TMainForm::showFrameFailure(const std::string& text, std::function<void()> closed) {
  frameFailureBox_->show(text, std::move(closed));
}

void TMainForm::showEventNotice() {
  eventNotice_->eventDetected();
}

void TMainForm::playEventSound() {
  // Our own WAVE resource "OK", in the background; a sound still playing is cut off.
  ::PlaySoundA("OK", nullptr, SND_RESOURCE | SND_ASYNC);
}

// The log has the time and the reason; the balloon tells a user who is not looking.
void TMainForm::cameraLost(const std::string& camera, const std::string& /*why*/) {
  balloon("Camera lost", cameraLostBalloonText(camera), BalloonIcon::warning, kBalloonSeconds);
}

void TMainForm::lightLeakStarted() {
  balloon("Light leak", kLightLeakBalloonText, BalloonIcon::warning, kBalloonSeconds);
}

}  // namespace ravdel
