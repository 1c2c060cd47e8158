#include "base/currency.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/text.h"

namespace qvpa {
namespace {

TEST(CurrencyParseTest, Table) {
  struct Case {
    std::u16string text;
    std::optional<int64_t> raw;  // value x 10000; empty: must fail
  };
  const Case cases[] = {
      {u"12.5", 125000},
      {u"  12.5 ", 125000},
      {u"12.34567", 123457},
      {u"12.34565", 123456},  // exactly half: to even
      {u"12.34575", 123458},
      {u"-3.25", -32500},
      {u"+7", 70000},
      {u".5", 5000},
      {u"5.", 50000},
      {u"0.0001", 1},
      {u"0.00005", 0},
      {u"0.000051", 1},
      {u"1.5e3", 15000000},
      {u"125E-2", 12500},
      {u"1e-400", 0},
      {u"0e99999999", 0},
      {u"922337203685477.5807", INT64_MAX},
      {u"-922337203685477.5807", -INT64_MAX},
      {u"1,234.50", std::nullopt},
      {u"10%", std::nullopt},
      {u"", std::nullopt},
      {u"   ", std::nullopt},
      {u"-", std::nullopt},
      {u".", std::nullopt},
      {u"1e", std::nullopt},
      {u"1e+", std::nullopt},
      {u"1 2", std::nullopt},
      {u"1.2.3", std::nullopt},
      {u"922337203685477.5808", std::nullopt},
      {u"1e15", std::nullopt},
      {u"1e400", std::nullopt},
      {u"99999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<Currency> got = Currency::Parse(c.text);
    if (c.raw) {
      ASSERT_TRUE(got.has_value()) << ToUtf8(c.text);
      EXPECT_EQ(got->Raw(), *c.raw) << ToUtf8(c.text);
    } else {
      EXPECT_FALSE(got.has_value()) << ToUtf8(c.text) << " gave " << got->Raw();
    }
  }
}

TEST(CurrencyTextTest, ShortestForm) {
  struct Case {
    int64_t raw;
    std::u16string text;
  };
  const Case cases[] = {{125000, u"12.5"}, {1000000, u"100"},  {0, u"0"},
                        {-32500, u"-3.25"}, {1, u"0.0001"},     {-1, u"-0.0001"},
                        {12345670, u"1234.567"},
                        {INT64_MIN, u"-922337203685477.5808"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Currency::FromRaw(c.raw).ToText(), c.text) << c.raw;
    if (c.raw != INT64_MIN) {
      EXPECT_EQ(Currency::Parse(c.text)->Raw(), c.raw);
    }
  }
}

TEST(CurrencyCentsTest, RoundsHalfAwayFromZero) {
  EXPECT_EQ(Currency::FromRaw(125000).ToCents(), 1250);
  EXPECT_EQ(Currency::FromRaw(123450).ToCents(), 1235);
  EXPECT_EQ(Currency::FromRaw(123449).ToCents(), 1234);
  EXPECT_EQ(Currency::FromRaw(-123450).ToCents(), -1235);
  EXPECT_EQ(Currency::FromCents(1250).Raw(), 125000);
}

}  // namespace
}  // namespace qvpa
