#include "satispay/base64.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"

namespace qvpa {
namespace {

std::string Text(const TJOSEBytes& bytes) { return bytes.AsByteString(); }
TJOSEBytes Bytes(std::string_view raw) { return TJOSEBytes::FromByteString(raw); }

std::u16string DecodeError(std::string_view text, bool url) {
  try {
    url ? TBase64::URLDecode(Bytes(text)) : TBase64::Decode(Bytes(text));
  } catch (const EQVError& e) {
    return e.Message();
  }
  return u"(no error)";
}

TEST(TBase64Test, Rfc4648Vectors) {
  struct Case {
    const char* plain;
    const char* standard;
    const char* url;
  };
  const Case cases[] = {
      {"", "", ""},           {"f", "Zg==", "Zg"},         {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"}, {"foob", "Zm9vYg==", "Zm9vYg"}, {"fooba", "Zm9vYmE=", "Zm9vYmE"},
      {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain);
    EXPECT_EQ(Text(TBase64::Encode(Bytes(c.plain))), c.standard);
    EXPECT_EQ(Text(TBase64::Decode(Bytes(c.standard))), c.plain);
    EXPECT_EQ(Text(TBase64::URLEncode(Bytes(c.plain))), c.url);
    EXPECT_EQ(Text(TBase64::URLDecode(Bytes(c.url))), c.plain);
    EXPECT_EQ(Text(TBase64::URLDecode(Bytes(c.standard))), c.plain);  // padding tolerated
  }
}

TEST(TBase64Test, UrlAlphabetReplacesPlusAndSlashWithoutPadding) {
  const TJOSEBytes bytes(std::vector<uint8_t>{0xFB, 0xFF});
  EXPECT_EQ(Text(TBase64::Encode(bytes)), "+/8=");
  EXPECT_EQ(Text(TBase64::URLEncode(bytes)), "-_8");
  EXPECT_EQ(TBase64::URLDecode(Bytes("-_8")), bytes);
}

TEST(TBase64Test, LineBreakAfterEvery76Characters) {
  std::vector<uint8_t> sixty(60);
  for (std::size_t i = 0; i < sixty.size(); ++i) sixty[i] = static_cast<uint8_t>(i * 7);
  const std::string encoded = Text(TBase64::Encode(sixty));
  ASSERT_EQ(encoded.size(), 82u);
  EXPECT_EQ(encoded.substr(76, 2), "\r\n");
  EXPECT_EQ(encoded.find('\r', 78), std::string::npos);
  const std::string url = Text(TBase64::URLEncode(sixty));
  EXPECT_EQ(url.size(), 80u);
  EXPECT_EQ(url.find_first_of("\r\n="), std::string::npos);

  // Exactly two full lines: one break between them, none at the end.
  EXPECT_EQ(Text(TBase64::Encode(std::vector<uint8_t>(114, 0x41))).size(), 76u + 2 + 76);

  // A larger text: every line but the last is 76 characters, and it all decodes back.
  const TJOSEBytes big = TJOSEBytes::RandomBytes(1000);
  const std::string lines = Text(TBase64::Encode(big));
  std::size_t start = 0, line_count = 0;
  for (std::size_t br; (br = lines.find("\r\n", start)) != std::string::npos; start = br + 2) {
    EXPECT_EQ(br - start, 76u);
    ++line_count;
  }
  EXPECT_EQ(line_count, 1000 / 57);
  EXPECT_LE(lines.size() - start, 76u);
  EXPECT_EQ(TBase64::Decode(Bytes(lines)), big);
  EXPECT_EQ(TBase64::URLDecode(TBase64::URLEncode(big)), big);
}

TEST(TBase64Test, MalformedTextIsRejected) {
  const struct {
    const char* text;
    bool url;
  } cases[] = {
      {"Zm9v!", false}, {"Zm=9", false}, {"Z", false},     {"Zg===", false}, {"Zm9vY===", false},
      {"Zm 9v", false}, {"+/8", true},   {"Zm9v\x80", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DecodeError(c.text, c.url), u"Invalid Base64 text");
  }
}

TEST(TJOSEBytesTest, TextConversionsAreUtf8) {
  const TJOSEBytes bytes(u"a\u00e9\u20ac");
  EXPECT_EQ(bytes.AsBytes(), (std::vector<uint8_t>{'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}));
  EXPECT_EQ(bytes.AsString(), u"a\u00e9\u20ac");
  EXPECT_TRUE(bytes == u"a\u00e9\u20ac");
  EXPECT_FALSE(bytes == u"a\u00e9");
  EXPECT_EQ(Bytes("a\xFF").AsString(), u"a\uFFFD");
}

TEST(TJOSEBytesTest, AdditionAndCopiesAreIndependent) {
  const TJOSEBytes left(u"ab");
  TJOSEBytes copy = left;
  const TJOSEBytes sum = left + static_cast<uint8_t>('c') + std::vector<uint8_t>{'d'} + TJOSEBytes(u"e") + u"f";
  EXPECT_EQ(sum, u"abcdef");
  EXPECT_EQ(left, u"ab");
  copy = copy + u"x";
  copy.Clear();
  EXPECT_TRUE(copy.IsEmpty());
  EXPECT_EQ(left.Size(), 2u);
  EXPECT_EQ(TJOSEBytes::Empty(), TJOSEBytes(std::vector<uint8_t>{}));
}

TEST(TJOSEBytesTest, Contains) {
  const TJOSEBytes bytes(u"abcab");
  const struct {
    const char* run;
    bool contained;
  } cases[] = {
      {"a", true}, {"cab", true}, {"abcab", true}, {"ac", false}, {"", false}, {"abcabc", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.run);
    EXPECT_EQ(bytes.Contains(Bytes(c.run)), c.contained);
  }
  EXPECT_TRUE(bytes.Contains(static_cast<uint8_t>('c')));
  EXPECT_FALSE(bytes.Contains(static_cast<uint8_t>('d')));
  EXPECT_FALSE(TJOSEBytes().Contains(Bytes("")));
}

TEST(TJOSEBytesTest, RandomBytesNeverHold255) {
  EXPECT_TRUE(TJOSEBytes::RandomBytes(0).IsEmpty());
  const TJOSEBytes bytes = TJOSEBytes::RandomBytes(100000);
  ASSERT_EQ(bytes.Size(), 100000u);
  std::vector<int> seen(256);
  for (uint8_t b : bytes.AsBytes()) ++seen[b];
  EXPECT_EQ(seen[255], 0);
  for (int value = 0; value < 255; ++value) EXPECT_GT(seen[value], 0) << value;
  EXPECT_NE(TJOSEBytes::RandomBytes(32), TJOSEBytes::RandomBytes(32));
}

}  // namespace
}  // namespace qvpa
