#include "tools/gbusiness-sim/fault_plan.h"

#include <stdexcept>
#include <strings.h>

namespace qvpa::gbsim {

namespace {

struct KindName {
  FaultKind kind;
  const char* name;
};
constexpr KindName kKindNames[] = {{FaultKind::kStatus, "status"},
                                   {FaultKind::kDelay, "delay"},
                                   {FaultKind::kClose, "close"},
                                   {FaultKind::kCloseAfter, "close_after"},
                                   {FaultKind::kBadJson, "bad_json"},
                                   {FaultKind::kEndlessPaging, "endless_paging"},
                                   {FaultKind::kResetDuring, "reset_during"},
                                   {FaultKind::kSlow, "slow"},
                                   {FaultKind::kCloseKept, "close_kept"}};

// What a random draw can give, besides the refused connection; the last fits listings only.
struct RandomKind {
  const char* label;
  FaultKind kind;
  int status;
};
constexpr char kRefusedLabel[] = "refused";
constexpr RandomKind kRandomKinds[] = {{"reset_before_answer", FaultKind::kClose, 0},
                                       {"reset_during_answer", FaultKind::kResetDuring, 0},
                                       {"status_500", FaultKind::kStatus, 500},
                                       {"status_503", FaultKind::kStatus, 503},
                                       {"slow_answer", FaultKind::kSlow, 0},
                                       {"store_then_close", FaultKind::kCloseAfter, 0},
                                       {"not_json", FaultKind::kBadJson, 0},
                                       {"kept_connection_closed", FaultKind::kCloseKept, 0},
                                       {"empty_page_with_more", FaultKind::kEndlessPaging, 0}};
constexpr size_t kRandomKindCount = sizeof(kRandomKinds) / sizeof(kRandomKinds[0]);

int ReadInt(const nlohmann::json& value, const char* name, int fallback, int low, int high) {
  const auto found = value.find(name);
  if (found == value.end()) return fallback;
  if (!found->is_number_integer() || found->get<int64_t>() < low || found->get<int64_t>() > high)
    throw std::invalid_argument(std::string(name) + " must be a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high));
  return found->get<int>();
}

std::string ReadText(const nlohmann::json& value, const char* name) {
  const auto found = value.find(name);
  if (found == value.end()) return {};
  if (!found->is_string()) throw std::invalid_argument(std::string(name) + " must be a text");
  return found->get<std::string>();
}

}  // namespace

Fault ParseFault(const nlohmann::json& value) {
  if (!value.is_object()) throw std::invalid_argument("a fault is a JSON object");
  const std::string kind = ReadText(value, "kind");
  Fault fault;
  bool known = false;
  for (const KindName& k : kKindNames) {
    if (kind == k.name) {
      fault.kind = k.kind;
      known = true;
    }
  }
  if (!known) throw std::invalid_argument("unknown fault kind \"" + kind + "\"");
  fault.count = ReadInt(value, "count", 1, 1, 1'000'000);
  fault.method = ReadText(value, "method");
  fault.path = ReadText(value, "path");
  fault.status = ReadInt(value, "status", 500, 100, 599);
  fault.code = ReadInt(value, "code", 0, 0, 1'000'000);
  fault.message = ReadText(value, "message");
  if (fault.message.empty()) fault.message = "Simulated failure";
  fault.delay_ms = ReadInt(value, "delay_ms", 0, 0, 600'000);
  return fault;
}

nlohmann::json FaultToJson(const Fault& fault) {
  std::string kind;
  for (const KindName& k : kKindNames) {
    if (k.kind == fault.kind) kind = k.name;
  }
  return {{"kind", kind},     {"count", fault.count},   {"method", fault.method},
          {"path", fault.path}, {"status", fault.status}, {"code", fault.code},
          {"message", fault.message}, {"delay_ms", fault.delay_ms}};
}

void FaultPlan::Add(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(std::move(fault));
}

void FaultPlan::Clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<Fault> FaultPlan::Take(const std::string& method, const std::string& path, bool is_listing) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!it->method.empty() && strcasecmp(it->method.c_str(), method.c_str()) != 0) continue;
    if (!it->path.empty() && path.compare(0, it->path.size(), it->path) != 0) continue;
    if (it->kind == FaultKind::kEndlessPaging && !is_listing) continue;
    Fault taken = *it;
    if (--it->count == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

nlohmann::json FaultPlan::Pending() const {
  std::lock_guard lock(mutex_);
  nlohmann::json out = nlohmann::json::array();
  for (const Fault& fault : faults_) out.push_back(FaultToJson(fault));
  return out;
}

}  // namespace qvpa::gbsim

namespace qvpa::gbsim {

const std::vector<std::string>& RandomFaults::Labels() {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> all{kRefusedLabel};
    for (const RandomKind& k : kRandomKinds) all.emplace_back(k.label);
    return all;
  }();
  return labels;
}

void RandomFaults::Configure(const RandomFaultSettings& settings, bool aRestart) {
  std::lock_guard lock(mutex_);
  if (!aRestart) {
    settings_.rate = settings.rate;
    settings_.slow_ms = settings.slow_ms;
    return;
  }
  settings_ = settings;
  engine_.seed(settings.seed);
  counts_.clear();
}

RandomFaultSettings RandomFaults::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

bool RandomFaults::RefuseConnection() {
  std::lock_guard lock(mutex_);
  if (settings_.rate <= 0) return false;
  const double chance = settings_.rate / static_cast<double>(kRandomKindCount + 1);
  if (std::uniform_real_distribution<double>(0, 1)(engine_) >= chance) return false;
  ++counts_[kRefusedLabel];
  return true;
}

std::optional<Fault> RandomFaults::Draw(bool is_listing) {
  std::lock_guard lock(mutex_);
  if (settings_.rate <= 0) return std::nullopt;
  if (std::uniform_real_distribution<double>(0, 1)(engine_) >= settings_.rate) return std::nullopt;
  const size_t kinds = is_listing ? kRandomKindCount : kRandomKindCount - 1;
  const RandomKind& drawn = kRandomKinds[std::uniform_int_distribution<size_t>(0, kinds - 1)(engine_)];
  Fault fault;
  fault.kind = drawn.kind;
  fault.status = drawn.status == 0 ? 500 : drawn.status;
  fault.message = "Simulated failure";
  fault.delay_ms = settings_.slow_ms;
  fault.label = drawn.label;
  ++counts_[fault.label];
  return fault;
}

nlohmann::json RandomFaults::State() const {
  std::lock_guard lock(mutex_);
  nlohmann::json counts = nlohmann::json::object();
  for (const std::string& label : Labels()) {
    const auto found = counts_.find(label);
    counts[label] = found == counts_.end() ? 0 : found->second;
  }
  return {{"rate", settings_.rate}, {"seed", settings_.seed}, {"slow_ms", settings_.slow_ms}, {"counts", counts}};
}

}  // namespace qvpa::gbsim
