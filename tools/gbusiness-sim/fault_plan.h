// Faults injected from the control side: each entry affects the next `count` service requests whose
// method and path match, first entry first. Thread-safe. Also faults drawn at random from a seed.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_
#define QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qvpa::gbsim {

enum class FaultKind {
  kStatus,         // answer `status` with an error body {"code", "message"}
  kDelay,          // answer normally after `delay_ms`
  kClose,          // close the connection without answering
  kCloseAfter,     // carry the request out, then close the connection without answering
  kBadJson,        // answer 200 with a body that is not JSON
  kEndlessPaging,  // answer a listing with {"has_more": true, "data": []}
  kResetDuring,    // carry the request out, send the head and part of the body, then close
  kSlow,           // carry the request out, answer after `delay_ms`
  kCloseKept,      // answer normally, then close the kept connection before the next request
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
  std::string label;  // what a random draw called it (see RandomFaults); empty for planned faults
};

// Reads {"kind": "status"|"delay"|"close"|"close_after"|"bad_json"|"endless_paging"|"reset_during"|"slow"|
// "close_kept", "count", "method", "path",
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

struct RandomFaultSettings {
  double rate = 0;       // chance of a fault per request (and of a refusal per new connection)
  uint64_t seed = 1;
  int slow_ms = 35'000;  // how late a slow answer comes: beyond the client's time limit
};

// Faults drawn at random from a seed. A request meets a fault with chance `rate`; its kind is
// drawn evenly among those that fit the request (the empty page with more to come only fits
// listings). A new connection is refused with chance `rate` divided by the number of kinds,
// which keeps refusal as likely as any other kind. Thread-safe; counts what it drew.
class RandomFaults {
 public:
  // The labels of the kinds, in the order of the draw.
  static const std::vector<std::string>& Labels();

  // With aRestart the draw starts again from the seed and the counts from zero; without, only the
  // rate and the slowness change.
  void Configure(const RandomFaultSettings& settings, bool aRestart = true);
  RandomFaultSettings settings() const;
  bool RefuseConnection();
  std::optional<Fault> Draw(bool is_listing);
  // {"rate", "seed", "slow_ms", "counts": {label: n}}
  nlohmann::json State() const;

 private:
  mutable std::mutex mutex_;
  RandomFaultSettings settings_;
  std::mt19937_64 engine_{1};
  std::map<std::string, int64_t> counts_;
};

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_FAULT_PLAN_H_
