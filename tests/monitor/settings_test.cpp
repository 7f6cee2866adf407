#include "monitor/settings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "monitor/ini_file.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;  // "..."s keeps NUL bytes

using SettingsFileTest = test::TempDirTest;

constexpr const char* kProgramFolder = "/opt/ravdel/";

TEST_F(SettingsFileTest, LoadsValuesAndFallsBackToDefaults) {
  const Settings defaults{.directory = kProgramFolder};
  const Settings checked{.inverse = true, .gray = true, .directory = kProgramFolder};
  const Settings folder{.directory = "/data/events/", .cam = -1};
  // A folder saved without its separator gets the platform's own.
  const Settings unended{.directory = withTrailingSeparator("/data/events"), .cam = -1};
  const std::pair<std::optional<std::string>, Settings> cases[] = {
      {std::nullopt, defaults},  // no file at all
      {"[Settings]\nSound=true\nInverse=2\nGray=-1\n", checked},
      {"[Settings]\nSound=yes\nInverse=1\nGray=0x1\n", checked},
      {"[Settings]\nDirectory=/data/events\nCam=-1\n", unended},
      {"[Settings]\nDirectory=/data/events/\r\nCam=$FFFFFFFF\r\n", folder},
      {"[Settings]\nDirectory=\n", Settings{}},
      {"\x7f"
       "ELF\x02\x01\0\0\0\n\xff\xfe[\0S\0]\0\n\0\0\0"s,
       defaults},
  };
  const std::string file = path("RVD.ini");
  for (const auto& [content, expected] : cases) {
    fs::remove(file);
    if (content) write(file, *content);
    EXPECT_EQ(LoadSettings(file, kProgramFolder), expected) << content.value_or("(no file)");
  }
}

TEST_F(SettingsFileTest, LimitKeepsTheLow16BitsOfAnIntegerElseItsDefault) {
  const std::pair<const char*, int> cases[] = {
      {"0x64", 100},      {"0X64", 100},       {"$FF", 255},   {"-5", -5},    {"70000", 4464},
      {"abc", 150},       {"", 150},           {"0x", 150},    {"$", 150},    {"-", 150},
      {"-$10", -16},      {"2147483648", 150}, {"12abc", 150}, {"0x-5", 150}, {"$123456789", 150},
      {"-2147483648", 0}, {"+0065535", -1},
  };
  const std::string file = path("RVD.ini");
  for (const auto& [text, limit] : cases) {
    write(file, "[Settings]\nLimit="s + text + "\n");
    EXPECT_EQ(LoadSettings(file, "").limit, limit) << text;
  }
}

TEST_F(SettingsFileTest, AFailingKeyStopsTheSaveWithTheSettingsPath) {
  fs::create_directory(path("folder.ini"));
  write(path("cfg"), "mine");
  const struct {
    std::string file;
    Settings settings;
    const char* left;  // the file's content afterwards
  } cases[] = {
      {path("folder.ini"), {}, nullptr},
      {path("cfg/sub/RVD.ini"), {}, nullptr},  // a file stands where the folder should be
      {path("plain.ini"),
       {.directory = "/a\nCam=7/"},
       "[Settings]\nLimit=150\nSound=0\nInverse=0\nGray=0\n"},
  };
  for (const auto& c : cases) {
    try {
      SaveSettings(c.file, c.settings);
      ADD_FAILURE() << c.file << ": saved";
    } catch (const SettingsWriteError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + c.file);
    }
    if (c.left != nullptr) {
      std::string left = read(c.file);
      std::erase(left, '\r');  // the Windows INI routines end lines with CR LF
      EXPECT_EQ(left, c.left);
    }
  }
  EXPECT_EQ(read(path("cfg")), "mine");
}

