// One HTTPS exchange with the payment service: method, absolute URL, ordered headers and
// body out; status, reason phrase and body back. A client serves one request and is then
// released; nothing is shared between requests. Transport failures (no connection,
// time-out, TLS failure, oversized answer) throw EQVError carrying the transport's message.
#ifndef QVPA_SATISPAY_HTTPS_CLIENT_H_
#define QVPA_SATISPAY_HTTPS_CLIENT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvpa {

struct HttpsRequest {
  std::string method = "POST";  // GET, POST, PUT; GET sends no body
  std::string url;              // absolute, query included, sent unchanged
  std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
  std::string body;             // UTF-8 bytes
  std::string content_type;     // for the body when no "Content-Type" header is given
  std::string user_agent;
  std::chrono::milliseconds connect_timeout{10000};   // connection and TLS handshake
  std::chrono::milliseconds response_timeout{30000};  // the rest of the exchange
  // PEM bundle of certificate authorities trusted in addition to the system's store;
  // empty: the system's store alone. Peer and host verification are always on.
  std::string extra_ca_file;
  std::size_t max_response_bytes = 16 * 1024 * 1024;  // larger answers fail
};

struct HttpsResponse {
  int32_t status = 0;
  std::string status_text;  // reason phrase of the status line, may be empty
  std::string body;         // bytes as received
};

class HttpsClient {
 public:
  HttpsClient() = default;
  HttpsClient(const HttpsClient&) = delete;
  HttpsClient& operator=(const HttpsClient&) = delete;
  virtual ~HttpsClient() = default;

  // Sends the request and waits for the whole answer; throws EQVError on transport failure.
  // Any status the server sends (also 4xx, 5xx) is an answer, not a failure.
  virtual HttpsResponse Execute(const HttpsRequest& request) = 0;
};

// A new client of the platform's HTTPS implementation.
std::unique_ptr<HttpsClient> NewHttpsClient();

// The reason phrase of an HTTP/1.x status line ("HTTP/1.1 404 Not Found" -> "Not Found"),
// without the line end; empty when the line carries none.
std::string ReasonPhraseOfStatusLine(std::string_view status_line);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_HTTPS_CLIENT_H_
