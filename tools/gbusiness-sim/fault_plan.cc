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
                                   {FaultKind::kEndlessPaging, "endless_paging"}};

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
