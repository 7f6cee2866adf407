#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace ravdel {

// What the chooser asks and tells the user; message boxes in the program, answers in tests.
struct ChooserPrompts {
  // "The specified directory does not exist. Create it?": true for Yes.
  std::function<bool()> confirmCreate;
  // A directory that cannot be made, or a file in the way; the chooser stays open.
  std::function<void(const std::string&)> warn;
};

// The OK of the chooser on a typed path: relative to the folder shown, a missing directory made
// with its parents once the user agrees. The chosen absolute path, or nothing when the chooser
// stays open (No, a file of that name, a directory that cannot be made).
std::optional<std::string> acceptTypedDirectory(const std::string& shown, const std::string& typed,
                                                const ChooserPrompts& prompts);

// The modal "Select Directory" chooser: the shell's folder dialog with a name field, started in
// the process's current directory. The chosen path with a trailing separator, or nothing on
// Cancel. Main thread, inside COM's single-threaded apartment.
std::optional<std::string> chooseDirectory(HWND owner);

}  // namespace ravdel
