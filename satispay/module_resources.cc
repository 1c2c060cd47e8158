#include "satispay/module_resources.h"

#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

std::u16string DecodeUtf16(std::string_view bytes, bool big_endian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(bytes[big_endian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[big_endian ? i + 1 : i]);
    text.push_back(static_cast<char16_t>((hi << 8) | lo));
  }
  return text;
}

// Text of stored bytes: a byte-order mark selects the encoding, otherwise UTF-8.
std::u16string DecodeResourceText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return FromUtf8(bytes.substr(3));
  if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  return FromUtf8(bytes);
}

// Lines at CR LF, CR or LF; a break at the very end opens no further line.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
  }
  return lines;
}

}  // namespace

std::u16string ResourceText(std::string_view data) {
  const std::u16string decoded = DecodeResourceText(data);
  std::u16string text;
  text.reserve(decoded.size() + 2);
  for (std::u16string_view line : SplitLines(decoded)) {
    text.append(line);
    text.append(u"\r\n");
  }
  return text;
}

std::u16string LoadResourceText(std::u16string_view name) {
  std::optional<std::string> data = FindModuleResource(name);
  if (!data) throw EQVError(u"Resource " + std::u16string(name) + u" not found");
  return ResourceText(*data);
}

}  // namespace qvpa
