#include "satispay/json_utils.h"

#include <cstdint>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

using nlohmann::json;

// Builds the document in one pass over the text, keeping what the plain parser loses:
// a number that is not a whole number within 64 bits ("12.50", "1e3", a 30-digit id) is
// stored as a string holding its text exactly as written, so no digit goes through
// binary floating point. Nesting deeper than kMaxDepth ends the parse, so no later walk
// over the document can exhaust the stack.
class LexemeDocument final : public nlohmann::json_sax<json> {
 public:
  bool null() override { return Put(json(nullptr)) != nullptr; }
  bool boolean(bool value) override { return Put(json(value)) != nullptr; }
  bool number_integer(number_integer_t value) override { return Put(json(value)) != nullptr; }
  bool number_unsigned(number_unsigned_t value) override { return Put(json(value)) != nullptr; }
  bool number_float(number_float_t, const string_t& lexeme) override {
    return Put(json(lexeme)) != nullptr;
  }
  bool string(string_t& value) override { return Put(json(std::move(value))) != nullptr; }
  bool binary(binary_t&) override { return false; }  // JSON text has none
  bool start_object(std::size_t) override { return Enter(json::object()); }
  bool key(string_t& name) override {
    member_ = &(*open_.back())[name];
    return true;
  }
  bool end_object() override { return Leave(); }
  bool start_array(std::size_t) override { return Enter(json::array()); }
  bool end_array() override { return Leave(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = e.what();
    return false;
  }

  json& root() { return root_; }
  bool too_deep() const { return too_deep_; }
  const std::string& error() const { return error_; }

 private:
  // Places a value where the text has it: the root, the next array element or the
  // member whose key came last. Returns where it went.
  json* Put(json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    *member_ = std::move(value);
    return member_;
  }
  bool Enter(json container) {
    if (open_.size() >= kJSONUtils::kMaxDepth) {
      too_deep_ = true;
      return false;
    }
    open_.push_back(Put(std::move(container)));
    return true;
  }
  bool Leave() {
    open_.pop_back();
    return true;
  }

  json root_;
  std::vector<json*> open_;  // the containers still open, innermost last
  json* member_ = nullptr;   // the member named by the last key
  bool too_deep_ = false;
  std::string error_;
};

// Parses after the bounds check; on failure leaves the reason in `reason`.
std::optional<json> ParseBounded(std::string_view text, std::string& reason) {
  if (text.size() > kJSONUtils::kMaxTextBytes) {
    reason = "text too long";
    return std::nullopt;
  }
  LexemeDocument document;
  if (!json::sax_parse(text, &document)) {
    reason = document.too_deep() ? "nested too deeply" : document.error();
    if (reason.empty()) reason = "malformed text";
    return std::nullopt;
  }
  return std::move(document.root());
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

// A decimal text of hundredths as currency units: the decimal point moves two places
// by the exponent, so the text is rounded once, to four decimals with halves to even.
std::optional<Currency> UnitsOfHundredths(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  const std::size_t e = text.find_first_of(u"eE");
  if (e == std::u16string_view::npos) return Currency::Parse(std::u16string(text) + u"e-2");
  std::u16string_view digits = text.substr(e + 1);
  const bool negative = !digits.empty() && digits.front() == u'-';
  if (!digits.empty() && (digits.front() == u'-' || digits.front() == u'+')) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  int64_t exponent = 0;
  for (const char16_t c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    exponent = exponent * 10 + (c - u'0');
  }
  if (negative) exponent = -exponent;
  return Currency::Parse(std::u16string(text.substr(0, e)) + u"e" + IntToStr(exponent - 2));
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
    amount = UnitsOfHundredths(FromUtf8(value->get_ref<const std::string&>()));
  } else if (std::optional<std::string> number = NumberText(*value)) {
    amount = UnitsOfHundredths(FromAscii(*number));
  }
  return amount.value_or(Currency());
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
