#include "satispay/https_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/error.h"
#include "satispay/tls_test_server.h"
#include "satispay/trust_store.h"

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
          // Reads the request, then ends the connection without a byte of answer.
          s.Post("/api/drop", [](const httplib::Request& req, httplib::Response& res) {
            if (req.ssl != nullptr) shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
            res.status = 500;
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
    request.total_timeout = std::chrono::milliseconds(5000);
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
  slow.total_timeout = std::chrono::milliseconds(200);
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

// Which failures leave the request unsent, which ran out of time, which broke off after it
// went out: the caller decides about repeating a request by this.
TEST_F(HttpsClientTest, FailuresTellTheirKind) {
  const auto kind_of = [](const HttpsRequest& request) {
    try {
      NewHttpsClient()->Execute(request);
    } catch (const EHttpsFailure& failure) {
      return failure.Kind();
    }
    ADD_FAILURE() << request.url << " succeeded";
    return HttpsFailureKind::kOther;
  };
  HttpsRequest closed_port = Request("GET", "/");
  closed_port.url = "https://127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()) + "/";
  EXPECT_EQ(kind_of(closed_port), HttpsFailureKind::kConnect);

  HttpsRequest slow = Request("GET", "/api/slow");
  slow.total_timeout = std::chrono::milliseconds(300);  // bounds the whole exchange
  EXPECT_EQ(kind_of(slow), HttpsFailureKind::kTimeout);

  HttpsRequest dropped = Request("POST", "/api/drop");
  dropped.body = "{}";
  EXPECT_EQ(kind_of(dropped), HttpsFailureKind::kDropped);
}

// A listening loopback socket that only counts the connections offered to it.
class CountingListener {
 public:
  CountingListener() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(address.sin_port);
  }
  ~CountingListener() { close(fd_); }
  CountingListener(const CountingListener&) = delete;
  CountingListener& operator=(const CountingListener&) = delete;

  int Port() const { return port_; }
  // Whether any client has connected so far.
  bool Contacted() const {
    pollfd waiting{fd_, POLLIN, 0};
    return poll(&waiting, 1, 0) > 0;
  }

 private:
  int fd_;
  int port_ = 0;
};

// Header text that would end a header line early is refused before any connection is made,
// whichever part of the request carries it.
TEST_F(HttpsClientTest, UnsafeHeaderTextIsRefusedBeforeAnythingIsSent) {
  CountingListener listener;
  const std::string url = "https://127.0.0.1:" + std::to_string(listener.Port()) + "/g_business/v1/payments";
  using Headers = std::vector<std::pair<std::string, std::string>>;
  const struct {
    const char* what;
    Headers headers;
    std::string user_agent, content_type, url_suffix;
  } cases[] = {
      {"CR LF in a value", {{"Authorization", "Signature keyId=\"k\r\nX-Injected: 1\""}}, "", "", ""},
      {"LF in a value", {{"host", "example.com\nX-Injected: 1"}}, "", "", ""},
      {"CR in a value", {{"date", "Mon\r"}}, "", "", ""},
      {"NUL in a value", {{"digest", std::string("SHA-256=\0x", 10)}}, "", "", ""},
      {"colon in a name", {{"X-A: b", "c"}}, "", "", ""},
      {"line break in a name", {{"X-A\r\nX-B", "c"}}, "", "", ""},
      {"empty name", {{"", "c"}}, "", "", ""},
      {"line break in the User-Agent", {}, "Agent\r\nX-Injected: 1", "", ""},
      {"line break in the content type", {}, "", "application/json\r\nX: 1", ""},
      {"line break in the URL", {}, "", "", "?x=1\r\nX-Injected: 1"},
      {"blank in the URL", {}, "", "", "?x=1 HTTP/1.1"},
  };
  for (const auto& c : cases) {
    HttpsRequest request = Request("POST", "/");
    request.url = url + c.url_suffix;
    request.headers = c.headers;
    request.user_agent = c.user_agent;
    request.content_type = c.content_type;
    try {
      NewHttpsClient()->Execute(request);
      ADD_FAILURE() << c.what << ": sent";
    } catch (const EHttpsFailure& refused) {
      EXPECT_EQ(refused.Kind(), HttpsFailureKind::kRefused) << c.what;
      EXPECT_NE(std::string(refused.what()).find("not valid"), std::string::npos) << c.what << ": " << refused.what();
    }
  }
  EXPECT_FALSE(listener.Contacted());

  // The same request with clean text does reach the listener.
  HttpsRequest clean = Request("GET", "/");
  clean.url = url;
  clean.total_timeout = std::chrono::milliseconds(500);
  EXPECT_THROW(NewHttpsClient()->Execute(clean), EHttpsFailure);
  EXPECT_TRUE(listener.Contacted());
}

// The trusted authorities are those of the request's extra bundle at every request, also
// while a connection checked under another bundle is kept.
TEST_F(HttpsClientTest, TrustStoreChangeTakesEffectForTheNextRequest) {
  TestAuthority stranger("Stranger Root");
  const std::unique_ptr<HttpsClient> client = NewHttpsClient();
  HttpsRequest trusted = Request("GET", "/api/payments");
  EXPECT_EQ(client->Execute(trusted).status, 200);
  HttpsRequest other = trusted;
  other.extra_ca_file = stranger.CertificateFile().string();
  EXPECT_THROW(client->Execute(other), EQVError);
  other.extra_ca_file.clear();
  EXPECT_THROW(client->Execute(other), EQVError);
  EXPECT_EQ(client->Execute(trusted).status, 200);
}

// Per request the server saw: the client's port (one per connection), whether the TLS
// session was resumed, the server's socket.
class ConnectionLog {
 public:
  struct Entry {
    int client_port = 0;
    bool resumed = false;
    int server_socket = -1;
  };
  // Handlers answering 200 to GET and POST /api/payments and noting each request here; the
  // server closes a connection left idle for a second.
  std::function<void(httplib::Server&)> Setup() {
    return [this](httplib::Server& s) {
      s.set_keep_alive_timeout(1);
      const auto note = [this](const httplib::Request& req, httplib::Response& res) {
        {
          std::lock_guard lock(mutex_);
          entries_.push_back({req.remote_port, SSL_session_reused(req.ssl) == 1, testing::ServerSocketOf(req)});
        }
        res.set_content("{}", "application/json");
      };
      s.Get("/api/payments", note);
      s.Post("/api/payments", note);
    };
  }
  std::vector<Entry> Entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Waits (at most ten seconds) until at most `count` connections to the port are established:
// under the sanitizers on a loaded machine a second socket was seen established for a moment.
int ConnectionsSettledAt(int port, int count) {
  for (int i = 0; i < 1000 && testing::EstablishedConnectionsTo(port) > count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return testing::EstablishedConnectionsTo(port);
}

bool ClientConnectionClosed(int port) { return ConnectionsSettledAt(port, 0) == 0; }

// A client keeps its connection. When the server has closed it between two requests (after
// its idle time, with a TLS closing alert, or abruptly), the next request goes out once,
// over a new connection that resumes the TLS session.
TEST(HttpsClientReuseTest, KeptConnectionIsReusedAndReplacedOnceTheServerClosedIt) {
  for (const bool abrupt : {false, true}) {
    SCOPED_TRACE(abrupt ? "socket shut down" : "idle time-out");
    TestAuthority authority;
    ConnectionLog log;
    TlsTestServer server(authority, log.Setup());
    const std::unique_ptr<HttpsClient> client = NewHttpsClient();
    EXPECT_EQ(testing::EstablishedConnectionsTo(server.Port()), 0);  // a new client does not connect
    HttpsRequest request;
    request.url = "https://" + server.HostPort() + "/api/payments";
    request.body = "{}";
    request.extra_ca_file = authority.CertificateFile().string();
    EXPECT_EQ(client->Execute(request).status, 200);
    EXPECT_EQ(client->Execute(request).status, 200);
    const std::vector<ConnectionLog::Entry> before = log.Entries();
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[1].client_port, before[0].client_port);
    EXPECT_EQ(ConnectionsSettledAt(server.Port(), 1), 1);

    if (abrupt) shutdown(before[1].server_socket, SHUT_RDWR);
    ASSERT_TRUE(ClientConnectionClosed(server.Port()));
    EXPECT_EQ(client->Execute(request).status, 200);
    const std::vector<ConnectionLog::Entry> after = log.Entries();
    ASSERT_EQ(after.size(), 3u);  // the request went out once
    EXPECT_NE(after[2].client_port, before[0].client_port);
    EXPECT_TRUE(after[2].resumed);
  }
}

// A server with a certificate from an untrusted authority, on the host and port of one the
// client trusted and holds a TLS session for, is refused.
TEST(HttpsClientReuseTest, UntrustedCertificateOnAReusedHostFails) {
  TestAuthority trusted_root;
  TestAuthority stranger("Stranger Root");
  ConnectionLog log;
  const std::unique_ptr<HttpsClient> client = NewHttpsClient();
  HttpsRequest request;
  request.method = "GET";
  request.extra_ca_file = trusted_root.CertificateFile().string();
  int port = 0;
  {
    TlsTestServer first(trusted_root, log.Setup());
    port = first.Port();
    request.url = "https://" + first.HostPort() + "/api/payments";
    EXPECT_EQ(client->Execute(request).status, 200);
    EXPECT_EQ(client->Execute(request).status, 200);
  }
  // The server closed the kept connection on leaving. With nothing listening, the failure
  // names the connection attempt, not the dead connection.
  try {
    client->Execute(request);
    ADD_FAILURE() << "request to a closed port succeeded";
  } catch (const EQVError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
  }
  TlsTestServer impostor(stranger, log.Setup(), port);
  EXPECT_THROW(client->Execute(request), EQVError);
  EXPECT_THROW(client->Execute(request), EQVError);
}

// The store is built again only for another extra bundle path; a bundle that cannot be read
// leaves the current store in place.
TEST(TrustStoreTest, BuiltOncePerExtraBundlePath) {
  TestAuthority first_root;
  TestAuthority second_root("Second Root");
  const std::string first_path = first_root.CertificateFile().string();
  const TrustStore::Reference first = TrustStore::ForExtraFile(first_path);
  EXPECT_EQ(TrustStore::ForExtraFile(first_path).get(), first.get());
  const TrustStore::Reference second = TrustStore::ForExtraFile(second_root.CertificateFile().string());
  EXPECT_NE(second.get(), first.get());
  try {
    TrustStore::ForExtraFile("/nonexistent/ca.pem");
    ADD_FAILURE() << "a missing bundle was accepted";
  } catch (const EQVError& e) {
    EXPECT_EQ(std::string(e.what()), "CA file /nonexistent/ca.pem cannot be read");
  }
  EXPECT_EQ(TrustStore::ForExtraFile(second_root.CertificateFile().string()).get(), second.get());
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
