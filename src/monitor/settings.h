#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "detection/clusters.h"
#include "detection/event_limit.h"
#include "detection/light_leak_guard.h"
#include "platform/environment.h"

namespace ravdel {

// Which programs read a setting: the desktop windows (from the file), ravdel-monitor (from the
// file and as a flag of the same name) and ravdel-analyse (as a flag only).
enum SettingReaders : std::uint8_t {
  kReadByWindows = 1,
  kReadByMonitor = 2,
  kReadByAnalyse = 4,
};

enum class SettingKind { flag, number, text };

// One key of the settings file. A number outside least..most reads as its default, except
// where a section's reader says otherwise (the old keys of [Settings] are taken as stored).
struct SettingKey {
  std::string_view section;
  std::string_view name;
  SettingKind kind = SettingKind::number;
  std::int32_t fallback = 0;  // a switch's or a number's default (a switch: 0 or 1)
  std::int32_t least = 0;
  std::int32_t most = 1;
  std::uint8_t readers = kReadByWindows;
  std::string_view flag;          // the command line's "--flag", where it has one
  std::int32_t step = 1;          // the window's control moves by this much
  std::int32_t flagLeast = 0;     // a flag may take more than the window's control offers
  std::string_view textFallback;  // a text's default

  constexpr SettingKey stepping(std::int32_t by) const {
    SettingKey key = *this;
    key.step = by;
    return key;
  }
  constexpr SettingKey flagFrom(std::int32_t value) const {
    SettingKey key = *this;
    key.flagLeast = value;
    return key;
  }
};

constexpr SettingKey switchKey(std::string_view section, std::string_view name,
                               std::uint8_t readers, std::string_view flag = {}) {
  return {section, name, SettingKind::flag, 0, 0, 1, readers, flag, 1, 0, {}};
}
constexpr SettingKey numberKey(std::string_view section, std::string_view name,
                               std::int32_t fallback, std::int32_t least, std::int32_t most,
                               std::uint8_t readers, std::string_view flag = {}) {
  return {section, name, SettingKind::number, fallback, least, most, readers, flag, 1, least, {}};
}
constexpr SettingKey textKey(std::string_view section, std::string_view name, std::uint8_t readers,
                             std::string_view flag = {}, std::string_view fallback = {}) {
  return {section, name, SettingKind::text, 0, 0, 0, readers, flag, 1, 0, fallback};
}

// Every key the programs read, section by section. The readers and writers, the windows'
// controls and dialogs and the command lines all take names, defaults and ranges from here.
namespace setting {
inline constexpr std::uint8_t kEveryProgram = kReadByWindows | kReadByMonitor | kReadByAnalyse;

inline constexpr SettingKey sound = switchKey("Settings", "Sound", kReadByWindows);
inline constexpr SettingKey inverse = switchKey("Settings", "Inverse", kEveryProgram, "inverse");
inline constexpr SettingKey gray = switchKey("Settings", "Gray", kEveryProgram, "gray");
// The window's limit control runs from 5 to 255 in steps of 5; a flag takes any byte.
inline constexpr SettingKey limit =
    numberKey("Settings", "Limit", kDefaultLimit, 5, 255, kEveryProgram, "limit")
        .stepping(5)
        .flagFrom(0);
inline constexpr SettingKey directory =
    textKey("Settings", "Directory", kReadByWindows | kReadByMonitor, "out");
// The camera's list position; -1 when none was selected.
inline constexpr SettingKey cam =
    numberKey("Settings", "Cam", 0, -1, 0x7FFFFFFF, kReadByWindows | kReadByMonitor);

inline constexpr SettingKey hotPixelMask =
    switchKey("Detection", "hot-pixel-mask", kReadByWindows | kReadByMonitor, "hot-pixel-mask");
inline constexpr SettingKey lightLeakGuard =
    switchKey("Detection", "light-leak-guard", kEveryProgram, "light-leak-guard");
// The frame's mean pixel magnitude above which light leaks through the tape.
inline constexpr SettingKey leakLevel = numberKey(
    "Detection", "leak-level", static_cast<std::int32_t>(LightLeakGuard::Settings{}.level), 1, 255,
    kEveryProgram, "leak-level");
inline constexpr SettingKey clusters =
    switchKey("Detection", "clusters", kEveryProgram, "clusters");
// A cluster pixel's level; below the least limit a flag takes, so a cluster can hold its peak.
inline constexpr SettingKey clusterLevel = numberKey(
    "Detection", "cluster-level", ClusterSettings{}.level, 1, 254, kEveryProgram, "cluster-level");

// The station network: where events go beyond this machine, and the station's own history.
inline constexpr std::uint8_t kStationPrograms = kReadByWindows | kReadByMonitor;
// HOST or HOST:PORT of the broker; empty: no network.
inline constexpr SettingKey server = textKey("Network", "server", kStationPrograms, "server");
inline constexpr SettingKey station = textKey("Network", "station", kStationPrograms, "station");
// A file holding the station's password on its first line.
inline constexpr SettingKey passwordFile =
    textKey("Network", "password-file", kStationPrograms, "password-file");
// The certificate authority of the broker's TLS certificate; empty: no TLS.
inline constexpr SettingKey tlsCa = textKey("Network", "tls-ca", kStationPrograms, "tls-ca");
// "LAT,LON" in degrees, optional; stored coarsened to 0.01 degrees.
inline constexpr SettingKey location = textKey("Network", "location", kStationPrograms, "location");
// Every event and minute kept in the station's own store; always so with a server.
inline constexpr SettingKey history = switchKey("Network", "history", kStationPrograms, "history");
// The clock's error bound where the system does not know it.
inline constexpr SettingKey clockErrorMs =
    numberKey("Network", "clock-error-ms", 100, 1, 60000, kStationPrograms, "clock-error-ms");
// How long and how much of the history is kept; rows not yet delivered are never dropped.
inline constexpr SettingKey keepDays =
    numberKey("Network", "keep-days", 365, 1, 36500, kStationPrograms, "keep-days");
inline constexpr SettingKey keepMb =
    numberKey("Network", "keep-mb", 1024, 1, 1048576, kStationPrograms, "keep-mb");
}  // namespace setting

// The six settings kept in the settings file, section "Settings".
struct Settings {
  bool sound = setting::sound.fallback != 0;
  bool inverse = setting::inverse.fallback != 0;
  bool gray = setting::gray.fallback != 0;
  // The limit's up-down position, taken as stored, even outside its range.
  std::int16_t limit = setting::limit.fallback;
  std::string directory;  // OutputDirectory: ends with '/' unless empty
  std::int32_t cam = setting::cam.fallback;

