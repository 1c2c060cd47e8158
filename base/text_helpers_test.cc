#include "base/text_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/platform.h"
#include "base/text.h"

namespace qvpa {
namespace {

TEST(GetFieldTest, Table) {
  struct Case {
    std::u16string source;
    int32_t index;
    char16_t separator;
    bool to_end;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"a|b|c", 2, u'|', false, u"b"},
      {u"a|b|c", 2, u'|', true, u"b|c"},
      {u"a|b|c", 1, u'|', false, u"a"},
      {u"a|b|c", 3, u'|', false, u"c"},
      {u"a|b|c", 4, u'|', false, u""},  // beyond the last separator: empty, not the last field
      {u"a||c", 2, u'|', false, u""},
      {u"a||c", 3, u'|', false, u"c"},
      {u"abc", 1, u'|', false, u"abc"},
      {u"$VERSION=1.0=beta", 2, u'=', true, u"1.0=beta"},
      {u"$VERSION=1.0=beta", 1, u'=', false, u"$VERSION"},
      {u"a|b|c", 0, u'|', false, u""},
      {u"a|b|c", -3, u'|', false, u""},
      {u"a|b|c", 0, u'|', true, u"a|b|c"},
      {u"a|b|c", -1, u'|', true, u"a|b|c"},
      {u"", 1, u'|', false, u""},
      {u"", 0, u'|', true, u""},
      {u" x | y ", 2, u'|', false, u" y "},  // not trimmed
      {u"key:value:more", 2, u':', false, u"value"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetField(c.source, c.index, c.separator, c.to_end), c.expected)
        << ToUtf8(c.source) << " index " << c.index << " to_end " << c.to_end;
  }
}

TDateTime Make(int y, int mo, int d, int h, int mi, int s, int ms) {
  return TryEncodeDateTime(y, mo, d, h, mi, s, ms).value();
}

TEST(IsoDateTimeTest, WritesWithAndWithoutMilliseconds) {
  const TDateTime t = Make(2022, 8, 23, 14, 5, 9, 123);
  EXPECT_EQ(DateTimeToISO(t, false), u"2022-08-23T14:05:09");
  EXPECT_EQ(DateTimeToISO(t, true), u"2022-08-23T14:05:09.123");
  EXPECT_EQ(DateTimeToISO(0.0, false), u"1899-12-30T00:00:00");
  EXPECT_EQ(DateTimeToISO(Make(9, 1, 2, 3, 4, 5, 6), true), u"0009-01-02T03:04:05.006");
}

TEST(IsoDateTimeTest, ReadsFixedPositions) {
  struct Case {
    std::u16string text;
    TDateTime expected;
  };
  const Case cases[] = {
      {u"2022-08-23T14:05:09", Make(2022, 8, 23, 14, 5, 9, 0)},
      {u"2022-08-23T14:05:09.123", Make(2022, 8, 23, 14, 5, 9, 123)},
      {u"2022-08-23T14:05:09.12", Make(2022, 8, 23, 14, 5, 9, 12)},  // 12 ms, not 120
      {u"2022-08-23T14:05:09Z", Make(2022, 8, 23, 14, 5, 9, 0)},
      {u"2022-08-23T14:05:09+02:00", Make(2022, 8, 23, 14, 5, 9, 0)},
      {u"2022/08/23 14.05.09", Make(2022, 8, 23, 14, 5, 9, 0)},
      {u"2022-08-23T14:05:09.999999", Make(2022, 8, 23, 14, 5, 9, 999)},
      {u"2024-02-29T23:59:59.999", Make(2024, 2, 29, 23, 59, 59, 999)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ISOToDateTime(c.text), c.expected) << ToUtf8(c.text);
  }
}

TEST(IsoDateTimeTest, RejectsWithTheTextInTheMessage) {
  const std::u16string bad[] = {u"2022-08-23",          u"2022-13-23T14:05:09",
                                u"2023-02-29T00:00:00", u"2022-08-23T24:00:00",
                                u"2022-08-23T14:60:09", u"abcd-08-23T14:05:09",
                                u"",                    u"2022-08-23T14:05:x9"};
  for (const std::u16string& text : bad) {
    try {
      ISOToDateTime(text);
      ADD_FAILURE() << "accepted " << ToUtf8(text);
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), u"DateTime Format invalid: [" + text + u"]");
    }
  }
}

TEST(IsoDateTimeTest, RoundTripsEveryMillisecondField) {
  for (int ms : {0, 1, 99, 500, 999}) {
    const TDateTime t = Make(2021, 12, 31, 23, 59, 58, ms);
    EXPECT_EQ(ISOToDateTime(DateTimeToISO(t, true)), t) << ms;
  }
}

