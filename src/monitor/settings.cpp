#include "monitor/settings.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "monitor/ini_file.h"
#include "platform/files.h"

namespace ravdel {
namespace {

constexpr std::string_view kSection = "Settings";
constexpr std::string_view kDetectionSection = "Detection";

// The detection keys: each with its field and the values it takes; 0..1 is a switch.
struct DetectionKey {
  std::string_view name;
  std::int32_t DetectionSettings::*integer;
  bool DetectionSettings::*flag;
  std::int32_t least;
  std::int32_t most;
};
constexpr DetectionKey kDetectionKeys[] = {
    {"hot-pixel-mask", nullptr, &DetectionSettings::hotPixelMask, 0, 1},
    {"light-leak-guard", nullptr, &DetectionSettings::lightLeakGuard, 0, 1},
    {"leak-level", &DetectionSettings::leakLevel, nullptr, kLeakLevelRange.least,
     kLeakLevelRange.most},
    {"clusters", nullptr, &DetectionSettings::clusters, 0, 1},
    {"cluster-level", &DetectionSettings::clusterLevel, nullptr, kClusterLevelRange.least,
     kClusterLevelRange.most},
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Optional sign, then decimal digits within 32 bits, or "$" and up to eight significant
// hexadecimal digits, which fill the 32 bits as they are ("$FFFFFFFF" is -1).
std::optional<std::int32_t> convertInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint32_t magnitude = 0;
  if (text.starts_with('$')) {
    text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
      const int digit = hexDigit(c);
      if (digit < 0 || magnitude > 0x0FFFFFFFu) return std::nullopt;
      magnitude = magnitude << 4 | static_cast<std::uint32_t>(digit);
    }
  } else {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
      if (value > (negative ? 0x80000000u : 0x7FFFFFFFu)) return std::nullopt;
    }
    magnitude = static_cast<std::uint32_t>(value);
  }
  return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

std::int32_t readInteger(const std::string& path, std::string_view key, std::int32_t fallback,
                         std::string_view section = kSection) {
  std::string text = readIniValue(path, section, key, "");
  // Hexadecimal written the C way ("0x64") is taken as the "$" form.
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.replace(0, 2, "$");
  }
  return convertInteger(text).value_or(fallback);
}

bool readBoolean(const std::string& path, std::string_view key, bool fallback) {
  return readInteger(path, key, fallback ? 1 : 0) != 0;
}

void writeKey(const std::string& path, std::string_view key, std::string_view value,
              std::string_view section = kSection) {
  if (!writeIniValue(path, section, key, value)) {
    throw SettingsWriteError("Unable to write to " + path);
  }
}

// A fresh account may not have the settings folder yet. A folder that cannot be made shows as
// the first key's failure.
void makeSettingsFolder(const std::string& path) {
  const std::filesystem::path folder = pathFromUtf8(path).parent_path();
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
  }
}

}  // namespace

DetectionSettings LoadDetectionSettings(const std::string& path) {
  DetectionSettings settings;
  for (const DetectionKey& key : kDetectionKeys) {
    const std::int32_t fallback = key.flag ? (settings.*key.flag ? 1 : 0) : settings.*key.integer;
    std::int32_t value = readInteger(path, key.name, fallback, kDetectionSection);
    if (value < key.least || value > key.most) value = fallback;
    if (key.flag) {
      settings.*key.flag = value != 0;
    } else {
      settings.*key.integer = value;
    }
  }
  return settings;
}

void SaveDetectionSettings(const std::string& path, const DetectionSettings& settings) {
  makeSettingsFolder(path);
  for (const DetectionKey& key : kDetectionKeys) {
    const std::int32_t value = key.flag ? (settings.*key.flag ? 1 : 0) : settings.*key.integer;
    writeKey(path, key.name, std::to_string(value), kDetectionSection);
  }
}

Settings LoadSettings(const std::string& path, const std::string& defaultDirectory) {
  Settings settings;
  settings.sound = readBoolean(path, "Sound", false);
  settings.inverse = readBoolean(path, "Inverse", false);
  settings.gray = readBoolean(path, "Gray", false);
  // The up-down position holds 16 bits: a larger stored value keeps its low 16 bits, signed.
  settings.limit = static_cast<std::int16_t>(readInteger(path, "Limit", 150));
  settings.directory =
      withTrailingSeparator(readIniValue(path, kSection, "Directory", defaultDirectory));
  settings.cam = readInteger(path, "Cam", 0);
  return settings;
}

void SaveSettings(const std::string& path, const Settings& settings) {
  makeSettingsFolder(path);
  writeKey(path, "Limit", std::to_string(settings.limit));
  writeKey(path, "Sound", settings.sound ? "1" : "0");
  writeKey(path, "Inverse", settings.inverse ? "1" : "0");
  writeKey(path, "Gray", settings.gray ? "1" : "0");
  writeKey(path, "Directory", settings.directory);
  writeKey(path, "Cam", std::to_string(settings.cam));
}

std::string withTrailingSeparator(std::string path) {
  // '/' or the platform's own ('\\' on Windows, which takes both).
  constexpr auto kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (!path.empty() && path.back() != '/' && path.back() != kSeparator) path += kSeparator;
  return path;
}

std::string directoryLabel(std::string_view text) {
  constexpr std::size_t kShown = 25;
  // Characters, not bytes: a UTF-8 path must not be cut inside a character.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == kShown) return std::string(text.substr(0, i)) + "...";
    ++characters;
  }
  return std::string(text);
}

std::string SettingsPath() {
  return settingsFolder() + "RVD.ini";
}

}  // namespace ravdel
