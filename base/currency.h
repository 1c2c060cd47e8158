// Currency: signed 64-bit fixed point with four decimals (value x 10000).
#ifndef QVPA_BASE_CURRENCY_H_
#define QVPA_BASE_CURRENCY_H_

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvpa {

class Currency {
 public:
  constexpr Currency() = default;
  static constexpr Currency FromRaw(int64_t raw) { return Currency(raw); }
  // Whole hundredths of the unit (cents), as amounts travel to the payment service.
  static constexpr Currency FromCents(int64_t cents) { return Currency(cents * 100); }

  constexpr int64_t Raw() const { return raw_; }
  // Hundredths of the unit, rounded half away from zero.
  int64_t ToCents() const;
  double ToDouble() const { return static_cast<double>(raw_) / 10000.0; }

  // Shortest decimal text: "." separator, no grouping, no trailing zeros, "-" for
  // negatives: 12.5, 100, 0, -3.25, 0.0001.
  std::u16string ToText() const;

  // Reads a locale-independent decimal: blanks around it, optional sign, digits with
  // "." as separator, optional exponent (E or e, signed integer); rounded to four
  // decimals (half to even). Empty when the text does not convert or is out of range.
  static std::optional<Currency> Parse(std::u16string_view text);

  friend constexpr auto operator<=>(Currency, Currency) = default;
  friend constexpr Currency operator+(Currency a, Currency b) { return Currency(a.raw_ + b.raw_); }
  friend constexpr Currency operator-(Currency a, Currency b) { return Currency(a.raw_ - b.raw_); }

 private:
  constexpr explicit Currency(int64_t raw) : raw_(raw) {}
  int64_t raw_ = 0;
};

}  // namespace qvpa

#endif  // QVPA_BASE_CURRENCY_H_
