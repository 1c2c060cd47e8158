// Faults injected from the control side: each entry affects the next `count` service requests whose
// method and path match, first entry first. Thread-safe.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_
#define QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_

#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace qvpa::gbsim {

enum class FaultKind {
  kStatus,         // answer `status` with an error body {"code", "message"}
  kDelay,          // answer normally after `delay_ms`
  kClose,          // close the connection without answering
  kCloseAfter,     // carry the request out, then close the connection without answering
  kBadJson,        // answer 200 with a body that is not JSON
  kEndlessPaging,  // answer a listing with {"has_more": true, "data": []}
};

struct Fault {
  FaultKind kind = FaultKind::kStatus;
  int count = 1;
  std::string method;  // empty: any method (compared without regard to letter case)
  std::string path;    // empty: any path; else a prefix of the request path
  int status = 500;
  int code = 0;
  std::string message;
  int delay_ms = 0;
};

// Reads {"kind": "status"|"delay"|"close"|"close_after"|"bad_json"|"endless_paging", "count", "method", "path",
// "status", "code", "message", "delay_ms"}. Throws std::invalid_argument with the reason.
Fault ParseFault(const nlohmann::json& value);
nlohmann::json FaultToJson(const Fault& fault);

class FaultPlan {
 public:
  void Add(Fault fault);
  void Clear();
  // Takes one use of the first fault matching the request; endless paging matches listings only.
  std::optional<Fault> Take(const std::string& method, const std::string& path, bool is_listing);
  nlohmann::json Pending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Fault> faults_;
};

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_
