// The simulator's own record, read through its control side: the payments it holds and the
// requests it received. Control connections may meet a refused connection like any other
// while random faults run, so each read is tried again a few times.
#ifndef QVPA_TOOLS_FAULT_SOAK_GROUND_TRUTH_H_
#define QVPA_TOOLS_FAULT_SOAK_GROUND_TRUTH_H_

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qvpa::testing {
class LocalService;
}

namespace qvpa::soak {

struct Received {
  int64_t seq = 0;
  std::string request;           // "METHOD target"
  std::string idempotency_key;   // empty when none was sent
  std::string fault;             // the fault it met; empty for none
};

class GroundTruth {
 public:
  explicit GroundTruth(const qvpa::testing::LocalService& aService) : service_(aService) {}

  // Throws std::runtime_error when the simulator does not answer after several tries.
  nlohmann::json Control(const std::string& aMethod, const std::string& aPath,
                         const nlohmann::json& aBody = nlohmann::json()) const;
  // Payments with this field equal to aValue (id, external_code or parent_payment_uid).
  nlohmann::json Payments(const std::string& aField, const std::string& aValue) const;
  // Requests signed with aKeyId that arrived after request number aAfter, oldest first.
  std::vector<Received> RequestsOf(const std::string& aKeyId, int64_t aAfter) const;

 private:
  const qvpa::testing::LocalService& service_;
};

}  // namespace qvpa::soak

#endif  // QVPA_TOOLS_FAULT_SOAK_GROUND_TRUTH_H_
