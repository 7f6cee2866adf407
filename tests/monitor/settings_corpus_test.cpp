// One corpus of settings files for both builds: the Linux build reads them with our own INI
// reader, the Windows build with the system's private-profile routines, and both must find the
// same values.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "monitor/ini_file.h"
#include "monitor/settings.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using SettingsCorpusTest = test::TempDirTest;

struct CorpusCase {
  const char* text;  // the file
  const char* key;   // in section "Settings"
  const char* expected;
};

// "<default>" comes back when the key is absent.
constexpr CorpusCase kCorpus[] = {
    {"[Settings]\nLimit=120\n", "Limit", "120"},
    {"[Settings]\r\nLimit=120\r\nSound=1\r\n", "Sound", "1"},
    {"[settings]\nlimit=7\n", "Limit", "7"},             // names ignore case
    {"[ Settings ]\n  Limit =  35  \n", "Limit", "35"},  // blanks around names, values
    {"[Settings]\nDirectory=\"C:\\Events\"\n", "Directory", "C:\\Events"},  // quotes dropped
    {"[Settings]\nDirectory=\n", "Directory", ""},        // empty, not the default
    {"[Settings]\nDirectory=a=b\n", "Directory", "a=b"},  // the first '=' splits
    {"[Other]\nLimit=9\n[Settings]\nCam=2\n", "Limit", "<default>"},
    {"[Other]\nLimit=9\n[Settings]\nCam=2\n", "Cam", "2"},
    {"Limit=9\n[Settings]\n", "Limit", "<default>"},  // before any section
    {"; comment\n[Settings]\n; Limit=9\nLimit=10\n", "Limit", "10"},
    {"[Settings]\nLimit\nGray=1\n", "Gray", "1"},      // a line without '='
    {"[Settings]\nLimit=1\nLimit=2\n", "Limit", "1"},  // the first of a key
    {"[Settings]\nDirectory=D:\\Bilder\\Ereignisse \xC3\xA4\xC3\xB6\n", "Directory",
     "D:\\Bilder\\Ereignisse \xC3\xA4\xC3\xB6"},  // UTF-8 text
    {"", "Limit", "<default>"},
};

TEST_F(SettingsCorpusTest, BothBuildsReadTheSameValues) {
  const std::string file = path("RVD.ini");
  for (const CorpusCase& c : kCorpus) {
    write(file, c.text);
    EXPECT_EQ(readIniValue(file, "Settings", c.key, "<default>"), c.expected) << c.key << " in:\n"
                                                                              << c.text;
  }
  EXPECT_EQ(readIniValue(path("missing.ini"), "Settings", "Limit", "<default>"), "<default>");
}

TEST_F(SettingsCorpusTest, LongValuesComeBackCutTo2047Characters) {
  const std::string file = path("RVD.ini");
  write(file, "[Settings]\nDirectory=" + std::string(3000, 'd') + "\n");
  EXPECT_EQ(readIniValue(file, "Settings", "Directory", ""), std::string(2047, 'd'));
}

TEST_F(SettingsCorpusTest, SavedSettingsLoadBackAndKeepOtherKeys) {
  const std::string file = path("RVD.ini");
  write(file, "[Mine]\nKeep=yes\n[Settings]\nExtra=1\nCam=5\n");
  const Settings saved{.sound = true,
                       .inverse = false,
                       .gray = true,
                       .limit = 70,
                       .directory = withTrailingSeparator(path("events")),
                       .cam = -1};
  SaveSettings(file, saved);
  EXPECT_EQ(LoadSettings(file, "unused"), saved);
  EXPECT_EQ(readIniValue(file, "Mine", "Keep", ""), "yes");
  EXPECT_EQ(readIniValue(file, "Settings", "Extra", ""), "1");
}

// Folder names outside ASCII: the settings file, its folder made on saving, and a file
// replaced in it.
TEST_F(SettingsCorpusTest, FoldersWithNonAsciiNamesWork) {
  const std::string folder = path("Einstellungen \xC3\xA4\xC3\xB6\xC3\xBC \xE6\xB8\xAC");
  const std::string file = folder + "/RVD.ini";
  const Settings saved{.limit = 45, .directory = withTrailingSeparator(folder), .cam = 1};
  SaveSettings(file, saved);  // makes the folder
  EXPECT_EQ(LoadSettings(file, ""), saved);
  EXPECT_TRUE(std::filesystem::exists(native(file)));
  EXPECT_EQ(entryCount(), 1) << "one folder, no mangled name beside it";
}

// Folders deeper than MAX_PATH (260 characters): the settings file in one, its folder made on
// saving, and the output folder the settings name.
TEST_F(SettingsCorpusTest, FoldersLongerThanMaxPathWork) {
  std::string folder = path("deep");
  while (folder.size() < 300)
    folder += "/Ereignisse-eines-langen-Weges";
  const std::string file = folder + "/RVD.ini";
  const Settings saved{.limit = 55, .directory = withTrailingSeparator(folder), .cam = 0};
  SaveSettings(file, saved);
  EXPECT_EQ(LoadSettings(file, ""), saved);
  EXPECT_TRUE(std::filesystem::exists(native(file)));
}

}  // namespace
}  // namespace ravdel
