#include "base/currency.h"

#include <cstdlib>
#include <string>

#include "base/text.h"

namespace qvpa {

int64_t Currency::ToCents() const {
  int64_t q = raw_ / 100;
  int64_t r = raw_ % 100;
  if (r >= 50) ++q;
  if (r <= -50) --q;
  return q;
}

std::u16string Currency::ToText() const {
  // Work on the magnitude as unsigned so INT64_MIN renders too.
  const bool negative = raw_ < 0;
  uint64_t mag = negative ? 0 - static_cast<uint64_t>(raw_) : static_cast<uint64_t>(raw_);
  std::string text = std::to_string(mag / 10000);
  uint64_t frac = mag % 10000;
  if (frac != 0) {
    std::string digits = std::to_string(frac);
    digits.insert(0, 4 - digits.size(), '0');
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return FromAscii(negative ? "-" + text : text);
}

std::optional<Currency> Currency::Parse(std::u16string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  std::u16string_view s = text.substr(b, e - b);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  // Significant digits and where the decimal point stands among them.
  std::string digits;
  int point = -1;
  bool any_digit = false;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= u'0' && c <= u'9') {
      any_digit = true;
      if (!(digits.empty() && c == u'0')) digits.push_back(static_cast<char>(c));
      else if (point >= 0) digits.push_back('0');  // keep zeros after the point for scale
    } else if (c == u'.' && point < 0) {
      point = static_cast<int>(digits.size());
    } else {
      break;
    }
  }
  if (!any_digit) return std::nullopt;
  int scale = point < 0 ? 0 : static_cast<int>(digits.size()) - point;  // digits after point
  long exponent = 0;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool eneg = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) eneg = s[i++] == u'-';
    size_t start = i;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - u'0');
    }
    if (i == start) return std::nullopt;
    if (eneg) exponent = -exponent;
  }
  if (i != s.size()) return std::nullopt;
  // value = digits * 10^(exponent - scale); we want raw = value * 10^4.
  long shift = exponent - scale + 4;
  // Strip leading zeros.
  size_t nz = digits.find_first_not_of('0');
  if (nz == std::string::npos) return Currency(0);
  digits.erase(0, nz);
  if (shift >= 0) {
    if (static_cast<long>(digits.size()) + shift > 19) return std::nullopt;
    digits.append(static_cast<size_t>(shift), '0');
    unsigned long long v = std::strtoull(digits.c_str(), nullptr, 10);
    if (v > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
    int64_t raw = static_cast<int64_t>(v);
    return Currency(negative ? -raw : raw);
  }
  // Drop -shift digits with rounding half to even.
  size_t drop = static_cast<size_t>(-shift);
  std::string kept = drop >= digits.size() ? std::string() : digits.substr(0, digits.size() - drop);
  std::string gone = drop >= digits.size() ? std::string(drop - digits.size(), '0') + digits
                                           : digits.substr(digits.size() - drop);
  if (kept.size() > 19) return std::nullopt;
  unsigned long long v = kept.empty() ? 0 : std::strtoull(kept.c_str(), nullptr, 10);
  if (kept.size() == 19 && v > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
  int cmp = 0;  // gone compared with one half
  if (!gone.empty()) {
    if (gone[0] > '5') cmp = 1;
    else if (gone[0] < '5') cmp = -1;
    else cmp = gone.find_first_not_of('0', 1) == std::string::npos ? 0 : 1;
  } else {
    cmp = -1;
  }
  if (cmp > 0 || (cmp == 0 && (v % 2) == 1)) ++v;
  if (v > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
  int64_t raw = static_cast<int64_t>(v);
  return Currency(negative ? -raw : raw);
}

}  // namespace qvpa
