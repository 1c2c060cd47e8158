#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/format_settings.h"
#include "base/text.h"

namespace qvpa {

namespace {

// Text in the locale's character set to UTF-16; UTF-8 is assumed when it does not convert.
std::u16string FromLocaleText(const char* text) {
  if (text == nullptr) return {};
  std::u16string out;
  std::mbstate_t state{};
  const char* p = text;
  const char* end = text + std::strlen(text);
  while (p < end) {
    wchar_t wc = 0;
    const size_t n = std::mbrtowc(&wc, p, static_cast<size_t>(end - p), &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return FromUtf8(text);
    if (n == 0) break;
    const auto cp = static_cast<char32_t>(wc);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    p += n;
  }
  return out;
}

bool IsCLocale(const char* name) {
  if (name == nullptr) return true;
  const std::string n = name;
  return n == "C" || n == "POSIX" || n.starts_with("C.");
}

// A strftime pattern to the runtime's tokens; `separator` receives the first literal
// character between fields, which the result writes as "/" (date) or ":" (time).
std::u16string ConvertPattern(const std::u16string& pattern, char16_t token_separator,
                              char16_t& separator) {
  std::u16string out;
  bool separator_seen = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c != u'%' || i + 1 == pattern.size()) {
      if (c == u' ' || c == u',') {
        out += c;
      } else {
        if (!separator_seen) separator = c;
        separator_seen = true;
        out += token_separator;
      }
      continue;
    }
    char16_t k = pattern[++i];
    while ((k == u'E' || k == u'O' || k == u'-' || k == u'_' || k == u'0') && i + 1 < pattern.size()) {
      k = pattern[++i];
    }
    switch (k) {
      case u'd': out += u"dd"; break;
      case u'e': out += u"d"; break;
      case u'm': out += u"mm"; break;
      case u'b': case u'h': out += u"mmm"; break;
      case u'B': out += u"mmmm"; break;
      case u'y': out += u"yy"; break;
      case u'Y': out += u"yyyy"; break;
      case u'a': out += u"ddd"; break;
      case u'A': out += u"dddd"; break;
      case u'H': out += u"hh"; break;
      case u'k': out += u"h"; break;
      case u'I': out += u"hh"; break;
      case u'l': out += u"h"; break;
      case u'M': out += u"nn"; break;
      case u'S': out += u"ss"; break;
      case u'p': case u'P': out += u"ampm"; break;
      case u'T': out += u"hh:nn:ss"; if (!separator_seen) separator = u':'; separator_seen = true; break;
      case u'R': out += u"hh:nn"; if (!separator_seen) separator = u':'; separator_seen = true; break;
      case u'r': out += u"hh:nn:ss ampm"; if (!separator_seen) separator = u':'; separator_seen = true; break;
      case u'D': out += u"mm/dd/yy"; if (!separator_seen) separator = u'/'; separator_seen = true; break;
      case u'F': out += u"yyyy/mm/dd"; if (!separator_seen) separator = u'-'; separator_seen = true; break;
      default: break;
    }
  }
  return out;
}

char16_t FirstUnit(const char* text, char16_t fallback) {
  const std::u16string t = FromLocaleText(text);
  return t.empty() ? fallback : t[0];
}

}  // namespace

FormatSettings ReadLocaleFormatSettings() {
  FormatSettings s = EnglishFormatSettings();
  if (!IsCLocale(setlocale(LC_TIME, nullptr))) {
    for (int i = 0; i < 7; ++i) {
      s.ShortDayNames[i] = FromLocaleText(nl_langinfo(static_cast<nl_item>(ABDAY_1 + i)));
      s.LongDayNames[i] = FromLocaleText(nl_langinfo(static_cast<nl_item>(DAY_1 + i)));
    }
    for (int i = 0; i < 12; ++i) {
      s.ShortMonthNames[i] = FromLocaleText(nl_langinfo(static_cast<nl_item>(ABMON_1 + i)));
      s.LongMonthNames[i] = FromLocaleText(nl_langinfo(static_cast<nl_item>(MON_1 + i)));
    }
    s.ShortDateFormat = ConvertPattern(FromLocaleText(nl_langinfo(D_FMT)), u'/', s.DateSeparator);
    s.LongTimeFormat = ConvertPattern(FromLocaleText(nl_langinfo(T_FMT)), u':', s.TimeSeparator);
    const std::u16string am = FromLocaleText(nl_langinfo(AM_STR));
    const std::u16string pm = FromLocaleText(nl_langinfo(PM_STR));
    if (!am.empty()) s.TimeAMString = am;
    if (!pm.empty()) s.TimePMString = pm;
  }
  if (!IsCLocale(setlocale(LC_NUMERIC, nullptr))) {
    const lconv* conv = localeconv();
    s.DecimalSeparator = FirstUnit(conv->decimal_point, u'.');
    s.ThousandSeparator = FirstUnit(conv->thousands_sep, s.DecimalSeparator == u'.' ? u',' : u'.');
  }
  return s;
}

}  // namespace qvpa
