// UTF-16 text, the system's internal string, and conversions at the edges.
#ifndef QVPA_BASE_TEXT_H_
#define QVPA_BASE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qvpa {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD; never throws on content.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16. Malformed sequences become U+FFFD; never throws on content.
std::u16string FromUtf8(std::string_view text);
// Widens 7-bit text (literals, numbers) without a decoding step.
std::u16string FromAscii(std::string_view text);

// Decimal text of a signed integer ("-" for negatives, no grouping).
std::u16string IntToStr(int64_t value);

// Lower and upper case of every code unit: ASCII directly, the rest through the
// process locale's wide-character tables (BMP code units only; surrogates pass unchanged).
std::u16string LowerCase(std::u16string_view text);
std::u16string UpperCase(std::u16string_view text);
// Case-insensitive equality under LowerCase.
bool SameText(std::u16string_view a, std::u16string_view b);

// Replaces every occurrence of `from` in `text` by `to`, scanning left to right.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to);

}  // namespace qvpa

#endif  // QVPA_BASE_TEXT_H_
