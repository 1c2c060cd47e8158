// The HTTP channel's client over WinHTTP against the plain-HTTP test server of
// tools/windows/http_auth_server.py, whose base URL QVPA_TEST_HTTP_URL names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "io/http_client.h"

namespace qvpa {
namespace {

// Wine's WinHTTP answers a Digest challenge with nothing (only Windows computes it).
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string BaseUrl() {
  const char* url = std::getenv("QVPA_TEST_HTTP_URL");
  return url == nullptr ? std::string() : url;
}

TEST(WinHttpClientTest, AnswersAndCredentials) {
  const std::string base = BaseUrl();
  if (base.empty()) GTEST_SKIP() << "QVPA_TEST_HTTP_URL is not set";
  const struct {
    const char* path;
    HttpClient::Auth auth;
    const char* password;
    int32_t status;
    const char* body;
  } cases[] = {
      {"/echo", HttpClient::Auth::kNone, "", 200, "hello"},
      {"/basic", HttpClient::Auth::kBasic, "secret", 200, "basic:hello"},
      {"/basic", HttpClient::Auth::kBasic, "wrong", 401, ""},
      {"/digest", HttpClient::Auth::kDigest, "secret", 200, "digest:hello"},
      {"/digest", HttpClient::Auth::kDigest, "wrong", 401, ""},
      {"/digest", HttpClient::Auth::kNone, "", 401, ""},
      {"/missing", HttpClient::Auth::kNone, "", 404, ""},
  };
  HttpClient client;  // one client: the connection is kept between requests
  for (const auto& c : cases) {
    if (c.auth == HttpClient::Auth::kDigest && c.status == 200 && UnderWine()) continue;
    client.SetAuth(c.auth);
    const HttpExchange r =
        client.Send("POST", base + c.path, {"Content-Type: text/plain"}, "hello", "qvpa", c.password);
    EXPECT_TRUE(r.completed) << c.path << " " << r.error;
    EXPECT_EQ(r.status, c.status) << c.path << " " << c.password;
    EXPECT_EQ(r.body, c.body) << c.path;
    if (c.status == 200) {
      EXPECT_TRUE(r.status_line.starts_with("HTTP/1.1 200")) << r.status_line;
    }
  }
}

TEST(WinHttpClientTest, RefusedConnectionIsNamed) {
  HttpClient client;
  client.SetConnectTimeout(5000);
  // Port 1 on loopback: nobody listens there.
  const HttpExchange r = client.Send("POST", "http://localhost:1/", {}, "x", "", "");
  EXPECT_FALSE(r.completed);
  EXPECT_NE(r.error.find("refused"), std::string::npos) << r.error;
  EXPECT_FALSE(client.Connected());
}

}  // namespace
}  // namespace qvpa
