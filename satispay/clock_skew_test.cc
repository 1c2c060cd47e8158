#include "satispay/clock_skew.h"

#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace qvpa {
namespace {

TEST(ClockSkewTest, HttpDatesInThePreferredFormOnly) {
  struct Case {
    const char* text;
    std::optional<int64_t> seconds;
  };
  const Case cases[] = {
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
      {"Fri, 11 Dec 2026 00:40:00 GMT", 1796949600},
      {"Sunday, 06-Nov-94 08:49:37 GMT", std::nullopt},  // the obsolete forms
      {"Sun Nov  6 08:49:37 1994", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 +0000", std::nullopt},
      {"Mon, 30 Feb 2026 10:00:00 GMT", std::nullopt},   // no such day
      {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
      {"Xyz, 06 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:60:00 GMT", std::nullopt},
      {"Sun, 6 Nov 1994 08:49:37 GMT ", std::nullopt},
      {"Sun, +6 Nov 1994 08:49:37 GMT", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHttpDate(c.text), c.seconds) << c.text;
}

TEST(ClockSkewTest, OffsetOfTheLocalClockAndItsText) {
  const auto at = [](int64_t unix_seconds, int milliseconds = 0) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(unix_seconds) +
                                                 std::chrono::milliseconds(milliseconds));
  };
  const char* date = "Sun, 06 Nov 1994 08:49:37 GMT";  // 784111777
  EXPECT_EQ(LocalClockAhead(date, at(784111777 + 75, 900)), 75);
  EXPECT_EQ(LocalClockAhead(date, at(784111777 - 3)), -3);
  EXPECT_EQ(LocalClockAhead(date, at(784111777)), 0);
  EXPECT_EQ(LocalClockAhead("", at(0)), std::nullopt);
  EXPECT_EQ(LocalClockAhead("yesterday", at(0)), std::nullopt);

  EXPECT_EQ(ClockOffsetText(75, date),
            u"the local clock is 75 s ahead of the service's Date (Sun, 06 Nov 1994 08:49:37 GMT)");
  EXPECT_EQ(ClockOffsetText(-3, date),
            u"the local clock is 3 s behind the service's Date (Sun, 06 Nov 1994 08:49:37 GMT)");
  EXPECT_EQ(ClockOffsetText(0, date),
            u"the local clock agrees with the service's Date (Sun, 06 Nov 1994 08:49:37 GMT)");
}

}  // namespace
}  // namespace qvpa
