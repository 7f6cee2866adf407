// The event log on a disk that takes nothing (/dev/full, a POSIX device) and then takes lines
// again: the log is pointed elsewhere and reopened, as a rotation does.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/event_log.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;

class EventLogTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_symlink("/dev/full", path("events.jsonl"));
    ASSERT_TRUE(log_.open(path("events.jsonl"))) << log_.error();
  }

  void record(std::int64_t frame) {
    EventReport report;
    report.frame = frame;
    log_.eventRecorded(report);
  }

  // The frame numbers of the lines in the log, in their order.
  std::vector<std::int64_t> framesLogged() const {
    std::vector<std::int64_t> frames;
    std::istringstream lines(read(path("events.jsonl")));
    for (std::string line; std::getline(lines, line);) {
      const auto at = line.find("\"frame\":") + 8;
      frames.push_back(std::stoll(line.substr(at, line.find(',', at) - at)));
    }
    return frames;
  }

  std::vector<std::string> said_;
  EventLogSink log_{[this](const std::string& text) { said_.push_back(text); }};
};

// Lines wait in memory while the disk is full, stderr hears of it once, and they follow in
// order once there is room, which it hears of too; the summary's count goes back to none.
TEST_F(EventLogTest, LinesWaitWhileTheDiskIsFullAndFollowInOrder) {
  for (std::int64_t frame = 1; frame <= 5; ++frame)
    record(frame);
  log_.minuteTicked({});
  EXPECT_EQ(log_.linesNotWritten(), 5u);
  ASSERT_EQ(said_.size(), 1u) << "said once, then counted: " << said_.back();
  EXPECT_EQ(said_[0], "cannot write to the event log " + path("events.jsonl") +
                          ": No space left on device; lines waiting in memory: 1");

  fs::remove(path("events.jsonl"));
  ASSERT_TRUE(log_.reopen()) << log_.error();
  record(6);
  EXPECT_EQ(framesLogged(), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(log_.linesNotWritten(), 0u);
  ASSERT_EQ(said_.size(), 3u) << "the count, then the all-clear";
  EXPECT_EQ(
      said_[1].rfind("cannot write to the event log " + path("events.jsonl") +
                         ": No space left on device; lines waiting in memory: 5 (5 more since ",
                     0),
      0u)
      << said_[1];
  EXPECT_EQ(said_[2], "the event log " + path("events.jsonl") +
                          " takes lines again: 5 lines that waited written");

  record(7);
  EXPECT_EQ(framesLogged().back(), 7);
  EXPECT_EQ(said_.size(), 3u);
}

// Memory is not the disk: past the bound, lines are lost and counted, never reordered.
TEST_F(EventLogTest, NoMoreThanTheBoundWaitsAndTheRestIsCounted) {
  const auto lines = static_cast<std::int64_t>(EventLogSink::kMaxWaitingLines);
  for (std::int64_t frame = 1; frame <= lines + 3; ++frame)
    record(frame);
  EXPECT_EQ(log_.linesNotWritten(), EventLogSink::kMaxWaitingLines + 3);
  fs::remove(path("events.jsonl"));
  ASSERT_TRUE(log_.reopen());
  EXPECT_EQ(log_.linesNotWritten(), 3u) << "the lost ones stay in the count";
  const std::vector<std::int64_t> frames = framesLogged();
  ASSERT_EQ(frames.size(), EventLogSink::kMaxWaitingLines);
  EXPECT_EQ(frames.front(), 1);
  EXPECT_EQ(frames.back(), lines);
}

}  // namespace
}  // namespace ravdel
