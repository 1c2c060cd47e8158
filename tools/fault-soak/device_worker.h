// One device of the soak on its own thread: payment cycles through the library's exports, each
// call checked against the simulator's record as soon as it returns.
#ifndef QVPA_TOOLS_FAULT_SOAK_DEVICE_WORKER_H_
#define QVPA_TOOLS_FAULT_SOAK_DEVICE_WORKER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tools/fault-soak/ground_truth.h"
#include "tools/qvpa-host/driver_library.h"

namespace qvpa::soak {

// What the devices share: the budget of operations, the first violation, the tally of faults.
class SoakRun {
 public:
  SoakRun(long aOperations, uint64_t aSeed) : budget_(aOperations), seed_(aSeed) {}

  // Whether another cycle starts: not once the operations are spent or a violation stopped the
  // run. A cycle once started runs to its end.
  bool TakeCycle() const { return !stopped_ && done_ < budget_; }
  void CountOperation() { ++done_; }
  long operations() const { return done_; }
  bool stopped() const { return stopped_; }
  uint64_t seed() const { return seed_; }

  // Records a violation (the first one stops every device) with the device's calls so far.
  void Violation(int aDevice, const std::string& aText, const std::vector<std::string>& aCalls);
  int violations() const;
  // A fault the simulator reports on one of a call's requests, and how the call ended.
  void Tally(const std::string& aFault, const std::string& aOutcome);
  std::map<std::string, std::map<std::string, long>> tally() const;

 private:
  const long budget_;
  std::atomic<long> done_{0};
  std::atomic<bool> stopped_{false};
  const uint64_t seed_;
  mutable std::mutex mutex_;
  int violations_ = 0;
  std::map<std::string, std::map<std::string, long>> tally_;
};

struct Call {
  int16_t result = 0;
  std::string output, error;
  std::vector<Received> received;  // the requests the simulator received during the call
  bool ok() const { return result == 0; }
  std::string Field(const std::string& aName) const;
};

class DeviceWorker {
 public:
  // The device's calls and the requests the service received from it go to files in aFolder
  // as they happen, so that the soak's own memory stays flat.
  DeviceWorker(int aIndex, qvpa::host::DriverLibrary& aLibrary, const GroundTruth& aTruth, SoakRun& aRun,
               std::string aKeyId, int aHandle, std::chrono::milliseconds aRequestTimeout,
               const std::filesystem::path& aFolder);

  // Runs payment cycles until the run's budget is spent or it stopped.
  void Run();

  // The device's calls so far, each with its result, in order.
  std::vector<std::string> calls();
  // Every request the simulator received from this device, "METHOD target", in order.
  std::vector<std::string> received();
  const std::string& key_id() const { return key_id_; }
  int handle() const { return handle_; }

 private:
  void Cycle(long aCycle);
  void Verify(const std::string& aReference);
  void Refund(const std::string& aPaymentId, int aCents);
  bool Rollback(const std::string& aPaymentId, int aCents);
  Call Invoke(const std::string& aExport, const std::string& aSection, const std::string& aDescription);
  void Violation(const std::string& aText);
  bool Chance(double aProbability);
  std::string Pay(const std::string& aFields) const;

  const int index_;
  qvpa::host::DriverLibrary& library_;
  const GroundTruth& truth_;
  SoakRun& run_;
  const std::string key_id_;
  const int handle_;
  const std::chrono::milliseconds request_timeout_;
  std::mt19937_64 random_;
  int64_t last_seq_ = 0;
  const std::filesystem::path calls_path_;
  const std::filesystem::path received_path_;
  std::ofstream calls_;
  std::ofstream received_;
};

}  // namespace qvpa::soak

#endif  // QVPA_TOOLS_FAULT_SOAK_DEVICE_WORKER_H_
