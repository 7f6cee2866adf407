// The settings file as our own INI writer leaves it (the build without the system's INI
// routines): the bytes of a saved file, and a file replaced through a symbolic link.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "monitor/settings.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;  // "..."s keeps NUL bytes

using OwnIniStoreTest = test::TempDirTest;

constexpr const char* kInstallFolder = "/opt/ravdel/";

TEST_F(OwnIniStoreTest, SavesKeyByKeyInOrderKeepingWhatIsNotOurs) {
  const Settings saved{.sound = true, .gray = true, .limit = -5, .directory = "/x y/", .cam = -1};
  const std::string keys = "Limit=-5\nSound=1\nInverse=0\nGray=1\nDirectory=/x y/\nCam=-1\n";
  const struct {
    const char* file;
    std::optional<std::string> before;
    std::string after;
  } cases[] = {
      {"new/config/RVD.ini", std::nullopt, "[Settings]\n" + keys},  // the folder is created
      {"RVD.ini", "\0\x01\xff\n[Other]\nCam=9\n[SETTINGS]\n; mine\nextra=1\ncam = 2\n\n[Z]"s,
       "\0\x01\xff\n[Other]\nCam=9\n[SETTINGS]\n; mine\nextra=1\ncam=-1\nLimit=-5\nSound=1\n"
       "Inverse=0\nGray=1\nDirectory=/x y/\n\n[Z]"s},
  };
  for (const auto& c : cases) {
    if (c.before) write(path(c.file), *c.before);
    SaveSettings(path(c.file), saved);
    EXPECT_EQ(read(path(c.file)), c.after);
    EXPECT_EQ(LoadSettings(path(c.file), kInstallFolder), saved);
  }
}

TEST_F(OwnIniStoreTest, ReplacingTheFileKeepsItsLinkAndPermissions) {
  const std::string target = path("dotfiles.ini");
  const std::string link = path("RVD.ini");
  write(target, "[Settings]\nCam=3\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(target, link);
  SaveSettings(link, Settings{});
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(LoadSettings(target, "").cam, 0);
  // The two files and no temporary one.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 2);
}

}  // namespace
}  // namespace ravdel
