#include "app_win32/network_dialog.h"

#include <commctrl.h>

#include <array>

#include "app_win32/control_ids.h"
#include "app_win32/dialog_template.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kField = kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kLabel = kChild | SS_LEFT;

// The texts are the Linux dialog's; each label comes before its field, which gives the field
// its name for screen readers and the label's mnemonic.
const std::array kItems{
    DialogItem{IDC_ServerNL, kDialogStatic, L"Server:", kLabel, 7, 9, 50, 8},
    DialogItem{IDC_ServerE, kDialogEdit, L"", kField | WS_GROUP, 60, 7, 163, 12},
    DialogItem{IDC_StationNL, kDialogStatic, L"Station:", kLabel, 7, 25, 50, 8},
    DialogItem{IDC_StationE, kDialogEdit, L"", kField, 60, 23, 163, 12},
    DialogItem{IDC_PasswordNL, kDialogStatic, L"Password:", kLabel, 7, 41, 50, 8},
    DialogItem{IDC_PasswordE, kDialogEdit, L"", kField | ES_PASSWORD, 60, 39, 163, 12},
    DialogItem{IDC_TlsCaNL, kDialogStatic, L"TLS:", kLabel, 7, 57, 50, 8},
    DialogItem{IDC_TlsCaE, kDialogEdit, L"", kField, 60, 55, 163, 12},
    DialogItem{IDC_LocationNL, kDialogStatic, L"Location:", kLabel, 7, 73, 50, 8},
    DialogItem{IDC_LocationE, kDialogEdit, L"", kField, 60, 71, 163, 12},
    DialogItem{IDC_HistoryCB, kDialogButton, L"Keep this station's history",
               kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 89, 216, 10},
    DialogItem{IDC_NetworkNoteNL, kDialogStatic,
               L"Without a server, events stay on this machine. With one, they are kept here "
               L"until the network has stored them.",
               kLabel, 7, 104, 216, 18},
    DialogItem{IDOK, kDialogButton, L"OK", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 119,
               128, 50, 14},
    DialogItem{IDCANCEL, kDialogButton, L"Cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, 173, 128,
               50, 14},
};
constexpr short kWidth = 230, kHeight = 149;

// The text fields and the settings they show; the password is never shown.
struct TextField {
  int id;
  std::string NetworkSettings::*value;
  const wchar_t* cue;  // grey text while the field is empty
};
constexpr TextField kFields[] = {
    {IDC_ServerE, &NetworkSettings::server, L"host or host:port"},
    {IDC_StationE, &NetworkSettings::station, L"this station's name"},
    {IDC_TlsCaE, &NetworkSettings::tlsCa, L"certificate authority file (TLS)"},
    {IDC_LocationE, &NetworkSettings::location, L"48.21,16.37"},
};

void setCue(HWND dialog, int id, const wchar_t* cue) {
  ::SendDlgItemMessageW(dialog, id, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue));
}

void showSettings(HWND dialog, const NetworkSettings& settings) {
  for (const TextField& field : kFields) {
    ::SetDlgItemTextW(dialog, field.id, windows::widen(settings.*field.value).c_str());
    setCue(dialog, field.id, field.cue);
  }
  setCue(dialog, IDC_PasswordE, settings.passwordFile.empty() ? L"password" : L"unchanged");
  ::CheckDlgButton(dialog, IDC_HistoryCB, settings.history ? BST_CHECKED : BST_UNCHECKED);
}

// The keys the dialog does not show stay as they were.
NetworkChoice chosenSettings(HWND dialog, const NetworkSettings& shown) {
  NetworkChoice choice{shown, std::nullopt};
  for (const TextField& field : kFields)
    choice.settings.*field.value = dialogItemText(dialog, field.id);
  choice.settings.history = ::IsDlgButtonChecked(dialog, IDC_HistoryCB) == BST_CHECKED;
  if (std::string password = dialogItemText(dialog, IDC_PasswordE); !password.empty())
    choice.password = std::move(password);
  return choice;
}

}  // namespace

std::optional<NetworkChoice> editNetworkOptions(HWND owner, const NetworkSettings& settings) {
  static const DialogTemplate kTemplate(L"Station network", kWidth, kHeight, kItems);
  NetworkChoice choice{settings, std::nullopt};
  if (!runModalDialog(
          owner, kTemplate, [&](HWND dialog) { showSettings(dialog, settings); },
          [&](HWND dialog) { choice = chosenSettings(dialog, settings); }))
    return std::nullopt;
  return choice;
}

}  // namespace ravdel
