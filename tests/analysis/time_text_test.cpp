#include "analysis/time_text.h"

#include <gtest/gtest.h>

namespace ravdel {
namespace {

constexpr std::int64_t kMoment = 1796720813123456;  // 2026-12-08T09:06:53.123456Z

TEST(TimeTextTest, MomentsAsPeopleWriteThem) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> us;
  } cases[] = {
      {"2026-12-08", 1796688000000000},
      {"2026-12-08T09:06", 1796720760000000},
      {"2026-12-08 09:06:53Z", 1796720813000000},
      {"2026-12-08T09:06:53.25Z", 1796720813250000},
      {"2026-12-08T10:06:53+01:00", 1796720813000000},
      {"1970-01-01", 0},
      {"2024-02-29T23:59:59Z", 1709251199000000},
      {"now", kMoment},
      {"-30m", kMoment - 1800000000},
      {"-24h", kMoment - 86400000000},
      {"-7d", kMoment - 7 * 86400000000},
      {"", std::nullopt},
      {"yesterday", std::nullopt},
      {"2026-13-01", std::nullopt},
      {"2026-12-08T25:00", std::nullopt},
      {"2026-12-08T09:06:53.", std::nullopt},
      {"2026-12-08T09:06junk", std::nullopt},
      {"-7w", std::nullopt},
      {"-h", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseMoment(c.text, kMoment), c.us) << c.text;
}

TEST(TimeTextTest, UtcTextReadsBack) {
  for (const std::int64_t us : {kMoment, std::int64_t{0}, std::int64_t{1709251199000000}}) {
    EXPECT_EQ(parseMoment(utcText(us), 0), us) << utcText(us);
  }
  EXPECT_EQ(utcText(kMoment), "2026-12-08T09:06:53.123456Z");
  EXPECT_EQ(utcText(1796688000000000), "2026-12-08T00:00:00Z");
}

}  // namespace
}  // namespace ravdel
