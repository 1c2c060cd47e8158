#include "satispay/json_utils.h"

#include <cstdint>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

using nlohmann::json;

// First pass over a JSON text: checks the syntax and that nesting stays within bounds,
// so the document parser never sees a text that would exhaust the stack of later walks.
class DepthLimit final : public nlohmann::json_sax<json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return Enter(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Leave(); }
  bool start_array(std::size_t) override { return Enter(); }
  bool end_array() override { return Leave(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = e.what();
    return false;
  }

  bool too_deep() const { return too_deep_; }
  const std::string& error() const { return error_; }

 private:
  bool Enter() {
    if (++depth_ > kJSONUtils::kMaxDepth) too_deep_ = true;
    return !too_deep_;
  }
  bool Leave() {
    --depth_;
    return true;
  }

  std::size_t depth_ = 0;
  bool too_deep_ = false;
  std::string error_;
};

// Parses after the bounds check; on failure leaves the reason in `reason`.
std::optional<json> ParseBounded(std::string_view text, std::string& reason) {
  if (text.size() > kJSONUtils::kMaxTextBytes) {
    reason = "text too long";
    return std::nullopt;
  }
  DepthLimit check;
  if (!json::sax_parse(text, &check)) {
    reason = check.too_deep() ? "nested too deeply" : check.error();
    return std::nullopt;
  }
  json value = json::parse(text, nullptr, false);
  if (value.is_discarded()) {
    reason = "malformed text";
    return std::nullopt;
  }
  return value;
}

// The value at a path of member names joined by "." and [index] elements; null when
// any step is missing or of the wrong kind.
const json* Find(const json* node, std::u16string_view path) {
  const std::string p = ToUtf8(path);
  std::size_t i = 0;
  while (node != nullptr && i < p.size()) {
    if (p[i] == '[') {
      const std::size_t close = p.find(']', i);
      if (close == std::string::npos || close == i + 1 || !node->is_array()) return nullptr;
      std::size_t index = 0;
      for (std::size_t k = i + 1; k < close; ++k) {
        if (p[k] < '0' || p[k] > '9' || index > node->size()) return nullptr;
        index = index * 10 + static_cast<std::size_t>(p[k] - '0');
      }
      if (index >= node->size()) return nullptr;
      node = &(*node)[index];
      i = close + 1;
    } else {
      if (p[i] == '.') ++i;
      const std::size_t end = p.find_first_of(".[", i);
      const std::string name = p.substr(i, end == std::string::npos ? std::string::npos : end - i);
      if (!node->is_object()) return nullptr;
      auto it = node->find(name);
      if (it == node->end()) return nullptr;
      node = &*it;
      i = end == std::string::npos ? p.size() : end;
    }
  }
  return node;
}

// Decimal text of a JSON number; other kinds give nothing.
std::optional<std::string> NumberText(const json& value) {
  switch (value.type()) {
    case json::value_t::number_integer:
      return std::to_string(value.get<int64_t>());
    case json::value_t::number_unsigned:
      return std::to_string(value.get<uint64_t>());
    case json::value_t::number_float:
      return value.dump();  // shortest text that reads back as the same double
    default:
      return std::nullopt;
  }
}

// Divides by 100, rounding to four decimals with halves to the even neighbour.
Currency HundredthsToUnits(Currency amount) {
  const int64_t raw = amount.Raw();
  int64_t quotient = raw / 100;
  const int64_t remainder = raw % 100;
  const int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > 100 || (twice == 100 && quotient % 2 != 0)) quotient += raw < 0 ? -1 : 1;
  return Currency::FromRaw(quotient);
}

int DatePart(std::u16string_view text, std::size_t pos, std::size_t width) {
  const std::u16string_view part = text.substr(std::min(pos, text.size()), width);
  bool valid = part.size() == width;
  int value = 0;
  for (char16_t c : part) {
    if (c < u'0' || c > u'9') valid = false;
    else value = value * 10 + (c - u'0');
  }
  if (!valid) throw EQVError(u"'" + std::u16string(part) + u"' is not a valid integer value");
  return value;
}

}  // namespace

std::optional<json> kJSONUtils::TryParse(std::string_view aUtf8) {
  std::string reason;
  return ParseBounded(aUtf8, reason);
}

std::optional<json> kJSONUtils::TryParse(std::u16string_view aText) {
  if (aText.size() > kMaxTextBytes) return std::nullopt;
  return TryParse(std::string_view(ToUtf8(aText)));
}

json kJSONUtils::Parse(std::u16string_view aText) {
  std::string reason = "text too long";
  std::optional<json> value;
  if (aText.size() <= kMaxTextBytes) value = ParseBounded(ToUtf8(aText), reason);
  if (!value) throw EQVError(u"Invalid JSON: " + FromUtf8(reason));
  return std::move(*value);
}

std::u16string kJSONUtils::GetString(const json* aJO, std::u16string_view aPath) {
  const json* value = Find(aJO, aPath);
  if (value == nullptr) return {};
  if (value->is_string()) return FromUtf8(value->get_ref<const std::string&>());
  if (std::optional<std::string> number = NumberText(*value)) return FromAscii(*number);
  return {};
}

bool kJSONUtils::GetBoolean(const json* aJO, std::u16string_view aPath) {
  const json* value = Find(aJO, aPath);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

const json* kJSONUtils::GetObject(const json* aJO, std::u16string_view aPath) {
  const json* value = Find(aJO, aPath);
  return value != nullptr && value->is_object() ? value : nullptr;
}

const json* kJSONUtils::GetArray(const json* aJO, std::u16string_view aPath) {
  const json* value = Find(aJO, aPath);
  return value != nullptr && value->is_array() ? value : nullptr;
}

Currency kJSONUtils::GetCurrency(const json* aJO, std::u16string_view aPath) {
  const json* value = Find(aJO, aPath);
  if (value == nullptr) return Currency();
  std::optional<Currency> amount;
  if (value->is_string()) {
    amount = Currency::Parse(FromUtf8(value->get_ref<const std::string&>()));
  } else if (std::optional<std::string> number = NumberText(*value)) {
    amount = Currency::Parse(FromAscii(*number));
  }
  return amount ? HundredthsToUnits(*amount) : Currency();
}

TDateTime kJSONUtils::GetDateFromString(std::u16string_view ADateStr) {
  const int year = DatePart(ADateStr, 0, 4);
  const int month = DatePart(ADateStr, 4, 2);
  const int day = DatePart(ADateStr, 6, 2);
  std::optional<TDateTime> date = TryEncodeDateTime(year, month, day, 0, 0, 0, 0);
  if (!date) throw EQVError(u"Invalid argument to date encode");
  return *date;
}

}  // namespace qvpa
