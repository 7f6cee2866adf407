#pragma once

#include <string>

namespace ravdel {

// The variable's value; empty when it is not set or empty.
std::string ReadEnvironmentVariable(const std::string& name);

// The folder of the user's settings, ending with a separator: APPDATA when set, else
// XDG_CONFIG_HOME when absolute, else $HOME/.config. On Windows APPDATA alone; unset, it gives
// "\", the root folder of the current drive.
std::string settingsFolder();

}  // namespace ravdel
