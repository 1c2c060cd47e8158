#include "tools/qvpa-host/host_script.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qvpa::host {
namespace {

TEST(HostScriptTest, ParsesCallsWithOptionsAndMultiLineRequests) {
  const auto steps = ParseScript(
      "# demo\n"
      "CALL OPEN expect=0\r\n"
      "<Request>\n"
      "  <Driver>X</Driver>\n"
      "</Request>\n"
      "END\n"
      "\n"
      "CALL PAY until=Error=False max=5 every=10\n"
      "<Request/>\n"
      "END\n"
      "CALL GETSTATUS\n"
      "END\n");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].export_name, "OPEN");
  EXPECT_EQ(steps[0].expect, 0);
  EXPECT_EQ(steps[0].request, "<Request>\n  <Driver>X</Driver>\n</Request>");
  EXPECT_EQ(steps[1].until_element, "Error");
  EXPECT_EQ(steps[1].until_value, "False");
  EXPECT_EQ(steps[1].max_calls, 5);
  EXPECT_EQ(steps[1].every_ms, 10);
  EXPECT_EQ(steps[2].request, "");
  EXPECT_EQ(steps[2].max_calls, 1);
}

TEST(HostScriptTest, MalformedScriptsNameTheLine) {
  const struct {
    const char* script;
    const char* message;
  } cases[] = {
      {"OPEN\n", "line 1: expected CALL"},
      {"CALL\nEND\n", "line 1: CALL needs an export name"},
      {"\nCALL OPEN\n<R/>\n", "line 2: CALL without END"},
      {"CALL OPEN expect=zero\nEND\n", "line 1: not a number"},
      {"CALL OPEN until=Error\nEND\n", "line 1: until needs"},
      {"CALL OPEN colour=red\nEND\n", "line 1: unknown option"},
      {"CALL PAY until=A=B max=0\nEND\n", "line 1: max must be"},
  };
  for (const auto& c : cases) {
    try {
      ParseScript(c.script);
      ADD_FAILURE() << "accepted: " << c.script;
    } catch (const ScriptError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(HostScriptTest, LaterResultsReplaceEarlierValues) {
  ResultValues values;
  values.Record("<Handle>1</Handle>\r\n<Error>False</Error>\r\n<ErrorText></ErrorText>", "");
  values.Record("<PaymentNumber>P&amp;1</PaymentNumber>\r\n<AuthCode>&lt;42&gt;</AuthCode>",
                "oops");
  EXPECT_EQ(values.Substitute("<Handle>${Handle}</Handle><A>${PaymentNumber}</A>"),
            "<Handle>1</Handle><A>P&1</A>");
  EXPECT_EQ(values.Find("AuthCode"), "<42>");
  EXPECT_EQ(values.Find("ErrorText"), "");
  EXPECT_EQ(values.Find("ErrorMessage"), "oops");  // the last error text
  EXPECT_EQ(values.Find("Error"), "False");        // the element of an earlier document
  values.Record("<Handle>7</Handle>", "");
  EXPECT_EQ(values.Substitute("${Handle}"), "7");
  EXPECT_EQ(values.Substitute("${Output}"), "<Handle>7</Handle>");
  EXPECT_THROW(values.Substitute("${Nope}"), ScriptError);
  setenv("QVPA_HOST_TEST_TOKEN", "tok", 1);
  EXPECT_EQ(values.Substitute("a${env:QVPA_HOST_TEST_TOKEN}b ${"), "atokb ${");
}

}  // namespace
}  // namespace qvpa::host
