#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/environment.h"

namespace ravdel {

// The six settings kept in the settings file, section "Settings".
struct Settings {
  bool sound = false;
  bool inverse = false;
  bool gray = false;
  std::int16_t limit = 150;  // the limit's up-down position, taken as stored, even outside 5..255
  std::string directory;     // OutputDirectory: ends with '/' unless empty
  std::int32_t cam = 0;      // the camera's list position; -1 when none was selected

  bool operator==(const Settings&) const = default;
};

// A detection level's values; a stored value outside them reads as the default.
struct LevelRange {
  std::int32_t least;
  std::int32_t most;
};
inline constexpr LevelRange kLeakLevelRange{1, 255};
inline constexpr LevelRange kClusterLevelRange{1, 254};

// The detection options, section "Detection", which versions before them never read. Each
// key is also a flag of ravdel-monitor and ravdel-analyse under the same name.
struct DetectionSettings {
  bool hotPixelMask = false;       // hot-pixel-mask
  bool lightLeakGuard = false;     // light-leak-guard
  std::int32_t leakLevel = 20;     // leak-level: the frame's mean magnitude, 1..255
  bool clusters = false;           // clusters
  std::int32_t clusterLevel = 60;  // cluster-level: a cluster pixel's level, 1..254

  bool operator==(const DetectionSettings&) const = default;
};

// What SaveSettings throws: "Unable to write to <settings path>".
class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "RVD.ini" in the folder named by APPDATA, else by XDG_CONFIG_HOME, else in $HOME/.config.
std::string SettingsPath();

// Reads the settings file once at start-up. A missing or unreadable file, key or value gives the
// key's default; `defaultDirectory` (the program's folder) is the default of `directory`.
Settings LoadSettings(const std::string& path, const std::string& defaultDirectory);

// Writes the keys one at a time, each straight to the file, in the order Limit, Sound, Inverse,
// Gray, Directory, Cam, creating the file's folder first when it is missing. Throws
// SettingsWriteError at the first key that cannot be written; the keys after it stay as they were.
void SaveSettings(const std::string& path, const Settings& settings);

// Missing keys and values outside a key's range give the key's default.
DetectionSettings LoadDetectionSettings(const std::string& path);
// Writes every detection key as SaveSettings writes its keys (and throws as it does).
void SaveDetectionSettings(const std::string& path, const DetectionSettings& settings);

// Event images are named by appending the file name to the directory, so a non-empty directory
// gets a trailing '/'. Empty stays empty: images then go to the current directory.
std::string withTrailingSeparator(std::string path);

// The directory label's text: whole up to 25 characters, else the first 25 and "...".
std::string directoryLabel(std::string_view text);

}  // namespace ravdel
