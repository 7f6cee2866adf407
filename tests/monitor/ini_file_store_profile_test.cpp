// The settings file through the system's routines (Windows): a file an earlier program wrote
// in the system's ANSI code page.
#include <gtest/gtest.h>

#include <string>

#include "monitor/ini_file.h"
#include "monitor/settings.h"
#include "platform/private_profile.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using IniFileStoreProfileTest = test::TempDirTest;

// "ä" is one byte of both CP1250 and CP1252, the ANSI code pages of Central and Western
// Windows: read as UTF-8 it was lost (and a folder of the wrong name made at Run).
TEST_F(IniFileStoreProfileTest, AValueInTheAnsiCodePageIsReadInIt) {
  const std::string file = path("RVD.ini");
  write(file, "[Settings]\r\nDirectory=C:\\Bilder\\Ereignisse \xE4\r\nLimit=120\r\n");
  EXPECT_EQ(LoadSettings(file, "").directory, "C:\\Bilder\\Ereignisse \xC3\xA4\\");
  EXPECT_EQ(readIniValue(file, "Settings", "Limit", ""), "120");
  // Cut as the buffer says, never inside a character.
  EXPECT_EQ(readIniValue(file, "Settings", "Directory", "", 23), "C:\\Bilder\\Ereignisse ");

  // Saved again, the file holds UTF-8 and reads back the same.
  Settings settings = LoadSettings(file, "");
  SaveSettings(file, settings);
  EXPECT_EQ(LoadSettings(file, "").directory, settings.directory);
  EXPECT_NE(read(file).find("Ereignisse \xC3\xA4"), std::string::npos);
}

}  // namespace
}  // namespace ravdel
