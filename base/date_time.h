// TDateTime: days since 30 December 1899 as a double, time of day as the fraction,
// local time throughout. Negative values (before 1899-12-30) keep the time of day as
// the absolute fraction, as the format has always done.
#ifndef QVPA_BASE_DATE_TIME_H_
#define QVPA_BASE_DATE_TIME_H_

#include <chrono>
#include <cstdint>
#include <optional>

namespace qvpa {

using TDateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int day_of_week = 6;  // 0 = Sunday .. 6 = Saturday
};

// Builds a date-time from its parts; empty when a part is out of range
// (year 1..9999, a real calendar day, hour < 24, minute and second < 60, ms < 1000).
std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour, int minute,
                                           int second, int millisecond);
// Splits a date-time, rounding to the nearest millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// The current local date and time, to the millisecond.
TDateTime Now();
// Local date-time of a point of the system clock, and back.
TDateTime ToLocalDateTime(std::chrono::system_clock::time_point tp);
// The same moment in UTC, as parts (for texts that must carry universal time).
DateTimeParts UtcNowParts();

}  // namespace qvpa

#endif  // QVPA_BASE_DATE_TIME_H_
