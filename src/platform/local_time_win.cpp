// Local time through the system's time-zone rules, and the separators of the user's locale.
#include <windows.h>

#include <cwctype>

#include "platform/local_time.h"
#include "platform/local_time_system.h"

namespace ravdel {
namespace {

// FILETIME counts 100 ns steps since 1601-01-01 00:00 UTC.
constexpr std::int64_t kEpochIn100ns = 116444736000000000;

std::int64_t ticksOf(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

FILETIME fileTimeOf(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// The first character of the locale's setting that is no letter, quote or space: in
// "HH:mm:ss" the time separator.
char separatorOf(LCTYPE type, char fallback) {
  wchar_t text[80] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 80) <= 0) return fallback;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (std::iswalpha(static_cast<wint_t>(*p)) || *p == L' ' || *p == L'\'') continue;
    // Our captions are UTF-8; a separator outside ASCII keeps the default.
    return *p < 0x80 ? static_cast<char>(*p) : fallback;
  }
  return fallback;
}

}  // namespace

LocalTime localTimeAtSecond(std::int64_t seconds) {
  const std::int64_t utcTicks = seconds * 10000000 + kEpochIn100ns;
  const FILETIME utcFile = fileTimeOf(utcTicks);
  SYSTEMTIME utc{}, local{};
  LocalTime lt;
  if (!::FileTimeToSystemTime(&utcFile, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return lt;
  }
  FILETIME localFile{};
  if (::SystemTimeToFileTime(&local, &localFile)) {
    lt.utcOffsetMinutes = static_cast<int>((ticksOf(localFile) - utcTicks) / 600000000);
  }
  lt.year = local.wYear;
  lt.month = local.wMonth;
  lt.day = local.wDay;
  lt.hour = local.wHour;
  lt.minute = local.wMinute;
  lt.second = local.wSecond;
  return lt;
}

LocaleSeparators currentLocaleSeparators() {
  LocaleSeparators s;
  s.time = separatorOf(LOCALE_STIMEFORMAT, ':');
  s.decimal = separatorOf(LOCALE_SDECIMAL, '.');
  return s;
}

}  // namespace ravdel
