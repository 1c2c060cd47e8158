// One HTTP(S) exchange over WinHTTP, shared by the HTTP channel's client and the payment
// service's HTTPS client. Certificates are always verified against the Windows store
// (chain and host name); nothing here switches a check off.
#ifndef QVPA_IO_WINHTTP_WIN_H_
#define QVPA_IO_WINHTTP_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace qvpa::winhttp {

struct InternetCloser {
  void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HINTERNET>, InternetCloser>;

enum class Auth { kNone, kBasic, kDigest };

struct Exchange {
  std::string method = "POST";
  std::string url;                        // absolute http:// or https:// URL
  bool https_only = false;
  std::vector<std::string> header_lines;  // "Name: value"
  std::string body;
  std::string user_agent;
  int32_t connect_timeout_ms = 0;         // resolving and connecting; 0: 60 s
  // Each of sending, waiting for the answer and every read; 0: 30 s. WinHTTP has no limit
  // for the whole exchange: the caller's total bounds each step.
  int32_t response_timeout_ms = 0;
  Auth auth = Auth::kNone;
  std::string user, password;
  std::size_t max_response_bytes = 16 * 1024 * 1024;
};

// Where an exchange stopped: before sending (setup), while connecting and sending the
// request, while waiting for the answer's head, or while reading the answer's body.
enum class Phase { kSetup, kSend, kReceive, kRead };

struct Outcome {
  bool completed = false;
  Phase phase = Phase::kSetup;  // where a failed exchange stopped
  bool too_large = false;   // the answer exceeded max_response_bytes
  DWORD error = 0;          // WinHTTP or system error when not completed
  std::string error_text;   // readable text of `error`
  int32_t status = 0;
  std::string status_line;  // "HTTP/1.1 200 OK"
  std::string reason;       // "OK"
  std::string content_type;
  std::string date;         // the Date header, empty when none
  std::string body;
};

// A WinHTTP session; it keeps connections open between exchanges to the same server.
class Session {
 public:
  Session();
  Outcome Run(const Exchange& exchange);
  // Closes every kept connection.
  void Reset();
  bool HasConnection() const { return connection_ != nullptr; }

 private:
  Handle session_;
  Handle connection_;
  std::wstring host_;
  INTERNET_PORT port_ = 0;
  std::string user_agent_;
};

// Readable text of a WinHTTP failure: TLS failures, time-outs and refused connections get
// their own wording, followed by the error number.
std::string ErrorText(DWORD error);

}  // namespace qvpa::winhttp

#endif  // QVPA_IO_WINHTTP_WIN_H_
