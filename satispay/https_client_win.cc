// HttpsClient over WinHTTP: certificates are checked against the Windows store (chain and
// host name, always); the request's extra CA file does not apply here.
#include "base/error.h"
#include "base/text.h"
#include "io/winhttp_win.h"
#include "satispay/https_client.h"

namespace qvpa {
namespace {

bool SameHeaderName(const std::string& a, std::string_view b) {
  return SameText(FromUtf8(a), FromUtf8(b));
}

class WinHttpsClient final : public HttpsClient {
 public:
  HttpsResponse Execute(const HttpsRequest& request) override;

 private:
  winhttp::Session session_;
};

HttpsResponse WinHttpsClient::Execute(const HttpsRequest& request) {
  winhttp::Exchange exchange;
  exchange.method = request.method;
  exchange.url = request.url;
  exchange.https_only = true;
  exchange.user_agent = request.user_agent;
  exchange.connect_timeout_ms = static_cast<int32_t>(request.connect_timeout.count());
  exchange.response_timeout_ms = static_cast<int32_t>(request.response_timeout.count());
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
  if (!outcome.completed) throw EQVError(FromUtf8(outcome.error_text));
  HttpsResponse response;
  response.status = outcome.status;
  response.status_text = std::move(outcome.reason);
  response.body = std::move(outcome.body);
  return response;
}

}  // namespace

std::unique_ptr<HttpsClient> NewHttpsClient() { return std::make_unique<WinHttpsClient>(); }

}  // namespace qvpa
