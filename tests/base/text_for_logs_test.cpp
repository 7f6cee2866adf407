#include <gtest/gtest.h>

#include <string>

#include "base/fourcc.h"
#include "base/json_text.h"

namespace ravdel {
namespace {

TEST(TextForLogsTest, FourccIsPrintable) {
  EXPECT_EQ(printableFourcc(0), "RGB");
  EXPECT_EQ(printableFourcc(makeFourCC('M', 'J', 'P', 'G')), "MJPG");
  EXPECT_EQ(printableFourcc(makeFourCC('\x01', 'A', '\xff', '\x7f')), "?A??");
}

TEST(TextForLogsTest, JsonStringsAreEscapedAndInvalidUtf8Replaced) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\tline\nbell\x07", "\"tab\\tline\\nbell\\u0007\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7\""},
      {"\x80x", "\"\\ufffdx\""},                                 // a stray continuation byte
      {"\xc0\x80", "\"\\ufffd\\ufffd\""},                        // an overlong NUL
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
      {"\xe2\x82", "\"\\ufffd\\ufffd\""},                        // cut off at the end
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    std::string out;
    appendJsonString(out, c.text);
    EXPECT_EQ(out, c.expected) << c.text;
  }
}

TEST(TextForLogsTest, JsonNumbersAreShortestOrFixed) {
  EXPECT_EQ(jsonNumber(6.5), "6.5");
  EXPECT_EQ(jsonNumber(1e-7), "1e-07");
  EXPECT_EQ(jsonFixedNumber(61.2346, 3), "61.235");
}

}  // namespace
}  // namespace ravdel
