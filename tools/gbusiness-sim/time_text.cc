#include "tools/gbusiness-sim/time_text.h"

#include <cstdio>
#include <ctime>

namespace qvpa::gbsim {

namespace {

bool ReadDigits(std::string_view text, size_t pos, size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool IsRealDay(int year, int month, int day) {
  using namespace std::chrono;
  return year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                        std::chrono::day{static_cast<unsigned>(day)}}
      .ok();
}

}  // namespace

std::string FormatUtcMillis(TimePoint t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t);
  const auto day = floor<days>(ms);
  const year_month_day ymd{day};
  const hh_mm_ss hms{ms - day};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()), static_cast<int>(hms.subseconds().count()));
  return buffer;
}

std::optional<TimePoint> ParseUtcMillis(std::string_view text) {
  int year, month, day, hour, minute, second, millis = 0;
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text.back() != 'Z')
    return std::nullopt;
  if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day) ||
      !ReadDigits(text, 11, 2, hour) || !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second))
    return std::nullopt;
  if (text.size() == 24) {
    if (text[19] != '.' || !ReadDigits(text, 20, 3, millis)) return std::nullopt;
  } else if (text.size() != 20) {
    return std::nullopt;
  }
  if (!IsRealDay(year, month, day) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  using namespace std::chrono;
  const sys_days date = std::chrono::year{year} / month / day;
  return TimePoint{date + hours{hour} + minutes{minute} + seconds{second} + milliseconds{millis}};
}

std::string LocalDayText(TimePoint t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm local{};
  localtime_r(&seconds, &local);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return buffer;
}

bool IsValidDayText(std::string_view text) {
  int year, month, day;
  if (text.size() != 8 || !ReadDigits(text, 0, 4, year) || !ReadDigits(text, 4, 2, month) ||
      !ReadDigits(text, 6, 2, day))
    return false;
  return month >= 1 && month <= 12 && IsRealDay(year, month, day);
}

int64_t UnixMillis(TimePoint t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace qvpa::gbsim