// The detection keys live in a section of their own, so the [Settings] keys an older version
// reads are untouched; a value outside a key's range is its default.
TEST_F(SettingsFileTest, DetectionKeysRoundTripInTheirOwnSection) {
  const std::string file = path("RVD.ini");
  const DetectionSettings on{.hotPixelMask = true,
                             .lightLeakGuard = true,
                             .leakLevel = 35,
                             .clusters = true,
                             .clusterLevel = 90};
  write(file, "[Settings]\nLimit=200\n");
  EXPECT_EQ(LoadDetectionSettings(file), DetectionSettings{});
  SaveDetectionSettings(file, on);
  EXPECT_EQ(LoadDetectionSettings(file), on);
  EXPECT_EQ(LoadSettings(file, "").limit, 200);
  std::string text = read(file);
  std::erase(text, '\r');  // the Windows INI routines end lines with CR LF
  EXPECT_EQ(text.rfind("[Settings]\nLimit=200\n", 0), 0u) << text;

  const std::pair<const char*, DetectionSettings> cases[] = {
      {"[Detection]\nleak-level=0\ncluster-level=255\nclusters=2\n", {}},
      {"[Settings]\nclusters=1\n", {}},
      {"[Detection]\nLight-Leak-Guard=1\nleak-level=255\n",
       {.lightLeakGuard = true, .leakLevel = 255}},
  };
  for (const auto& [content, expected] : cases) {
    write(file, content);
    EXPECT_EQ(LoadDetectionSettings(file), expected) << content;
  }
}

// The table is what every reader, writer, dialog and flag takes its names and values from: a
// key twice, a default its own range rejects or a struct that starts elsewhere would split them.
// Nothing of the file is passed over in silence: each key a program reads but cannot use is
// named with what the program uses instead.
TEST_F(SettingsFileTest, WarningsNameTheFileTheKeyAndWhatIsUsedInstead) {
  const std::string digits(1 << 20, '1');
  const std::string folder(1 << 20, 'a');
  const struct {
    std::string file;
    SettingReaders reader;
    std::vector<const SettingKey*> given;
    std::vector<std::string> warnings;
  } cases[] = {
      {"[Settings]\nLimit=999\n",
       kReadByMonitor,
       {},
       {"[Settings] Limit=999 is outside 5..255; using 255"}},
      {"[Settings]\nLimit=-5\n",
       kReadByWindows,
       {},
       {"[Settings] Limit=-5 is outside 5..255; using 5"}},
      {"[Settings]\nLimit=70000\n",
       kReadByMonitor,
       {},
       {"[Settings] Limit=70000 is outside 5..255; using 255"}},
      {"[Settings]\nLimit=abc\n",
       kReadByMonitor,
       {},
       {"[Settings] Limit=abc is not a number; using 150"}},
      {"[Settings]\nLimit=0x64\nCam=-1\nGray=2\n; a comment\n# another\n\n",
       kReadByMonitor,
       {},
       {}},
      {"[Settings]\nLimit=999\n", kReadByMonitor, {&setting::limit}, {}},  // --limit given
      {"[Settings]\nSound=yes\n",
       kReadByWindows,
       {},
       {"[Settings] Sound=yes is not a number; using 0"}},
      {"[Settings]\nSound=yes\n", kReadByMonitor, {}, {}},  // no sound on a server
      {"[Detection]\nleak-level=999\nhot-pixel-mask=2\n",
       kReadByMonitor,
       {},
       {"[Detection] hot-pixel-mask=2 is outside 0..1; using 0",
        "[Detection] leak-level=999 is outside 1..255; using 20"}},
      {"[Settings]\nLimit=" + digits + "\n",
       kReadByMonitor,
       {},
       {"[Settings] Limit=111111111111111111111111... is not a number; using 150"}},
      {"[Settings]\nDirectory=" + folder + "\n",
       kReadByMonitor,
       {},
       {"[Settings] Directory is 1048576 characters long; using its first 2047"}},
      {"Limit=100\n" + digits + "\n[Settings]\n\x01\x02\0\xff\n"s,
       kReadByMonitor,
       {},
       {"3 lines are not a setting (key=value under a [section]) and ignored"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 40));
    write(path("RVD.ini"), c.file);
    std::vector<std::string> expected;
    for (const std::string& warning : c.warnings)
      expected.push_back("Settings file " + path("RVD.ini") + ": " + warning);
    EXPECT_EQ(settingsWarnings(path("RVD.ini"), c.reader, c.given), expected);
  }

  EXPECT_TRUE(settingsWarnings(path("none.ini"), kReadByMonitor).empty()) << "no file: defaults";
  fs::create_directory(path("folder.ini"));
  const std::vector<std::string> folderWarnings =
      settingsWarnings(path("folder.ini"), kReadByMonitor);
  ASSERT_EQ(folderWarnings.size(), 1u);
  EXPECT_EQ(
      folderWarnings[0].rfind("Settings file " + path("folder.ini") + ": cannot be read (", 0), 0u)
      << folderWarnings[0];
  EXPECT_TRUE(folderWarnings[0].ends_with("); using the defaults")) << folderWarnings[0];
}

