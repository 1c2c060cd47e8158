#include "base/format_settings.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace qvpa {
namespace {

TDateTime Make(int y, int mo, int d, int h, int mi, int s, int ms) {
  return TryEncodeDateTime(y, mo, d, h, mi, s, ms).value();
}

TEST(FormatSettingsTest, CLocaleGivesEnglishForms) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no C locale: the user's regional settings apply";
#endif
  // The test process never calls setlocale, so it runs under the C locale.
  const FormatSettings& fs = DefaultFormatSettings();
  EXPECT_EQ(fs.ShortDayNames[1], u"Mon");
  EXPECT_EQ(fs.ShortMonthNames[7], u"Aug");
  EXPECT_EQ(fs.ShortDateFormat, u"dd/mm/yyyy");
  EXPECT_EQ(fs.LongTimeFormat, u"hh:nn:ss");
  EXPECT_EQ(fs.DateSeparator, u'/');
  EXPECT_EQ(fs.TimeSeparator, u':');
  EXPECT_EQ(fs.ThousandSeparator, u',');
  EXPECT_EQ(fs.DecimalSeparator, u'.');
}

TEST(FormatDateTimeTest, Tokens) {
  const TDateTime t = Make(2022, 8, 23, 14, 5, 9, 123);  // a Tuesday
  const FormatSettings en = EnglishFormatSettings();
  struct Case {
    std::u16string format;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"yyyymmdd", u"20220823"},
      {u"yyyymmddhhnnsszzz", u"20220823140509123"},
      {u"ddd, dd mmm yyyy hh:nn:ss '+0000'", u"Tue, 23 Aug 2022 14:05:09 +0000"},
      {u"dddd d mmmm yy", u"Tuesday 23 August 22"},
      {u"yyyy'-'mm'-'dd'T'hh':'nn':'ss'.'zzz", u"2022-08-23T14:05:09.123"},
      {u"h:m", u"14:5"},  // m after an hour means minutes
      {u"m/d/yyyy", u"8/23/2022"},
      {u"hh:nn am/pm", u"02:05 pm"},
      {u"hh:nn AM/PM", u"02:05 PM"},
      {u"h a/p", u"2 p"},
      {u"ddddd", u"23/08/2022"},
      {u"tt", u"14:05:09"},
      {u"t", u"14:05"},
      {u"c", u"23/08/2022 14:05:09"},
      {u"\"at\" hh", u"at 14"},
      {u"[x]", u"[x]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, t, en), c.expected) << ToUtf8(c.format);
  }
  EXPECT_EQ(FormatDateTime(u"c", Make(2022, 8, 23, 0, 0, 0, 0), en), u"23/08/2022");
  EXPECT_EQ(FormatDateTime(u"hh am/pm", Make(2022, 8, 23, 0, 30, 0, 0), en), u"12 am");
}

TEST(FormatDateTimeTest, SeparatorsAndNamesComeFromTheSettings) {
  FormatSettings it = EnglishFormatSettings();
  it.ShortDayNames[2] = u"mar";
  it.ShortMonthNames[7] = u"ago";
  it.DateSeparator = u'.';
  it.TimeSeparator = u'.';
  it.ShortDateFormat = u"dd/mm/yyyy";
  const TDateTime t = Make(2022, 8, 23, 14, 5, 9, 0);
  EXPECT_EQ(DateToShortText(t, it), u"23.08.2022");
  EXPECT_EQ(FormatDateTime(u"ddd dd mmm hh:nn", t, it), u"mar 23 ago 14.05");
  EXPECT_EQ(FormatDateTime(u"dd'/'mm", t, it), u"23/08");  // quoted: literal
}

}  // namespace
}  // namespace qvpa
