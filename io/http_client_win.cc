// HttpClient over WinHTTP. Trust comes from the Windows certificate store alone, so
// QVPA_SATISPAY_CA_FILE has no effect here.
#include "io/http_client.h"

#include "io/winhttp_win.h"

namespace qvpa {

namespace {
// A transfer that stalls this long fails (the answer to one request).
constexpr int32_t kStallMilliseconds = 60000;
}  // namespace

struct HttpClient::Handle {
  winhttp::Session session;
};

HttpClient::HttpClient() : handle_(std::make_unique<Handle>()) {}

HttpClient::~HttpClient() = default;

HttpExchange HttpClient::Send(std::string_view aMethod, const std::string& aUrl,
                              const std::vector<std::string>& aHeaders, const std::string& aBody,
                              const std::string& aUser, const std::string& aPassword) {
  winhttp::Exchange exchange;
  exchange.method = std::string(aMethod);
  exchange.url = aUrl;
  exchange.header_lines = aHeaders;
  exchange.body = aBody;
  exchange.connect_timeout_ms = connect_timeout_ms_;
  exchange.response_timeout_ms = kStallMilliseconds;
  if (auth_ != Auth::kNone) {
    exchange.auth = auth_ == Auth::kBasic ? winhttp::Auth::kBasic : winhttp::Auth::kDigest;
    exchange.user = aUser;
    exchange.password = aPassword;
  }
  winhttp::Outcome outcome = handle_->session.Run(exchange);
  HttpExchange result;
  result.completed = outcome.completed;
  result.status = outcome.status;
  result.status_line = std::move(outcome.status_line);
  result.content_type = std::move(outcome.content_type);
  result.body = std::move(outcome.body);
  result.error = std::move(outcome.error_text);
  return result;
}

bool HttpClient::Connected() const { return handle_->session.HasConnection(); }

void HttpClient::Disconnect() { handle_->session.Reset(); }

}  // namespace qvpa
