#include "request/rpt_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "base/date_time.h"
#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "request/xml_parser.h"

namespace qvpa {
namespace {

// Parses a small document and returns its root element (kept alive by the fixture).
class RptUtilTest : public ::testing::Test {
 protected:
  XmlNode Root(const char* aXml) {
    XmlParseResult result = ParseXml(aXml);
    EXPECT_TRUE(result.document) << aXml << ": " << result.description;
    doc_ = std::move(result.document);
    return doc_ ? doc_->DocumentElement() : XmlNode();
  }
  // "<r><V>text</V></r>"
  XmlNode WithValue(const std::string& aText) {
    xml_ = "<r><V>" + aText + "</V></r>";
    return Root(xml_.c_str());
  }
  std::unique_ptr<XmlDocument> doc_;
  std::string xml_;
};

TEST_F(RptUtilTest, IntegerTexts) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case kGood[] = {
      {"42", 42},          {"-7", -7},           {"$1F", 31},
      {"0x1F", 31},        {"0X1f", 31},         {"x1f", 31},
      {"X1F", 31},         {"  42", 42},         {"+5", 5},
      {"-$10", -16},       {"007", 7},           {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"$7FFFFFFF", INT32_MAX}, {"-0x80000000", INT32_MIN},
  };
  for (const Case& c : kGood) {
    EXPECT_EQ(krptUtil::GetNodeValueAsInteger(WithValue(c.text), u"V"), c.value) << c.text;
  }
  const char* kBad[] = {"4.5",  "42 ",   "2147483648", "-2147483649", "$80000000",
                        "$",    "0x",    "-",          "$G1",         "1e3",
                        "\t5",  "12abc", "99999999999999999999999",   "0x-1", "--1"};
  for (const char* text : kBad) {
    EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsInteger(WithValue(text), u"V"); }),
              u"Error in processing node V as integer.\r\n'" + FromUtf8(text) +
                  u"' is not a valid integer value")
        << text;
  }
}

TEST_F(RptUtilTest, MissingAndEmptyElementsGiveDefaults) {
  const XmlNode root = Root("<r><E/><F></F><G>   </G></r>");
  for (const char16_t* name : {u"E", u"F", u"G", u"Missing"}) {
    EXPECT_EQ(krptUtil::GetNodeValueAsString(root, name), u"") << ToUtf8(name);
    EXPECT_EQ(krptUtil::GetNodeValueAsInteger(root, name), 0) << ToUtf8(name);
    EXPECT_EQ(krptUtil::GetNodeValueAsCurrency(root, name), Currency()) << ToUtf8(name);
  }
  EXPECT_TRUE(krptUtil::GetNodeValueAsBoolean(root, u"Missing", true));
  EXPECT_FALSE(krptUtil::GetNodeValueAsBoolean(root, u"Missing", false));
  EXPECT_EQ(krptUtil::GetNodeValueAsDateTime(root, u"Missing"), 0.0);
  // Present but empty is not missing for Booleans and date-times.
  EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsBoolean(root, u"E", true); }),
            u"Error in processing node E as boolean.\r\n'' is not a valid boolean value");
  EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsDateTime(root, u"F"); }),
            u"Error in processing node F as datetime.\r\nDateTime Format invalid: []");
  EXPECT_EQ(krptUtil::TryGetNodeValueAsDateTime(root, u"F"), 0.0);
}

TEST_F(RptUtilTest, CurrencyTexts) {
  struct Case {
    const char* text;
    int64_t raw;
  };
  const Case kGood[] = {{"12.5", 125000},   {" 12.5 ", 125000}, {"12.50", 125000},
                        {"12.34567", 123457}, {"-3.25", -32500}, {"1e3", 10000000},
                        {"0.0001", 1}};
  for (const Case& c : kGood) {
    EXPECT_EQ(krptUtil::GetNodeValueAsCurrency(WithValue(c.text), u"V").Raw(), c.raw) << c.text;
  }
  for (const char* text : {"12,50", "1,234.50", "abc", "10%", "%s%d"}) {
    EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsCurrency(WithValue(text), u"V"); }),
              u"Error in processing node V as currency.\r\n'" + FromUtf8(text) +
                  u"' is not a valid floating point value")
        << text;
  }
}

TEST_F(RptUtilTest, BooleanTexts) {
  struct Case {
    const char* text;
    bool value;
  };
  const Case kGood[] = {{"TRUE", true},   {"true", true},   {"True", true}, {"1", true},
                        {"-2", true},     {"0.5", true},    {"FALSE", false}, {"false", false},
                        {"0", false},     {"0.00", false},  {" 0 ", false}};
  for (const Case& c : kGood) {
    // The default is the opposite value so that a default answer shows up.
    EXPECT_EQ(krptUtil::GetNodeValueAsBoolean(WithValue(c.text), u"V", !c.value), c.value)
        << c.text;
  }
  for (const char* text : {"yes", "on", "truee", " true", "1.2.3", "e5"}) {
    EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsBoolean(WithValue(text), u"V", true); }),
              u"Error in processing node V as boolean.\r\n'" + FromUtf8(text) +
                  u"' is not a valid boolean value")
        << text;
  }
}

