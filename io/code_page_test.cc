#include "io/code_page.h"

#include <gtest/gtest.h>

#include "base/error_test_support.h"

namespace qvpa {
namespace {

TEST(CodePageTest, EncodesThroughWindowsCodePages) {
  const struct {
    std::u16string text;
    int32_t code_page;
    std::string bytes;
  } cases[] = {
      {u"Caf\u00e9 \u20ac", 1252, "Caf\xe9 \x80"},
      {u"\u00e9\u00c7", 850, "\x82\x80"},
      {u"\u00e9\u2591", 437, "\x82\xb0"},
      {u"\u0416", 1251, "\xc6"},
      {u"", 1252, ""},
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(EncodeCodePage(tc.text, tc.code_page), tc.bytes) << tc.code_page;
  }
}

TEST(CodePageTest, RefusesWhatTheCodePageCannotHold) {
  EXPECT_EQ(ErrorOf([] { EncodeCodePage(u"ok \u20ac", 437); }),
            u"Character \"\u20ac\" (U+20AC) has no byte in code page 437");
  EXPECT_EQ(ErrorOf([] { EncodeCodePage(u"a\U0001F600", 1252); }),
            u"Character \"\U0001F600\" (U+01F600) has no byte in code page 1252");
  EXPECT_EQ(ErrorOf([] { EncodeCodePage(u"x", 99999); }), u"Code page 99999 is not available");
  EXPECT_EQ(ErrorOf([] { EncodeLatin1(u"\u00ff\u0100"); }),
            u"Character \"\u0100\" (U+0100) has no byte in one byte per character");
}

TEST(CodePageTest, Latin1KeepsEveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::u16string text = DecodeLatin1(all);
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], static_cast<char16_t>(b));
  EXPECT_EQ(EncodeLatin1(text), all);
}

}  // namespace
}  // namespace qvpa
