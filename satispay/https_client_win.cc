// HttpsClient over WinHTTP: certificates are checked against the Windows store (chain and
// host name, always); the request's extra CA file does not apply here. WinHTTP has no limit
// for a whole exchange: the total time-out bounds each of connecting, sending, waiting for
// the answer and every read.
#include "base/error.h"
#include "base/text.h"
#include "io/winhttp_win.h"
#include "satispay/https_client.h"

namespace qvpa {
namespace {

bool SameHeaderName(const std::string& a, std::string_view b) {
  return SameText(FromUtf8(a), FromUtf8(b));
}

// The failure kinds of WinHTTP's errors by where they happened: which ones leave the
// request unsent, which ones broke off after it went out.
HttpsFailureKind KindOf(const winhttp::Outcome& outcome) {
  if (outcome.too_large) return HttpsFailureKind::kOther;
  if (outcome.error == ERROR_WINHTTP_TIMEOUT || outcome.error == WSAETIMEDOUT) {
    return HttpsFailureKind::kTimeout;
  }
  switch (outcome.phase) {
    case winhttp::Phase::kSetup:
      return HttpsFailureKind::kRefused;
    case winhttp::Phase::kSend:
      // Reset while the request went out; every other failure here (name, connection,
      // TLS handshake, certificate) comes before a byte of the request.
      return outcome.error == ERROR_WINHTTP_CONNECTION_ERROR ? HttpsFailureKind::kDropped
                                                             : HttpsFailureKind::kConnect;
    case winhttp::Phase::kReceive:
      return outcome.error == ERROR_WINHTTP_CONNECTION_ERROR ||
                     outcome.error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE
                 ? HttpsFailureKind::kDropped
                 : HttpsFailureKind::kOther;
    case winhttp::Phase::kRead:
      break;
  }
  return HttpsFailureKind::kOther;
}

class WinHttpsClient final : public HttpsClient {
 protected:
  HttpsResponse Send(const HttpsRequest& request) override;

 private:
  winhttp::Session session_;
};

HttpsResponse WinHttpsClient::Send(const HttpsRequest& request) {
  winhttp::Exchange exchange;
  exchange.method = request.method;
  exchange.url = request.url;
  exchange.https_only = true;
  exchange.user_agent = request.user_agent;
  exchange.connect_timeout_ms = static_cast<int32_t>(request.connect_timeout.count());
  exchange.response_timeout_ms = static_cast<int32_t>(request.total_timeout.count());
  exchange.max_response_bytes = request.max_response_bytes;
  const bool sends_body = request.method != "GET";
  if (sends_body) exchange.body = request.body;
  bool has_content_type = false;
  for (const auto& [name, value] : request.headers) {
    exchange.header_lines.push_back(name + ": " + value);
    if (SameHeaderName(name, "Content-Type")) has_content_type = true;
  }
  if (sends_body && !has_content_type && !request.content_type.empty()) {
    exchange.header_lines.push_back("Content-Type: " + request.content_type);
  }
  winhttp::Outcome outcome = session_.Run(exchange);
  if (!outcome.completed) throw EHttpsFailure(KindOf(outcome), FromUtf8(outcome.error_text));
  HttpsResponse response;
  response.status = outcome.status;
  response.status_text = std::move(outcome.reason);
  response.body = std::move(outcome.body);
  response.date = std::move(outcome.date);
  return response;
}

}  // namespace

std::unique_ptr<HttpsClient> NewHttpsClient() { return std::make_unique<WinHttpsClient>(); }

}  // namespace qvpa