TEST_F(RptUtilTest, DateTimeTexts) {
  const TDateTime expected = *TryEncodeDateTime(2024, 3, 5, 14, 7, 9, 250);
  EXPECT_DOUBLE_EQ(
      krptUtil::GetNodeValueAsDateTime(WithValue("2024-03-05T14:07:09.250"), u"V"), expected);
  const XmlNode bad_month = WithValue("2024-13-05T14:07:09");
  EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsDateTime(bad_month, u"V"); }),
            u"Error in processing node V as datetime.\r\nDateTime Format invalid: "
            u"[2024-13-05T14:07:09]");
  EXPECT_EQ(krptUtil::TryGetNodeValueAsDateTime(WithValue("2024-13-05T14:07:09"), u"V"), 0.0);
  EXPECT_EQ(krptUtil::TryGetNodeValueAsDateTime(WithValue("<x/>"), u"V"), 0.0);
}

TEST_F(RptUtilTest, ValueTextNeedsOneTextOrCdataChild) {
  const XmlNode root = Root(
      "<r><Payment><Amount>1</Amount></Payment><Mixed>a<b/>c</Mixed>"
      "<C><![CDATA[<&> 50%]]></C><S>  a b  </S><Ent>&lt;&amp;&#x20AC;</Ent></r>");
  EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsString(root, u"Payment"); }),
            u"Error in processing node Payment as string.\r\n"
            u"Element \"Payment\" does not contain a single text node");
  EXPECT_EQ(ErrorOf([&] { krptUtil::GetNodeValueAsInteger(root, u"Mixed"); }),
            u"Error in processing node Mixed as integer.\r\n"
            u"Element \"Mixed\" does not contain a single text node");
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"C"), u"<&> 50%");
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"S"), u"  a b  ");
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"Ent"), u"<&\u20AC");
}

TEST_F(RptUtilTest, ChildLookupIsExactDirectAndFirstMatch) {
  const XmlNode root = Root(
      "<r xmlns:p='urn:x'><Sub><Driver>deep</Driver></Sub><p:LogId>L1</p:LogId>"
      "<Dup>first</Dup><Dup>second</Dup><driver>lower</driver><!-- c --></r>");
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"Driver"), u"");  // grandchild, wrong case
  EXPECT_FALSE(krptUtil::HasNode(root, u"Driver"));
  EXPECT_TRUE(krptUtil::HasNode(root, u"driver"));
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"LogId"), u"L1");    // local name
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"p:LogId"), u"L1");  // full name
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"Dup"), u"first");
}

TEST_F(RptUtilTest, AttributesAndAddedNodes) {
  XmlNode root = Root("<r a='1' b=''/>");
  EXPECT_EQ(krptUtil::GetAttributeValueAsString(root, u"a"), u"1");
  EXPECT_EQ(krptUtil::GetAttributeValueAsString(root, u"b"), u"");
  EXPECT_EQ(krptUtil::GetAttributeValueAsString(root, u"c"), u"");

  const XmlNode added = krptUtil::AddNode(root, u"Note", u"x < y \u00E8");
  EXPECT_EQ(added.Parent(), root);
  EXPECT_EQ(root.FirstChild().NextSibling(), XmlNode());  // first and only child
  EXPECT_EQ(root.FirstChild(), added);
  EXPECT_EQ(krptUtil::GetNodeValueAsString(root, u"Note"), u"x < y \u00E8");
  krptUtil::AddNode(root, u"Empty", u"");
  EXPECT_TRUE(krptUtil::HasNode(root, u"Empty"));
  EXPECT_THROW(krptUtil::AddNode(XmlNode(), u"X", u"1"), EQVError);
}

TEST(RptUtilNormalizeTest, ReducesToPrintableAscii) {
  struct Case {
    std::u16string in, out;
  };
  const Case kCases[] = {
      {u"TOTALE \u20AC 5", u"TOT. E 5"},
      {u"a\tb\r\n", u"a b  "},
      {u"\u00E8", u" "},  // lower-case accents are not mapped
      {u"\u00C0\u00D9\u00C8\u00C9\u00D2\u00D6\u00C7\u00CF\u00CC", u"AUEEOOCII"},
      {u"TOTAL\u00C8", u"TOT."},  // mapping runs before the abbreviation
      {u"\x7F~", u"\x7F~"},
      {u"\U0001F600", u"  "},  // one blank per UTF-16 code unit
      {u"", u""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(krptUtil::NormalizeText(c.in), c.out) << ToUtf8(c.in);
  }
}

TEST(RptUtilStrToIntTest, ReasonIsNotWrapped) {
  EXPECT_EQ(krptUtil::StrToInt(u"$ff"), 255);
  EXPECT_EQ(ErrorOf([] { krptUtil::StrToInt(u""); }), u"'' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { krptUtil::StrToInt(u"5 s"); }), u"'5 s' is not a valid integer value");
}

}  // namespace
}  // namespace qvpa
