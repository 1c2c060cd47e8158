// Time stamps as the service writes them: UTC ISO 8601 with milliseconds ("2020-07-01T09:18:17.166Z"),
// and the calendar day "yyyymmdd" of a moment in the simulator's local time zone.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_TIME_TEXT_H_
#define QVPA_TOOLS_GBUSINESS_SIM_TIME_TEXT_H_

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qvpa::gbsim {

using TimePoint = std::chrono::system_clock::time_point;

std::string FormatUtcMillis(TimePoint t);

// Reads "yyyy-mm-ddThh:mm:ss[.fff]Z"; nullopt for anything else or an impossible date.
std::optional<TimePoint> ParseUtcMillis(std::string_view text);

// "yyyymmdd" of t in local time.
std::string LocalDayText(TimePoint t);

// True when text is eight digits naming a real calendar day.
bool IsValidDayText(std::string_view text);

// Milliseconds since 1970-01-01 UTC.
int64_t UnixMillis(TimePoint t);

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_TIME_TEXT_H_
