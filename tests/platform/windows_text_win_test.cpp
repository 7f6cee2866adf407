// Text of other code pages, as an earlier program wrote its settings file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/private_profile.h"

namespace ravdel {
namespace {

TEST(CodePageTextTest, AnsiBytesBecomeUtf8) {
  const struct {
    std::string bytes;
    unsigned codePage;
    std::string utf8;
  } cases[] = {
      {"Bilder \xBF\xF3\xB3\xE6", 1250, "Bilder \xC5\xBC\xC3\xB3\xC5\x82\xC4\x87"},  // żółć
      {"Ereignisse \xE4", 1252, "Ereignisse \xC3\xA4"},
      {"\xE4", 1251, "\xD0\xB4"},  // the same byte in Cyrillic
      {"", 1252, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(utf8FromCodePage(c.bytes, c.codePage), c.utf8) << c.codePage;
}

// The registry's ACP, not GetACP: under the manifest GetACP answers UTF-8.
TEST(CodePageTextTest, TheSystemsAnsiCodePageIsNotTheProcesssUtf8) {
  EXPECT_EQ(::GetACP(), static_cast<UINT>(CP_UTF8)) << "the tests run with the manifest";
  const unsigned page = systemAnsiCodePage();
  EXPECT_NE(page, static_cast<unsigned>(CP_UTF8));
  CPINFO info{};
  EXPECT_TRUE(::GetCPInfo(page, &info)) << page;
}

}  // namespace
}  // namespace ravdel
