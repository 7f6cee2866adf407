#include "app_win32/detection_options_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "app_win32/control_ids.h"

namespace ravdel {
namespace {

// The predefined classes of a dialog template; the up-down control goes by its name.
constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

// One control in dialog units, which the dialog manager scales with the dialog's font and DPI.
struct DialogItem {
  int id;
  WORD predefinedClass;  // 0: the up-down control
  std::wstring_view text;
  DWORD style;
  short x, y, cx, cy;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLevelEdit = kChild | WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL;
constexpr DWORD kUpDown =
    kChild | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;

// The texts are the Linux dialog's. In tab order; each up-down follows its edit box (its buddy).
const std::array kItems{
    DialogItem{IDC_HotPixelMaskCB, kButton, L"Hot-pixel mask",
               kChild | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 7, 7, 150, 10},
    DialogItem{IDC_LightLeakGuardCB, kButton, L"Light-leak guard",
               kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 21, 150, 10},
    DialogItem{IDC_LeakLevelNL, kStatic, L"Leak level:", kChild | SS_LEFT, 7, 38, 60, 8},
    DialogItem{IDC_LeakLevelE, kEdit, L"", kLevelEdit, 70, 36, 44, 12},
    DialogItem{IDC_LeakLevelUD, 0, L"", kUpDown, 0, 0, 0, 0},
    DialogItem{IDC_ClustersCB, kButton, L"Clusters", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 53,
               150, 10},
    DialogItem{IDC_ClusterLevelNL, kStatic, L"Cluster level:", kChild | SS_LEFT, 7, 70, 60, 8},
    DialogItem{IDC_ClusterLevelE, kEdit, L"", kLevelEdit, 70, 68, 44, 12},
    DialogItem{IDC_ClusterLevelUD, 0, L"", kUpDown, 0, 0, 0, 0},
    DialogItem{IDC_NextRunNL, kStatic, L"The options take effect at the next Run.",
               WS_CHILD | SS_LEFT, 7, 86, 150, 8},
    DialogItem{IDOK, kButton, L"OK", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 53, 100, 50,
               14},
    DialogItem{IDCANCEL, kButton, L"Cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, 107, 100, 50, 14},
};
constexpr short kWidth = 164, kHeight = 121;

// A DLGTEMPLATE with DS_SETFONT and its items, in the words the dialog manager reads.
class TemplateWriter {
 public:
  void word(WORD value) { words_.push_back(value); }
  void dword(DWORD value) {
    word(LOWORD(value));
    word(HIWORD(value));
  }
  void text(std::wstring_view value) {
    words_.insert(words_.end(), value.begin(), value.end());
    word(0);
  }
  void alignToDword() {
    if (words_.size() % 2 != 0) word(0);
  }
  const DLGTEMPLATE* data() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

TemplateWriter makeTemplate() {
  TemplateWriter t;
  t.dword(DS_MODALFRAME | DS_SETFONT | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.dword(0);
  t.word(static_cast<WORD>(kItems.size()));
  for (const short value : {short{0}, short{0}, kWidth, kHeight})
    t.word(static_cast<WORD>(value));
  t.word(0);  // no menu
  t.word(0);  // the dialog class
  t.text(L"Detection options");
  t.word(8);  // the system's dialog font, scaled for the DPI
  t.text(L"MS Shell Dlg");
  for (const DialogItem& item : kItems) {
    t.alignToDword();
    t.dword(item.style);
    t.dword(0);
    for (const short value : {item.x, item.y, item.cx, item.cy})
      t.word(static_cast<WORD>(value));
    t.word(static_cast<WORD>(item.id));
    if (item.predefinedClass != 0) {
      t.word(0xFFFF);
      t.word(item.predefinedClass);
    } else {
      t.text(UPDOWN_CLASSW);
    }
    t.text(item.text);
    t.word(0);  // no creation data
  }
  return t;
}

// What the dialog edits; the procedure's state between its messages.
struct DialogState {
  DetectionSettings settings;
  bool monitoring = false;
};

// The ranges are the settings file's own, so the dialog cannot give a value the file rejects.
struct LevelControl {
  int edit;
  int upDown;
  const SettingKey& key;
  std::int32_t DetectionSettings::*value;
};
const LevelControl kLevels[] = {
    {IDC_LeakLevelE, IDC_LeakLevelUD, setting::leakLevel, &DetectionSettings::leakLevel},
    {IDC_ClusterLevelE, IDC_ClusterLevelUD, setting::clusterLevel,
     &DetectionSettings::clusterLevel},
};

struct SwitchControl {
  int id;
  bool DetectionSettings::*on;
};
constexpr SwitchControl kSwitches[] = {
    {IDC_HotPixelMaskCB, &DetectionSettings::hotPixelMask},
    {IDC_LightLeakGuardCB, &DetectionSettings::lightLeakGuard},
    {IDC_ClustersCB, &DetectionSettings::clusters},
};

void showSettings(HWND dialog, const DialogState& state) {
  for (const SwitchControl& s : kSwitches)
    ::CheckDlgButton(dialog, s.id, state.settings.*s.on ? BST_CHECKED : BST_UNCHECKED);
  for (const LevelControl& level : kLevels) {
    const HWND upDown = ::GetDlgItem(dialog, level.upDown);
    ::SendMessageW(upDown, UDM_SETRANGE32, static_cast<WPARAM>(level.key.least), level.key.most);
    ::SendMessageW(upDown, UDM_SETPOS32, 0, state.settings.*level.value);
  }
  ::ShowWindow(::GetDlgItem(dialog, IDC_NextRunNL), state.monitoring ? SW_SHOW : SW_HIDE);
}

// A typed level outside its range is taken at the nearest end; an empty box keeps the level
// the up-down had.
DetectionSettings chosenSettings(HWND dialog) {
  DetectionSettings chosen;
  for (const SwitchControl& s : kSwitches)
    chosen.*s.on = ::IsDlgButtonChecked(dialog, s.id) == BST_CHECKED;
  for (const LevelControl& level : kLevels) {
    BOOL typed = FALSE;
    const UINT number = ::GetDlgItemInt(dialog, level.edit, &typed, FALSE);
    const auto value = typed != FALSE
                           ? static_cast<std::int32_t>(std::min<UINT>(number, 0x7FFFFFFF))
                           : static_cast<std::int32_t>(::SendMessageW(
                                 ::GetDlgItem(dialog, level.upDown), UDM_GETPOS32, 0, 0));
    chosen.*level.value = std::clamp(value, level.key.least, level.key.most);
  }
  return chosen;
}

// Main thread, inside DialogBoxIndirectParamW's modal loop.
INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<DialogState*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      showSettings(dialog, *state);
      return TRUE;  // the first tab stop takes the focus
    }
    case WM_COMMAND: {
      auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
      if (LOWORD(wParam) == IDOK) {
        state->settings = chosenSettings(dialog);
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

std::optional<DetectionSettings> editDetectionOptions(HWND owner, const DetectionSettings& settings,
                                                      bool monitoring) {
  static const TemplateWriter kTemplate = makeTemplate();
  DialogState state{settings, monitoring};
  const INT_PTR answer =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), kTemplate.data(), owner, &dialogProc,
                                reinterpret_cast<LPARAM>(&state));
  if (answer != IDOK) return std::nullopt;
  return state.settings;
}

}  // namespace ravdel
