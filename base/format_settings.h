// Regional settings (day and month names, date and time forms, separators) read once
// from the process locale, and date-time formatting with the runtime's format tokens.
// DefaultFormatSettings() is built on first use and never changes afterwards.
#ifndef QVPA_BASE_FORMAT_SETTINGS_H_
#define QVPA_BASE_FORMAT_SETTINGS_H_

#include <array>
#include <string>
#include <string_view>

#include "base/date_time.h"

namespace qvpa {

struct FormatSettings {
  std::array<std::u16string, 7> ShortDayNames;     // index 0 = Sunday
  std::array<std::u16string, 7> LongDayNames;      // index 0 = Sunday
  std::array<std::u16string, 12> ShortMonthNames;  // index 0 = January
  std::array<std::u16string, 12> LongMonthNames;
  std::u16string ShortDateFormat = u"dd/mm/yyyy";  // "/" stands for DateSeparator
  std::u16string LongTimeFormat = u"hh:nn:ss";     // ":" stands for TimeSeparator
  std::u16string TimeAMString = u"AM";
  std::u16string TimePMString = u"PM";
  char16_t DateSeparator = u'/';
  char16_t TimeSeparator = u':';
  char16_t ThousandSeparator = u',';
  char16_t DecimalSeparator = u'.';
};

// English names and the forms above: the settings of the C/POSIX locale.
FormatSettings EnglishFormatSettings();
// The settings of the process's current locale (LC_TIME, LC_NUMERIC), read now.
// Platform-provided (format_settings_posix.cc here).
FormatSettings ReadLocaleFormatSettings();
// ReadLocaleFormatSettings() taken once, at first use.
const FormatSettings& DefaultFormatSettings();

// Formats with the tokens y yy yyyy, m mm mmm mmmm, d dd ddd dddd ddddd, h hh, n nn,
// s ss, z zzz, t tt, c, am/pm, a/p, ampm, "/" and ":" (the separators), and literals
// in single or double quotes; other characters pass unchanged. An "m" right after an
// hour token means minutes.
std::u16string FormatDateTime(std::u16string_view aFormat, TDateTime aValue,
                              const FormatSettings& aSettings = DefaultFormatSettings());
// The date in the settings' short date form.
std::u16string DateToShortText(TDateTime aValue,
                               const FormatSettings& aSettings = DefaultFormatSettings());

}  // namespace qvpa

#endif  // QVPA_BASE_FORMAT_SETTINGS_H_
