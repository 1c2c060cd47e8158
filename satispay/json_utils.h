// Lenient accessors over parsed JSON answers of the payment service, and the
// bounded parser that produces them. The getters never throw: a missing member,
// a null, a value of another kind or a null object gives the neutral value.
// The parser keeps numbers as written: whole numbers within 64 bits become JSON
// integers, every other number a JSON string holding its text exactly ("12.50",
// "1e3", "123456789012345678901234"), which the getters read as the number it is.
#ifndef QVPA_SATISPAY_JSON_UTILS_H_
#define QVPA_SATISPAY_JSON_UTILS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/currency.h"
#include "base/date_time.h"

namespace qvpa {

class kJSONUtils {
 public:
  kJSONUtils() = delete;

  static constexpr std::size_t kMaxDepth = 512;                   // nesting of arrays/objects
  static constexpr std::size_t kMaxTextBytes = 16 * 1024 * 1024;  // UTF-8 bytes of one document

  // Parses a complete JSON text. Empty when the text is malformed, nested deeper than
  // kMaxDepth or longer than kMaxTextBytes.
  static std::optional<nlohmann::json> TryParse(std::string_view aUtf8);
  static std::optional<nlohmann::json> TryParse(std::u16string_view aText);
  // As TryParse; throws EQVError "Invalid JSON: " + reason instead of returning empty.
  static nlohmann::json Parse(std::u16string_view aText);

  // `aPath`: member names joined by "." and array elements as [index], e.g. "data[0].id".
  // Text of a JSON string; a number gives its text as written in the parsed document
  // (a floating-point value built in code: its shortest round-trip form); empty otherwise.
  static std::u16string GetString(const nlohmann::json* aJO, std::u16string_view aPath);
  // A JSON true or false; false otherwise.
  static bool GetBoolean(const nlohmann::json* aJO, std::u16string_view aPath);
  // The member when it is an object (resp. array), owned by aJO; null otherwise.
  static const nlohmann::json* GetObject(const nlohmann::json* aJO, std::u16string_view aPath);
  static const nlohmann::json* GetArray(const nlohmann::json* aJO, std::u16string_view aPath);
  // The member's number (or a string holding one) divided by 100, computed on its
  // decimal text and rounded once to four decimals with halves to even: 1250 gives
  // 12.50. 0 otherwise.
  static Currency GetCurrency(const nlohmann::json* aJO, std::u16string_view aPath);

  // The calendar day of an eight-digit text yyyymmdd, at midnight. Throws EQVError when
  // a part is not a decimal number or the parts are no valid date.
  static TDateTime GetDateFromString(std::u16string_view ADateStr);
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_JSON_UTILS_H_
