#include "tools/gbusiness-sim/payment_store.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "tools/gbusiness-sim/uuid.h"

namespace qvpa::gbsim {

namespace {

constexpr auto kDefaultExpiry = std::chrono::hours(2);
constexpr int64_t kMaxAmount = 999'999'999'999;
constexpr int kDefaultLimit = 20;
constexpr int kMaxLimit = 100;
constexpr auto kRefundPeriod = std::chrono::hours(24 * 365);
constexpr size_t kMaxExternalCode = 50;
constexpr size_t kMaxMetadataPairs = 20;
constexpr size_t kMaxMetadataKey = 45;
constexpr size_t kMaxMetadataValue = 500;

using nlohmann::json;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// A positive whole number of hundredths; JSON numbers like 1250.0 count as whole.
std::optional<int64_t> ReadAmount(const json& request) {
  const auto found = request.find("amount_unit");
  if (found == request.end()) return std::nullopt;
  int64_t amount = 0;
  if (found->is_number_integer()) {
    amount = found->get<int64_t>();
  } else if (found->is_number_float()) {
    const double value = found->get<double>();
    if (!std::isfinite(value) || value != std::floor(value) || std::fabs(value) > kMaxAmount) return std::nullopt;
    amount = static_cast<int64_t>(value);
  } else {
    return std::nullopt;
  }
  if (amount <= 0 || amount > kMaxAmount) return std::nullopt;
  return amount;
}

std::optional<std::string> ReadString(const json& request, const char* name) {
  const auto found = request.find(name);
  if (found == request.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<int64_t> ReadCount(const std::string& text) {
  if (text.empty() || text.size() > 18 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
    return std::nullopt;
  return std::stoll(text);
}

const std::string* Param(const QueryParams& query, const char* name) {
  const auto found = query.find(name);
  return found == query.end() ? nullptr : &found->second;
}

// Code 36: a malformed flow, payment or body.
Answer InvalidRequest(const std::string& message) { return ErrorAnswer(400, 36, message); }

// The metadata object: at most 20 pairs of a key of up to 45 and a text value of up to 500 characters.
bool ValidMetadata(const json& metadata) {
  if (!metadata.is_object() || metadata.size() > kMaxMetadataPairs) return false;
  for (const auto& [key, value] : metadata.items()) {
    if (key.size() > kMaxMetadataKey || !value.is_string()) return false;
    if (value.get_ref<const std::string&>().size() > kMaxMetadataValue) return false;
  }
  return true;
}

// external_code when present: a text of at most 50 characters. Empty optional when absent.
std::optional<std::optional<std::string>> ReadExternalCode(const json& request) {
  if (!request.contains("external_code")) return std::optional<std::string>();
  std::optional<std::string> code = ReadString(request, "external_code");
  if (!code || code->size() > kMaxExternalCode) return std::nullopt;
  return code;
}
Answer NotFound() { return ErrorAnswer(404, 41, "Resource not found"); }
Answer IllegalTransition(const std::string& message) { return ErrorAnswer(403, 44, message); }

// A pre-signed link to the closure's report, valid for ten minutes.
json PdfLink(const std::string& day, const std::string& shop_id, TimePoint now) {
  const std::string key = "daily_closure/" + shop_id + "/" + day + ".pdf";
  return {{"url", "https://reports.invalid/" + key + "?signature=" + NewUuid()},
          {"http_method", "GET"},
          {"expires_in_sec", 600},
          {"expiration", FormatUtcMillis(now + std::chrono::minutes(10))},
          {"key", key},
          {"bucket", "reports"}};
}

}  // namespace

PaymentStore::PaymentStore(StoreOptions options) : options_(std::move(options)) {
  if (options_.shop_id.empty()) options_.shop_id = NewUuid();
}

TimePoint PaymentStore::Now() const {
  return options_.clock ? options_.clock() : std::chrono::system_clock::now();
}

json PaymentStore::ToJson(const Payment& p) const {
  json out = {{"id", p.id}};
  if (!p.code_identifier.empty()) out["code_identifier"] = p.code_identifier;
  out["type"] = p.refund ? "REFUND_TO_BUSINESS" : "TO_BUSINESS";
  out["amount_unit"] = p.amount_unit;
  out["currency"] = p.currency;
  out["status"] = p.status;
  out["expired"] = p.expired;
  out["metadata"] = p.metadata;
  if (p.refund) {
    out["sender"] = {{"id", options_.shop_id}, {"type", "SHOP"}};
    out["receiver"] = {{"id", p.consumer_id}, {"type", "CONSUMER"}};
  } else {
    out["sender"] = p.status == "ACCEPTED"
                        ? json{{"id", p.consumer_id}, {"type", "CONSUMER"}, {"name", "Simulated Consumer"}}
                        : json{{"type", "CONSUMER"}};
    out["receiver"] = {{"id", options_.shop_id}, {"type", "SHOP"}};
  }
  if (!p.closure_day.empty()) {
    const std::string& d = p.closure_day;
    out["daily_closure"] = {
        {"id", d}, {"date", d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + "T00:00:00.000Z"}};
  }
  out["insert_date"] = FormatUtcMillis(p.insert_date);
  out["expire_date"] = FormatUtcMillis(p.expire_date);
  if (p.external_code) out["external_code"] = *p.external_code;
  out["flow"] = p.refund ? "REFUND" : "CHARGE";
  if (p.refund) out["parent_payment_uid"] = p.parent_id;
  return out;
}

PaymentStore::Payment* PaymentStore::FindLocked(const std::string& id) {
  const auto found = payments_.find(id);
  if (found == payments_.end()) return nullptr;
  RefreshLocked(found->second, Now());
  return &found->second;
}

void PaymentStore::RefreshLocked(Payment& payment, TimePoint now) {
  if (payment.status == "PENDING" && now >= payment.expire_date) {
    payment.status = "CANCELED";
    payment.expired = true;
  }
}

void PaymentStore::AcceptLocked(Payment& payment, TimePoint when) {
  changed_.notify_all();
  payment.status = "ACCEPTED";
  payment.closure_day = LocalDayText(when);
  if (payment.consumer_id.empty()) payment.consumer_id = NewUuid();
}

PaymentStore::Payment& PaymentStore::AddLocked(Payment payment) {
  payment.id = NewUuid();
  payment.sequence = next_sequence_++;
  const std::string id = payment.id;
  return payments_.emplace(id, std::move(payment)).first->second;
}

Answer PaymentStore::Create(const std::string& body, const std::string& idempotency_key) {
  const json request = json::parse(body, nullptr, false);
  if (!request.is_object()) return InvalidRequest("Request body is not a JSON object");
  std::lock_guard lock(mutex_);
  if (!idempotency_key.empty()) {
    const auto known = idempotent_.find(idempotency_key);
    if (known != idempotent_.end()) {
      if (Payment* earlier = FindLocked(known->second)) return JsonAnswer(ToJson(*earlier));
    }
  }
  const std::string flow = ReadString(request, "flow").value_or("");
  Answer answer;
  if (flow == "MATCH_CODE") answer = CreateChargeLocked(request);
  else if (flow == "REFUND") answer = CreateRefundLocked(request);
  else return InvalidRequest("Unsupported flow \"" + flow + "\"");
  if (answer.status == 200 && !idempotency_key.empty())
    idempotent_[idempotency_key] = json::parse(answer.body)["id"].get<std::string>();
  return answer;
}

Answer PaymentStore::CreateChargeLocked(const json& request) {
  const std::optional<int64_t> amount = ReadAmount(request);
  if (!amount) return InvalidRequest("amount_unit must be a positive whole number");
  if (ReadString(request, "currency") != "EUR") return InvalidRequest("currency must be EUR");
  Payment payment;
  payment.amount_unit = *amount;
  payment.currency = "EUR";
  const auto external_code = ReadExternalCode(request);
  if (!external_code) return InvalidRequest("external_code must be a text of at most 50 characters");
  payment.external_code = *external_code;
  if (request.contains("metadata")) {
    if (!ValidMetadata(request["metadata"]))
      return InvalidRequest("metadata must be at most 20 texts with keys of up to 45 characters");
    payment.metadata = request["metadata"];
  }
  const TimePoint now = Now();
  payment.insert_date = now;
  payment.expire_date = now + kDefaultExpiry;
  if (request.contains("expiration_date")) {
    const std::optional<TimePoint> expiry = ParseUtcMillis(ReadString(request, "expiration_date").value_or(""));
    if (!expiry) return InvalidRequest("expiration_date is not a UTC date and time");
    payment.expire_date = *expiry;
  }
  payment.status = "PENDING";
  Payment& added = AddLocked(std::move(payment));
  added.code_identifier = "S6Y-PAY--" + Upper(added.id);
  return JsonAnswer(ToJson(added));
}

Answer PaymentStore::CreateRefundLocked(const json& request) {
  const std::optional<std::string> parent_id = ReadString(request, "parent_payment_uid");
  if (!parent_id || parent_id->empty()) return InvalidRequest("parent_payment_uid is required");
  const std::optional<int64_t> amount = ReadAmount(request);
  if (!amount) return InvalidRequest("amount_unit must be a positive whole number");
  Payment* parent = FindLocked(*parent_id);
  if (parent == nullptr) return NotFound();
  if (ReadString(request, "currency") != "EUR") return InvalidRequest("currency must be EUR");
  const auto external_code = ReadExternalCode(request);
  if (!external_code) return InvalidRequest("external_code must be a text of at most 50 characters");
  if (request.contains("metadata") && !ValidMetadata(request["metadata"]))
    return InvalidRequest("metadata must be at most 20 texts with keys of up to 45 characters");
  return RefundLocked(*parent, *amount, request);
}

Answer PaymentStore::RefundLocked(Payment& parent, int64_t amount, const json& request) {
  if (parent.refund || parent.status != "ACCEPTED")
    return IllegalTransition("Only an accepted payment can be refunded");
  if (amount > parent.amount_unit - parent.refunded)
    return ErrorAnswer(400, 36, "Refund amount exceeds the refundable amount of the payment");
  if (Now() - parent.insert_date > kRefundPeriod)
    return ErrorAnswer(400, 131, "A payment can be refunded only within 365 days");
  Payment refund;
  refund.refund = true;
  refund.amount_unit = amount;
  refund.currency = parent.currency;
  refund.parent_id = parent.id;
  refund.consumer_id = parent.consumer_id;
  refund.external_code = ReadString(request, "external_code");
  if (request.contains("metadata") && request["metadata"].is_object()) refund.metadata = request["metadata"];
  const TimePoint now = Now();
  refund.insert_date = now;
  refund.expire_date = now;
  AcceptLocked(refund, now);
  parent.refunded += amount;
  return JsonAnswer(ToJson(AddLocked(std::move(refund))));
}

Answer PaymentStore::Read(const std::string& id, std::chrono::seconds wait) {
  std::unique_lock lock(mutex_);
  Payment* payment = FindLocked(id);
  if (payment == nullptr) return NotFound();
  if (payment->status == "PENDING" && options_.accept_after_reads >= 0 &&
      ++payment->reads > options_.accept_after_reads)
    AcceptLocked(*payment, Now());
  // Payments stay where they are in the map while it waits (none is ever removed).
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (payment->status == "PENDING" && !closed_ && changed_.wait_until(lock, deadline) != std::cv_status::timeout) {
    RefreshLocked(*payment, Now());
  }
  RefreshLocked(*payment, Now());
  return JsonAnswer(ToJson(*payment));
}

void PaymentStore::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

Answer PaymentStore::Update(const std::string& id, const std::string& body) {
  const json request = json::parse(body, nullptr, false);
  const std::string action = request.is_object() ? ReadString(request, "action").value_or("") : "";
  if (action != "ACCEPT" && action != "CANCEL" && action != "CANCEL_OR_REFUND")
    return InvalidRequest("action must be ACCEPT, CANCEL or CANCEL_OR_REFUND");
  std::lock_guard lock(mutex_);
  Payment* payment = FindLocked(id);
  if (payment == nullptr) return NotFound();
  if (payment->refund) return IllegalTransition("A refund cannot be changed");
  if (payment->status == "PENDING") {
    if (action == "ACCEPT") AcceptLocked(*payment, Now());
    else payment->status = "CANCELED";
    changed_.notify_all();
    return JsonAnswer(ToJson(*payment));
  }
  if (action == "CANCEL_OR_REFUND" && payment->status == "ACCEPTED" && payment->refunded < payment->amount_unit)
    return RefundLocked(*payment, payment->amount_unit - payment->refunded, json::object());
  return IllegalTransition("Payment is " + payment->status + ": action " + action + " not allowed");
}

std::vector<PaymentStore::Payment*> PaymentStore::NewestFirstLocked() {
  const TimePoint now = Now();
  std::vector<Payment*> all;
  all.reserve(payments_.size());
  for (auto& [id, payment] : payments_) {
    RefreshLocked(payment, now);
    all.push_back(&payment);
  }
  std::sort(all.begin(), all.end(), [](const Payment* a, const Payment* b) {
    if (a->insert_date != b->insert_date) return a->insert_date > b->insert_date;
    return a->sequence > b->sequence;
  });
  return all;
}

Answer PaymentStore::List(const QueryParams& query) {
  int64_t limit = kDefaultLimit;
  if (const std::string* text = Param(query, "limit")) {
    const std::optional<int64_t> value = ReadCount(*text);
    if (!value || *value < 1 || *value > kMaxLimit) return InvalidRequest("limit must be between 1 and 100");
    limit = *value;
  }
  std::optional<int64_t> before_millis;
  if (const std::string* text = Param(query, "starting_after_timestamp")) {
    before_millis = ReadCount(*text);
    if (!before_millis) return InvalidRequest("starting_after_timestamp must be a number of milliseconds");
  }
  std::string status = "ACCEPTED";
  if (const std::string* text = Param(query, "status")) {
    if (*text != "PENDING" && *text != "ACCEPTED" && *text != "CANCELED")
      return InvalidRequest("status must be PENDING, ACCEPTED or CANCELED");
    status = *text;
  }
  const std::string* cursor = Param(query, "starting_after");

  std::lock_guard lock(mutex_);
  const std::vector<Payment*> all = NewestFirstLocked();
  auto position = all.begin();
  if (cursor != nullptr) {
    position = std::find_if(all.begin(), all.end(), [&](const Payment* p) { return p->id == *cursor; });
    if (position == all.end()) return InvalidRequest("starting_after names no payment");
    ++position;
  }
  json data = json::array();
  bool has_more = false;
  for (; position != all.end(); ++position) {
    const Payment& p = **position;
    if (p.status != status) continue;
    if (before_millis) {
      const int64_t inserted = UnixMillis(p.insert_date);
      if (options_.timestamp_created_after ? inserted <= *before_millis : inserted >= *before_millis) continue;
    }
    if (static_cast<int64_t>(data.size()) == limit) {
      has_more = true;
      break;
    }
    json item = ToJson(p);
    if (!options_.listing_codes) item.erase("external_code");
    data.push_back(std::move(item));
  }
  return JsonAnswer({{"has_more", has_more}, {"data", std::move(data)}});
}

void PaymentStore::SetListingReading(bool listing_codes, bool timestamp_created_after) {
  std::lock_guard lock(mutex_);
  options_.listing_codes = listing_codes;
  options_.timestamp_created_after = timestamp_created_after;
}

Answer PaymentStore::DailyClosure(const std::string& day, bool generate_pdf) {
  if (!IsValidDayText(day)) return PlainErrorAnswer(400, "Invalid date: expected yyyymmdd");
  std::lock_guard lock(mutex_);
  int64_t total = 0;
  for (const auto& [id, p] : payments_) {
    if (p.status != "ACCEPTED" || p.closure_day != day) continue;
    total += p.refund ? -p.amount_unit : p.amount_unit;
  }
  return JsonAnswer({{"shop_daily_closure",
                      {{"id", day + "__" + options_.shop_id},
                       {"type", "SHOP"},
                       {"customer_uid", options_.shop_id},
                       {"amount_unit", total},
                       {"currency", "EUR"}}},
                     {"pdf", generate_pdf ? PdfLink(day, options_.shop_id, Now()) : json(nullptr)}});
}

Answer PaymentStore::Accept(const std::string& id) {
  std::lock_guard lock(mutex_);
  Payment* payment = FindLocked(id);
  if (payment == nullptr) return NotFound();
  if (payment->refund || payment->status != "PENDING")
    return IllegalTransition("Payment is " + payment->status + ": it cannot be accepted");
  AcceptLocked(*payment, Now());
  return JsonAnswer(ToJson(*payment));
}

Answer PaymentStore::Decline(const std::string& id) {
  std::lock_guard lock(mutex_);
  Payment* payment = FindLocked(id);
  if (payment == nullptr) return NotFound();
  if (payment->refund || payment->status != "PENDING")
    return IllegalTransition("Payment is " + payment->status + ": it cannot be declined");
  payment->status = "CANCELED";
  changed_.notify_all();
  return JsonAnswer(ToJson(*payment));
}

Answer PaymentStore::Seed(const std::string& body) {
  const json request = json::parse(body, nullptr, false);
  if (!request.is_object()) return InvalidRequest("Request body is not a JSON object");
  const std::optional<int64_t> amount = ReadAmount(request);
  if (!amount) return InvalidRequest("amount_unit must be a positive whole number");
  Payment payment;
  payment.amount_unit = *amount;
  payment.currency = ReadString(request, "currency").value_or("EUR");
  payment.external_code = ReadString(request, "external_code");
  const std::string status = ReadString(request, "status").value_or("PENDING");
  if (status != "PENDING" && status != "ACCEPTED" && status != "CANCELED")
    return InvalidRequest("status must be PENDING, ACCEPTED or CANCELED");
  const TimePoint now = Now();
  payment.insert_date = now;
  if (request.contains("insert_date")) {
    const std::optional<TimePoint> when = ParseUtcMillis(ReadString(request, "insert_date").value_or(""));
    if (!when) return InvalidRequest("insert_date is not a UTC date and time");
    payment.insert_date = *when;
  }
  payment.expire_date = payment.insert_date + kDefaultExpiry;
  if (request.contains("expire_date")) {
    const std::optional<TimePoint> when = ParseUtcMillis(ReadString(request, "expire_date").value_or(""));
    if (!when) return InvalidRequest("expire_date is not a UTC date and time");
    payment.expire_date = *when;
  }
  payment.status = status == "ACCEPTED" ? "PENDING" : status;
  std::lock_guard lock(mutex_);
  Payment& added = AddLocked(std::move(payment));
  added.code_identifier = "S6Y-PAY--" + Upper(added.id);
  if (status == "ACCEPTED") AcceptLocked(added, added.insert_date);
  return JsonAnswer(ToJson(added));
}

json PaymentStore::All() {
  std::lock_guard lock(mutex_);
  json out = json::array();
  for (const Payment* p : NewestFirstLocked()) out.push_back(ToJson(*p));
  return out;
}

}  // namespace qvpa::gbsim
