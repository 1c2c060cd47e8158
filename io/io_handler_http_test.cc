// The HTTP channel against real servers on loopback: an in-process HTTP(S) server on an
// ephemeral port, a throwaway certificate authority made with the openssl tool, and a
// raw socket server for a broken answer.
#include "io/io_handler_http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::TempDir;

constexpr char kUser[] = "user";
constexpr char kPassword[] = "secret";
constexpr char kRealm[] = "qvpa";
constexpr char kNonce[] = "dcd98b7102dd2f0e8b11d0f600bfb0c093";

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// key="value" and key=value pairs of a Digest authorization header.
std::map<std::string, std::string> DigestFields(const std::string& header) {
  std::map<std::string, std::string> fields;
  size_t pos = header.find(' ');
  while (pos != std::string::npos && pos < header.size()) {
    while (pos < header.size() && (header[pos] == ' ' || header[pos] == ',')) ++pos;
    const size_t eq = header.find('=', pos);
    if (eq == std::string::npos) break;
    const std::string key = header.substr(pos, eq - pos);
    std::string value;
    if (eq + 1 < header.size() && header[eq + 1] == '"') {
      const size_t end = header.find('"', eq + 2);
      value = header.substr(eq + 2, end - eq - 2);
      pos = end == std::string::npos ? end : end + 1;
    } else {
      const size_t end = header.find(',', eq + 1);
      value = header.substr(eq + 1, end == std::string::npos ? end : end - eq - 1);
      pos = end;
    }
    fields[key] = value;
  }
  return fields;
}

bool DigestMatches(const httplib::Request& req) {
  const std::string header = req.get_header_value("Authorization");
  if (header.rfind("Digest ", 0) != 0) return false;
  auto f = DigestFields(header);
  const std::string ha1 = Md5Hex(std::string(kUser) + ":" + kRealm + ":" + kPassword);
  const std::string ha2 = Md5Hex(req.method + ":" + f["uri"]);
  const std::string expected =
      Md5Hex(ha1 + ":" + f["nonce"] + ":" + f["nc"] + ":" + f["cnonce"] + ":" + f["qop"] + ":" + ha2);
  return f["username"] == kUser && f["nonce"] == kNonce && f["uri"] == req.path &&
         f["response"] == expected;
}

struct SeenRequest {
  std::string path;
  std::string body;
  std::string content_type;
  std::string authorization;
  std::map<std::string, std::string> headers;
  int remote_port = 0;
};

// An HTTP or HTTPS server on 127.0.0.1 serving the routes the tests need.
class TestServer {
 public:
  TestServer() : server_(std::make_unique<httplib::Server>()) { Start(); }
  TestServer(const std::string& cert, const std::string& key)
      : server_(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())) {
    Start();
  }
  ~TestServer() {
    server_->stop();
    thread_.join();
  }

  int port() const { return port_; }
  std::vector<SeenRequest> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  std::u16string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return FromUtf8((https_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path);
  }

 private:
  // Serves POST pattern; the request is recorded before its answer leaves.
  void Route(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Post(pattern, [this, handler](const httplib::Request& req, httplib::Response& res) {
      SeenRequest seen{req.path, req.body, req.get_header_value("Content-Type"),
                       req.get_header_value("Authorization"), {}, req.remote_port};
      for (const auto& [name, value] : req.headers) seen.headers[name] = value;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(std::move(seen));
      }
      handler(req, res);
    });
  }

  void Start() {
    https_ = dynamic_cast<httplib::SSLServer*>(server_.get()) != nullptr;
    Route("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.body, "text/plain; charset=utf-8");
    });
    Route("/latin1", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("caf\xe9", "text/plain; charset=ISO-8859-1");
    });
    Route(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      if (res.status == 302) res.set_header("Location", "/echo");
      res.set_content("status body", "text/plain");
    });
    Route("/basic", [](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Authorization") == "Basic dXNlcjpzZWNyZXQ=") {  // user:secret
        res.set_content("basic ok", "text/plain");
      } else {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"qvpa\"");
      }
    });
    Route("/digest", [](const httplib::Request& req, httplib::Response& res) {
      if (DigestMatches(req)) {
        res.set_content("digest ok", "text/plain");
      } else {
        res.status = 401;
        res.set_header("WWW-Authenticate", std::string("Digest realm=\"") + kRealm +
                                               "\", qop=\"auth\", nonce=\"" + kNonce +
                                               "\", algorithm=MD5");
      }
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() is only heard once the accept loop runs.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  bool https_ = false;
  std::mutex mutex_;
  std::vector<SeenRequest> seen_;
};

// A port on loopback on which nobody listens.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// Sets an environment variable for the scope and restores the old state after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value.empty()) {
      unsetenv(name);
    } else {
      setenv(name, value.c_str(), 1);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class HttpChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    channel_ = std::make_unique<kIOHandler_HTTP>(nullptr, dir_.u16(), u"HTTP_TEST");
  }

  TempDir dir_;
  TestServer server_;
  std::unique_ptr<kIOHandler_HTTP> channel_;
};

