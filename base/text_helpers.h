// Small, stateless text and date routines: fields of separated texts, the fixed
// date-time text of the XML documents, command-line switches, the executable's folder
// and name, and path joining. Only ISOToDateTime throws (EQVError).
#ifndef QVPA_BASE_TEXT_HELPERS_H_
#define QVPA_BASE_TEXT_HELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"

namespace qvpa {

// Field number aIndex (from 1) of aSource split at aSeparator, without separators; with
// aToEnd, everything after the (aIndex - 1)-th separator, later separators kept.
// Fields are not trimmed and empty fields count.
std::u16string GetField(std::u16string_view aSource, int32_t aIndex, char16_t aSeparator,
                        bool aToEnd);

// yyyy-mm-ddThh:nn:ss, with ".zzz" appended when aWithMilliseconds; no zone suffix.
std::u16string DateTimeToISO(TDateTime aDateTime, bool aWithMilliseconds);
// Reads the fixed positions of yyyy-mm-ddThh:nn:ss[.zzz] (separators not examined, the
// rest ignored). Throws EQVError "DateTime Format invalid: [<text>]" on any failure.
TDateTime ISOToDateTime(std::u16string_view aSource);
// Milliseconds since midnight of the time of day (0 .. 86,399,999).
int32_t TimeToMilliseconds(TDateTime aDateTime);

// Integer reading as the runtime's string conversion does it: leading blanks, optional
// sign, decimal digits or hexadecimal digits after "$", "x", "X", "0x", "0X", nothing
// after them, within the 32-bit signed range.
bool TryStrToInt(std::u16string_view aText, int32_t& aValue);
int32_t StrToIntDef(std::u16string_view aText, int32_t aDefault);

// Searches parameters 1.. of the process's command line (or of aParameters, program at
// index 0) for aSwitch ("/PORT"), ignoring case, as "/port:v", "/port=v" or bare "/port".
// Returns the whole parameter (aWholeParameter) or the value behind ":"/"="; empty when absent.
std::u16string GetCommandLineSwitch(std::u16string_view aSwitch, bool aWholeParameter);
std::u16string GetCommandLineSwitch(std::u16string_view aSwitch, bool aWholeParameter,
                                    const std::vector<std::u16string>& aParameters);

// Folder of the process's executable, ending with the path separator.
std::u16string GetApplicationPath();
// Base name of the process's executable without its extension.
std::u16string GetApplicationName();
// Name part (last path component) and name without extension of a path.
std::u16string ExtractFileName(std::u16string_view aPath);
std::u16string ChangeFileExt(std::u16string_view aPath, std::u16string_view aExtension);

// aName alone when aDirectory is empty, aName unchanged when it is absolute, else
// aDirectory + separator (unless it already ends with one) + aName.
std::u16string JoinPath(std::u16string_view aDirectory, std::u16string_view aName);
// Folder below which LogFiles lives: $QVPA_LOG_DIR when set and not empty, else
// GetApplicationPath(); always ends with the path separator.
std::u16string LogRootPath();

}  // namespace qvpa

#endif  // QVPA_BASE_TEXT_HELPERS_H_
