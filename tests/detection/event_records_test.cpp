#include "detection/event_records.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "detection/png_writer.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

TEST(RateFormatTest, FiveSignificantDigitsWrittenWithSevenDecimals) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {1440.0, "1440.0000000"},
      {1234.5678, "1234.6000000"},
      {0.5, "0.5000000"},
      {123456.0, "1.2346E5"},
      {12345.4, "12345.0000000"},   // no decimals left after rounding
      {99999.5, "1E5"},             // rounding adds a sixth integer digit
      {0.0000123456, "0.0000123"},  // never more than 7 decimals
      {9.99996, "10.0000000"},
      {1e12, "1E12"},
      {0.0, "0.0000000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatRate(c.value, '.'), c.text) << c.value;
  EXPECT_EQ(formatRate(1234.5678, ','), "1234,6000000");
  EXPECT_EQ(formatRate(123456.0, ','), "1,2346E5");
  EXPECT_EQ(formatRate(100000.0, ','), "1E5") << "no separator without digits after it";
}

// A GUI toolkit puts the process into the user's locale; the figures must not follow the C
// library's idea of the decimal point there.
TEST(RateFormatTest, TheProcessLocaleDoesNotLeakIn) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no de_DE.UTF-8 locale here (scripts/install-deps.sh makes one)";
  }
  const std::string scientific = formatRate(100000.0, ',');
  const std::string fixed = formatRate(1234.5678, '.');
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(scientific, "1E5");
  EXPECT_EQ(fixed, "1234.6000000");
}

TEST(UpTimeTest, WholeHoursWithHalvesToEven) {
  const std::pair<std::int32_t, const char*> cases[] = {{0, "0 h"},   {30, "0 h"}, {31, "1 h"},
                                                        {89, "1 h"},  {90, "2 h"}, {150, "2 h"},
                                                        {151, "3 h"}, {210, "4 h"}};
  for (const auto& [minutes, text] : cases)
    EXPECT_EQ(formatUpTime(minutes), text) << minutes;
}

TEST(EventNamingTest, FileNameAndLogLinesOfOneMoment) {
  const LocalTime t{2015, 3, 14, 9, 26, 53, 123};
  EXPECT_EQ(eventFileName(t), "150314092653123.png");
  EXPECT_EQ(eventTimeLine(t, ':'), "Event at 14.03.15 09:26:53");
  EXPECT_EQ(eventTimeLine(t, '.'), "Event at 14.03.15 09.26.53");
  EXPECT_EQ(eventColourLine(255, 200, 180), "R:255 G:200 B:180");
  EXPECT_EQ(eventColourLine(0, 7, 10), "R:0 G:7 B:10");
  const LocalTime early{2000, 1, 2, 0, 0, 0, 5};
  EXPECT_EQ(eventFileName(early), "000102000000005.png");
}

TEST(EventNamingTest, ClockGivesAPlausibleMoment) {
  const LocalTime t = localTimeNow();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.millisecond >= 0 && t.millisecond <= 999);
  EXPECT_EQ(eventFileName(t).size(), 19u);
}

TEST(EventNamingTest, PosixLocaleSeparators) {
  std::setlocale(LC_ALL, "C");
  const LocaleSeparators s = currentLocaleSeparators();
  EXPECT_EQ(s.time, ':');
  EXPECT_EQ(s.decimal, '.');
}

TEST(EventRecordsTest, RateCountsEventsAfterTheFirstOverWholeMinutes) {
  EventRecords records;
  records.resetForRun();
  for (int i = 0; i < 3; ++i)
    records.minuteTick();

  EventRecords::EventUpdate u = records.recordEvent();  // first event, minute 3
  EXPECT_EQ(u.eventCount, 1);
  EXPECT_FALSE(u.rateChanged);
  EXPECT_EQ(records.firstEventMinute(), 3);

  u = records.recordEvent();  // same minute: no rate yet
  EXPECT_EQ(u.eventCount, 2);
  EXPECT_FALSE(u.rateChanged);

  for (int i = 0; i < 4; ++i)
    records.minuteTick();
  records.recordEvent();
  records.recordEvent();
  u = records.recordEvent();  // fifth event at minute 7: 4 events over 4 minutes
  EXPECT_EQ(u.eventCount, 5);
  EXPECT_TRUE(u.rateChanged);
  EXPECT_DOUBLE_EQ(records.eventsPerDay(), 1440.0);
  EXPECT_EQ(formatRate(records.eventsPerDay(), '.'), "1440.0000000");
}

