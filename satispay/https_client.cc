#include "satispay/https_client.h"

#include <string_view>

#include "io/header_text.h"

namespace qvpa {

HttpsResponse HttpsClient::Execute(const HttpsRequest& request) {
  try {
    for (const auto& [name, value] : request.headers) CheckHeader(name, value);
    if (!request.user_agent.empty()) CheckHeader("User-Agent", request.user_agent);
    if (!request.content_type.empty()) CheckHeader("Content-Type", request.content_type);
  } catch (const EQVError& refused) {
    throw EHttpsFailure(HttpsFailureKind::kRefused, refused.Message());
  }
  // The URL goes out in the request line: no blank or control character may end it early.
  for (const char c : request.url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
      throw EHttpsFailure(HttpsFailureKind::kRefused,
                          u"URL is not valid: it cannot hold blanks or control characters");
    }
  }
  return Send(request);
}

std::string ReasonPhraseOfStatusLine(std::string_view status_line) {
  while (!status_line.empty() && (status_line.back() == '\r' || status_line.back() == '\n')) {
    status_line.remove_suffix(1);
  }
  // "HTTP/1.1" SP status-code SP reason-phrase
  const std::size_t first_blank = status_line.find(' ');
  if (first_blank == std::string_view::npos) return {};
  const std::size_t second_blank = status_line.find(' ', first_blank + 1);
  if (second_blank == std::string_view::npos) return {};
  return std::string(status_line.substr(second_blank + 1));
}

}  // namespace qvpa
