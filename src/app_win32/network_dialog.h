#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "monitor/settings.h"

namespace ravdel {

// What OK leaves in the "Station network" dialog: the settings, and the password if one was
// typed (an empty field keeps the one the settings name).
struct NetworkChoice {
  NetworkSettings settings;
  std::optional<std::string> password;
};

// The modal dialog of the station network, opened from the tray menu: the server, the
// station's name and password, TLS, the location and the history, as in the Linux window. It
// only shows and edits; the window saves and applies the choice. Nothing on Cancel. Main
// thread.
std::optional<NetworkChoice> editNetworkOptions(HWND owner, const NetworkSettings& settings);

}  // namespace ravdel
