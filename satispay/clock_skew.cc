#include "satispay/clock_skew.h"

#include <array>
#include <charconv>

#include "base/text.h"

namespace qvpa {
namespace {

// The number of aLength digits at aText[aAt], or -1.
int Digits(std::string_view aText, size_t aAt, size_t aLength) {
  if (aAt + aLength > aText.size()) return -1;
  int value = 0;
  const char* first = aText.data() + aAt;
  const auto [end, error] = std::from_chars(first, first + aLength, value);
  return error == std::errc() && end == first + aLength && value >= 0 ? value : -1;
}

}  // namespace

std::optional<int64_t> ParseHttpDate(std::string_view aText) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": fixed columns.
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu",
                                                            "Fri", "Sat", "Sun"};
  if (aText.size() != 29 || aText.substr(3, 2) != ", " || aText[7] != ' ' || aText[11] != ' ' ||
      aText[16] != ' ' || aText[19] != ':' || aText[22] != ':' || aText.substr(25) != " GMT") {
    return std::nullopt;
  }
  bool known_day = false;
  for (std::string_view day : kDays) known_day = known_day || aText.substr(0, 3) == day;
  unsigned month = 0;
  for (unsigned m = 0; m < kMonths.size(); ++m) {
    if (aText.substr(8, 3) == kMonths[m]) month = m + 1;
  }
  const int day = Digits(aText, 5, 2);
  const int year = Digits(aText, 12, 4);
  const int hour = Digits(aText, 17, 2);
  const int minute = Digits(aText, 20, 2);
  const int second = Digits(aText, 23, 2);
  if (!known_day || month == 0 || day < 1 || year < 0 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  const auto midnight = sys_days{date}.time_since_epoch();
  return duration_cast<seconds>(midnight).count() + hour * 3600 + minute * 60 + second;
}

std::optional<int64_t> LocalClockAhead(std::string_view aDate, std::chrono::system_clock::time_point aNow) {
  const std::optional<int64_t> service = ParseHttpDate(aDate);
  if (!service) return std::nullopt;
  const int64_t local =
      std::chrono::floor<std::chrono::seconds>(aNow.time_since_epoch()).count();
  return local - *service;
}

std::u16string ClockOffsetText(int64_t aAheadSeconds, std::string_view aDate) {
  std::u16string text = u"the local clock ";
  if (aAheadSeconds == 0) {
    text += u"agrees with";
  } else {
    const uint64_t magnitude = aAheadSeconds < 0 ? 0 - static_cast<uint64_t>(aAheadSeconds)
                                                 : static_cast<uint64_t>(aAheadSeconds);
    text += u"is " + FromUtf8(std::to_string(magnitude)) +
            (aAheadSeconds > 0 ? u" s ahead of" : u" s behind");
  }
  return text + u" the service's Date (" + FromUtf8(aDate) + u")";
}

}  // namespace qvpa
