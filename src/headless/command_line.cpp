#include "headless/command_line.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "base/fourcc.h"
#include "monitor/settings.h"

namespace ravdel {
namespace {

constexpr const char* kUsage = R"(Usage: ravdel-monitor [OPTIONS]
       ravdel-monitor --list

Counts particle hits on a camera whose lens is taped over, without a screen: a frame whose
brightest pixel has a channel above the limit is an event, stored as a PNG picture named
after its moment (yymmddhhnnsszzz.png, local time). Runs until SIGTERM or SIGINT; SIGHUP
reopens the event log. Options left out keep what the settings file says (the desktop
program's RVD.ini, sections [Settings] and [Detection]); the settings file is never written.

  --list              print the cameras and their format tables, then exit
  --camera NAME|#N    the camera by name or 1-based position (default: the settings')
  --format N|WxH[/FOURCC]
                      entry N (from 0) of the camera's format table, or a size with an
                      optional code (RGB, YUY2, MJPG, ...); default: the table's last entry
  --limit N           a channel above N makes an event, {limit}
  --gray              store the pictures grey
  --inverse           store the pictures inverted
  --hot-pixel-mask    calibrate a mask of hot pixels on the first 90 frames (no events
                      then) and leave masked pixels out of the peak search; a pixel that
                      is the peak of 3 events within 60 s joins the mask
  --light-leak-guard  pause counting while the frame's mean magnitude stays above the
                      leak level for a second, until it has been below for two seconds
  --leak-level N      the light-leak guard's level, {leak-level}
  --clusters          add each event frame's clusters (connected pixels above the
                      cluster level around pixels above the limit) to its JSON line
  --cluster-level N   a cluster pixel has a channel above N, {cluster-level}
  --server HOST[:PORT] send each event and minute to the station network's broker (port
                      1883, or 8883 with --tls-ca); they are kept in the station's store
                      beside the settings file until the server has stored them
  --station NAME      the station's name, its account at the broker
  --password-file FILE
                      the station's password, the file's first line
  --tls-ca FILE       connect with TLS, checking the broker's certificate and host name
                      against this certificate authority
  --location LAT,LON  where the station is, in degrees (kept to 0.01 degrees)
  --history           keep every event and minute in the station's own store (the
                      settings' history), also without a server
  --clock-error-ms N  the clock's error bound where the system does not say it, {clock-error-ms}
  --keep-days N       the store keeps what was delivered this many days, {keep-days}
  --keep-mb N         ... and at most this many megabytes, {keep-mb}
  --out DIR           the folder of the pictures, created when missing (default: the
                      settings' folder, else the current folder)
  --events FILE       append one JSON line per event to FILE
  --settings FILE     read the settings from FILE instead of RVD.ini
  --duration SECONDS  stop after this many seconds
  --max-events N      stop after N events
  --quiet             no status or event lines on stderr (errors still)
  --json              also print each event's JSON line on stdout
  --help              show this text

Exit status: 0 when monitoring ran until it was stopped (signal, --duration, --max-events);
1 when it could not start (no such camera or format, the camera cannot be opened) or the
lens is not covered; 2 for a usage error.
)";

// The longest --duration: loop timers count milliseconds in an int.
constexpr double kMaxSeconds = 2000000;

std::optional<std::int64_t> integerIn(std::string_view text, std::int64_t min, std::int64_t max) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < min || value > max) return std::nullopt;
  return value;
}

// "--limit: '300' is not a number from 0 to 255".
[[noreturn]] void reject(std::string_view option, std::string_view text, std::string_view what) {
  throw UsageError(std::string(option) + ": '" + std::string(text) + "' is not " +
                   std::string(what));
}

