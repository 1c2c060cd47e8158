#include "tools/fault-soak/device_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <set>
#include <thread>

namespace qvpa::soak {

namespace {

// Each request may take the device's time limit, plus a margin for signing and scheduling on a
// busy machine; one more limit covers a request that never reached the service.
constexpr auto kMarginPerRequest = std::chrono::milliseconds(500);
constexpr auto kMarginPerCall = std::chrono::milliseconds(2000);
constexpr int kDoTries = 3;
constexpr int kRollbackTries = 3;
constexpr int kVerifyTries = 100;

std::string AmountText(int aCents) {
  char text[32];
  std::snprintf(text, sizeof(text), "%d.%02d", aCents / 100, aCents % 100);
  return text;
}

bool StartsWith(const std::string& aText, const std::string& aPrefix) { return aText.rfind(aPrefix, 0) == 0; }

int64_t SumOfAmounts(const nlohmann::json& aPayments) {
  int64_t sum = 0;
  for (const nlohmann::json& p : aPayments) sum += p.value("amount_unit", int64_t{0});
  return sum;
}

std::string StatusOf(const GroundTruth& aTruth, const std::string& aId) {
  const nlohmann::json held = aTruth.Payments("id", aId);
  return held.size() == 1 ? held[0].value("status", std::string()) : std::string("<not held>");
}

}  // namespace

void SoakRun::Violation(int aDevice, const std::string& aText, const std::vector<std::string>& aCalls) {
  std::lock_guard lock(mutex_);
  ++violations_;
  stopped_ = true;
  std::fprintf(stderr, "VIOLATION (seed %llu, device %d): %s\n", static_cast<unsigned long long>(seed_), aDevice,
               aText.c_str());
  std::fprintf(stderr, "  the device's calls, in order:\n");
  for (const std::string& call : aCalls) std::fprintf(stderr, "    %s\n", call.c_str());
  std::fflush(stderr);
}

int SoakRun::violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

void SoakRun::Tally(const std::string& aFault, const std::string& aOutcome) {
  std::lock_guard lock(mutex_);
  ++tally_[aFault][aOutcome];
}

std::map<std::string, std::map<std::string, long>> SoakRun::tally() const {
  std::lock_guard lock(mutex_);
  return tally_;
}

std::string Call::Field(const std::string& aName) const {
  const size_t from = output.find("<" + aName + ">");
  const size_t to = output.find("</" + aName + ">");
  if (from == std::string::npos || to == std::string::npos || to < from) return {};
  return output.substr(from + aName.size() + 2, to - from - aName.size() - 2);
}

DeviceWorker::DeviceWorker(int aIndex, qvpa::host::DriverLibrary& aLibrary, const GroundTruth& aTruth,
                           SoakRun& aRun, std::string aKeyId, int aHandle, std::chrono::milliseconds aRequestTimeout,
                           const std::filesystem::path& aFolder)
    : index_(aIndex),
      library_(aLibrary),
      truth_(aTruth),
      run_(aRun),
      key_id_(std::move(aKeyId)),
      handle_(aHandle),
      request_timeout_(aRequestTimeout),
      random_(aRun.seed() * 1000 + static_cast<uint64_t>(aIndex)),
      calls_path_(aFolder / ("calls-" + std::to_string(aIndex) + ".txt")),
      received_path_(aFolder / ("received-" + std::to_string(aIndex) + ".txt")),
      calls_(calls_path_, std::ios::trunc),
      received_(received_path_, std::ios::trunc) {
  if (!calls_ || !received_) throw std::runtime_error("cannot write into " + aFolder.string());
}

namespace {
std::vector<std::string> Lines(std::ofstream& aOut, const std::filesystem::path& aPath) {
  aOut.flush();
  std::ifstream in(aPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
}  // namespace

std::vector<std::string> DeviceWorker::calls() { return Lines(calls_, calls_path_); }
std::vector<std::string> DeviceWorker::received() { return Lines(received_, received_path_); }

void DeviceWorker::Run() {
  for (long cycle = 1; run_.TakeCycle(); ++cycle) Cycle(cycle);
}

bool DeviceWorker::Chance(double aProbability) {
  return std::uniform_real_distribution<double>(0, 1)(random_) < aProbability;
}

std::string DeviceWorker::Pay(const std::string& aFields) const { return "<Payment>" + aFields + "</Payment>"; }

void DeviceWorker::Violation(const std::string& aText) { run_.Violation(index_, aText, calls()); }

Call DeviceWorker::Invoke(const std::string& aExport, const std::string& aSection, const std::string& aDescription) {
  const std::string request = "<Request><Handle>" + std::to_string(handle_) + "</Handle>" + aSection + "</Request>";
  const auto start = std::chrono::steady_clock::now();
  const qvpa::host::Answer answer = library_.Call(aExport, request);
  const auto took = std::chrono::steady_clock::now() - start;
  run_.CountOperation();

  Call call{answer.result, answer.output, answer.error, truth_.RequestsOf(key_id_, last_seq_)};
  std::string faults;
  for (const Received& r : call.received) {
    last_seq_ = r.seq;
    received_ << r.request << '\n';
    if (!r.fault.empty()) faults += (faults.empty() ? "" : ", ") + r.fault;
  }
  const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
  // One line per call (an error text's line breaks made blanks).
  std::string error = call.error;
  std::replace(error.begin(), error.end(), '\n', ' ');
  std::replace(error.begin(), error.end(), '\r', ' ');
  calls_ << aDescription << " -> " << call.result << " \"" << error << "\" (" << ms << " ms, "
         << call.received.size() << " requests" << (faults.empty() ? "" : "; faults: " + faults) << ")\n";
  // "PAY BEGIN ..." counts as "PAY BEGIN", "VERIFYTRAN ..." as "VERIFYTRAN".
  const size_t first_blank = aDescription.find(' ');
  const std::string what =
      aDescription.substr(0, aExport == "PAY" ? aDescription.find(' ', first_blank + 1) : first_blank);
  const std::string outcome = what + (call.ok() ? " ok" : " failed");
  for (const Received& r : call.received) {
    if (!r.fault.empty()) run_.Tally(r.fault, outcome);
  }

  // 1. Within its bound.
  const auto bound = static_cast<long>(call.received.size() + 1) * (request_timeout_ + kMarginPerRequest) + kMarginPerCall;
  if (took > bound)
    Violation(aDescription + " took " + std::to_string(ms) + " ms, more than its bound of " +
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(bound).count()) + " ms");
  // 2. A failure says so with a text; a success says so too.
  if (!call.ok() && (call.result != -1 || call.Field("Error") != "True" || call.Field("ErrorText").empty() ||
                     call.error.empty()))
    Violation(aDescription + " failed without Error True and an error text: " + call.output);
  if (call.ok() && call.Field("Error") != "False") Violation(aDescription + " succeeded with " + call.output);
  // 3. Every repeat of a creation within one call carries the key of its first sending.
  std::set<std::string> keys;
  for (const Received& r : call.received) {
    if (StartsWith(r.request, "POST /g_business/v1/payments")) keys.insert(r.idempotency_key);
  }
  if (keys.size() > 1 || keys.count("") != 0)
    Violation(aDescription + " sent its creation with " + std::to_string(keys.size()) + " different Idempotency-Keys");
  return call;
}

void DeviceWorker::Cycle(long aCycle) {
  const std::string reference = "D" + std::to_string(index_) + "-" + std::to_string(aCycle);
  const int cents = std::uniform_int_distribution<int>(100, 5000)(random_);
  const Call begin =
      Invoke("PAY", Pay("<Action>PAY</Action><Phase>BEGIN</Phase><Amount>" + AmountText(cents) +
                        "</Amount><Currency>EUR</Currency><Reference>" + reference + "</Reference>"),
             "PAY BEGIN " + reference + " " + AmountText(cents));
  const nlohmann::json held = truth_.Payments("external_code", reference);
  // 3. At most one payment per BEGIN.
  if (held.size() > 1) return Violation("BEGIN " + reference + " made " + std::to_string(held.size()) + " payments");
  if (!begin.ok()) return Verify(reference);

  // 2 and 4: the payment it reports is the one the service holds, pending.
  const std::string id = begin.Field("PaymentNumber");
  if (id.empty() || begin.Field("AuthCode").empty())
    return Violation("BEGIN succeeded without PaymentNumber and AuthCode: " + begin.output);
  if (held.size() != 1 || held[0]["id"] != id || held[0]["amount_unit"] != cents || held[0]["currency"] != "EUR" ||
      held[0]["status"] != "PENDING")
    return Violation("BEGIN reported payment " + id + " of " + AmountText(cents) + " EUR, the service holds " +
                     held.dump());

  // The customer accepts, declines or does nothing.
  const int choice = std::uniform_int_distribution<int>(0, 9)(random_);
  if (choice < 7) truth_.Control("POST", "/control/payments/" + id + (choice < 6 ? "/accept" : "/decline"));

  bool accepted = false;
  bool declined = false;
  for (int attempt = 0; attempt < kDoTries && !accepted && !declined; ++attempt) {
    const Call done = Invoke("PAY", Pay("<Action>PAY</Action><Phase>DO</Phase><Attributes>" + id + "</Attributes>"),
                             "PAY DO " + id);
    const std::string status = StatusOf(truth_, id);
    if (done.ok()) {
      accepted = true;
      if (done.Field("RefundReference") != id || done.Field("PaymentNumber") != id || status != "ACCEPTED")
        return Violation("DO reported " + id + " accepted; the service holds it " + status + "; answer " + done.output);
    } else if (done.error == "CANCELED" || done.error == "PENDING") {
      declined = done.error == "CANCELED";
      if (status != done.error) return Violation("DO reported " + done.error + "; the service holds " + id + " " + status);
    }
  }
  if (!accepted && !declined && !Rollback(id, cents)) return;
  if (accepted) {
    Invoke("PAY", Pay("<Action>PAY</Action><Phase>COMMIT</Phase><Attributes>" + id + "</Attributes>"), "PAY COMMIT " + id);
    if (Chance(0.3)) Refund(id, cents);
  }
  if (Chance(0.05)) {
    const Call closure = Invoke("DAYCLOSE", "<DayClose/>", "DAYCLOSE");
    if (closure.ok() && closure.Field("ClosureNumber").empty())
      Violation("DAYCLOSE succeeded without ClosureNumber: " + closure.output);
  }
}

bool DeviceWorker::Rollback(const std::string& aPaymentId, int aCents) {
  for (int attempt = 0; attempt < kRollbackTries; ++attempt) {
    const std::string before = StatusOf(truth_, aPaymentId);
    const Call rollback = Invoke(
        "PAY", Pay("<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>" + aPaymentId + "</Attributes>"),
        "PAY ROLLBACK " + aPaymentId);
    if (!rollback.ok()) continue;
    // Cancelled, or, when the customer had accepted meanwhile, refunded in full.
    const std::string after = StatusOf(truth_, aPaymentId);
    const int64_t refunded = SumOfAmounts(truth_.Payments("parent_payment_uid", aPaymentId));
    if (after != "CANCELED" && !(after == "ACCEPTED" && refunded == aCents)) {
      Violation("ROLLBACK of " + aPaymentId + " (" + before + ") succeeded; the service holds it " + after +
                " with " + std::to_string(refunded) + " of " + std::to_string(aCents) + " refunded");
      return false;
    }
    return true;
  }
  return true;
}

void DeviceWorker::Refund(const std::string& aPaymentId, int aCents) {
  // A refund that failed without being made is tried once more; one made without an answer is not.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const nlohmann::json before = truth_.Payments("parent_payment_uid", aPaymentId);
    const int64_t left = aCents - SumOfAmounts(before);
    if (left < 2) return;
    const int cents = std::uniform_int_distribution<int>(1, static_cast<int>(left - 1))(random_);
    const Call refund = Invoke(
        "PAY", Pay("<Action>REFUND</Action><Amount>" + AmountText(cents) +
                   "</Amount><Currency>EUR</Currency><RefundReference><PaymentId>" + aPaymentId +
                   "</PaymentId></RefundReference>"),
        "PAY REFUND " + aPaymentId + " " + AmountText(cents));
    const nlohmann::json after = truth_.Payments("parent_payment_uid", aPaymentId);
    const size_t made = after.size() - before.size();
    // 6. Never more than the payment, never twice for one call.
    if (made > 1 || SumOfAmounts(after) > aCents)
      return Violation("REFUND of " + AmountText(cents) + " on " + aPaymentId + " (" + AmountText(aCents) +
                       ") left the service with refunds " + after.dump());
    if (refund.ok()) {
      // 4. The refund it reports is the one the service made.
      const nlohmann::json& newest = after.empty() ? nlohmann::json() : after.front();
      if (made != 1 || newest["id"] != refund.Field("PaymentNumber") || newest["amount_unit"] != cents)
        return Violation("REFUND reported " + refund.Field("PaymentNumber") + "; the service made " +
                         std::to_string(made) + " refunds: " + after.dump());
      return;
    }
    if (made == 1) {
      run_.Tally("(refund made, unanswered)", "PAY REFUND failed");
      return;
    }
  }
}

void DeviceWorker::Verify(const std::string& aReference) {
  for (int attempt = 0; attempt < kVerifyTries && !run_.stopped(); ++attempt) {
    const Call verified = Invoke("VERIFYTRAN", "<VerifyTran><ReceiptId>" + aReference + "</ReceiptId></VerifyTran>",
                                 "VERIFYTRAN " + aReference);
    const bool with_status = verified.error == "PENDING" || verified.error == "CANCELED";
    const bool not_found = verified.error == "Transaction with external_code " + aReference + " not found";
    if (!verified.ok() && !with_status && !not_found) {
      // The service may still store an unanswered BEGIN for a few seconds: the driver says
      // so rather than "not found", and a till asks again a little later.
      if (verified.error.rfind("Verification incomplete: the BEGIN with this reference", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
      }
      continue;  // no clean answer yet
    }
    // 5. Found exactly when the service holds it, and as the service holds it.
    const nlohmann::json held = truth_.Payments("external_code", aReference);
    if (not_found != held.empty())
      return Violation("VERIFYTRAN " + aReference + " answered \"" + verified.error + "\"; the service holds " +
                       held.dump());
    if (held.empty()) return;
    const std::string status = held[0]["status"];
    if (verified.Field("PaymentNumber") != held[0]["id"] ||
        (verified.ok() ? status != "ACCEPTED" : status != verified.error))
      return Violation("VERIFYTRAN " + aReference + " answered " + verified.output + "; the service holds " +
                       held.dump());
    run_.Tally("(payment found by VERIFYTRAN after a failed BEGIN)", status);
    if (status == "PENDING") Rollback(held[0]["id"].get<std::string>(), held[0]["amount_unit"].get<int>());
    return;
  }
  if (!run_.stopped())
    Violation("VERIFYTRAN " + aReference + " gave no clean answer in " + std::to_string(kVerifyTries) + " tries");
}

}  // namespace qvpa::soak
