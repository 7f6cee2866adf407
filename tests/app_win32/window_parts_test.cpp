// The window's parts that need no window: the power table, balloon text, the directory
// chooser's OK, the event balloon's counting.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app_win32/directory_chooser.h"
#include "app_win32/power_action.h"
#include "app_win32/tray_icon.h"
#include "capture/directshow/win32_main_loop.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

TEST(PowerActionTest, ResumeFollowsTheSystemsGeneration) {
  struct Case {
    WPARAM event;
    std::uint32_t major;
    PowerAction expected;
  };
  const Case cases[] = {
      {PBT_APMSUSPEND, 10, PowerAction::suspend},
      {PBT_APMSUSPEND, 5, PowerAction::suspend},
      {PBT_APMRESUMEAUTOMATIC, 6, PowerAction::resume},
      {PBT_APMRESUMEAUTOMATIC, 5, PowerAction::none},
      {PBT_APMRESUMEAUTOMATIC, 0, PowerAction::none},  // unknown version: the old column
      {PBT_APMRESUMESUSPEND, 10, PowerAction::none},
      {PBT_APMRESUMESUSPEND, 5, PowerAction::resume},
      {PBT_APMRESUMECRITICAL, 10, PowerAction::none},
      {PBT_APMRESUMECRITICAL, 0, PowerAction::resume},
      {PBT_APMPOWERSTATUSCHANGE, 10, PowerAction::none},
      {PBT_APMQUERYSUSPEND, 5, PowerAction::none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(powerAction(c.event, c.major), c.expected) << c.event << " on " << c.major;
  }
}

TEST(CutUtf8Test, CutsBeforeACharacterThatDoesNotFit) {
  struct Case {
    std::string text;
    std::size_t max;
    std::string expected;
  };
  const Case cases[] = {
      {"Event detected!", 63, "Event detected!"},
      {std::string(70, 'a'), 63, std::string(63, 'a')},
      {std::string(62, 'a') + "\xC3\xA9", 63, std::string(62, 'a')},  // é would be split
      {std::string(61, 'a') + "\xC3\xA9", 63, std::string(61, 'a') + "\xC3\xA9"},
      {"\xE2\x82\xAC\xE2\x82\xAC", 4, "\xE2\x82\xAC"},
      {"", 0, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cutUtf8(c.text, c.max), c.expected) << c.text;
}

class AcceptTypedDirectoryTest : public test::TempDirTest {
 protected:
  std::optional<std::string> accept(const std::string& typed, bool yes) {
    asked = 0;
    warnings.clear();
    ChooserPrompts prompts;
    prompts.confirmCreate = [this, yes] {
      ++asked;
      return yes;
    };
    prompts.warn = [this](const std::string& text) { warnings.push_back(text); };
    return acceptTypedDirectory(path(""), typed, prompts);
  }
  int asked = 0;
  std::vector<std::string> warnings;
};

TEST_F(AcceptTypedDirectoryTest, ExistingMissingAndImpossibleDirectories) {
  std::filesystem::create_directory(dir_ / "there");
  write(path("file"), "x");

  EXPECT_EQ(accept("there", true), path("there"));
  EXPECT_EQ(asked, 0);

  // No keeps the chooser open and makes nothing.
  EXPECT_EQ(accept("new\\deep", false), std::nullopt);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));

  // Yes makes it with its parents.
  EXPECT_EQ(accept("new\\deep", true), path("new\\deep"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "new" / "deep"));

  // A file in the way: said, and the chooser stays open.
  EXPECT_EQ(accept("file", true), std::nullopt);
  EXPECT_EQ(warnings.size(), 1u);

  // A directory that cannot be made is not taken: every event would fail to be stored.
  EXPECT_EQ(accept("file\\below", true), std::nullopt);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("Cannot create the directory"), std::string::npos) << warnings[0];

  EXPECT_EQ(accept("", true), std::nullopt);
}

// The event sound the window plays from its own module: a RIFF WAVE of 8-bit mono PCM at
// 8000 samples a second, under the type WAVE and the name OK.
TEST(EventSoundResourceTest, TheProgramCarriesItsSound) {
  const HRSRC found = ::FindResourceW(nullptr, L"OK", L"WAVE");
  ASSERT_NE(found, nullptr);
  const auto* bytes =
      static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
  ASSERT_NE(bytes, nullptr);
  ASSERT_GE(::SizeofResource(nullptr, found), 44u);
  const auto word = [bytes](int at) { return bytes[at] | bytes[at + 1] << 8; };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 4), "RIFF");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 8, 4), "WAVE");
  EXPECT_EQ(word(20), 1);     // PCM
  EXPECT_EQ(word(22), 1);     // mono
  EXPECT_EQ(word(24), 8000);  // samples a second
  EXPECT_EQ(word(34), 8);     // bits a sample
}

// Explorer, the Start menu and the installer's shortcut show the program's first icon group.
TEST(ProgramIconResourceTest, TheIconComesInTheSizesTheShellAsksFor) {
  ASSERT_NE(::FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
  for (const int size : {16, 32, 48}) {
    const auto icon = static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    EXPECT_NE(icon, nullptr) << size;
    if (icon != nullptr) ::DestroyIcon(icon);
  }
}

}  // namespace
}  // namespace ravdel
