#include "driver/builtin_drivers.h"

namespace qvpa {

void RegisterBuiltInDrivers(DriverRegistry&) {}

bool GenerateBuiltInKeyId(const std::u16string&, std::u16string& aKeyId, std::u16string& aError) {
  aKeyId.clear();
  aError = u"Key identifier generation is not available in this build";
  return false;
}

}  // namespace qvpa
