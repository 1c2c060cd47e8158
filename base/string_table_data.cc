// The driver's string table: version information and history.
#include <utility>

#include "base/string_table.h"

namespace qvpa {

namespace {

constexpr std::pair<int32_t, const char16_t*> kStrings[] = {
    {10000, u"$APPDESCRIPTION=MXR Driver - Satispay Protocol (IT)"},
    {10001, u"$COPYRIGHT=(c) QV Systems"},
    {10002, u"$VERSION=1.01"},
    {10003, u"$RELEASEDATE=11/08/2022"},
    {10004, u"$AUTHOR=QV"},
    {10005, u"$PTEXT=Initial Release"},
    {10006, u"$VERSION=1.02"},
    {10007, u"$RELEASEDATE=22/08/2022"},
    {10008, u"$AUTHOR=QV"},
    {10009, u"$PTEXT=Implemented VerifyTran method"},
    {10010, u"$VERSION=1.03"},
    {10011, u"$RELEASEDATE=23/08/2022"},
    {10012, u"$AUTHOR=QV"},
    {10013,
     u"$PTEXT=Implemented management of external_code which is used in VerifyTran method to "
     u"check if payment has been accepted."},
};

}  // namespace

std::u16string LoadModuleString(int32_t aId) {
  for (const auto& [id, text] : kStrings) {
    if (id == aId) return text;
  }
  return {};
}

}  // namespace qvpa
