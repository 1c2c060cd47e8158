#include "base/date_time.h"

#include <cmath>
#include <ctime>

namespace qvpa {

namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// Constant-initialised: dates are computed while a loading library initialises its statics.
constexpr int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // 1899-12-30 from 1970-01-01

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour, int minute,
                                           int second, int millisecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0 || millisecond > 999) {
    return std::nullopt;
  }
  const double days = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochOffset);
  const double time =
      static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) /
      static_cast<double>(kMsPerDay);
  return days >= 0 ? days + time : days - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  DateTimeParts p;
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return p;
  double whole = std::trunc(value);
  int64_t days = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {  // rounding reached the next day
    ms -= kMsPerDay;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days + kEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  // 1970-01-01 was a Thursday (4).
  int64_t dow = (days + kEpochOffset + 4) % 7;
  p.day_of_week = static_cast<int>(dow < 0 ? dow + 7 : dow);
  return p;
}

TDateTime ToLocalDateTime(std::chrono::system_clock::time_point tp) {
  const auto ms_since_epoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms_since_epoch / 1000);
  int ms = static_cast<int>(ms_since_epoch % 1000);
  if (ms < 0) {
    ms += 1000;
    --secs;
  }
  std::tm tm{};
  localtime_r(&secs, &tm);
  int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // leap second
  return TryEncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                           sec, ms)
      .value_or(0.0);
}

TDateTime Now() { return ToLocalDateTime(std::chrono::system_clock::now()); }

DateTimeParts UtcNowParts() {
  const auto now = std::chrono::system_clock::now();
  const auto ms_since_epoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const int64_t days = ms_since_epoch >= 0 ? ms_since_epoch / kMsPerDay
                                           : (ms_since_epoch - kMsPerDay + 1) / kMsPerDay;
  const int64_t ms = ms_since_epoch - days * kMsPerDay;
  DateTimeParts p;
  CivilFromDays(days, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  int64_t dow = (days + 4) % 7;
  p.day_of_week = static_cast<int>(dow < 0 ? dow + 7 : dow);
  return p;
}

}  // namespace qvpa
