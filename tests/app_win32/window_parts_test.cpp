// The window's parts that need no window: the power table, balloon text, the program's
// resources.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "app_win32/power_action.h"
#include "app_win32/tray_icon.h"

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
