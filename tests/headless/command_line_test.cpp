#include "headless/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/settings.h"

namespace ravdel {
namespace {

std::string flagOf(const SettingKey& key) {
  return "--" + std::string(key.flag);
}

// Every key ravdel-monitor reads has its flag, named and bounded as the settings table says,
// and the usage text shows it: the table and the parser cannot drift apart.
TEST(CommandLineTest, EveryMonitorFlagOfTheSettingsTableIsParsedWithinItsRange) {
  const std::string usage = usageText();
  for (const SettingKey* key : settingKeys()) {
    if ((key->readers & kReadByMonitor) == 0 || key->flag.empty()) continue;
    const std::string flag = flagOf(*key);
    EXPECT_NE(usage.find(flag), std::string::npos) << flag;
    if (key->kind == SettingKind::flag) {
      EXPECT_NO_THROW(parseCommandLine({flag})) << flag;
      EXPECT_THROW(parseCommandLine({flag + "=1"}), UsageError) << flag;
    } else if (key->kind == SettingKind::number) {
      EXPECT_NO_THROW(parseCommandLine({flag, std::to_string(key->flagLeast)})) << flag;
      EXPECT_NO_THROW(parseCommandLine({flag, std::to_string(key->most)})) << flag;
      EXPECT_THROW(parseCommandLine({flag, std::to_string(key->flagLeast - 1)}), UsageError)
          << flag;
      EXPECT_THROW(parseCommandLine({flag, std::to_string(key->most + 1)}), UsageError) << flag;
      EXPECT_NE(usage.find(rangeText(*key, true)), std::string::npos) << flag;
    } else {
      EXPECT_NO_THROW(parseCommandLine({flag, "x"})) << flag;
    }
  }
  EXPECT_EQ(usage.find('{'), std::string::npos) << "every range was filled in";
}

}  // namespace
}  // namespace ravdel
