#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace ravdel {

// The modal "Select Directory" chooser: the shell's folder dialog with a name field, started in
// the process's current directory. The chosen path with a trailing separator, or nothing on
// Cancel. Main thread, inside COM's single-threaded apartment.
std::optional<std::string> chooseDirectory(HWND owner);

}  // namespace ravdel
