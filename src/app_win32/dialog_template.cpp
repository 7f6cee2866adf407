#include "app_win32/dialog_template.h"

#include <commctrl.h>

#include <string>

#include "platform/windows_text.h"

namespace ravdel {

DialogTemplate::DialogTemplate(std::wstring_view title, short width, short height,
                               std::span<const DialogItem> items) {
  dword(DS_MODALFRAME | DS_SETFONT | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  dword(0);
  word(static_cast<WORD>(items.size()));
  for (const short value : {short{0}, short{0}, width, height})
    word(static_cast<WORD>(value));
  word(0);  // no menu
  word(0);  // the dialog class
  text(title);
  word(8);  // the system's dialog font, scaled for the DPI
  text(L"MS Shell Dlg");
  for (const DialogItem& item : items) {
    alignToDword();
    dword(item.style);
    dword(0);
    for (const short value : {item.x, item.y, item.cx, item.cy})
      word(static_cast<WORD>(value));
    word(static_cast<WORD>(item.id));
    if (item.predefinedClass != 0) {
      word(0xFFFF);
      word(item.predefinedClass);
    } else {
      text(UPDOWN_CLASSW);
    }
    text(item.text);
    word(0);  // no creation data
  }
}

void DialogTemplate::dword(DWORD value) {
  word(LOWORD(value));
  word(HIWORD(value));
}

void DialogTemplate::text(std::wstring_view value) {
  words_.insert(words_.end(), value.begin(), value.end());
  word(0);
}

void DialogTemplate::alignToDword() {
  if (words_.size() % 2 != 0) word(0);
}

namespace {

struct DialogCallbacks {
  const std::function<void(HWND)>& show;
  const std::function<void(HWND)>& take;
};

// Main thread, inside DialogBoxIndirectParamW's modal loop. The callbacks live in the caller's
// frame; the dialog keeps their address.
INT_PTR CALLBACK modalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<const DialogCallbacks*>(lParam)->show(dialog);
      return TRUE;  // the first tab stop takes the focus
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        reinterpret_cast<const DialogCallbacks*>(::GetWindowLongPtrW(dialog, DWLP_USER))
            ->take(dialog);
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool runModalDialog(HWND owner, const DialogTemplate& dialogTemplate,
                    const std::function<void(HWND)>& show, const std::function<void(HWND)>& take) {
  const DialogCallbacks callbacks{show, take};
  return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialogTemplate.data(), owner,
                                   &modalDialogProc, reinterpret_cast<LPARAM>(&callbacks)) == IDOK;
}

std::string dialogItemText(HWND dialog, int id) {
  const HWND control = ::GetDlgItem(dialog, id);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return windows::narrow(text);
}

}  // namespace ravdel
