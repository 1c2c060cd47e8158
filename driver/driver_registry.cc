#include "driver/driver_registry.h"

namespace qvpa {

void DriverRegistry::Register(std::u16string aName, kPaymentClass aClass) {
  fClasses[std::move(aName)] = aClass;
}

kPaymentClass DriverRegistry::Find(std::u16string_view aName) const {
  const auto it = fClasses.find(aName);
  return it == fClasses.end() ? nullptr : it->second;
}

}  // namespace qvpa
