// DriverRegistry: driver registration names mapped to the classes that construct their
// devices. Names compare exactly (case-sensitive, no trimming). Filled while the library
// loads, before any call; afterwards only Find runs, from any thread, without a lock.
#ifndef QVPA_DRIVER_DRIVER_REGISTRY_H_
#define QVPA_DRIVER_DRIVER_REGISTRY_H_

#include <map>
#include <string>
#include <string_view>

#include "payment/payment_device.h"

namespace qvpa {

class DriverRegistry {
 public:
  DriverRegistry() = default;
  DriverRegistry(const DriverRegistry&) = delete;
  DriverRegistry& operator=(const DriverRegistry&) = delete;

  // Adds or replaces the class registered under aName.
  void Register(std::u16string aName, kPaymentClass aClass);
  // The class registered under aName, or nullptr.
  kPaymentClass Find(std::u16string_view aName) const;

 private:
  std::map<std::u16string, kPaymentClass, std::less<>> fClasses;
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_DRIVER_REGISTRY_H_
