#include "monitor/ini_file.h"

#include <gtest/gtest.h>

#include <string>

namespace ravdel {
namespace {

using namespace std::string_literals;  // "..."s keeps NUL bytes

TEST(IniFileTest, FindsTheKeyOfTheFirstMatchingSectionOnly) {
  struct Case {
    std::string text;
    std::optional<std::string> value;  // of Settings/Limit
  };
  const Case cases[] = {
      {"[Settings]\nLimit=5", "5"},
      {" [ SETTINGS ] \r\n\tlimit\t=  5 x \r\n", "5 x"},
      {"\xEF\xBB\xBF[Settings]\nLimit=5\n", "5"},
      {"[Settings]\nLimit=\n", ""},
      {"[Settings]\nLimit=\"  a b \"\n", "  a b "},
      {"[Settings]\nLimit='5\n", "'5"},
      {"[Settings]\nLimit=1\nLimit=2\n[Settings]\nLimit=3\n", "1"},
      {"[Settings]\n[Other]\nLimit=5\n[Settings]\nLimit=3\n", std::nullopt},
      {"Limit=5\n[Settings]\n", std::nullopt},
      {"[Settings]\nLimit 5\n=5\n", std::nullopt},
      {"[Settings\nLimit=5\n", std::nullopt},
      {"[Settings]\nLim\0it=5\nLimit=\0\n"s, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(findIniValue(c.text, "Settings", "Limit"), c.value) << c.text;
  }
}

TEST(IniFileTest, SettingAKeyKeepsEveryOtherByte) {
  struct Case {
    std::string before;
    std::string after;  // with Limit=5
  };
  const Case cases[] = {
      {"", "[Settings]\nLimit=5\n"},
      {"[Settings]\nSound=1", "[Settings]\nSound=1\nLimit=5\n"},
      {"[settings]\r\n  limit = 7 \r\nX=y\r\n\r\n[Other]\r\nA=b",
       "[settings]\r\nlimit=5\r\nX=y\r\n\r\n[Other]\r\nA=b"},
      {"[Settings]\n; note\nUnknown=3\n\n[Other]\nLimit=1\n",
       "[Settings]\n; note\nUnknown=3\nLimit=5\n\n[Other]\nLimit=1\n"},
      {"; top\r\n[Other]\r\nLimit=1\r\n",
       "; top\r\n[Other]\r\nLimit=1\r\n[Settings]\r\nLimit=5\r\n"},
      {"[Settings]\nA=1\n[Settings]\nLimit=9\n", "[Settings]\nA=1\nLimit=5\n[Settings]\nLimit=9\n"},
      {"\x89PNG\r\n\x1a\n\0\0[Settings]\nLimit=1\n\xff"s,
       "\x89PNG\r\n\x1a\n\0\0[Settings]\nLimit=1\n\xff\r\n[Settings]\r\nLimit=5\r\n"s},
  };
  for (const Case& c : cases) {
    const std::string after = withIniValue(c.before, "Settings", "Limit", "5");
    EXPECT_EQ(after, c.after) << c.before;
    EXPECT_EQ(findIniValue(after, "Settings", "Limit"), "5") << c.before;
  }
}

}  // namespace
}  // namespace ravdel