std::int64_t integerOption(std::string_view option, std::string_view text, std::int64_t min,
                           std::int64_t max) {
  const auto value = integerIn(text, min, max);
  if (!value) {
    reject(option, text, "a number from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return *value;
}

// A number of the settings file's, with the values its key takes as a flag.
std::int32_t settingOption(std::string_view option, std::string_view text, const SettingKey& key) {
  return static_cast<std::int32_t>(integerOption(option, text, key.flagLeast, key.most));
}

std::chrono::milliseconds durationOption(std::string_view option, std::string_view text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, seconds);
  // Written so that NaN fails too.
  if (error != std::errc() || stop != end || !(seconds >= 0.001 && seconds <= kMaxSeconds)) {
    reject(option, text, "a number of seconds from 0.001 to 2000000");
  }
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// "N" (a table entry), "WxH" or "WxH/FOURCC".
FormatChoice formatOption(std::string_view option, std::string_view text) {
  constexpr std::string_view kWhat = "a table entry (0, 1, ...) or WxH[/FOURCC]";
  constexpr std::int64_t kMaxSide = 65535;
  FormatChoice choice;
  if (const auto index = integerIn(text, 0, kMaxSide)) {
    choice.kind = FormatChoice::Kind::index;
    choice.index = static_cast<std::int32_t>(*index);
    return choice;
  }
  const std::size_t slash = text.find('/');
  const std::string_view size = text.substr(0, slash);
  const std::size_t x = size.find('x');
  if (x == std::string_view::npos) reject(option, text, kWhat);
  const auto width = integerIn(size.substr(0, x), 1, kMaxSide);
  const auto height = integerIn(size.substr(x + 1), 1, kMaxSide);
  if (!width || !height) reject(option, text, kWhat);
  choice.kind = FormatChoice::Kind::size;
  choice.width = static_cast<std::int32_t>(*width);
  choice.height = static_cast<std::int32_t>(*height);
  if (slash != std::string_view::npos) {
    std::uint32_t code = 0;
    if (!parseFourCC(std::string(text.substr(slash + 1)), code)) reject(option, text, kWhat);
    choice.fourcc = code;
  }
  return choice;
}

}  // namespace

DetectionSettings detectionOptions(const HeadlessOptions& options, DetectionSettings settings) {
  settings.hotPixelMask = settings.hotPixelMask || options.hotPixelMask;
  settings.lightLeakGuard = settings.lightLeakGuard || options.lightLeakGuard;
  settings.clusters = settings.clusters || options.clusters;
  settings.leakLevel = options.leakLevel.value_or(settings.leakLevel);
  settings.clusterLevel = options.clusterLevel.value_or(settings.clusterLevel);
  return settings;
}

NetworkSettings networkOptions(const HeadlessOptions& options, NetworkSettings settings) {
  settings.server = options.server.value_or(settings.server);
  settings.station = options.station.value_or(settings.station);
  settings.passwordFile = options.passwordFile.value_or(settings.passwordFile);
  settings.tlsCa = options.tlsCa.value_or(settings.tlsCa);
  settings.location = options.location.value_or(settings.location);
  settings.history = settings.history || options.history;
  settings.clockErrorMs = options.clockErrorMs.value_or(settings.clockErrorMs);
  settings.keepDays = options.keepDays.value_or(settings.keepDays);
  settings.keepMb = options.keepMb.value_or(settings.keepMb);
  return settings;
}

std::string usageText() {
  return withFlagRanges(kUsage);
}

HeadlessOptions parseCommandLine(const std::vector<std::string>& arguments) {
  HeadlessOptions o;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.empty() || argument[0] != '-') {
      throw UsageError("'" + argument + "': unexpected argument");
    }
    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (const auto eq = argument.find('='); eq != std::string::npos) {
      name = argument.substr(0, eq);
      inlineValue = argument.substr(eq + 1);
    }
    const auto value = [&]() -> std::string {
      if (!inlineValue && i + 1 < arguments.size()) inlineValue = arguments[++i];
      if (!inlineValue || inlineValue->empty()) throw UsageError(name + ": needs a value");
      return *inlineValue;
    };
    const auto flag = [&](bool& target) {
      if (inlineValue) throw UsageError(name + ": takes no value");
      target = true;
    };

    if (name == "--help" || name == "-h") {
      flag(o.help);
      return o;
    }
    if (name == "--list") {
      flag(o.list);
    } else if (name == "--camera") {
      o.camera = value();
    } else if (name == "--format") {
      o.format = formatOption(name, value());
    } else if (name == "--limit") {
      o.limit = settingOption(name, value(), setting::limit);
    } else if (name == "--gray") {
      flag(o.gray);
    } else if (name == "--inverse") {
      flag(o.inverse);
    } else if (name == "--hot-pixel-mask") {
      flag(o.hotPixelMask);
    } else if (name == "--light-leak-guard") {
      flag(o.lightLeakGuard);
    } else if (name == "--leak-level") {
      o.leakLevel = settingOption(name, value(), setting::leakLevel);
    } else if (name == "--clusters") {
      flag(o.clusters);
    } else if (name == "--cluster-level") {
      o.clusterLevel = settingOption(name, value(), setting::clusterLevel);
    } else if (name == "--server") {
      o.server = value();
    } else if (name == "--station") {
      o.station = value();
    } else if (name == "--password-file") {
      o.passwordFile = value();
    } else if (name == "--tls-ca") {
      o.tlsCa = value();
    } else if (name == "--location") {
      o.location = value();
    } else if (name == "--history") {
      flag(o.history);
    } else if (name == "--clock-error-ms") {
      o.clockErrorMs = settingOption(name, value(), setting::clockErrorMs);
    } else if (name == "--keep-days") {
      o.keepDays = settingOption(name, value(), setting::keepDays);
    } else if (name == "--keep-mb") {
      o.keepMb = settingOption(name, value(), setting::keepMb);
    } else if (name == "--out") {
      o.outDirectory = value();
    } else if (name == "--events") {
      o.eventLog = value();
    } else if (name == "--settings") {
      o.settingsPath = value();
    } else if (name == "--duration") {
      o.duration = durationOption(name, value());
    } else if (name == "--max-events") {
      o.maxEvents = static_cast<std::int32_t>(
          integerOption(name, value(), 1, std::numeric_limits<std::int32_t>::max()));
    } else if (name == "--quiet") {
      flag(o.quiet);
    } else if (name == "--json") {
      flag(o.json);
    } else {
      throw UsageError(name + ": unknown option");
    }
  }
  return o;
}

}  // namespace ravdel
