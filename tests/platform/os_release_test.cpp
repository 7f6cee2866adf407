#include "platform/os_release.h"

#include <gtest/gtest.h>

#include <string_view>

namespace ravdel {
namespace {

TEST(OsReleaseTest, ParsesKernelReleases) {
  const struct {
    std::string_view release, text;  // text empty: not parsed
  } cases[] = {
      {"6.1.0-18-amd64", "6.1.0"},
      {"5.15.146.1-microsoft-standard-WSL2", "5.15.146"},
      {"6.8.0-rc1", "6.8.0"},
      {"6.8-rc1", "6.8.0"},
      {"4.19.0", "4.19.0"},
      {"6.1.0+", "6.1.0"},
      {"3", "3.0.0"},
      {"3.", "3.0.0"},
      {"3.x.1", "3.0.0"},
      {"06.01.007", "6.1.7"},
      {"4294967295.0.0", "4294967295.0.0"},
      {"4294967296.0.0", ""},
      {"6.99999999999.0", ""},
      {"", ""},
      {"linux-6.1", ""},
      {"-6.1.0", ""},
      {" 6.1.0", ""},
  };
  for (const auto& c : cases) {
    const auto version = parseKernelRelease(c.release);
    if (c.text.empty()) {
      EXPECT_FALSE(version) << c.release;
    } else {
      ASSERT_TRUE(version) << c.release;
      EXPECT_EQ(version->text(), c.text) << c.release;
    }
  }
}

TEST(OsReleaseTest, RunningKernelIsKnown) {
  const auto version = osVersion();
  ASSERT_TRUE(version);
  EXPECT_GE(version->major, 2u);
  EXPECT_EQ(osRelease(), version->text());
}

}  // namespace
}  // namespace ravdel
