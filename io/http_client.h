// HttpClient: a small synchronous HTTP/1.1 client on one libcurl easy handle, which
// keeps its connection open between requests. Failures never throw: Send returns
// what happened. TLS verifies peer and host name, always; the trusted authorities are
// the system's, or the PEM bundle named by QVPA_SATISPAY_CA_FILE when that is set.
// One thread at a time.
#ifndef QVPA_IO_HTTP_CLIENT_H_
#define QVPA_IO_HTTP_CLIENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa {

// Outcome of one request.
struct HttpExchange {
  bool completed = false;   // the transfer ran to its end (any status)
  int32_t status = 0;       // status of the final answer; 0 when none arrived
  std::string status_line;  // e.g. "HTTP/1.1 404 Not Found", without line end
  std::string content_type;
  std::string body;
  std::string error;        // transport failure text when !completed
};

class HttpClient {
 public:
  // kBasic sends credentials with the first request; kDigest answers a challenge.
  enum class Auth { kNone, kBasic, kDigest };

  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetConnectTimeout(int32_t aMilliseconds) { connect_timeout_ms_ = aMilliseconds; }
  int32_t ConnectTimeout() const { return connect_timeout_ms_; }
  void SetAuth(Auth aAuth) { auth_ = aAuth; }
  Auth GetAuth() const { return auth_; }

  // Sends one request. aHeaders are complete lines ("Name: value"); "Name:" removes a
  // header the client would add by itself. Credentials are used only when GetAuth()
  // is not kNone. Redirects are not followed; only http and https are allowed.
  HttpExchange Send(std::string_view aMethod, const std::string& aUrl,
                    const std::vector<std::string>& aHeaders, const std::string& aBody,
                    const std::string& aUser, const std::string& aPassword);

  // Whether the connection of the last request is still open.
  bool Connected() const;
  // Closes every open connection; the next request opens a new one.
  void Disconnect();

 private:
  struct Handle;

  std::unique_ptr<Handle> handle_;
  int32_t connect_timeout_ms_ = 0;
  Auth auth_ = Auth::kNone;
};

}  // namespace qvpa

#endif  // QVPA_IO_HTTP_CLIENT_H_
