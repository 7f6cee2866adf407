#pragma once

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ravdel {

// The predefined classes of a dialog template's controls.
inline constexpr WORD kDialogButton = 0x0080, kDialogEdit = 0x0081, kDialogStatic = 0x0082;

// One control in dialog units, which the dialog manager scales with the dialog's font and DPI.
struct DialogItem {
  int id;
  WORD predefinedClass;  // 0: the up-down control, which goes by its class name
  std::wstring_view text;
  DWORD style;
  short x, y, cx, cy;
};

// A modal dialog's DLGTEMPLATE in memory, in the system's dialog font, built once from its
// items: our dialogs need no resource script.
class DialogTemplate {
 public:
  DialogTemplate(std::wstring_view title, short width, short height,
                 std::span<const DialogItem> items);

  const DLGTEMPLATE* data() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void word(WORD value) { words_.push_back(value); }
  void dword(DWORD value);
  void text(std::wstring_view value);
  void alignToDword();

  std::vector<WORD> words_;
};

// Runs a modal dialog of `dialogTemplate` owned by `owner`: `show` fills its controls as it
// opens, `take` reads them when OK is pressed (Enter), before it closes. Escape and Cancel
// close it untaken. True when OK closed it. Main thread; both run inside the dialog manager's
// modal loop.
bool runModalDialog(HWND owner, const DialogTemplate& dialogTemplate,
                    const std::function<void(HWND)>& show, const std::function<void(HWND)>& take);

// The text of a dialog's control, in UTF-8.
std::string dialogItemText(HWND dialog, int id);

}  // namespace ravdel
