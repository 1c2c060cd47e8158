// The simulated shop's payments, kept in memory: match-code charges, refunds, the listing and the
// daily closure, each operation answering what the service's published contract says (status and
// JSON body). Thread-safe: every operation holds one lock; a long-polling read waits without it.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_PAYMENT_STORE_H_
#define QVPA_TOOLS_GBUSINESS_SIM_PAYMENT_STORE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/gbusiness-sim/answer.h"
#include "tools/gbusiness-sim/time_text.h"

namespace qvpa::gbsim {

struct StoreOptions {
  std::string shop_id;              // receiver of charges; a fresh UUID when empty
  int accept_after_reads = -1;      // >= 0: a pending payment read more often than this is accepted
  std::function<TimePoint()> clock;  // system clock when empty
  // The two readings of the listing that the contract leaves open (see README):
  bool listing_codes = true;         // listing items carry external_code
  bool timestamp_created_after = false;  // starting_after_timestamp: "created after" (Unix
                                         // ms), else a place in the newest-first list
};

using QueryParams = std::multimap<std::string, std::string>;

class PaymentStore {
 public:
  explicit PaymentStore(StoreOptions options);

  // POST payments: flow MATCH_CODE creates a PENDING charge, flow REFUND an ACCEPTED refund of
  // at most what is left of its ACCEPTED parent. A repeated Idempotency-Key answers the first payment.
  Answer Create(const std::string& body, const std::string& idempotency_key);
  // GET payments/{id}; counts the read towards automatic acceptance. With a wait above zero
  // (x-satispay-response-wait-time), a pending payment's answer is held until its status
  // changes, the wait ends or Close() is called.
  Answer Read(const std::string& id, std::chrono::seconds wait = std::chrono::seconds(0));
  // PUT payments/{id} with {"action": ACCEPT | CANCEL | CANCEL_OR_REFUND}.
  Answer Update(const std::string& id, const std::string& body);
  // GET payments: newest first, ACCEPTED unless `status` asks for PENDING or CANCELED, after
  // starting_after or starting_after_timestamp, paged by limit.
  Answer List(const QueryParams& query);
  // GET daily_closure/{yyyymmdd}: accepted charges minus refunds of that local day; with
  // generate_pdf a "pdf" link object, else "pdf": null.
  Answer DailyClosure(const std::string& day, bool generate_pdf = false);

  // Customer side: approve or decline a pending payment in the app.
  Answer Accept(const std::string& id);
  Answer Decline(const std::string& id);
  // Adds a charge with chosen "insert_date", "status", "amount_unit", "currency", "external_code".
  Answer Seed(const std::string& body);
  // Every payment, newest first.
  nlohmann::json All();

  // Switches the readings of the listing (StoreOptions) while the store serves.
  void SetListingReading(bool listing_codes, bool timestamp_created_after);

  // Ends every held read at once; later reads no longer wait.
  void Close();

  const std::string& shop_id() const { return options_.shop_id; }

 private:
  struct Payment {
    std::string id;
    uint64_t sequence = 0;       // creation order, breaks ties between equal insert dates
    bool refund = false;         // REFUND_TO_BUSINESS rather than TO_BUSINESS
    std::string status;          // PENDING, ACCEPTED, CANCELED
    bool expired = false;
    int64_t amount_unit = 0;
    int64_t refunded = 0;        // sum of refunds against this charge
    std::string currency;
    std::optional<std::string> external_code;
    std::string code_identifier;
    std::string parent_id;
    std::string consumer_id;
    std::string closure_day;     // yyyymmdd of acceptance, local time
    nlohmann::json metadata = nlohmann::json::object();
    TimePoint insert_date;
    TimePoint expire_date;
    int reads = 0;
  };

  TimePoint Now() const;
  nlohmann::json ToJson(const Payment& payment) const;
  Payment* FindLocked(const std::string& id);
  void RefreshLocked(Payment& payment, TimePoint now);
  void AcceptLocked(Payment& payment, TimePoint when);
  Payment& AddLocked(Payment payment);
  Answer CreateChargeLocked(const nlohmann::json& request);
  Answer CreateRefundLocked(const nlohmann::json& request);
  Answer RefundLocked(Payment& parent, int64_t amount, const nlohmann::json& request);
  std::vector<Payment*> NewestFirstLocked();

  StoreOptions options_;
  std::mutex mutex_;
  std::condition_variable changed_;                // a status changed, or the store closes
  bool closed_ = false;
  std::map<std::string, Payment> payments_;        // by id
  std::map<std::string, std::string> idempotent_;  // Idempotency-Key -> payment id
  uint64_t next_sequence_ = 0;
};

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_PAYMENT_STORE_H_