TEST(SettingsTableTest, KeysAreUniqueAndTheirDefaultsAreTheStructsAndInRange) {
  std::set<std::pair<std::string_view, std::string>> seen;
  for (const SettingKey* key : settingKeys()) {
    std::string lower(key->name);
    for (char& c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(seen.insert({key->section, lower}).second) << key->name;
    if (key->kind == SettingKind::text) continue;
    EXPECT_GE(key->fallback, key->least) << key->name;
    EXPECT_LE(key->fallback, key->most) << key->name;
    EXPECT_LE(key->flagLeast, key->least) << key->name;
  }
  EXPECT_EQ(LoadDetectionSettings("/nonexistent/RVD.ini"), DetectionSettings{});
  const Settings defaults = LoadSettings("/nonexistent/RVD.ini", "");
  EXPECT_EQ(defaults, Settings{});
  EXPECT_EQ(defaults.limit, kDefaultLimit);
}

TEST(SettingsTableTest, UsageTextsTakeTheFlagsRangesFromTheTable) {
  EXPECT_EQ(withFlagRanges("--limit N ({limit}), --leak-level N ({leak-level}) {cluster-level}"),
            "--limit N (0..255 (default 150)), --leak-level N (1..255 (default 20)) 1..254 "
            "(default 60)");
  EXPECT_EQ(withFlagRanges("{unknown} {gray}"), "{unknown} {gray}") << "switches have no range";
}

TEST_F(SettingsFileTest, NetworkKeysRoundTripAndTextsKeepWhatTheUserTyped) {
  const std::string file = path("RVD.ini");
  const NetworkSettings station{.server = "broker.example.org:8883",
                                .station = "école-3",
                                .passwordFile = path("station.password"),
                                .tlsCa = path("ca.pem"),
                                .location = "48.21,16.37",
                                .history = true,
                                .clockErrorMs = 250,
                                .keepDays = 30,
                                .keepMb = 64};
  EXPECT_EQ(LoadNetworkSettings(file), NetworkSettings{});
  EXPECT_FALSE(NetworkSettings{}.keepsHistory()) << "no server, no history: nothing is stored";
  SaveNetworkSettings(file, station);
  EXPECT_EQ(LoadNetworkSettings(file), station);
  NetworkSettings sender;
  sender.server = "b";
  EXPECT_TRUE(sender.keepsHistory()) << "a sender needs its store";

  write(file, "[Network]\nclock-error-ms=0\nkeep-days=99999\nkeep-mb=x\n");
  EXPECT_EQ(LoadNetworkSettings(file), NetworkSettings{});
}

TEST(SettingsTextTest, DirectoryLabelCutsAfter25Characters) {
  const std::pair<std::string, std::string> labels[] = {
      {"", ""},
      {std::string(25, 'a'), std::string(25, 'a')},
      {std::string(30, 'a'), std::string(25, 'a') + "..."},
      {"/home/jürgen/Ereignisse/München/", "/home/jürgen/Ereignisse/M..."},
  };
  for (const auto& [text, label] : labels)
    EXPECT_EQ(directoryLabel(text), label) << text;
}

}  // namespace
}  // namespace ravdel
