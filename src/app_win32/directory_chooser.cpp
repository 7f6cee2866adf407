#include "app_win32/directory_chooser.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cwchar>
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
  std::string shown;   // the file-system path of the folder selected in the tree
  std::string chosen;  // set when a typed path was accepted
  // The name field holds what the user typed, not the name the shell shows for the selection
  // ("Local Disk (C:)", "Bilder" for Pictures), which is no folder name to make.
  bool typed = false;
  OutputFolderPrompts prompts;
};

// The item's file-system path, longer than MAX_PATH too.
std::string pathOfItem(LPCITEMIDLIST item) {
  std::wstring path(32768, L'\0');
  if (item == nullptr ||
      !::SHGetPathFromIDListEx(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
    return {};
  path.resize(std::wcslen(path.c_str()));
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

// Main thread, inside SHBrowseForFolderW. A change of the name field while it has the focus is
// the user's typing; the shell's own changes come with the focus in the tree. OK on a typed path
// resolves it, offers to create it, and keeps the dialog open unless it is taken; otherwise OK
// takes the selected folder's path.
LRESULT CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR data) {
  auto& state = *reinterpret_cast<ChooserState*>(data);
  const HWND field = nameField(dialog);
  if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && field != nullptr &&
      reinterpret_cast<HWND>(lParam) == field) {
    state.typed = ::GetFocus() == field;
  } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK && state.typed) {
    const std::string typed = field != nullptr ? textOf(field) : std::string();
    if (!typed.empty() && typed != state.shown && !takeTyped(state, typed)) return 0;  // open
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
      state.typed = false;  // the shell puts the selection's name into the field
      return 0;
    case BFFM_VALIDATEFAILEDW: {
      // A name the shell does not know: ours to resolve, create and accept when the user typed
      // it; the selection's display name is the selection.
      if (!state.typed) {
        state.chosen = state.shown;
        return 0;
      }
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
