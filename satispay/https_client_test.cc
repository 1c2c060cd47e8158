#include "satispay/https_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "base/error.h"
#include "satispay/tls_test_server.h"

namespace qvpa {
namespace {

using testing::TestAuthority;
using testing::TlsTestServer;

// What the server saw of the last request.
struct Seen {
  std::mutex mutex;
  std::string method, target, body, content_type, user_agent, host, custom;
  bool has_expect = false;
};

void Record(Seen& seen, const httplib::Request& req) {
  std::lock_guard lock(seen.mutex);
  seen.method = req.method;
  seen.target = req.target;
  seen.body = req.body;
  seen.content_type = req.get_header_value("Content-Type");
  seen.user_agent = req.get_header_value("User-Agent");
  seen.host = req.get_header_value("Host");
  seen.custom = req.get_header_value("X-Custom");
  seen.has_expect = req.has_header("Expect");
}

class HttpsClientTest : public ::testing::Test {
 protected:
  HttpsClientTest()
      : server_(authority_, [this](httplib::Server& s) {
          const auto echo = [this](const httplib::Request& req, httplib::Response& res) {
            Record(seen_, req);
            res.status = 200;
            res.set_content("{\"ok\":true}", "application/json");
          };
          s.Post("/api/payments", echo);
          s.Put(R"(/api/payments/(\w+))", echo);
          s.Get("/api/payments", echo);
          s.Post("/api/created", [](const httplib::Request&, httplib::Response& res) {
            res.status = 201;
            res.set_content("{}", "application/json");
          });
          s.Get("/api/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
          s.Get("/api/slow", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 300 && !release_.load(); ++i) {
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            res.set_content("late", "text/plain");
          });
          s.Get("/api/huge", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(64 * 1024, 'x'), "text/plain");
          });
        }) {}
  ~HttpsClientTest() override { release_ = true; }

  HttpsRequest Request(const std::string& method, const std::string& path) const {
    HttpsRequest request;
    request.method = method;
    request.url = "https://" + server_.HostPort() + path;
    request.extra_ca_file = authority_.CertificateFile().string();
    request.connect_timeout = std::chrono::milliseconds(5000);
    request.response_timeout = std::chrono::milliseconds(5000);
    return request;
  }

  TestAuthority authority_;
  Seen seen_;
  std::atomic<bool> release_{false};
  TlsTestServer server_;
};

TEST_F(HttpsClientTest, PostSendsBodyHeadersAndReadsAnswer) {
  HttpsRequest request = Request("POST", "/api/payments?x=1&limit=20");
  request.headers = {{"Content-Type", "application/json"}, {"X-Custom", "a=b \"c\""}};
  request.body = "{\"amount_unit\":1250,\"text\":\"\xe2\x82\xac\"}";
  request.user_agent = "Brivel MXR Driver";
  const HttpsResponse response = NewHttpsClient()->Execute(request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.status_text, "OK");
  EXPECT_EQ(response.body, "{\"ok\":true}");
  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.method, "POST");
  EXPECT_EQ(seen_.target, "/api/payments?x=1&limit=20");
  EXPECT_EQ(seen_.body, request.body);
  EXPECT_EQ(seen_.content_type, "application/json");
  EXPECT_EQ(seen_.user_agent, "Brivel MXR Driver");
  EXPECT_EQ(seen_.custom, "a=b \"c\"");
  EXPECT_EQ(seen_.host, server_.HostPort());
  EXPECT_FALSE(seen_.has_expect);
}

// Without an explicit header the body's content type is sent, never a form encoding.
TEST_F(HttpsClientTest, PutCarriesContentTypeOfBodyAndGetNoBody) {
  HttpsRequest put = Request("PUT", "/api/payments/abc");
  put.body = "{\"action\": \"CANCEL_OR_REFUND\"}";
  put.content_type = "application/json";
  EXPECT_EQ(NewHttpsClient()->Execute(put).status, 200);
  {
    std::lock_guard lock(seen_.mutex);
    EXPECT_EQ(seen_.method, "PUT");
    EXPECT_EQ(seen_.body, put.body);
    EXPECT_EQ(seen_.content_type, "application/json");
  }
  HttpsRequest get = Request("GET", "/api/payments");
  get.body = "ignored";
  get.content_type = "application/json";
  EXPECT_EQ(NewHttpsClient()->Execute(get).status, 200);
  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.method, "GET");
  EXPECT_EQ(seen_.body, "");
  EXPECT_EQ(seen_.content_type, "");
}

TEST_F(HttpsClientTest, NonSuccessStatusesAreAnswersWithReasonPhrase) {
  const HttpsResponse created = NewHttpsClient()->Execute(Request("POST", "/api/created"));
  EXPECT_EQ(created.status, 201);
  EXPECT_EQ(created.status_text, "Created");
  const HttpsResponse missing = NewHttpsClient()->Execute(Request("GET", "/api/missing"));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.status_text, "Not Found");
}

TEST_F(HttpsClientTest, TransportFailuresThrowWithMessage) {
  // A server whose certificate another authority signed is never trusted.
  TestAuthority stranger("Stranger Root");
  HttpsRequest untrusted = Request("GET", "/api/payments");
  untrusted.extra_ca_file = stranger.CertificateFile().string();
  EXPECT_THROW(NewHttpsClient()->Execute(untrusted), EQVError);
  untrusted.extra_ca_file.clear();  // the system's store alone does not know the test root
  EXPECT_THROW(NewHttpsClient()->Execute(untrusted), EQVError);

  HttpsRequest refused = Request("GET", "/api/payments");
  refused.url = "https://127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()) + "/";
  try {
    NewHttpsClient()->Execute(refused);
    FAIL() << "connection to a closed port succeeded";
  } catch (const EQVError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
  }

  HttpsRequest slow = Request("GET", "/api/slow");
  slow.connect_timeout = std::chrono::milliseconds(200);
  slow.response_timeout = std::chrono::milliseconds(200);
  EXPECT_THROW(NewHttpsClient()->Execute(slow), EQVError);

  HttpsRequest huge = Request("GET", "/api/huge");
  huge.max_response_bytes = 1024;
  try {
    NewHttpsClient()->Execute(huge);
    FAIL() << "oversized answer accepted";
  } catch (const EQVError& e) {
    EXPECT_EQ(std::string(e.what()), "Response larger than 1024 bytes");
  }

  HttpsRequest no_ca = Request("GET", "/api/payments");
  no_ca.extra_ca_file = "/nonexistent/ca.pem";
  EXPECT_THROW(NewHttpsClient()->Execute(no_ca), EQVError);

  HttpsRequest plain = Request("GET", "/api/payments");
  plain.url = "http://" + server_.HostPort() + "/api/payments";
  EXPECT_THROW(NewHttpsClient()->Execute(plain), EQVError);
}

TEST(ReasonPhraseTest, StatusLines) {
  const struct {
    const char* line;
    const char* reason;
  } cases[] = {{"HTTP/1.1 200 OK\r\n", "OK"},
               {"HTTP/1.1 404 Not Found\r\n", "Not Found"},
               {"HTTP/1.1 500\r\n", ""},
               {"HTTP/1.0 418 I'm a teapot\n", "I'm a teapot"},
               {"garbage", ""}};
  for (const auto& c : cases) EXPECT_EQ(ReasonPhraseOfStatusLine(c.line), c.reason) << c.line;
}

}  // namespace
}  // namespace qvpa
