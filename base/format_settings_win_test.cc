// The regional settings read on Windows format dates and times as the system itself does.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/date_time.h"
#include "base/format_settings.h"

namespace qvpa {
namespace {

std::u16string Text(const wchar_t* buffer, int n) {
  return n > 1 ? std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n - 1))
               : std::u16string();
}

TEST(WindowsFormatSettingsTest, DatesAndTimesReadAsTheSystemWritesThem) {
  const FormatSettings fs = ReadLocaleFormatSettings();
  struct Case {
    int y, mo, d, h, mi, s;
  };
  // Single- and double-digit fields, morning and afternoon, a Sunday and a Tuesday.
  for (const Case c : {Case{2022, 8, 23, 14, 5, 9}, Case{2021, 12, 5, 9, 45, 30}}) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(c.y);
    st.wMonth = static_cast<WORD>(c.mo);
    st.wDay = static_cast<WORD>(c.d);
    st.wHour = static_cast<WORD>(c.h);
    st.wMinute = static_cast<WORD>(c.mi);
    st.wSecond = static_cast<WORD>(c.s);
    wchar_t date[80] = {}, time[80] = {};
    const int nd = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 80, nullptr);
    const int nt = GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, 80);
    const TDateTime value = TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, 0).value();
    EXPECT_EQ(FormatDateTime(fs.ShortDateFormat, value, fs), Text(date, nd)) << fs.ShortDateFormat.size();
    EXPECT_EQ(FormatDateTime(fs.LongTimeFormat, value, fs), Text(time, nt));
  }
}

TEST(WindowsFormatSettingsTest, WeekStartsOnSunday) {
  const FormatSettings fs = ReadLocaleFormatSettings();
  wchar_t sunday[80] = {}, monday[80] = {};
  const int ns = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDAYNAME7, sunday, 80);
  const int nm = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDAYNAME1, monday, 80);
  EXPECT_EQ(fs.LongDayNames[0], Text(sunday, ns));
  EXPECT_EQ(fs.LongDayNames[1], Text(monday, nm));
}

}  // namespace
}  // namespace qvpa
