#include "satispay/https_client.h"

#include <string_view>

namespace qvpa {

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
