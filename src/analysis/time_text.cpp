#include "analysis/time_text.h"

#include <charconv>
#include <cstdio>

#include "store/time_bins.h"

namespace ravdel {
namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, std::int64_t& m, std::int64_t& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

// Reads exactly `digits` digits at `at`.
bool digitsAt(std::string_view text, std::size_t& at, std::size_t digits, std::int64_t& value) {
  if (at + digits > text.size()) return false;
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + digits, value);
  if (error != std::errc() || end != text.data() + at + digits) return false;
  at += digits;
  return true;
}

bool expect(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

std::optional<std::int64_t> relative(std::string_view text, std::int64_t nowUs) {
  if (text.size() < 3 || text[0] != '-') return std::nullopt;
  std::int64_t amount = 0;
  const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size() - 1, amount);
  if (error != std::errc() || end != text.data() + text.size() - 1 || amount > 1000000)
    return std::nullopt;
  switch (text.back()) {
    case 'm':
      return nowUs - amount * kMinuteUs;
    case 'h':
      return nowUs - amount * kHourUs;
    case 'd':
      return nowUs - amount * kDayUs;
    default:
      return std::nullopt;
  }
}

// The time of day after the date: HH:MM[:SS[.fraction]], then Z or an offset, or nothing.
std::optional<std::int64_t> timeOfDay(std::string_view text, std::size_t at) {
  std::int64_t hour = 0, minute = 0, second = 0, micros = 0;
  if (!digitsAt(text, at, 2, hour) || !expect(text, at, ':') || !digitsAt(text, at, 2, minute))
    return std::nullopt;
  if (at < text.size() && text[at] == ':') {
    ++at;
    if (!digitsAt(text, at, 2, second)) return std::nullopt;
    if (at < text.size() && text[at] == '.') {
      ++at;
      std::int64_t scale = 100000;
      const std::size_t first = at;
      for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
        micros += (text[at] - '0') * scale;
      if (at == first) return std::nullopt;
    }
  }
  if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
  std::int64_t offsetMinutes = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const std::int64_t sign = text[at++] == '-' ? -1 : 1;
    std::int64_t oh = 0, om = 0;
    if (!digitsAt(text, at, 2, oh) || !expect(text, at, ':') || !digitsAt(text, at, 2, om))
      return std::nullopt;
    offsetMinutes = sign * (oh * 60 + om);
  }
  if (at != text.size()) return std::nullopt;
  return ((hour * 60 + minute - offsetMinutes) * 60 + second) * 1000000 + micros;
}

}  // namespace

std::optional<std::int64_t> parseMoment(std::string_view text, std::int64_t nowUs) {
  if (text == "now") return nowUs;
  if (!text.empty() && text[0] == '-') return relative(text, nowUs);
  std::size_t at = 0;
  std::int64_t year = 0, month = 0, day = 0;
  if (!digitsAt(text, at, 4, year) || !expect(text, at, '-') || !digitsAt(text, at, 2, month) ||
      !expect(text, at, '-') || !digitsAt(text, at, 2, day))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const std::int64_t midnight = daysFromCivil(year, month, day) * kDayUs;
  if (at == text.size()) return midnight;
  if (text[at] != 'T' && text[at] != ' ') return std::nullopt;
  const auto rest = timeOfDay(text, at + 1);
  if (!rest) return std::nullopt;
  return midnight + *rest;
}

std::string utcText(std::int64_t us) {
  const std::int64_t dayStart = binStart(us, kDayUs);
  std::int64_t y = 0, m = 0, d = 0;
  civilFromDays(dayStart / kDayUs, y, m, d);
  const std::int64_t inDay = us - dayStart;
  const std::int64_t seconds = inDay / 1000000, micros = inDay % 1000000;
  char text[48];
  const int length = std::snprintf(
      text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(y),
      static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(seconds / 3600),
      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  std::string out(text, static_cast<std::size_t>(length));
  if (micros != 0) {
    std::snprintf(text, sizeof text, ".%06lld", static_cast<long long>(micros));
    out += text;
  }
  return out + "Z";
}

}  // namespace ravdel
