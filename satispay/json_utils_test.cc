#include "satispay/json_utils.h"

#include <string>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

using nlohmann::json;

const char16_t kAnswer[] = uR"({
  "id": 42, "name": "caf\u00e9", "nul": null, "flag": true, "off": false, "flag_text": "true",
  "shop": {"id": "s1", "tags": ["x"]}, "data": [1, {"id": "p9", "amount_unit": 5}],
  "amount_unit": 1250, "amount_text": "1250", "amount_fraction": 123.45, "negative": -7,
  "huge": 18446744073709551615, "half_down": 0.005, "half_up": 0.015, "half_neg": -0.015,
  "not_a_number": "12a"
})";

class JSONUtilsTest : public ::testing::Test {
 protected:
  json doc_ = kJSONUtils::Parse(kAnswer);
  const json* jo_ = &doc_;
};

TEST_F(JSONUtilsTest, GetString) {
  const struct {
    const char16_t* path;
    const char16_t* expected;
  } cases[] = {
      {u"name", u"caf\u00e9"}, {u"id", u"42"},          {u"negative", u"-7"},
      {u"huge", u"18446744073709551615"},               {u"amount_fraction", u"123.45"},
      {u"nul", u""},           {u"flag", u""},          {u"shop", u""},
      {u"data", u""},          {u"missing", u""},       {u"shop.id", u"s1"},
      {u"shop.tags[0]", u"x"}, {u"data[1].id", u"p9"},  {u"data[2].id", u""},
      {u"data[x]", u""},       {u"shop[0]", u""},       {u"name.id", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
    EXPECT_EQ(kJSONUtils::GetString(jo_, c.path), c.expected);
  }
  EXPECT_EQ(kJSONUtils::GetString(nullptr, u"id"), u"");
}

TEST_F(JSONUtilsTest, GetBooleanObjectArray) {
  EXPECT_TRUE(kJSONUtils::GetBoolean(jo_, u"flag"));
  EXPECT_FALSE(kJSONUtils::GetBoolean(jo_, u"off"));
  EXPECT_FALSE(kJSONUtils::GetBoolean(jo_, u"flag_text"));
  EXPECT_FALSE(kJSONUtils::GetBoolean(jo_, u"id"));
  EXPECT_FALSE(kJSONUtils::GetBoolean(jo_, u"missing"));
  EXPECT_FALSE(kJSONUtils::GetBoolean(nullptr, u"flag"));

  const json* shop = kJSONUtils::GetObject(jo_, u"shop");
  ASSERT_NE(shop, nullptr);
  EXPECT_EQ(shop, &doc_["shop"]);  // the member itself, still owned by the document
  EXPECT_EQ(kJSONUtils::GetString(shop, u"id"), u"s1");
  EXPECT_EQ(kJSONUtils::GetObject(jo_, u"data"), nullptr);
  EXPECT_EQ(kJSONUtils::GetString(kJSONUtils::GetObject(jo_, u"data"), u"id"), u"");
  EXPECT_EQ(kJSONUtils::GetObject(jo_, u"nul"), nullptr);
  EXPECT_EQ(kJSONUtils::GetObject(nullptr, u"shop"), nullptr);

  const json* data = kJSONUtils::GetArray(jo_, u"data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->size(), 2u);
  EXPECT_EQ(kJSONUtils::GetArray(jo_, u"shop"), nullptr);
  EXPECT_NE(kJSONUtils::GetArray(jo_, u"shop.tags"), nullptr);
}

TEST_F(JSONUtilsTest, GetCurrencyReadsHundredths) {
  const struct {
    const char16_t* path;
    int64_t raw;  // value x 10000
  } cases[] = {
      {u"amount_unit", 125000},    {u"amount_text", 125000}, {u"amount_fraction", 12345},
      {u"data[1].amount_unit", 500}, {u"negative", -700},     {u"half_down", 0},
      {u"half_up", 2},             {u"half_neg", -2},        {u"missing", 0},
      {u"name", 0},                {u"not_a_number", 0},     {u"flag", 0},
      {u"huge", 0},  // beyond the fixed-point range
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
    EXPECT_EQ(kJSONUtils::GetCurrency(jo_, c.path).Raw(), c.raw);
  }
  EXPECT_EQ(kJSONUtils::GetCurrency(nullptr, u"amount_unit").Raw(), 0);
}

// A number read as text is the number exactly as written; as an amount it is computed on
// that text, rounded once.
TEST(JSONUtilsNumberTest, NumbersKeepTheirTextAndExactValue) {
  const struct {
    const char* lexeme;
    const char16_t* text;
    int64_t raw;  // GetCurrency x 10000
  } cases[] = {
      {"12.50", u"12.50", 1250},
      {"1250", u"1250", 125000},
      {"0.10", u"0.10", 10},
      {"-7", u"-7", -700},
      {"1.0", u"1.0", 100},
      {"1e3", u"1e3", 100000},
      {"125E1", u"125E1", 125000},
      {"1.25E+3", u"1.25E+3", 125000},
      {"2.5e-1", u"2.5e-1", 25},
      {"0.01495", u"0.01495", 1},  // one rounding: 0.0001495 -> 0.0001, not 0.0150 -> 0.0002
      {"123456789012345678901234", u"123456789012345678901234", 0},  // beyond the fixed-point range
      {"18446744073709551615", u"18446744073709551615", 0},
      {"-9223372036854775808", u"-9223372036854775808", 0},
      {"0.30000000000000004441", u"0.30000000000000004441", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lexeme);
    const json doc = kJSONUtils::Parse(FromUtf8(std::string(R"({"n":)") + c.lexeme + R"(,"a":[)" + c.lexeme + "]}"));
    EXPECT_EQ(kJSONUtils::GetString(&doc, u"n"), c.text);
    EXPECT_EQ(kJSONUtils::GetString(&doc, u"a[0]"), c.text);
    EXPECT_EQ(kJSONUtils::GetCurrency(&doc, u"n").Raw(), c.raw);
  }
  // Numbers built in code rather than parsed still read.
  const json built = {{"n", 12.5}, {"i", 42}};
  EXPECT_EQ(kJSONUtils::GetString(&built, u"n"), u"12.5");
  EXPECT_EQ(kJSONUtils::GetCurrency(&built, u"n").Raw(), 1250);
  EXPECT_EQ(kJSONUtils::GetString(&built, u"i"), u"42");
}

TEST(JSONUtilsDateTest, GetDateFromString) {
  EXPECT_EQ(kJSONUtils::GetDateFromString(u"20240131"), *TryEncodeDateTime(2024, 1, 31, 0, 0, 0, 0));
  const struct {
    const char16_t* text;
    const char16_t* message;
  } failures[] = {
      {u"20240231", u"Invalid argument to date encode"},
      {u"20241301", u"Invalid argument to date encode"},
      {u"2024013", u"'3' is not a valid integer value"},
      {u"", u"'' is not a valid integer value"},
      {u"2024ab31", u"'ab' is not a valid integer value"},
  };
  for (const auto& f : failures) {
    try {
      kJSONUtils::GetDateFromString(f.text);
      ADD_FAILURE() << "no error";
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), f.message);
    }
  }
}

