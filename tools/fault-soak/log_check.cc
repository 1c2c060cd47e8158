#include "tools/fault-soak/log_check.h"

#include <regex>

namespace qvpa::soak {

namespace {

constexpr char kMethod[] = "kSATISPAY.Method:";
constexpr char kRetry[] = "kSATISPAY.Retry:";    // the driver sends a creation again
constexpr char kResent[] = "kSATISPAY.Resent:";  // the transport sent a request again
constexpr char kResponse[] = "kSATISPAY.Response:";

// The message of a line after its time stamp and level.
std::string Message(const std::string& line) {
  static const std::regex kStamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} - (ERROR - )?)");
  std::smatch match;
  if (!std::regex_search(line, match, kStamp)) return {};
  return match.suffix();
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

DeviceLog ReadDeviceLog(const std::string& text) {
  DeviceLog log;
  size_t from = 0;
  int number = 0;
  while (from < text.size()) {
    const size_t end = text.find("\r\n", from);
    ++number;
    if (end == std::string::npos) {
      log.problems.push_back("line " + std::to_string(number) + " has no end: " + text.substr(from, 200));
      break;
    }
    const std::string line = text.substr(from, end - from);
    from = end + 2;
    const std::string message = Message(line);
    if (message.empty()) {
      log.problems.push_back("line " + std::to_string(number) + " has no time stamp: " + line.substr(0, 200));
      continue;
    }
    if (StartsWith(message, kMethod)) {
      log.requests.push_back({message.substr(sizeof(kMethod) - 1), 1, false});
    } else if ((StartsWith(message, kRetry) || StartsWith(message, kResent)) && !log.requests.empty()) {
      ++log.requests.back().attempts;
    } else if (StartsWith(message, kResponse) && !log.requests.empty()) {
      log.requests.back().answered = true;
    }
  }
  return log;
}

std::vector<std::string> CheckReceivedInLog(const DeviceLog& log, const std::vector<std::string>& received) {
  std::vector<std::string> problems = log.problems;
  for (size_t i = 0; i < log.requests.size(); ++i) {
    if (!log.requests[i].answered)
      problems.push_back("logged request " + std::to_string(i + 1) + " (" + log.requests[i].request +
                         ") has no answer or failure in the log");
  }
  size_t at = 0;    // the logged request the next received one may match
  int used = 0;     // attempts of it already matched
  for (size_t r = 0; r < received.size(); ++r) {
    while (at < log.requests.size() && (log.requests[at].request != received[r] || used == log.requests[at].attempts)) {
      ++at;
      used = 0;
    }
    if (at == log.requests.size()) {
      problems.push_back("received request " + std::to_string(r + 1) + " of " + std::to_string(received.size()) +
                         " (" + received[r] + ") is not in the log in its place" +
                         (r > 0 ? "; the one before it: " + received[r - 1] : std::string()));
      break;
    }
    ++used;
  }
  return problems;
}

}  // namespace qvpa::soak