TEST(HttpChannelSetupTest, UrlFromConnection) {
  const struct {
    std::u16string url;
    std::u16string address;
    int32_t port;
    std::u16string expected;
  } cases[] = {
      {u"", u"192.168.1.5", 8080, u"192.168.1.5:8080"},
      {u"", u"192.168.1.5", 0, u"192.168.1.5"},
      {u"", u"192.168.1.5", -3, u"192.168.1.5"},
      {u"https://host/api", u"192.168.1.5", 8080, u"https://host/api"},
  };
  for (const auto& tc : cases) {
    kConnection connection;
    connection.SetURL(tc.url);
    connection.SetAddress(tc.address);
    connection.SetPort(tc.port);
    kIOHandler_HTTP channel(&connection, u"", u"");
    EXPECT_EQ(channel.URL(), tc.expected) << ToUtf8(tc.expected);
  }

  kConnection connection;
  connection.SetAuthType(qvHTTPAuthType::at_Digest);
  connection.SetUser(u"u");
  connection.SetPassword(u"p");
  connection.SetConnectTimeOut(2500);
  kIOHandler_HTTP channel(&connection, u"", u"");
  EXPECT_EQ(channel.AuthType(), qvHTTPAuthType::at_Digest);
  EXPECT_EQ(channel.User(), u"u");
  EXPECT_EQ(channel.Password(), u"p");
  EXPECT_EQ(channel.ConnectTimeout(), 2500);
  EXPECT_EQ(channel.ResponseCode(), 0);
  EXPECT_EQ(channel.ContentType(), u"");

  kIOHandler_HTTP bare(nullptr, u"", u"");
  EXPECT_EQ(bare.URL(), u"");
  EXPECT_EQ(bare.ConnectTimeout(), 0);
}

TEST(HttpChannelSetupTest, StatusTexts) {
  const struct {
    int32_t code;
    std::u16string text;
  } cases[] = {
      {200, u"OK"},         {208, u"Already Reported"},
      {226, u"IM Used (HTTP Delta encoding)"},
      {305, u"Use Proxy "}, {418, u"I'm a teapot"},
      {404, u"Not Found"},  {451, u"Unavailable For Legal Reasons"},
      {511, u"Network Authentication Required"},
      {420, u"Unknown"},    {0, u"Unknown"},
      {-1, u"Unknown"},     {103, u"Unknown"},
      {509, u"Unknown"},    {512, u"Unknown"},
  };
  kIOHandler_HTTP channel(nullptr, u"", u"");
  for (const auto& tc : cases) EXPECT_EQ(channel.DecodeError(tc.code), tc.text) << tc.code;
}

TEST(HttpChannelSetupTest, StreamOperationsAreNotOffered) {
  kIOHandler_HTTP channel(nullptr, u"", u"");
  EXPECT_EQ(channel.ReadChars(10), u"");
  const uint8_t stop[] = {0x0a};
  EXPECT_EQ(channel.ReadUpTo(stop), u"");
  EXPECT_FALSE(channel.Connected());
  EXPECT_EQ(ErrorOf([&] { channel.ReadAll(); }), u"ReadAll Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel.InputBufferContainsData(); }), u"InputBufferContainsData Unsupported");
}

TEST_F(HttpChannelTest, PostRoundTripWithHeadersAndLog) {
  channel_->SetURL(server_.Url("/echo"));
  channel_->SetContentType(u"application/json");
  channel_->SetParameter(u"X-Device", u"7");
  EXPECT_TRUE(channel_->Connect());
  const std::u16string message = u"{\"amount\":\"\u20ac 1\"}";
  EXPECT_TRUE(channel_->Write(message));
  EXPECT_EQ(channel_->ResponseCode(), 200);
  EXPECT_EQ(channel_->Response(), message);
  EXPECT_FALSE(channel_->ErrorFound());

  const auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, "{\"amount\":\"\xe2\x82\xac 1\"}");
  EXPECT_EQ(seen[0].content_type, "application/json");
  EXPECT_EQ(seen[0].headers.at("X-Device"), "7");
  EXPECT_EQ(seen[0].authorization, "");

  const std::string body_utf8 = "{\"amount\":\"\xe2\x82\xac 1\"}";
  const auto lines = CloseAndReadLog(channel_);
  const std::vector<std::string> tail(lines.begin() + 6, lines.end());
  const std::vector<std::string> expected = {
      " - URL=" + ToUtf8(server_.Url("/echo")),
      " - Write [18]:" + body_utf8,  // the euro sign counts three bytes
      " - Read:ResponseCode:200",
      body_utf8,
      " - *************************** STOP ****************************"};
  EXPECT_EQ(lines[2], " - kIOHandler_HTTP");
  EXPECT_EQ(tail, expected);
}

