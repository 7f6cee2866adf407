#include "detection/event_records.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "detection/png_writer.h"

namespace ravdel {
namespace {

std::string twoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v % 100);
  return buf;
}

}  // namespace

std::string eventFileName(const LocalTime& t) {
  char ms[8];
  std::snprintf(ms, sizeof ms, "%03d", t.millisecond % 1000);
  return twoDigits(t.year) + twoDigits(t.month) + twoDigits(t.day) + twoDigits(t.hour) +
         twoDigits(t.minute) + twoDigits(t.second) + ms + ".png";
}

std::string logTime(const LocalTime& t, char timeSeparator) {
  return twoDigits(t.day) + "." + twoDigits(t.month) + "." + twoDigits(t.year) + " " +
         twoDigits(t.hour) + timeSeparator + twoDigits(t.minute) + timeSeparator +
         twoDigits(t.second);
}

std::string eventTimeLine(const LocalTime& t, char timeSeparator) {
  return "Event at " + logTime(t, timeSeparator);
}

std::string eventColourLine(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return "R:" + std::to_string(r) + " G:" + std::to_string(g) + " B:" + std::to_string(b);
}

std::array<std::string, 3> eventLogLines(const LocalTime& t, std::uint8_t r, std::uint8_t g,
                                         std::uint8_t b, char timeSeparator) {
  return {eventTimeLine(t, timeSeparator), eventColourLine(r, g, b), std::string()};
}

namespace {

// Locale-independent: the C library's printf takes its decimal point from the process's
// locale, which a GUI toolkit sets from the user's (a comma, say).
std::string formatDouble(double v, std::chars_format format, int precision) {
  char buf[400];
  const auto result = std::to_chars(buf, buf + sizeof buf, v, format, precision);
  return std::string(buf, result.ptr);
}

}  // namespace

std::string formatRate(double eventsPerDay, char decimalSeparator) {
  const bool negative = eventsPerDay < 0;
  const double v = negative ? -eventsPerDay : eventsPerDay;
  std::string text;
  // Rounded to 5 significant digits first; the exponent after rounding decides the form.
  const std::string scientific = formatDouble(v, std::chars_format::scientific, 4);
  const std::size_t e = scientific.find('e');
  const int exponent = v == 0 ? 0 : std::atoi(scientific.c_str() + e + 1);
  if (exponent >= 5) {
    std::string mantissa = scientific.substr(0, e);
    mantissa.erase(mantissa.find_last_not_of('0') + 1);
    if (mantissa.back() == '.') mantissa.pop_back();
    text = mantissa + "E" + std::to_string(exponent);
  } else {
    const int decimals = std::min(7, 4 - exponent);
    text = formatDouble(v, std::chars_format::fixed, decimals);
    if (decimals == 0) text += '.';
    text.append(static_cast<std::size_t>(7 - decimals), '0');
  }
  std::replace(text.begin(), text.end(), '.', decimalSeparator);
  return negative ? "-" + text : text;
}

std::string formatUpTime(std::int32_t minutes) {
  std::int32_t hours = minutes / 60;
  const std::int32_t rest = minutes % 60;
  if (rest > 30 || (rest == 30 && hours % 2 != 0)) ++hours;
  return std::to_string(hours) + " h";
}

void EventRecords::resetForRun() {
  minuteFrames_ = 0;
  minutesElapsed_ = 0;
  eventCount_ = 0;
}

EventRecords::MinuteTick EventRecords::minuteTick() {
  MinuteTick tick;
  tick.framesLastMinute = minuteFrames_;
  minuteFrames_ = 0;
  ++minutesElapsed_;
  tick.minutesElapsed = minutesElapsed_;
  return tick;
}

EventRecords::EventUpdate EventRecords::recordEvent() {
  EventUpdate update;
  if (eventCount_ == 0) {
    firstEventMinute_ = minutesElapsed_;
  } else {
    // Events after the first one, over the whole minutes since it, scaled to a day.
    const std::int32_t minutes = minutesElapsed_ - firstEventMinute_;
    if (minutes > 0) {
      eventsPerDay_ = static_cast<double>(eventCount_) / minutes * 60 * 24;
      update.rateChanged = true;
    }
  }
  ++eventCount_;
  update.eventCount = eventCount_;
  return update;
}

std::string EventPictures::store(const FrameBitmap& picture, const std::string& directory,
                                 std::int64_t unixMs, const PngSettings& settings) {
  const bool again = searched_ && unixMs == lastAsked_ && directory == lastDirectory_;
  const std::int64_t first = again ? lastTaken_ + 1 : unixMs;
  const auto nameAt = [](std::int64_t ms) { return eventFileName(localTimeAt(ms)); };
  const int moves = writeNewPng(
      picture, [&](int move) { return directory + nameAt(first + move); }, kMaxNameMoves, settings);
  searched_ = true;
  lastDirectory_ = directory;
  lastAsked_ = unixMs;
  lastTaken_ = first + moves;
  return nameAt(lastTaken_);
}

std::string recordEvent(EventRecords& records, std::int64_t unixMs, std::uint8_t r, std::uint8_t g,
                        std::uint8_t b, const FrameBitmap& picture,
                        const std::string& outputDirectory, EventPictures& pictures,
                        const LocaleSeparators& separators, EventDisplay& display) {
  const LocalTime t = localTimeAt(unixMs);
  const EventRecords::EventUpdate update = records.recordEvent();
  if (update.rateChanged) {
    display.showEventsPerDay(formatRate(records.eventsPerDay(), separators.decimal));
  }
  display.showEventCount(update.eventCount);
  for (const std::string& line : eventLogLines(t, r, g, b, separators.time)) {
    display.appendLogLine(line);
  }
  return pictures.store(picture, outputDirectory, unixMs);
}

}  // namespace ravdel
