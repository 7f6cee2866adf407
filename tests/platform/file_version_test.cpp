#include "platform/file_version.h"

#include <gtest/gtest.h>

#include <string_view>

namespace ravdel {
namespace {

TEST(FileVersionTest, CutsBeforeTheLastDot) {
  const struct {
    std::string_view version, cut;
  } cases[] = {
      {"1.0.0.36", "1.0.0"}, {"0.1.0.0", "0.1.0"}, {"1.2", "1"}, {"7", ""}, {"", ""}, {".5", ""},
      {"1.", "1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cutLastVersionPart(c.version), c.cut) << c.version;
}

TEST(FileVersionTest, CompiledInVersionIsFourNumericParts) {
  const std::string full = ReadFileVersion(true);
  int dots = 0;
  for (const char ch : full) {
    if (ch == '.') {
      ++dots;
    } else {
      EXPECT_TRUE(ch >= '0' && ch <= '9') << full;
    }
  }
  EXPECT_EQ(dots, 3) << full;
  EXPECT_EQ(ReadFileVersion(false), cutLastVersionPart(full));
}

}  // namespace
}  // namespace ravdel