TEST_F(HttpChannelTest, EmptyMessageAndEmptyContentType) {
  channel_->SetURL(server_.Url("/echo"));
  channel_->SetHexLog(true);
  EXPECT_TRUE(channel_->Write(u""));
  const auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, "");
  EXPECT_EQ(seen[0].headers.count("Content-Type"), 0u);  // not the client's form default
  const auto lines = CloseAndReadLog(channel_);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], " - Write [0]: []");
}

TEST_F(HttpChannelTest, ResponseIsDecodedByDeclaredCharset) {
  channel_->SetURL(server_.Url("/latin1"));
  EXPECT_TRUE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->Response(), u"caf\u00e9");
}

TEST_F(HttpChannelTest, CustomHeadersAreReplacedAndRemovedByName) {
  channel_->SetURL(server_.Url("/echo"));
  channel_->SetParameter(u"X-One", u"1");
  channel_->SetParameter(u"X-Two", u"2");
  channel_->SetParameter(u"x-one", u"uno");   // other letter case replaces
  channel_->SetParameter(u"X-Three", u"");    // empty value: not added
  channel_->SetParameter(u"", u"orphan");     // empty name: not added
  EXPECT_EQ(channel_->CustomHeaders(), (std::vector<std::u16string>{u"x-one: uno", u"X-Two: 2"}));
  EXPECT_TRUE(channel_->Write(u"a"));
  channel_->SetParameter(u"X-TWO", u"");  // empty value removes
  EXPECT_TRUE(channel_->Write(u"b"));

  const auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].headers.at("x-one"), "uno");
  EXPECT_EQ(seen[0].headers.at("X-Two"), "2");
  EXPECT_EQ(seen[0].headers.count("X-Three"), 0u);
  EXPECT_EQ(seen[1].headers.count("X-Two"), 0u);
  EXPECT_EQ(seen[1].headers.at("x-one"), "uno");
}

TEST_F(HttpChannelTest, HeaderTextsWithLineBreaksAreRefused) {
  const struct {
    std::u16string name;
    std::u16string value;
  } cases[] = {
      {u"X-A", u"1\r\nX-Injected: 1"}, {u"X-A\nX-B", u"1"}, {u"X:A", u"1"}, {u"X-A", u"1\n"},
      {u"X-A", std::u16string(u"1\0X", 3)}, {u"X A", u"1"}};
  for (const auto& tc : cases) {
    EXPECT_THROW(channel_->SetParameter(tc.name, tc.value), EQVError) << ToUtf8(tc.value);
  }
  EXPECT_TRUE(channel_->CustomHeaders().empty());
}

TEST_F(HttpChannelTest, ErrorStatusIsRecordedAndLogged) {
  channel_->SetURL(server_.Url("/echo"));
  ASSERT_TRUE(channel_->Write(u"first"));
  channel_->SetURL(server_.Url("/status/404"));
  EXPECT_FALSE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->ResponseCode(), 404);
  EXPECT_TRUE(channel_->ErrorFound());
  EXPECT_EQ(channel_->ErrorCode(), 404);
  EXPECT_EQ(channel_->ErrorMessage(), u"HTTP/1.1 404 Not Found Not Found");
  EXPECT_EQ(channel_->Response(), u"");  // not the previous answer's body

  // A later success does not clear the recorded error; the owner resets it.
  channel_->SetURL(server_.Url("/echo"));
  EXPECT_TRUE(channel_->Write(u"again"));
  EXPECT_TRUE(channel_->ErrorFound());
  EXPECT_EQ(channel_->ErrorCode(), 404);

  const auto lines = CloseAndReadLog(channel_);
  const std::vector<std::string> failure(lines.begin() + 4, lines.begin() + 8);
  const std::vector<std::string> expected = {
      " - Write [1]:x", " - ERROR - Post Error:HTTP/1.1 404 Not Found",
      " - ERROR - Post Error:404 Not Found", " - Read:ResponseCode:404"};
  EXPECT_EQ(failure, expected);
}

