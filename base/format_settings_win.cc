#include <windows.h>

#include <string>

#include "base/format_settings.h"

namespace qvpa {

namespace {

// One value of the user's regional settings; empty when it cannot be read.
std::u16string LocaleText(LCTYPE type) {
  wchar_t buffer[128] = {};
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 128);
  if (n <= 1) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n - 1));
}

// A Windows date or time picture ("dd/MM/yyyy", "HH:mm:ss tt") to the runtime's tokens;
// `separator` receives the first literal character between fields, which the result writes
// as `token_separator` ("/" for dates, ":" for times).
std::u16string ConvertPicture(const std::u16string& picture, char16_t token_separator,
                              char16_t& separator) {
  std::u16string out;
  bool separator_seen = false;
  for (std::size_t i = 0; i < picture.size();) {
    const char16_t c = picture[i];
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    switch (c) {
      case u'd': out += run == 1 ? u"d" : run == 2 ? u"dd" : run == 3 ? u"ddd" : u"dddd"; break;
      case u'M': out += run == 1 ? u"m" : run == 2 ? u"mm" : run == 3 ? u"mmm" : u"mmmm"; break;
      case u'y': out += run <= 2 ? u"yy" : u"yyyy"; break;
      case u'h': case u'H': out += run == 1 ? u"h" : u"hh"; break;
      case u'm': out += run == 1 ? u"n" : u"nn"; break;
      case u's': out += run == 1 ? u"s" : u"ss"; break;
      case u't': out += u"ampm"; break;
      case u'g': break;  // era: not shown
      case u'\'': {
        const std::size_t end = picture.find(u'\'', i + 1);
        const std::size_t stop = end == std::u16string::npos ? picture.size() : end + 1;
        out += u'"';
        out += picture.substr(i + 1, stop - i - 1 - (end == std::u16string::npos ? 0 : 1));
        out += u'"';
        i = stop;
        continue;
      }
      default:
        for (std::size_t k = 0; k < run; ++k) {
          if (c == u' ' || c == u',') {
            out += c;
          } else {
            if (!separator_seen) separator = c;
            separator_seen = true;
            out += token_separator;
          }
        }
        break;
    }
    i += run;
  }
  return out;
}

char16_t FirstUnit(LCTYPE type, char16_t fallback) {
  const std::u16string t = LocaleText(type);
  return t.empty() ? fallback : t[0];
}

}  // namespace

FormatSettings ReadLocaleFormatSettings() {
  FormatSettings s = EnglishFormatSettings();
  // Windows counts days from Monday, the settings from Sunday.
  for (int i = 0; i < 7; ++i) {
    const int windows_day = (i + 6) % 7;
    const std::u16string short_name = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + windows_day));
    const std::u16string long_name = LocaleText(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + windows_day));
    if (!short_name.empty()) s.ShortDayNames[static_cast<std::size_t>(i)] = short_name;
    if (!long_name.empty()) s.LongDayNames[static_cast<std::size_t>(i)] = long_name;
  }
  for (int i = 0; i < 12; ++i) {
    const std::u16string short_name = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
    const std::u16string long_name = LocaleText(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
    if (!short_name.empty()) s.ShortMonthNames[static_cast<std::size_t>(i)] = short_name;
    if (!long_name.empty()) s.LongMonthNames[static_cast<std::size_t>(i)] = long_name;
  }
  const std::u16string date = LocaleText(LOCALE_SSHORTDATE);
  if (!date.empty()) s.ShortDateFormat = ConvertPicture(date, u'/', s.DateSeparator);
  const std::u16string time = LocaleText(LOCALE_STIMEFORMAT);
  if (!time.empty()) s.LongTimeFormat = ConvertPicture(time, u':', s.TimeSeparator);
  const std::u16string am = LocaleText(LOCALE_S1159);
  const std::u16string pm = LocaleText(LOCALE_S2359);
  if (!am.empty()) s.TimeAMString = am;
  if (!pm.empty()) s.TimePMString = pm;
  s.DecimalSeparator = FirstUnit(LOCALE_SDECIMAL, u'.');
  s.ThousandSeparator = FirstUnit(LOCALE_STHOUSAND, s.DecimalSeparator == u'.' ? u',' : u'.');
  return s;
}

}  // namespace qvpa
