#include "tools/gbusiness-sim/time_text.h"

#include <gtest/gtest.h>

namespace qvpa::gbsim {
namespace {

TEST(TimeText, WritesAndReadsUtcWithMilliseconds) {
  const auto t = ParseUtcMillis("2020-07-01T09:18:17.166Z");
  ASSERT_TRUE(t);
  EXPECT_EQ(FormatUtcMillis(*t), "2020-07-01T09:18:17.166Z");
  EXPECT_EQ(UnixMillis(*t), 1593595097166);
  EXPECT_EQ(FormatUtcMillis(*ParseUtcMillis("2024-02-29T23:59:59Z")), "2024-02-29T23:59:59.000Z");
  for (const char* bad : {"2020-07-01 09:18:17Z", "2020-07-01T09:18:17.16Z", "2023-02-29T00:00:00Z",
                          "2020-13-01T00:00:00Z", "2020-07-01T24:00:00Z", "2020-07-01T09:18:17.166", ""}) {
    EXPECT_FALSE(ParseUtcMillis(bad)) << bad;
  }
}

TEST(TimeText, DayTextsMustNameRealDays) {
  for (const char* good : {"20240229", "20240110", "19991231"}) EXPECT_TRUE(IsValidDayText(good)) << good;
  for (const char* bad : {"20230229", "2024011", "202401100", "2024-01-1", "20241301", "20240100", "abcdefgh", ""})
    EXPECT_FALSE(IsValidDayText(bad)) << bad;
}

}  // namespace
}  // namespace qvpa::gbsim