TEST(JSONUtilsParseTest, RejectsMalformedDeepAndHugeTexts) {
  auto nested = [](std::size_t depth, bool closed) {
    return std::string(depth, '[') + (closed ? std::string(depth, ']') : std::string());
  };
  EXPECT_TRUE(kJSONUtils::TryParse(nested(kJSONUtils::kMaxDepth, true)).has_value());
  EXPECT_FALSE(kJSONUtils::TryParse(nested(kJSONUtils::kMaxDepth + 1, true)).has_value());
  EXPECT_FALSE(kJSONUtils::TryParse(nested(2000000, true)).has_value());
  EXPECT_FALSE(kJSONUtils::TryParse(nested(2000000, false)).has_value());
  EXPECT_FALSE(kJSONUtils::TryParse(std::string(R"({"a":)") + nested(100000, true) + "}").has_value());

  std::string huge = "\"" + std::string(kJSONUtils::kMaxTextBytes, 'a') + "\"";
  EXPECT_FALSE(kJSONUtils::TryParse(huge).has_value());

  for (const char* bad : {"", "{", R"({"a":})", "[1,]", "{\"a\":\"\xC3\"}", "1 2"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(kJSONUtils::TryParse(std::string_view(bad)).has_value());
  }
  try {
    kJSONUtils::Parse(std::u16string(600, u'['));
    ADD_FAILURE() << "no error";
  } catch (const EQVError& e) {
    EXPECT_EQ(e.Message(), u"Invalid JSON: nested too deeply");
  }
  try {
    kJSONUtils::Parse(u"{\"a\" 1}");
    ADD_FAILURE() << "no error";
  } catch (const EQVError& e) {
    EXPECT_EQ(e.Message().rfind(u"Invalid JSON: ", 0), 0u);
    EXPECT_GT(e.Message().size(), 20u);
  }
}

}  // namespace
}  // namespace qvpa
