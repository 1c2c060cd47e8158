// HTTPS exchanges with the payment service: method, absolute URL, ordered headers and body
// out; status, reason phrase, body and Date header back. A client keeps its connection (and TLS session)
// from one request to the next and closes it when destroyed; each device owns one client, so
// no connection is shared between devices. A kept connection that the server has closed is
// replaced without the caller noticing. The trusted authorities are the process's shared
// store; a request asking for another extra bundle gets new connections checked against it.
// Transport failures (no connection, time-out, TLS failure, oversized answer) throw
// EHttpsFailure carrying the transport's message and what kind of failure it was.
#ifndef QVPA_SATISPAY_HTTPS_CLIENT_H_
#define QVPA_SATISPAY_HTTPS_CLIENT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"

namespace qvpa {

struct HttpsRequest {
  std::string method = "POST";  // GET, POST, PUT; GET sends no body
  std::string url;              // absolute, query included, sent unchanged
  std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
  std::string body;             // UTF-8 bytes
  std::string content_type;     // for the body when no "Content-Type" header is given
  std::string user_agent;
  std::chrono::milliseconds connect_timeout{10000};  // connection and TLS handshake
  std::chrono::milliseconds total_timeout{30000};    // the whole exchange, connecting included
  // PEM bundle of certificate authorities trusted in addition to the system's store;
  // empty: the system's store alone. Peer and host verification are always on.
  std::string extra_ca_file;
  std::size_t max_response_bytes = 16 * 1024 * 1024;  // larger answers fail
};

struct HttpsResponse {
  int32_t status = 0;
  std::string status_text;  // reason phrase of the status line, may be empty
  std::string body;         // bytes as received
  std::string date;         // the Date header's value, empty when the answer has none
  // How often the request went out: 2 when a kept connection died unanswered and the
  // transport sent it once more over a new one by itself.
  int sends = 1;
};

// What became of a request that got no complete answer.
enum class HttpsFailureKind {
  kRefused,   // refused before anything was sent (unsafe header text, bad URL, setup)
  kConnect,   // no connection or TLS session came about; the request was not sent
  kTimeout,   // a limit ran out; the service may or may not have acted on the request
  kDropped,   // the connection broke after the request went out, before any answer
  kOther,     // anything else (a broken or oversized answer, ...)
};

class EHttpsFailure : public EQVError {
 public:
  EHttpsFailure(HttpsFailureKind aKind, std::u16string aMessage, int aSends = 1)
      : EQVError(std::move(aMessage)), kind_(aKind), sends_(aSends) {}
  HttpsFailureKind Kind() const { return kind_; }
  // How often the request went out before it failed (0 when it never did), as HttpsResponse::sends.
  int Sends() const { return sends_; }

 private:
  HttpsFailureKind kind_;
  int sends_;
};

class HttpsClient {
 public:
  HttpsClient() = default;
  HttpsClient(const HttpsClient&) = delete;
  HttpsClient& operator=(const HttpsClient&) = delete;
  virtual ~HttpsClient() = default;

  // Checks the request, then sends it and waits for the whole answer. Every header name
  // and value (User-Agent and content type included) must pass CheckHeader, else
  // EHttpsFailure kRefused is thrown before a byte is sent. Transport failures throw
  // EHttpsFailure. Any status the server sends (also 4xx, 5xx) is an answer. One request at
  // a time per client.
  HttpsResponse Execute(const HttpsRequest& request);

 protected:
  // The platform's transfer of a request that passed the checks.
  virtual HttpsResponse Send(const HttpsRequest& request) = 0;
};

// A new client of the platform's HTTPS implementation; it connects on its first request.
std::unique_ptr<HttpsClient> NewHttpsClient();

// The reason phrase of an HTTP/1.x status line ("HTTP/1.1 404 Not Found" -> "Not Found"),
// without the line end; empty when the line carries none.
std::string ReasonPhraseOfStatusLine(std::string_view status_line);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_HTTPS_CLIENT_H_
