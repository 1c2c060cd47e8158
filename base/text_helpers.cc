#include "base/text_helpers.h"

#include <optional>

#include "base/error.h"
#include "base/format_settings.h"
#include "base/platform.h"
#include "base/text.h"

namespace qvpa {

namespace {

// Characters first..last (1-based, inclusive) that exist in the text.
std::u16string_view Positions(std::u16string_view text, size_t first, size_t last) {
  if (text.size() < first) return {};
  return text.substr(first - 1, last - first + 1);
}

size_t LastSeparator(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::u16string_view::npos;
}

}  // namespace

std::u16string GetField(std::u16string_view aSource, int32_t aIndex, char16_t aSeparator,
                        bool aToEnd) {
  std::u16string result;
  int64_t count = 0;
  const int64_t wanted = static_cast<int64_t>(aIndex) - 1;
  for (char16_t c : aSource) {
    if (aToEnd) {
      if (count >= wanted) result.push_back(c);
    } else if (count == wanted && c != aSeparator) {
      result.push_back(c);
    }
    if (c == aSeparator) ++count;
    if (!aToEnd && count > wanted) break;
  }
  return result;
}

std::u16string DateTimeToISO(TDateTime aDateTime, bool aWithMilliseconds) {
  // Every separator quoted: the text is the same whatever the regional settings.
  return FormatDateTime(aWithMilliseconds ? u"yyyy'-'mm'-'dd'T'hh':'nn':'ss'.'zzz"
                                          : u"yyyy'-'mm'-'dd'T'hh':'nn':'ss",
                        aDateTime);
}

namespace {

// A date-time part is decimal only: the hexadecimal forms of the integer reader do not
// belong in a date text.
bool TryReadDatePart(std::u16string_view aText, int32_t& aValue) {
  return aText.find_first_of(u"$xX") == std::u16string_view::npos && TryStrToInt(aText, aValue);
}

}  // namespace

TDateTime ISOToDateTime(std::u16string_view aSource) {
  static constexpr size_t kRequired[6][2] = {{1, 4}, {6, 7}, {9, 10}, {12, 13}, {15, 16}, {18, 19}};
  int32_t parts[6] = {};
  std::optional<TDateTime> result;
  bool all_read = true;
  for (int i = 0; i < 6 && all_read; ++i) {
    all_read = TryReadDatePart(Positions(aSource, kRequired[i][0], kRequired[i][1]), parts[i]);
  }
  if (all_read) {
    int32_t ms = 0;
    if (!TryReadDatePart(Positions(aSource, 21, 23), ms)) ms = 0;
    result = TryEncodeDateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], ms);
  }
  if (!result) {
    throw EQVError(u"DateTime Format invalid: [" + std::u16string(aSource) + u"]");
  }
  return *result;
}

int32_t TimeToMilliseconds(TDateTime aDateTime) {
  const DateTimeParts p = DecodeDateTime(aDateTime);
  return ((p.hour * 3600 + p.minute * 60 + p.second) * 1000) + p.millisecond;
}

bool TryStrToInt(std::u16string_view aText, int32_t& aValue) {
  size_t i = 0;
  const size_t n = aText.size();
  while (i < n && aText[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (aText[i] == u'-' || aText[i] == u'+')) negative = aText[i++] == u'-';
  int radix = 10;
  if (i < n && (aText[i] == u'$' || aText[i] == u'x' || aText[i] == u'X')) {
    radix = 16;
    ++i;
  } else if (i + 1 < n && aText[i] == u'0' && (aText[i + 1] == u'x' || aText[i + 1] == u'X')) {
    radix = 16;
    i += 2;
  }
  if (i == n) return false;
  constexpr int64_t kLimit = int64_t{1} << 31;  // magnitude of the most negative value
  int64_t magnitude = 0;
  for (; i < n; ++i) {
    const char16_t c = aText[i];
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0 || digit >= radix) return false;
    magnitude = magnitude * radix + digit;
    if (magnitude > kLimit) return false;
  }
  if (!negative && magnitude == kLimit) return false;
  aValue = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

int32_t StrToIntDef(std::u16string_view aText, int32_t aDefault) {
  int32_t value = 0;
  return TryStrToInt(aText, value) ? value : aDefault;
}

std::u16string GetCommandLineSwitch(std::u16string_view aSwitch, bool aWholeParameter) {
  return GetCommandLineSwitch(aSwitch, aWholeParameter, platform::CommandLineParameters());
}

std::u16string GetCommandLineSwitch(std::u16string_view aSwitch, bool aWholeParameter,
                                    const std::vector<std::u16string>& aParameters) {
  const std::u16string sw = LowerCase(aSwitch);
  for (size_t i = 1; i < aParameters.size(); ++i) {
    const std::u16string param = LowerCase(aParameters[i]);
    const bool matches = param.starts_with(sw + u":") || param.starts_with(sw + u"=") ||
                         param == sw;
    if (!matches) continue;
    if (aWholeParameter) return aParameters[i];
    const size_t cut = sw.size() + 1;
    return cut >= aParameters[i].size() ? std::u16string() : aParameters[i].substr(cut);
  }
  return {};
}

std::u16string GetApplicationPath() {
  const std::u16string exe = platform::ExecutablePath();
  const size_t sep = LastSeparator(exe);
  if (sep == std::u16string::npos) return {};
  return exe.substr(0, sep + 1);
}

std::u16string GetApplicationName() {
  return ChangeFileExt(ExtractFileName(platform::ExecutablePath()), u"");
}

std::u16string ExtractFileName(std::u16string_view aPath) {
  const size_t sep = LastSeparator(aPath);
  return std::u16string(sep == std::u16string_view::npos ? aPath : aPath.substr(sep + 1));
}

std::u16string ChangeFileExt(std::u16string_view aPath, std::u16string_view aExtension) {
  const size_t sep = LastSeparator(aPath);
  const size_t dot = aPath.rfind(u'.');
  const bool has_ext = dot != std::u16string_view::npos &&
                       (sep == std::u16string_view::npos || dot > sep);
  std::u16string out(has_ext ? aPath.substr(0, dot) : aPath);
  out += aExtension;
  return out;
}

std::u16string JoinPath(std::u16string_view aDirectory, std::u16string_view aName) {
  if (aDirectory.empty() || platform::IsAbsolutePath(aName)) return std::u16string(aName);
  std::u16string out(aDirectory);
  if (!platform::IsPathSeparator(out.back())) out += platform::PathSeparator();
  out += aName;
  return out;
}

// The environment is read, never written, by the library: safe from any thread.
std::u16string LogRootPath() {
  std::u16string root = platform::EnvironmentVariable(u"QVPA_LOG_DIR").value_or(u"");
  if (root.empty()) return GetApplicationPath();
  if (!platform::IsPathSeparator(root.back())) root += platform::PathSeparator();
  return root;
}

}  // namespace qvpa