TEST_F(HttpChannelTest, RedirectIsNotFollowed) {
  channel_->SetURL(server_.Url("/status/302"));
  EXPECT_FALSE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->ResponseCode(), 302);
  EXPECT_EQ(channel_->ErrorMessage(), u"HTTP/1.1 302 Found Found");
  EXPECT_EQ(server_.seen().size(), 1u);
}

TEST_F(HttpChannelTest, RefusedConnectionIsRecordedWithoutStatus) {
  channel_->SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"));
  EXPECT_FALSE(channel_->Write(u"x"));
  EXPECT_TRUE(channel_->ErrorFound());
  EXPECT_EQ(channel_->ResponseCode(), kIOHandler_HTTP::kNoAnswer);
  EXPECT_EQ(channel_->ErrorCode(), kIOHandler_HTTP::kNoAnswer);
  const std::string message = ToUtf8(channel_->ErrorMessage());
  EXPECT_NE(message.find("connect"), std::string::npos) << message;
  EXPECT_TRUE(message.ends_with(" Unknown")) << message;

  const auto lines = CloseAndReadLog(channel_);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_TRUE(lines[2].starts_with(" - ERROR - Post Error:")) << lines[2];
  EXPECT_EQ(lines[3], " - ERROR - Post Error:-1 Unknown");
  EXPECT_EQ(lines[4], " - Read:ResponseCode:-1");
  EXPECT_EQ(lines[5], "");  // the empty response after the line break
}

TEST_F(HttpChannelTest, MalformedUrlIsRecordedNotThrown) {
  for (const std::u16string url : {u"", u"ftp://127.0.0.1/x", u"http://[::1"}) {
    channel_->ResetCustomError();
    channel_->SetURL(url);
    EXPECT_FALSE(channel_->Write(u"x")) << ToUtf8(url);
    EXPECT_TRUE(channel_->ErrorFound()) << ToUtf8(url);
  }
}

TEST_F(HttpChannelTest, BasicCredentialsGoWithTheFirstRequest) {
  channel_->SetURL(server_.Url("/basic"));
  channel_->SetAuthType(qvHTTPAuthType::at_Basic);
  channel_->SetUser(FromUtf8(kUser));
  channel_->SetPassword(FromUtf8(kPassword));
  EXPECT_TRUE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->Response(), u"basic ok");
  ASSERT_EQ(server_.seen().size(), 1u);  // no challenge round

  // The scheme stays when the type is switched to none afterwards.
  channel_->SetAuthType(qvHTTPAuthType::at_None);
  EXPECT_TRUE(channel_->Write(u"y"));

  channel_->SetPassword(u"wrong");
  EXPECT_FALSE(channel_->Write(u"z"));
  EXPECT_EQ(channel_->ResponseCode(), 401);
}

TEST_F(HttpChannelTest, WithoutAuthTypeNoCredentialsAreSent) {
  channel_->SetURL(server_.Url("/basic"));
  channel_->SetUser(FromUtf8(kUser));
  channel_->SetPassword(FromUtf8(kPassword));
  EXPECT_FALSE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->ResponseCode(), 401);
  EXPECT_EQ(server_.seen().at(0).authorization, "");
}

TEST_F(HttpChannelTest, DigestAnswersTheChallenge) {
  channel_->SetURL(server_.Url("/digest"));
  channel_->SetAuthType(qvHTTPAuthType::at_Digest);
  channel_->SetUser(FromUtf8(kUser));
  channel_->SetPassword(FromUtf8(kPassword));
  EXPECT_TRUE(channel_->Write(u"{\"pay\":1}"));
  EXPECT_EQ(channel_->Response(), u"digest ok");
  auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].authorization, "");
  EXPECT_TRUE(seen[1].authorization.starts_with("Digest ")) << seen[1].authorization;
  EXPECT_EQ(seen[1].body, "{\"pay\":1}");

  channel_->SetPassword(u"wrong");
  EXPECT_FALSE(channel_->Write(u"x"));
  EXPECT_EQ(channel_->ResponseCode(), 401);
  EXPECT_EQ(channel_->ErrorCode(), 401);
}

