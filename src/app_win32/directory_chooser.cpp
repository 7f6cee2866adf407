#include "app_win32/directory_chooser.h"

#include <commctrl.h>
#include <shlobj.h>

#include <filesystem>
#include <system_error>

#include "monitor/output_folder.h"
#include "monitor/settings.h"
#include "platform/files.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

const wchar_t kCaption[] = L"Select Directory";

// The dialog's state between its callbacks (main thread, inside SHBrowseForFolderW).
struct ChooserState {
  std::string start;
  std::string shown;   // the folder selected in the tree
  std::string chosen;  // set when a typed path was accepted
  OutputFolderPrompts prompts;
};

std::string pathOfItem(LPCITEMIDLIST item) {
  wchar_t path[MAX_PATH] = {};
  if (item == nullptr || !::SHGetPathFromIDListW(item, path)) return {};
  return windows::narrow(path);
}

// The dialog's name field, the one edit control among its children (the IDs differ between
// shells). Not every shell reports a typed path it does not know (BFFM_VALIDATEFAILED); some
// return the tree's selection instead, so OK reads the field itself.
HWND nameField(HWND dialog) {
  return ::FindWindowExW(dialog, nullptr, L"Edit", nullptr);
}

std::string textOf(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return windows::narrow(text);
}

// The shared rule for a typed folder; true when it was taken, false when the dialog stays open.
bool takeTyped(ChooserState& state, const std::string& typed) {
  const auto accepted = acceptTypedFolder(state.shown, typed, state.prompts);
  if (accepted) state.chosen = *accepted;
  return accepted.has_value();
}

// Main thread, inside SHBrowseForFolderW: OK on a typed path that is not the selected folder
// (whose name the field shows) resolves it, offers to create it, and keeps the dialog open
// unless it is taken.
LRESULT CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR data) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    auto& state = *reinterpret_cast<ChooserState*>(data);
    const HWND field = nameField(dialog);
    const std::string typed = field != nullptr ? textOf(field) : std::string();
    const std::string selectedName = utf8FromPath(pathFromUtf8(state.shown).filename());
    if (!typed.empty() && typed != selectedName && typed != state.shown && !takeTyped(state, typed))
      return 0;  // stays open
  } else if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(dialog, &dialogProc, id);
  }
  return ::DefSubclassProc(dialog, message, wParam, lParam);
}

int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  auto& state = *reinterpret_cast<ChooserState*>(data);
  switch (message) {
    case BFFM_INITIALIZED: {
      ::SetWindowTextW(dialog, kCaption);
      ::SetWindowSubclass(dialog, &dialogProc, 1, static_cast<DWORD_PTR>(data));
      const std::wstring start = windows::widen(state.start);
      ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
      return 0;
    }
    case BFFM_SELCHANGED:
      state.shown = pathOfItem(reinterpret_cast<LPCITEMIDLIST>(lParam));
      return 0;
    case BFFM_VALIDATEFAILEDW: {
      // A typed name the shell does not know: ours to resolve, create and accept.
      const std::string typed = windows::narrow(reinterpret_cast<const wchar_t*>(lParam));
      return takeTyped(state, typed) ? 0 : 1;  // 1: stays open
    }
    default:
      return 0;
  }
}

std::string currentDirectory() {
  std::error_code error;
  return utf8FromPath(std::filesystem::current_path(error));
}

}  // namespace

std::optional<std::string> chooseDirectory(HWND owner) {
  ChooserState state;
  state.start = currentDirectory();
  state.shown = state.start;
  state.prompts.confirmCreate = [] {
    return ::MessageBoxW(::GetActiveWindow(), L"The specified directory does not exist. Create it?",
                         kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
  };
  state.prompts.warn = [](const std::string& text) {
    ::MessageBoxW(::GetActiveWindow(), windows::widen(text).c_str(), kCaption,
                  MB_OK | MB_ICONWARNING);
  };

  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = L"Directory &Name:";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;
  info.lpfn = browseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&state);
  LPITEMIDLIST item = ::SHBrowseForFolderW(&info);
  const std::string picked = pathOfItem(item);
  if (item != nullptr) ::CoTaskMemFree(item);
  // A typed path we made or resolved wins over the tree's selection.
  if (!state.chosen.empty()) return withTrailingSeparator(state.chosen);
  if (item == nullptr || picked.empty()) return std::nullopt;
  return withTrailingSeparator(picked);
}

}  // namespace ravdel
