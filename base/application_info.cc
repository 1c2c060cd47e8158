#include "base/application_info.h"

#include <optional>

#include "base/error.h"
#include "base/format_settings.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {

namespace {

constexpr int32_t kFirstId = 10000;
constexpr int kMaxMisses = 10;       // the 11th empty identifier in a row ends the reading
constexpr size_t kMaxEntryLength = 1023;

// Characters first..first+count-1 (1-based) as an integer, 1 when they are not one.
int32_t DatePart(std::u16string_view value, size_t first, size_t count) {
  if (value.size() < first) return 1;
  return StrToIntDef(value.substr(first - 1, count), 1);
}

// Release dates are written dd/mm/yyyy; the characters between the numbers are not examined.
TDateTime ReadReleaseDate(std::u16string_view value) {
  const std::optional<TDateTime> date =
      TryEncodeDateTime(DatePart(value, 7, 4), DatePart(value, 4, 2), DatePart(value, 1, 2), 0, 0, 0, 0);
  if (!date) throw EQVError(u"Invalid argument to date encode");
  return *date;
}

}  // namespace

void tQV_ApplicationInfo::Load() { Load(LoadModuleString); }

void tQV_ApplicationInfo::Load(const StringSource& aSource) {
  tQV_ApplicationHistory* current = nullptr;
  int misses = 0;
  for (int32_t id = kFirstId; misses <= kMaxMisses; ++id) {
    std::u16string text = aSource(id);
    if (text.size() > kMaxEntryLength) text.resize(kMaxEntryLength);
    if (text.empty()) {
      ++misses;
      continue;
    }
    misses = 0;
    const std::u16string key = UpperCase(GetField(text, 1, u'=', false));
    std::u16string value = GetField(text, 2, u'=', true);
    if (key == u"$APPDESCRIPTION") {
      fDescription = std::move(value);
    } else if (key == u"$COPYRIGHT") {
      fCopyright = std::move(value);
    } else if (key == u"$VERSION") {
      fVersion = value;
      fHistory.push_back(std::make_unique<tQV_ApplicationHistory>());
      current = fHistory.back().get();
      current->SetVersion(std::move(value));
    } else if (current == nullptr) {
      continue;  // history entries before the first version are ignored
    } else if (key == u"$AUTHOR") {
      current->SetAuthor(std::move(value));
    } else if (key == u"$RELEASEDATE") {
      fReleaseDate = ReadReleaseDate(value);
      current->SetReleaseDate(fReleaseDate);
    } else if (key == u"$PTEXT" || key == u"$TEXT") {
      current->Text().push_back(std::move(value));
    }
  }
}

std::u16string tQV_ApplicationInfo::GetVersionString() const {
  return u"[" + fVersion + u" - " + DateToShortText(fReleaseDate) + u"]";
}

}  // namespace qvpa
