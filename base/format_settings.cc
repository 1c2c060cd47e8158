#include "base/format_settings.h"

#include "base/text.h"

namespace qvpa {

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Length of the run of the same letter (ignoring case) starting at i.
size_t RunLength(std::u16string_view f, size_t i) {
  size_t n = 1;
  while (i + n < f.size() && Lower(f[i + n]) == Lower(f[i])) ++n;
  return n;
}

bool StartsWithNoCase(std::u16string_view f, size_t i, std::u16string_view token) {
  if (f.size() - i < token.size()) return false;
  for (size_t k = 0; k < token.size(); ++k) {
    if (Lower(f[i + k]) != token[k]) return false;
  }
  return true;
}

void Number(std::u16string& out, int value, int width) {
  std::u16string digits = IntToStr(value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), u'0');
  out += digits;
}

// Does an am/pm token follow later in the format (makes h 12-hour)?
bool HasAmPm(std::u16string_view f) {
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"' || f[i] == u'\'') {
      const size_t close = f.find(f[i], i + 1);
      if (close == std::u16string_view::npos) return false;
      i = close;
    } else if (Lower(f[i]) == u'a' &&
               (StartsWithNoCase(f, i, u"am/pm") || StartsWithNoCase(f, i, u"a/p") ||
                StartsWithNoCase(f, i, u"ampm"))) {
      return true;
    }
  }
  return false;
}

class Formatter {
 public:
  Formatter(TDateTime value, const FormatSettings& settings)
      : p_(DecodeDateTime(value)), s_(settings) {}

  void Append(std::u16string_view f, int depth) {
    const bool twelve_hour = HasAmPm(f);
    bool after_hour = false;
    size_t i = 0;
    while (i < f.size()) {
      const char16_t c = f[i];
      const char16_t lc = Lower(c);
      if (c == u'"' || c == u'\'') {
        size_t close = f.find(c, i + 1);
        if (close == std::u16string_view::npos) close = f.size();
        out_.append(f.substr(i + 1, close - i - 1));
        i = close + 1;
        continue;
      }
      if (lc == u'a' && StartsWithNoCase(f, i, u"am/pm")) {
        out_ += AmPmText(u"am", u"pm", f.substr(i, 5));
        i += 5;
        continue;
      }
      if (lc == u'a' && StartsWithNoCase(f, i, u"a/p")) {
        out_ += AmPmText(u"a", u"p", f.substr(i, 3));
        i += 3;
        continue;
      }
      if (lc == u'a' && StartsWithNoCase(f, i, u"ampm")) {
        out_ += p_.hour < 12 ? s_.TimeAMString : s_.TimePMString;
        i += 4;
        continue;
      }
      const size_t run = RunLength(f, i);
      switch (lc) {
        case u'y':
          if (run <= 2) Number(out_, p_.year % 100, 2); else Number(out_, p_.year, 4);
          after_hour = false;
          break;
        case u'm':
          if (after_hour && run <= 2) {
            Number(out_, p_.minute, run == 2 ? 2 : 1);
          } else if (run <= 2) {
            Number(out_, p_.month, static_cast<int>(run));
          } else if (run == 3) {
            out_ += s_.ShortMonthNames[p_.month - 1];
          } else {
            out_ += s_.LongMonthNames[p_.month - 1];
          }
          after_hour = false;
          break;
        case u'd':
          if (run <= 2) {
            Number(out_, p_.day, static_cast<int>(run));
          } else if (run == 3) {
            out_ += s_.ShortDayNames[p_.day_of_week];
          } else if (run == 4) {
            out_ += s_.LongDayNames[p_.day_of_week];
          } else if (depth < 2) {
            Append(s_.ShortDateFormat, depth + 1);
          }
          after_hour = false;
          break;
        case u'h': {
          int hour = p_.hour;
          if (twelve_hour) {
            hour %= 12;
            if (hour == 0) hour = 12;
          }
          Number(out_, hour, run >= 2 ? 2 : 1);
          after_hour = true;
          break;
        }
        case u'n':
          Number(out_, p_.minute, run >= 2 ? 2 : 1);
          after_hour = false;
          break;
        case u's':
          Number(out_, p_.second, run >= 2 ? 2 : 1);
          after_hour = false;
          break;
        case u'z':
          Number(out_, p_.millisecond, run >= 3 ? 3 : 1);
          after_hour = false;
          break;
        case u't':
          if (depth < 2) Append(run >= 2 ? s_.LongTimeFormat : ShortTimeFormat(), depth + 1);
          after_hour = false;
          break;
        case u'c':
          if (depth < 2) {
            Append(s_.ShortDateFormat, depth + 1);
            if (p_.hour != 0 || p_.minute != 0 || p_.second != 0 || p_.millisecond != 0) {
              out_ += u' ';
              Append(s_.LongTimeFormat, depth + 1);
            }
          }
          after_hour = false;
          break;
        case u'/':
          out_.append(run, s_.DateSeparator);
          break;
        case u':':
          out_.append(run, s_.TimeSeparator);
          break;
        default:
          out_.append(f.substr(i, run));
          break;
      }
      i += run;
    }
  }

  std::u16string Take() { return std::move(out_); }

 private:
  // "am/pm" and "a/p" keep the letter case written in the format.
  std::u16string AmPmText(std::u16string_view am, std::u16string_view pm,
                          std::u16string_view written) const {
    const bool morning = p_.hour < 12;
    std::u16string text(morning ? am : pm);
    const char16_t first = morning ? written[0] : written[written.size() - (pm.size())];
    if (first >= u'A' && first <= u'Z') text = UpperCase(text);
    return text;
  }

  std::u16string ShortTimeFormat() const {
    // The long form without its seconds.
    std::u16string f = s_.LongTimeFormat;
    const size_t s = f.find(u":ss");
    if (s != std::u16string::npos) f.erase(s, 3);
    return f;
  }

  DateTimeParts p_;
  const FormatSettings& s_;
  std::u16string out_;
};

}  // namespace

FormatSettings EnglishFormatSettings() {
  FormatSettings s;
  s.ShortDayNames = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  s.LongDayNames = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                    u"Thursday", u"Friday", u"Saturday"};
  s.ShortMonthNames = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                       u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  s.LongMonthNames = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                      u"July",    u"August",   u"September", u"October", u"November", u"December"};
  return s;
}

const FormatSettings& DefaultFormatSettings() {
  // Read once, on the first use of any thread; constant afterwards.
  static const FormatSettings settings = ReadLocaleFormatSettings();
  return settings;
}

std::u16string FormatDateTime(std::u16string_view aFormat, TDateTime aValue,
                              const FormatSettings& aSettings) {
  Formatter formatter(aValue, aSettings);
  formatter.Append(aFormat, 0);
  return formatter.Take();
}

std::u16string DateToShortText(TDateTime aValue, const FormatSettings& aSettings) {
  return FormatDateTime(aSettings.ShortDateFormat, aValue, aSettings);
}

}  // namespace qvpa