TEST_F(HttpChannelTest, ConnectionIsKeptUntilDisconnect) {
  channel_->SetURL(server_.Url("/echo"));
  EXPECT_FALSE(channel_->Connected());
  ASSERT_TRUE(channel_->Write(u"1"));
  EXPECT_TRUE(channel_->Connected());
  ASSERT_TRUE(channel_->Write(u"2"));
  EXPECT_TRUE(channel_->Disconnect());
  EXPECT_FALSE(channel_->Connected());
  ASSERT_TRUE(channel_->Write(u"3"));
  EXPECT_TRUE(channel_->Connected());

  const auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].remote_port, seen[1].remote_port);  // one connection for both
  EXPECT_NE(seen[1].remote_port, seen[2].remote_port);  // a new one after Disconnect
}

// A server that answers 200 with a Content-Length larger than the body it sends.
class TruncatingServer {
 public:
  TruncatingServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 1);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { ServeOne(); });
  }
  ~TruncatingServer() {
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }

 private:
  void ServeOne() {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100\r\n\r\nshort";
    send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(HttpChannelBrokenAnswerTest, FailureWithSuccessStatusRecords999) {
  TruncatingServer server;
  kIOHandler_HTTP channel(nullptr, u"", u"");
  channel.SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(server.port()) + "/"));
  EXPECT_FALSE(channel.Write(u"x"));
  EXPECT_EQ(channel.ResponseCode(), 999);
  EXPECT_EQ(channel.ErrorCode(), 999);
  EXPECT_TRUE(channel.ErrorFound());
  EXPECT_FALSE(channel.ErrorMessage().empty());
  EXPECT_EQ(channel.Response(), u"");
}

// A throwaway certificate authority and a server certificate for "localhost" only.
class TlsFiles {
 public:
  TlsFiles() {
    const std::string d = dir_.path().string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    ok_ = Run("openssl req -x509" + ec + " -keyout " + d + "/ca.key -out " + d +
              "/ca.pem -days 2 -subj /CN=qvpa-test-ca") &&
          Run("openssl req -x509" + ec + " -keyout " + d + "/other.key -out " + d +
              "/other.pem -days 2 -subj /CN=qvpa-other-ca") &&
          Run("openssl req -new" + ec + " -keyout " + d + "/server.key -out " + d +
              "/server.csr -subj /CN=localhost -addext subjectAltName=DNS:localhost") &&
          Run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
              "/ca.key -CAcreateserial -out " + d + "/server.pem -days 2 -copy_extensions copy");
  }
  bool ok() const { return ok_; }
  std::string File(const std::string& name) const { return (dir_.path() / name).string(); }

 private:
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  TempDir dir_;
  bool ok_ = false;
};

TEST(HttpChannelTlsTest, PeerAndHostAreVerified) {
  TlsFiles tls;
  ASSERT_TRUE(tls.ok()) << "openssl could not make the test certificates";
  TestServer server(tls.File("server.pem"), tls.File("server.key"));
  kIOHandler_HTTP channel(nullptr, u"", u"");

  const struct {
    const char* label;
    std::string ca_file;
    std::string host;
    bool accepted;
  } cases[] = {
      {"trusted authority", tls.File("ca.pem"), "localhost", true},
      {"host name not in the certificate", tls.File("ca.pem"), "127.0.0.1", false},
      {"other authority", tls.File("other.pem"), "localhost", false},
      {"system authorities only", "", "localhost", false},
  };
  for (const auto& tc : cases) {
    ScopedEnv env("QVPA_SATISPAY_CA_FILE", tc.ca_file);
    channel.ResetCustomError();
    channel.Disconnect();
    channel.SetURL(server.Url("/echo", tc.host));
    EXPECT_EQ(channel.Write(u"tls"), tc.accepted) << tc.label;
    EXPECT_EQ(channel.ErrorFound(), !tc.accepted) << tc.label;
    if (tc.accepted) {
      EXPECT_EQ(channel.Response(), u"tls") << tc.label;
    } else {
      EXPECT_EQ(channel.ResponseCode(), kIOHandler_HTTP::kNoAnswer) << tc.label;
    }
  }
  EXPECT_EQ(server.seen().size(), 1u);  // refused handshakes never reach a handler
}

}  // namespace
}  // namespace qvpa
