#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "monitor/monitor.h"

namespace ravdel {

// What ravdel-monitor was asked to do. Options left out keep what the settings file says.
struct HeadlessOptions {
  bool help = false;
  bool list = false;
  std::optional<std::string> camera;  // a name or "#" and a 1-based position
  FormatChoice format;
  std::optional<std::int32_t> limit;
  bool gray = false;  // only turns the option on: off leaves the settings' choice
  bool inverse = false;
  // Detection options: a switch only turns its option on; a level replaces the settings'.
  bool hotPixelMask = false;
  bool lightLeakGuard = false;
  std::optional<std::int32_t> leakLevel;
  bool clusters = false;
  std::optional<std::int32_t> clusterLevel;
  // The station network: each given one replaces the settings' key of the same name.
  std::optional<std::string> server, station, passwordFile, tlsCa, location;
  bool history = false;  // only turns the history on
  std::optional<std::int32_t> clockErrorMs, keepDays, keepMb;
  std::optional<std::string> outDirectory;
  std::optional<std::string> eventLog;
  std::optional<std::string> settingsPath;
  std::optional<std::chrono::milliseconds> duration;
  std::optional<std::int32_t> maxEvents;
  bool quiet = false;
  bool json = false;
};

// A command line that cannot be followed; what() names the option at fault.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The arguments after the program's name; "--name value" and "--name=value" both work, and a
// later option overrides an earlier one. Throws UsageError.
HeadlessOptions parseCommandLine(const std::vector<std::string>& arguments);

// The settings file's detection options with the command line's put over them.
DetectionSettings detectionOptions(const HeadlessOptions& options, DetectionSettings settings);
// The same for the station network.
NetworkSettings networkOptions(const HeadlessOptions& options, NetworkSettings settings);

// The --help text.
std::string usageText();

}  // namespace ravdel
