// The local clock against the service's: the service refuses signed requests whose date is
// too far from its own, and a wrong clock is the usual reason in shops. Every answer's Date
// header (an HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT") tells how far off the local clock is.
#ifndef QVPA_SATISPAY_CLOCK_SKEW_H_
#define QVPA_SATISPAY_CLOCK_SKEW_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvpa {

// Beyond this many seconds either way a difference is worth a warning.
inline constexpr int64_t kClockSkewWarningSeconds = 60;

// Seconds since 1970-01-01 00:00:00 UTC of an HTTP date in the preferred form (IMF-fixdate);
// nullopt for anything else, an impossible date included.
std::optional<int64_t> ParseHttpDate(std::string_view aText);

// How many whole seconds aNow is ahead of the Date header aDate (negative: behind); nullopt
// when the header is empty or not an HTTP date.
std::optional<int64_t> LocalClockAhead(std::string_view aDate, std::chrono::system_clock::time_point aNow);

// "the local clock is 75 s ahead of the service's Date (Thu, 10 Dec 2026 09:00:00 GMT)",
// "... 3 s behind ...", "... agrees with ..." for 0.
std::u16string ClockOffsetText(int64_t aAheadSeconds, std::string_view aDate);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_CLOCK_SKEW_H_
