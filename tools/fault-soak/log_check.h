// Reading a device log back: the service requests it records, and whether the requests the
// service received appear there, in order.
#ifndef QVPA_TOOLS_FAULT_SOAK_LOG_CHECK_H_
#define QVPA_TOOLS_FAULT_SOAK_LOG_CHECK_H_

#include <string>
#include <vector>

namespace qvpa::soak {

// One request as the log tells it: "METHOD /path?query", how often it may have gone out (one
// more for each repeat), and whether its answer or failure was logged.
struct LoggedRequest {
  std::string request;
  int attempts = 1;
  bool answered = false;
};

struct DeviceLog {
  std::vector<LoggedRequest> requests;
  std::vector<std::string> problems;  // lines without a time stamp, a last line without its end, ...
};

// Reads the text of a device log (lines ending in CR LF, each "yyyy-mm-dd hh:nn:ss:zzz - ...").
DeviceLog ReadDeviceLog(const std::string& text);

// Each text of aReceived ("METHOD target", in the order the service received them) must match
// a logged request, in order, no logged request used more often than it went out, and every
// logged request must have its answer. Returns what does not hold.
std::vector<std::string> CheckReceivedInLog(const DeviceLog& log, const std::vector<std::string>& received);

}  // namespace qvpa::soak

#endif  // QVPA_TOOLS_FAULT_SOAK_LOG_CHECK_H_
