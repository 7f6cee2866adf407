#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/frame_bitmap.h"
#include "detection/png_writer.h"
#include "platform/local_time.h"

namespace ravdel {

// "yymmddhhnnsszzz.png": the name of the image file of an event at `t`.
std::string eventFileName(const LocalTime& t);
// "dd.mm.yy hh:nn:ss", with the locale's time separator: how the log writes a moment.
std::string logTime(const LocalTime& t, char timeSeparator);
// "Event at dd.mm.yy hh:nn:ss".
std::string eventTimeLine(const LocalTime& t, char timeSeparator);
// "R:255 G:200 B:180".
std::string eventColourLine(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// The three log lines of one event: its time, the peak's colour as captured, an empty line.
std::array<std::string, 3> eventLogLines(const LocalTime& t, std::uint8_t r, std::uint8_t g,
                                         std::uint8_t b, char timeSeparator);

// The events-per-day figure: 5 significant digits, at most 7 decimals, written with exactly
// 7 decimals; past 5 integer digits in scientific notation (1.2346E5).
std::string formatRate(double eventsPerDay, char decimalSeparator);

// round(minutes / 60), halves to even, then " h".
std::string formatUpTime(std::int32_t minutes);

// Counters of one monitoring run and the rates built from them. One thread only.
class EventRecords {
 public:
  struct EventUpdate {
    std::int32_t eventCount = 0;  // including this event
    bool rateChanged = false;     // eventsPerDay() holds a new figure
  };
  struct MinuteTick {
    std::int32_t framesLastMinute = 0;
    std::int32_t minutesElapsed = 0;
  };

  // A start of monitoring: frame, minute and event counts back to 0. The first-event
  // minute and the last rate are kept; the next event sets them afresh.
  void resetForRun();
  void countFrame() { ++minuteFrames_; }
  MinuteTick minuteTick();
  EventUpdate recordEvent();

  std::int32_t eventCount() const { return eventCount_; }
  std::int32_t minuteFrames() const { return minuteFrames_; }
  std::int32_t minutesElapsed() const { return minutesElapsed_; }
  std::int32_t firstEventMinute() const { return firstEventMinute_; }
  double eventsPerDay() const { return eventsPerDay_; }

 private:
  std::int32_t eventCount_ = 0;
  std::int32_t minuteFrames_ = 0;
  std::int32_t minutesElapsed_ = 0;
  std::int32_t firstEventMinute_ = 0;
  double eventsPerDay_ = 0.0;
};

// Where a recorded event shows. Called on the thread that records the event.
class EventDisplay {
 public:
  virtual ~EventDisplay() = default;
  virtual void showEventCount(std::int32_t count) = 0;
  virtual void showEventsPerDay(const std::string& text) = 0;
  virtual void appendLogLine(const std::string& line) = 0;
};

// Stores event pictures under the event's moment in local time, "yymmddhhnnsszzz.png". A name
// that a file has already moves on by 1 ms until one is free, so a picture never replaces
// another: two events in one millisecond, a clock stepped back or standing still, the autumn
// hour that comes twice. One thread.
class EventPictures {
 public:
  // A folder holds at most this many names past a moment's own before the store gives up.
  static constexpr int kMaxNameMoves = 100000;

  // Writes `picture` into `directory` (ending with a separator, or empty for the current
  // folder) as of `unixMs`; returns the name written. Throws ImageWriteError.
  std::string store(const FrameBitmap& picture, const std::string& directory, std::int64_t unixMs,
                    const PngSettings& settings = {});

 private:
  // Where the last search ended: a clock standing still asks for the same moment again and
  // again, and its names up to there are taken already.
  std::string lastDirectory_;
  std::int64_t lastAsked_ = 0;
  std::int64_t lastTaken_ = 0;
  bool searched_ = false;
};

// Records one event at moment `unixMs`: counts it, shows the count and the new rate, logs its
// three lines and stores `picture` in `outputDirectory` through `pictures`. Returns the name
// written. A failed image write throws ImageWriteError after the count and the log were
// updated, so the event still counts; nothing is left behind that would hinder the next event.
std::string recordEvent(EventRecords& records, std::int64_t unixMs, std::uint8_t r, std::uint8_t g,
                        std::uint8_t b, const FrameBitmap& picture,
                        const std::string& outputDirectory, EventPictures& pictures,
                        const LocaleSeparators& separators, EventDisplay& display);

}  // namespace ravdel