  bool operator==(const Settings&) const = default;
};

// The detection options, section "Detection", which versions before them never read. Each
// key is also a flag of ravdel-monitor (and most of ravdel-analyse) under the same name.
struct DetectionSettings {
  bool hotPixelMask = setting::hotPixelMask.fallback != 0;
  bool lightLeakGuard = setting::lightLeakGuard.fallback != 0;
  std::int32_t leakLevel = setting::leakLevel.fallback;
  bool clusters = setting::clusters.fallback != 0;
  std::int32_t clusterLevel = setting::clusterLevel.fallback;

  bool operator==(const DetectionSettings&) const = default;
};

// The station network, section "Network".
struct NetworkSettings {
  std::string server;
  std::string station;
  std::string passwordFile;
  std::string tlsCa;
  std::string location;
  bool history = setting::history.fallback != 0;
  std::int32_t clockErrorMs = setting::clockErrorMs.fallback;
  std::int32_t keepDays = setting::keepDays.fallback;
  std::int32_t keepMb = setting::keepMb.fallback;

  bool operator==(const NetworkSettings&) const = default;
  // Events leave the machine.
  bool networked() const { return !server.empty(); }
  // The station keeps its own store: asked for, or needed to send from.
  bool keepsHistory() const { return history || networked(); }
};

// Every key of the table above, section by section.
std::span<const SettingKey* const> settingKeys();

// "5..255 (default 150)": a number's values as a usage text gives them.
std::string rangeText(const SettingKey& key, bool asFlag = false);
// A usage text with each "{flag}" of a number key replaced by its values as a flag takes them.
std::string withFlagRanges(std::string usage);

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

// As the detection options: missing keys and numbers outside their range give the default.
NetworkSettings LoadNetworkSettings(const std::string& path);
void SaveNetworkSettings(const std::string& path, const NetworkSettings& settings);

// The limit control's position as the windows' control takes it: pulled into 5..255.
std::int32_t limitInRange(std::int32_t position);

// What a program could not use of the settings file at `path`, one line each, naming the file,
// the key and what the program uses instead: a file that cannot be read, lines that are not
// settings, a value that is no number, is out of range or too long. Only keys that `reader`
// reads count, and not those in `given` (the command line gave them). A missing file is no
// fault: every key then has its default.
std::vector<std::string> settingsWarnings(const std::string& path, SettingReaders reader,
                                          std::span<const SettingKey* const> given = {});

// Makes the folder of a settings file, or of a file kept beside it, when it is missing (a
// fresh account may not have one yet). A folder that cannot be made shows when the file is
// written.
void makeSettingsFolder(const std::string& path);

// Event images are named by appending the file name to the directory, so a non-empty directory
// gets a trailing '/'. Empty stays empty: images then go to the current directory.
std::string withTrailingSeparator(std::string path);

// The directory label's text: whole up to 25 characters, else the first 25 and "...".
std::string directoryLabel(std::string_view text);

}  // namespace ravdel
