#include "monitor/settings.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include "monitor/ini_file.h"
#include "platform/files.h"

namespace ravdel {
namespace {

// A key of a section and the field of the section's settings that holds it.
template <typename Section>
struct Field {
  const SettingKey* key;
  bool Section::*flag = nullptr;
  std::int32_t Section::*number = nullptr;
};

template <typename Section>
struct TextField {
  const SettingKey* key;
  std::string Section::*text;
};

constexpr const SettingKey* kAllKeys[] = {
    &setting::sound,     &setting::inverse,      &setting::gray,         &setting::limit,
    &setting::directory, &setting::cam,          &setting::hotPixelMask, &setting::lightLeakGuard,
    &setting::leakLevel, &setting::clusters,     &setting::clusterLevel, &setting::server,
    &setting::station,   &setting::passwordFile, &setting::tlsCa,        &setting::location,
    &setting::history,   &setting::clockErrorMs, &setting::keepDays,     &setting::keepMb,
};

constexpr Field<DetectionSettings> kDetectionFields[] = {
    {&setting::hotPixelMask, &DetectionSettings::hotPixelMask},
    {&setting::lightLeakGuard, &DetectionSettings::lightLeakGuard},
    {&setting::leakLevel, nullptr, &DetectionSettings::leakLevel},
    {&setting::clusters, &DetectionSettings::clusters},
    {&setting::clusterLevel, nullptr, &DetectionSettings::clusterLevel},
};

constexpr TextField<NetworkSettings> kNetworkTexts[] = {
    {&setting::server, &NetworkSettings::server},
    {&setting::station, &NetworkSettings::station},
    {&setting::passwordFile, &NetworkSettings::passwordFile},
    {&setting::tlsCa, &NetworkSettings::tlsCa},
    {&setting::location, &NetworkSettings::location},
};

constexpr Field<NetworkSettings> kNetworkFields[] = {
    {&setting::history, &NetworkSettings::history},
    {&setting::clockErrorMs, nullptr, &NetworkSettings::clockErrorMs},
    {&setting::keepDays, nullptr, &NetworkSettings::keepDays},
    {&setting::keepMb, nullptr, &NetworkSettings::keepMb},
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

// A value's integer; hexadecimal written the C way ("0x64") is taken as the "$" form.
std::optional<std::int32_t> integerOf(std::string text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.replace(0, 2, "$");
  }
  return convertInteger(text);
}

// The key's integer as stored, or its default when it is missing or no integer.
std::int32_t readInteger(const std::string& path, const SettingKey& key) {
  return integerOf(readIniValue(path, key.section, key.name, "")).value_or(key.fallback);
}

// The key's value within its range, else its default.
std::int32_t readRanged(const std::string& path, const SettingKey& key) {
  const std::int32_t value = readInteger(path, key);
  return value < key.least || value > key.most ? key.fallback : value;
}

bool readBoolean(const std::string& path, const SettingKey& key) {
  return readInteger(path, key) != 0;
}

void writeKey(const std::string& path, const SettingKey& key, std::string_view value) {
  if (!writeIniValue(path, key.section, key.name, value)) {
    throw SettingsWriteError("Unable to write to " + path);
  }
}

template <typename Section>
Section loadSection(const std::string& path, std::span<const Field<Section>> fields,
                    std::span<const TextField<Section>> texts = {}) {
  Section settings;
  for (const TextField<Section>& field : texts) {
    const SettingKey& key = *field.key;
    settings.*field.text = readIniValue(path, key.section, key.name, key.textFallback);
  }
  for (const Field<Section>& field : fields) {
    const std::int32_t value = readRanged(path, *field.key);
    if (field.flag) {
      settings.*field.flag = value != 0;
    } else {
      settings.*field.number = value;
    }
  }
  return settings;
}

template <typename Section>
void saveSection(const std::string& path, const Section& settings,
                 std::span<const Field<Section>> fields,
                 std::span<const TextField<Section>> texts = {}) {
  for (const TextField<Section>& field : texts)
    writeKey(path, *field.key, settings.*field.text);
  for (const Field<Section>& field : fields) {
    const std::int32_t value = field.flag ? (settings.*field.flag ? 1 : 0) : settings.*field.number;
    writeKey(path, *field.key, std::to_string(value));
  }
}

// A value as a warning shows it: a long one cut short.
std::string shownValue(std::string_view value) {
  constexpr std::size_t kShown = 24;
  return value.size() <= kShown ? std::string(value) : std::string(value.substr(0, kShown)) + "...";
}

// The number the program uses for `key`, read as its loader reads it: the old keys of
// [Settings] are taken as stored, except that the limit control pulls the limit into range.
std::int32_t usedNumber(const std::string& path, const SettingKey& key) {
  if (&key == &setting::limit) {
    return limitInRange(static_cast<std::int16_t>(readInteger(path, setting::limit)));
  }
  return key.section == setting::limit.section ? readInteger(path, key) : readRanged(path, key);
}

// Why the program cannot use `value` of `key` as it stands; nothing when it can.
std::optional<std::string> valueFault(const std::string& path, const SettingKey& key,
                                      const std::string& value) {
  const std::string named = "[" + std::string(key.section) + "] " + std::string(key.name);
  if (key.kind == SettingKind::text) {
    if (value.size() < kIniBufferSize) return std::nullopt;
    return named + " is " + std::to_string(value.size()) + " characters long; using its first " +
           std::to_string(kIniBufferSize - 1);
  }
  const std::optional<std::int32_t> stored = integerOf(value);
  const std::int32_t used = usedNumber(path, key);
  const std::string entry = named + "=" + shownValue(value);
  if (!stored) return entry + " is not a number; using " + std::to_string(used);
  if (*stored == used) return std::nullopt;
  return entry + " is outside " + std::to_string(key.least) + ".." + std::to_string(key.most) +
         "; using " + std::to_string(used);
}

}  // namespace

void makeSettingsFolder(const std::string& path) {
  const std::filesystem::path folder = pathFromUtf8(path).parent_path();
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
  }
}

