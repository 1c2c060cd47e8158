#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qvpa {
namespace {

TEST(Utf8Test, RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00e9\u20ac\U0001F600z";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(FromUtf8(utf8), text);
  EXPECT_EQ(ToUtf8(u""), "");
  EXPECT_EQ(FromUtf8(""), u"");
}

// ASCII runs are converted several code units at a time: a non-ASCII unit at any place in
// or after such a run, including ones whose low byte alone would read as ASCII, must still
// be encoded.
TEST(Utf8Test, NonAsciiAtEveryPlaceOfAnAsciiRun) {
  struct Unit {
    std::u16string text;
    std::string utf8;
  };
  const Unit units[] = {
      {u"\u0080", "\xC2\x80"},
      {u"\u0141", "\xC5\x81"},  // low byte 0x41
      {u"\u0100", "\xC4\x80"},  // low byte 0
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string{char16_t{0xDC00}}, "\xEF\xBF\xBD"},
  };
  const std::u16string ascii = u"abcdefghijkl";
  for (const Unit& u : units) {
    for (size_t at = 0; at <= ascii.size(); ++at) {
      const std::u16string text = ascii.substr(0, at) + u.text + ascii.substr(at);
      const std::string expected =
          ToUtf8(ascii).substr(0, at) + u.utf8 + ToUtf8(ascii).substr(at);
      EXPECT_EQ(ToUtf8(text), expected) << at;
    }
  }
  EXPECT_EQ(ToUtf8(ascii), "abcdefghijkl");
}

TEST(Utf8Test, UnpairedSurrogatesBecomeReplacementCharacters) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {std::u16string{u'a', char16_t{0xD800}, u'b'}, "a\xEF\xBF\xBD" "b"},
      {std::u16string{char16_t{0xDC00}, u'x'}, "\xEF\xBF\xBDx"},
      {std::u16string{char16_t{0xD83D}}, "\xEF\xBF\xBD"},                  // high at the end
      {std::u16string{char16_t{0xDE00}, char16_t{0xD83D}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf8(c.text), c.expected);
}

TEST(Utf8Test, MalformedInputBecomesReplacementCharacters) {
  const std::u16string r(1, char16_t{0xFFFD});
  struct Case {
    std::string bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"a\x80z", u"a" + r + u"z"},                     // stray continuation byte
      {"\xC3", r},                                     // truncated at the end
      {"\xC3(", r + u"("},                             // continuation missing
      {"\xC0\xAF", r + r},                             // overlong "/"
      {"\xE0\x80\xAF", r + r + r},                     // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},                     // encoded surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},             // beyond U+10FFFF
      {"\xFF\xFE", r + r},                             // never valid
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromUtf8(c.bytes), c.expected) << testing::PrintToString(c.bytes);
  }
}

TEST(TextTest, CaseAndReplace) {
  EXPECT_EQ(LowerCase(u"AbC/Port"), u"abc/port");
  EXPECT_EQ(UpperCase(u"$version"), u"$VERSION");
  EXPECT_TRUE(SameText(u"/BATCH", u"/batch"));
  EXPECT_FALSE(SameText(u"/BATCH", u"/batc"));
  EXPECT_EQ(ReplaceAll(u"a.b.c", u".", u"::"), u"a::b::c");
  EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"b"), u"ba");
  EXPECT_EQ(ReplaceAll(u"abc", u"", u"x"), u"abc");
  EXPECT_EQ(IntToStr(INT64_MIN), u"-9223372036854775808");
}

}  // namespace
}  // namespace qvpa
