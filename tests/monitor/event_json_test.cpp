#include "monitor/event_json.h"

#include <gtest/gtest.h>

#include <string>

#include "base/fourcc.h"

namespace ravdel {
namespace {

EventReport sampleReport() {
  EventReport r;
  r.time = {2026, 12, 8, 9, 26, 53, 123, 60};
  r.unixMs = 1796718413123;
  r.file = "261208092653123.png";
  r.peak = {12, 40, 180, 200, 255};  // x, y, b, g, r
  r.limit = 150;
  r.width = 640;
  r.height = 480;
  r.fourcc = makeFourCC('Y', 'U', 'Y', '2');
  r.camera = "Cam \"A\"";
  r.frame = 1234;
  r.lensMean = 6.5;
  r.liveSeconds = 61.2346;
  r.hit = {1796718413106789, 1796718413073456, 1796718413223456, true};
  r.runId = "0123456789abcdef";
  r.seq = 7;
  return r;
}

TEST(EventJsonTest, LineHasEveryKeyInOrder) {
  EXPECT_EQ(eventJsonLine(sampleReport()),
            "{\"time\":\"2026-12-08T09:26:53.123+01:00\",\"unix_ms\":1796718413123,"
            "\"file\":\"261208092653123.png\",\"x\":12,\"y\":40,\"r\":255,\"g\":200,\"b\":180,"
            "\"limit\":150,\"width\":640,\"height\":480,\"fourcc\":\"YUY2\","
            "\"camera\":\"Cam \\\"A\\\"\",\"frame\":1234,\"lens_mean\":6.5,\"live_s\":61.235,"
            "\"t_us\":1796718413106789,\"t_lo_us\":1796718413073456,"
            "\"t_hi_us\":1796718413223456,\"clock_synced\":true,\"run_id\":\"0123456789abcdef\","
            "\"seq\":7}");
}

TEST(EventJsonTest, UnknownValuesAreNull) {
  EventReport r = sampleReport();
  r.file.reset();
  r.lensMean.reset();
  const std::string line = eventJsonLine(r);
  EXPECT_NE(line.find("\"file\":null,"), std::string::npos) << line;
  EXPECT_NE(line.find("\"lens_mean\":null,"), std::string::npos) << line;
}

TEST(EventJsonTest, TimeCarriesItsUtcOffset) {
  const struct {
    LocalTime time;
    const char* expected;
  } cases[] = {
      {{2026, 1, 2, 3, 4, 5, 6, 0}, "2026-01-02T03:04:05.006+00:00"},
      {{2026, 7, 1, 23, 59, 59, 999, -210}, "2026-07-01T23:59:59.999-03:30"},
      {{2026, 3, 29, 12, 0, 0, 0, 345}, "2026-03-29T12:00:00.000+05:45"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isoLocalTime(c.time), c.expected);
}

}  // namespace
}  // namespace ravdel
