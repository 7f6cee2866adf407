#include "app_win32/detection_options_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "app_win32/control_ids.h"
#include "app_win32/dialog_template.h"

namespace ravdel {
namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLevelEdit = kChild | WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL;
constexpr DWORD kUpDown =
    kChild | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;

// The texts are the Linux dialog's. In tab order; each up-down follows its edit box (its buddy).
const std::array kItems{
    DialogItem{IDC_HotPixelMaskCB, kDialogButton, L"Hot-pixel mask",
               kChild | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 7, 7, 150, 10},
    DialogItem{IDC_LightLeakGuardCB, kDialogButton, L"Light-leak guard",
               kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 21, 150, 10},
    DialogItem{IDC_LeakLevelNL, kDialogStatic, L"Leak level:", kChild | SS_LEFT, 7, 38, 60, 8},
    DialogItem{IDC_LeakLevelE, kDialogEdit, L"", kLevelEdit, 70, 36, 44, 12},
    DialogItem{IDC_LeakLevelUD, 0, L"", kUpDown, 0, 0, 0, 0},
    DialogItem{IDC_ClustersCB, kDialogButton, L"Clusters", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 7,
               53, 150, 10},
    DialogItem{IDC_ClusterLevelNL, kDialogStatic, L"Cluster level:", kChild | SS_LEFT, 7, 70, 60,
               8},
    DialogItem{IDC_ClusterLevelE, kDialogEdit, L"", kLevelEdit, 70, 68, 44, 12},
    DialogItem{IDC_ClusterLevelUD, 0, L"", kUpDown, 0, 0, 0, 0},
    DialogItem{IDC_NextRunNL, kDialogStatic, L"The options take effect at the next Run.",
               WS_CHILD | SS_LEFT, 7, 86, 150, 8},
    DialogItem{IDOK, kDialogButton, L"OK", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 53,
               100, 50, 14},
    DialogItem{IDCANCEL, kDialogButton, L"Cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, 107, 100,
               50, 14},
};
constexpr short kWidth = 164, kHeight = 121;

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

void showSettings(HWND dialog, const DetectionSettings& settings, bool monitoring) {
  for (const SwitchControl& s : kSwitches)
    ::CheckDlgButton(dialog, s.id, settings.*s.on ? BST_CHECKED : BST_UNCHECKED);
  for (const LevelControl& level : kLevels) {
    const HWND upDown = ::GetDlgItem(dialog, level.upDown);
    ::SendMessageW(upDown, UDM_SETRANGE32, static_cast<WPARAM>(level.key.least), level.key.most);
    ::SendMessageW(upDown, UDM_SETPOS32, 0, settings.*level.value);
  }
  ::ShowWindow(::GetDlgItem(dialog, IDC_NextRunNL), monitoring ? SW_SHOW : SW_HIDE);
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

}  // namespace

std::optional<DetectionSettings> editDetectionOptions(HWND owner, const DetectionSettings& settings,
                                                      bool monitoring) {
  static const DialogTemplate kTemplate(L"Detection options", kWidth, kHeight, kItems);
  DetectionSettings chosen = settings;
  if (!runModalDialog(
          owner, kTemplate, [&](HWND dialog) { showSettings(dialog, settings, monitoring); },
          [&](HWND dialog) { chosen = chosenSettings(dialog); }))
    return std::nullopt;
  return chosen;
}

}  // namespace ravdel