std::int32_t limitInRange(std::int32_t position) {
  return std::clamp(position, setting::limit.least, setting::limit.most);
}

std::vector<std::string> settingsWarnings(const std::string& path, SettingReaders reader,
                                          std::span<const SettingKey* const> given) {
  const std::string file = "Settings file " + path + ": ";
  std::string bytes;
  std::string why;
  switch (readWholeFile(path, bytes, &why)) {
    case FileRead::missing:
      return {};
    case FileRead::failed:
      return {file + "cannot be read (" + why + "); using the defaults"};
    case FileRead::ok:
      break;
  }
  std::vector<std::string> warnings;
  if (const std::size_t ignored = iniLinesNotSettings(bytes); ignored > 0) {
    warnings.push_back(file + std::to_string(ignored) + (ignored == 1 ? " line is" : " lines are") +
                       " not a setting (key=value under a [section]) and ignored");
  }
  for (const SettingKey* key : kAllKeys) {
    if ((key->readers & reader) == 0 || std::find(given.begin(), given.end(), key) != given.end())
      continue;
    const std::optional<std::string> value = findIniValue(bytes, key->section, key->name);
    if (!value) continue;
    if (const auto fault = valueFault(path, *key, *value)) warnings.push_back(file + *fault);
  }
  return warnings;
}

std::string rangeText(const SettingKey& key, bool asFlag) {
  return std::to_string(asFlag ? key.flagLeast : key.least) + ".." + std::to_string(key.most) +
         " (default " + std::to_string(key.fallback) + ")";
}

std::span<const SettingKey* const> settingKeys() {
  return kAllKeys;
}

std::string withFlagRanges(std::string usage) {
  for (const SettingKey* key : kAllKeys) {
    if (key->kind != SettingKind::number || key->flag.empty()) continue;
    const std::string mark = "{" + std::string(key->flag) + "}";
    for (auto at = usage.find(mark); at != std::string::npos; at = usage.find(mark, at)) {
      usage.replace(at, mark.size(), rangeText(*key, true));
    }
  }
  return usage;
}

DetectionSettings LoadDetectionSettings(const std::string& path) {
  return loadSection<DetectionSettings>(path, kDetectionFields);
}

void SaveDetectionSettings(const std::string& path, const DetectionSettings& settings) {
  makeSettingsFolder(path);
  saveSection<DetectionSettings>(path, settings, kDetectionFields);
}

NetworkSettings LoadNetworkSettings(const std::string& path) {
  return loadSection<NetworkSettings>(path, kNetworkFields, kNetworkTexts);
}

void SaveNetworkSettings(const std::string& path, const NetworkSettings& settings) {
  makeSettingsFolder(path);
  saveSection<NetworkSettings>(path, settings, kNetworkFields, kNetworkTexts);
}

Settings LoadSettings(const std::string& path, const std::string& defaultDirectory) {
  Settings settings;
  settings.sound = readBoolean(path, setting::sound);
  settings.inverse = readBoolean(path, setting::inverse);
  settings.gray = readBoolean(path, setting::gray);
  // The up-down position holds 16 bits: a larger stored value keeps its low 16 bits, signed.
  settings.limit = static_cast<std::int16_t>(readInteger(path, setting::limit));
  settings.directory = withTrailingSeparator(
      readIniValue(path, setting::directory.section, setting::directory.name, defaultDirectory));
  settings.cam = readInteger(path, setting::cam);
  return settings;
}

void SaveSettings(const std::string& path, const Settings& settings) {
  makeSettingsFolder(path);
  writeKey(path, setting::limit, std::to_string(settings.limit));
  writeKey(path, setting::sound, settings.sound ? "1" : "0");
  writeKey(path, setting::inverse, settings.inverse ? "1" : "0");
  writeKey(path, setting::gray, settings.gray ? "1" : "0");
  writeKey(path, setting::directory, settings.directory);
  writeKey(path, setting::cam, std::to_string(settings.cam));
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
