#include "tools/fault-soak/log_check.h"

#include <gtest/gtest.h>

namespace qvpa::soak {
namespace {

std::string Line(const std::string& message) { return "2026-12-11 00:50:01:002 - " + message + "\r\n"; }

const std::string kLog = Line("kSATISPAY.PayBegin:") + Line("kSATISPAY.Method:POST /g_business/v1/payments") +
                         Line("kSATISPAY.Request:{\"flow\":\"MATCH_CODE\"}") +
                         "2026-12-11 00:50:01:003 - ERROR - kSATISPAY.ExecuteRequest:Connection dropped\r\n" +
                         Line("kSATISPAY.Retry:Idempotency-Key=k1") + Line("kSATISPAY.Response:{\"id\":\"p1\"}") +
                         Line("kSATISPAY.Method:GET /g_business/v1/payments/p1") +
                         Line("kSATISPAY.Resent:sent once more over a new connection") +
                         Line("kSATISPAY.Response:500 Internal Server Error");

TEST(LogCheck, ReadsRequestsWithTheirRepeatsAndAnswers) {
  const DeviceLog log = ReadDeviceLog(kLog);
  EXPECT_TRUE(log.problems.empty());
  ASSERT_EQ(log.requests.size(), 2u);
  EXPECT_EQ(log.requests[0].request, "POST /g_business/v1/payments");
  EXPECT_EQ(log.requests[0].attempts, 2);
  EXPECT_EQ(log.requests[1].attempts, 2);
  EXPECT_TRUE(log.requests[1].answered);
}

TEST(LogCheck, FindsWhatTheLogDoesNotAccountFor) {
  const std::string post = "POST /g_business/v1/payments", get = "GET /g_business/v1/payments/p1";
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> received;
    size_t problems;
  };
  const Case cases[] = {
      {"everything, the repeat included", kLog, {post, post, get}, 0},
      {"a refused connection never arrived", kLog, {get}, 0},
      {"a third copy of a request sent twice", kLog, {post, post, post, get}, 1},
      {"a request the transport sent again", kLog, {post, get, get}, 0},
      {"a third copy of that", kLog, {post, get, get, get}, 1},
      {"out of order", kLog, {get, post}, 1},
      {"a request the log never saw", kLog, {post, "GET /g_business/v1/daily_closure/20261211"}, 1},
      {"a cut last line", kLog + "2026-12-11 00:50:01:004 - kSATISPAY.Meth", {}, 1},
      {"two lines run together", Line("kSATISPAY.Method:GET /x") + "kSATISPAY.Response:{}\r\n", {}, 2},
      {"a request without its answer", Line("kSATISPAY.Method:GET /x") + Line("kSATISPAY.Method:GET /y") +
                                           Line("kSATISPAY.Response:{}"), {"GET /x", "GET /y"}, 1},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> problems = CheckReceivedInLog(ReadDeviceLog(c.text), c.received);
    EXPECT_EQ(problems.size(), c.problems) << c.what << (problems.empty() ? "" : ": " + problems.front());
  }
}

}  // namespace
}  // namespace qvpa::soak
