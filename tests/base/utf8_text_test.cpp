#include "base/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ravdel {
namespace {

// Which texts are UTF-8: the test an old settings file's value in the ANSI code page fails.
TEST(Utf8TextTest, TellsUtf8FromOtherBytes) {
  const struct {
    std::string text;
    bool utf8;
  } cases[] = {
      {"", true},
      {"C:\\Bilder\\Ereignisse", true},
      {"J\xC3\xB3zef \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87", true},  // Józef Żółć
      {"\xF0\x9F\x93\xB7", true},                               // a camera, four bytes
      {"Bilder \xBF", false},       // "ż" in CP1250: a lone continuation byte
      {"Ereignisse \xE4", false},   // "ä" in CP1252: a cut-off sequence
      {"\xC0\xAF", false},          // an overlong "/"
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
  };
  for (const auto& c : cases)
    EXPECT_EQ(isUtf8(c.text), c.utf8) << c.text;
}

}  // namespace
}  // namespace ravdel