TEST(TimeToMillisecondsTest, IgnoresTheDate) {
  EXPECT_EQ(TimeToMilliseconds(Make(2022, 8, 23, 23, 59, 59, 999)), 86399999);
  EXPECT_EQ(TimeToMilliseconds(Make(2022, 8, 23, 0, 0, 0, 0)), 0);
  EXPECT_EQ(TimeToMilliseconds(Make(1999, 1, 1, 1, 2, 3, 4)), 3723004);
}

TEST(StrToIntTest, Table) {
  struct Case {
    std::u16string text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {{u"12", true, 12},         {u"  7", true, 7},   {u"-5", true, -5},
                        {u"+5", true, 5},          {u"1/", false, 0},   {u"/2", false, 0},
                        {u"", false, 0},           {u"-", false, 0},    {u"7 ", false, 0},
                        {u"2147483647", true, INT32_MAX}, {u"-2147483648", true, INT32_MIN},
                        {u"2147483648", false, 0}, {u"99999999999999999999", false, 0},
                        {u"$1F", true, 31},        {u"0x1f", true, 31}, {u"-X10", true, -16},
                        {u"$", false, 0},          {u"0xG", false, 0},  {u"$80000000", false, 0}};
  for (const Case& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << ToUtf8(c.text);
    if (c.ok) {
      EXPECT_EQ(v, c.value) << ToUtf8(c.text);
    }
  }
}

TEST(CommandLineSwitchTest, MatchesPrefixedAndBareForms) {
  const std::vector<std::u16string> params = {u"/PORT", u"/PORTABLE", u"/port:3", u"/Port=4",
                                              u"/Batch"};
  // Parameter 0 is the program and is never examined, even when it looks like a switch.
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", true, params), u"/port:3");
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", false, params), u"3");
  EXPECT_EQ(GetCommandLineSwitch(u"/batch", true, params), u"/Batch");
  EXPECT_EQ(GetCommandLineSwitch(u"/BATCH", false, params), u"");
  EXPECT_EQ(GetCommandLineSwitch(u"/TEST", true, params), u"");

  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", false, {u"x", u"/Port=3"}), u"3");
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", true, {u"x", u"/PORTABLE", u"/PORT"}), u"/PORT");
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", true, {u"x", u"/PORTABLE"}), u"");
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", false, {u"x", u"/port:"}), u"");
  EXPECT_EQ(GetCommandLineSwitch(u"/PORT", true, {}), u"");
}

TEST(CommandLineSwitchTest, ReadsTheRealProcess) {
  // This test binary is never started with a /QVPA_ABSENT switch.
  EXPECT_EQ(GetCommandLineSwitch(u"/QVPA_ABSENT", true), u"");
}

TEST(ApplicationPathTest, NamesThisExecutable) {
  const std::u16string path = GetApplicationPath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(platform::IsAbsolutePath(path));
  EXPECT_TRUE(platform::IsPathSeparator(path.back()));
  EXPECT_EQ(GetApplicationName(), u"base_text_helpers_test");
}

TEST(PathTest, SplitsAndJoins) {
  EXPECT_EQ(ExtractFileName(u"/a/b/c.log"), u"c.log");
  EXPECT_EQ(ExtractFileName(u"c.log"), u"c.log");
  EXPECT_EQ(ChangeFileExt(u"/a.b/c.log", u""), u"/a.b/c");
  EXPECT_EQ(ChangeFileExt(u"/a.b/c", u".log"), u"/a.b/c.log");  // a dot in a folder is no extension
  EXPECT_EQ(ChangeFileExt(u"cassa.exe", u""), u"cassa");
  const std::u16string sep(1, platform::PathSeparator());
  const std::u16string root = sep == u"/" ? u"/" : u"C:\\";
  EXPECT_EQ(JoinPath(u"", u"x.log"), u"x.log");
  EXPECT_EQ(JoinPath(root + u"tmp", u"x.log"), root + u"tmp" + sep + u"x.log");
  EXPECT_EQ(JoinPath(root + u"tmp" + sep, u"x.log"), root + u"tmp" + sep + u"x.log");
  EXPECT_EQ(JoinPath(root + u"tmp", root + u"var" + sep + u"x.log"), root + u"var" + sep + u"x.log");
}

TEST(LogRootPathTest, EnvironmentReplacesTheExecutableFolder) {
  const char* old = std::getenv("QVPA_LOG_DIR");
  const std::string saved = old ? old : "";
  ::setenv("QVPA_LOG_DIR", "/tmp/qvpa-root", 1);
  EXPECT_EQ(LogRootPath(), u"/tmp/qvpa-root" + std::u16string(1, platform::PathSeparator()));
  ::setenv("QVPA_LOG_DIR", "", 1);
  EXPECT_EQ(LogRootPath(), GetApplicationPath());
  ::unsetenv("QVPA_LOG_DIR");
  EXPECT_EQ(LogRootPath(), GetApplicationPath());
  if (old) ::setenv("QVPA_LOG_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace qvpa
