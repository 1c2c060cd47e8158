#include "base/text.h"

#include <cwctype>

namespace qvpa {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  const char16_t* const s = text.data();  // unchecked reads: every index is below n
  size_t i = 0;
  while (i < n) {
    // Runs of ASCII, which most text here is (requests, answers, log lines, paths), are
    // tested and copied four code units at a time.
    size_t end = i;
    while (end + 4 <= n && ((s[end] | s[end + 1] | s[end + 2] | s[end + 3]) & 0xFF80) == 0) {
      end += 4;
    }
    if (end > i) {
      const size_t at = out.size();
      out.resize(at + (end - i));
      char* to = out.data() + at;
      for (; i < end; i += 4, to += 4) {
        to[0] = static_cast<char>(s[i]);
        to[1] = static_cast<char>(s[i + 1]);
        to[2] = static_cast<char>(s[i + 2]);
        to[3] = static_cast<char>(s[i + 3]);
      }
      continue;
    }
    const char16_t c = s[i];
    if (IsHigh(c) && i + 1 < n && IsLow(s[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(s[i + 1]) - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHigh(c) || IsLow(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
    ++i;
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (b & 0x3F);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      AppendUtf16(out, cp);
      i += len;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
    }
  }
  return out;
}

std::u16string FromAscii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string IntToStr(int64_t value) { return FromAscii(std::to_string(value)); }

std::u16string LowerCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) {
    if (c < 0x80) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    } else if (!IsHigh(c) && !IsLow(c)) {
      c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
    }
  }
  return out;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) {
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    } else if (!IsHigh(c) && !IsLow(c)) {
      c = static_cast<char16_t>(std::towupper(static_cast<wint_t>(c)));
    }
  }
  return out;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to) {
  if (from.empty()) return std::u16string(text);
  std::u16string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(from, pos);
    if (hit == std::u16string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace qvpa