TEST(EventRecordsTest, MinuteTicksAndANewRun) {
  EventRecords records;
  records.countFrame();
  records.countFrame();
  EventRecords::MinuteTick tick = records.minuteTick();
  EXPECT_EQ(tick.framesLastMinute, 2);
  EXPECT_EQ(tick.minutesElapsed, 1);
  tick = records.minuteTick();
  EXPECT_EQ(tick.framesLastMinute, 0);  // after a stop the ticks go on showing 0
  records.recordEvent();
  records.minuteTick();
  records.recordEvent();
  const double rate = records.eventsPerDay();
  EXPECT_GT(rate, 0);

  records.resetForRun();
  EXPECT_EQ(records.eventCount(), 0);
  EXPECT_EQ(records.minutesElapsed(), 0);
  EXPECT_EQ(records.minuteFrames(), 0);
  EXPECT_EQ(records.eventsPerDay(), rate);  // kept until the next rate is computed
  records.minuteTick();
  records.recordEvent();
  EXPECT_EQ(records.firstEventMinute(), 1);  // set afresh by the first event of the run
}

struct RecordingDisplay : EventDisplay {
  void showEventCount(std::int32_t count) override { counts.push_back(count); }
  void showEventsPerDay(const std::string& text) override { rates.push_back(text); }
  void appendLogLine(const std::string& line) override { log.push_back(line); }
  std::vector<std::int32_t> counts;
  std::vector<std::string> rates;
  std::vector<std::string> log;
};

// An image that cannot be written still counts and is logged; the next event is recorded
// as usual once the directory is there.
using RecordEventTest = test::TempDirTest;

TEST_F(RecordEventTest, FailedWriteCountsAndLogsThenRecordingGoesOn) {
  const std::filesystem::path dir = dir_ / "later";
  FrameBitmap picture(16, 12);
  picture.fill(1, 2, 3);
  EventRecords records;
  EventPictures pictures;
  RecordingDisplay display;
  const LocaleSeparators separators;
  const std::int64_t t = 1426325213123;

  EXPECT_THROW(recordEvent(records, t, 255, 200, 180, picture, dir.string() + "/", pictures,
                           separators, display),
               ImageWriteError);
  EXPECT_EQ(records.eventCount(), 1);
  EXPECT_EQ(display.counts, std::vector<std::int32_t>{1});
  EXPECT_EQ(display.log, (std::vector<std::string>{eventTimeLine(localTimeAt(t), ':'),
                                                   "R:255 G:200 B:180", ""}));

  std::filesystem::create_directory(dir);
  records.minuteTick();
  const std::int64_t later = t + 60000;
  const std::string name = recordEvent(records, later, 1, 2, 3, picture, dir.string() + "/",
                                       pictures, separators, display);
  EXPECT_EQ(name, eventFileName(localTimeAt(later)));
  EXPECT_TRUE(std::filesystem::exists(dir / name));
  EXPECT_EQ(display.counts, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(display.rates, std::vector<std::string>{"1440.0000000"});
  EXPECT_EQ(display.log.size(), 6u);
}

// A picture never replaces a file: a taken name moves on by 1 ms, whoever took it.
TEST_F(RecordEventTest, TakenNamesMoveOnByAMillisecond) {
  const std::int64_t t = 1761355800000;
  const auto nameAt = [](std::int64_t ms) { return eventFileName(localTimeAt(ms)); };
  write(path(nameAt(t + 1)), "someone else's");
  FrameBitmap picture(4, 4);
  picture.fill(9, 9, 9);
  EventPictures pictures;
  const std::string folder = dir_.string() + "/";
  const struct {
    std::int64_t asked;
    std::int64_t named;
  } cases[] = {
      {t, t},          // free
      {t, t + 2},      // its own and the next are taken
      {t, t + 3},      // a clock standing still
      {t + 1, t + 4},  // a clock stepped back onto taken names
      {t - 5000, t - 5000},
      {t + 2, t + 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked - t);
    EXPECT_EQ(pictures.store(picture, folder, c.asked), nameAt(c.named));
  }
  EXPECT_EQ(read(path(nameAt(t + 1))), "someone else's");
  EXPECT_EQ(entryCount(), 7) << "six pictures and the file that was there, nothing else";

  // With no name free in reach: a failure, and nothing left behind.
  EXPECT_THROW(writeNewPng(
                   picture, [&](int) { return path(nameAt(t)); }, 3),
               ImageWriteError);
  EXPECT_EQ(entryCount(), 7);
}

}  // namespace
}  // namespace ravdel
