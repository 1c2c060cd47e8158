// The drivers this library carries, and the key identifier operation of its built-in driver.
#ifndef QVPA_DRIVER_BUILTIN_DRIVERS_H_
#define QVPA_DRIVER_BUILTIN_DRIVERS_H_

#include <string>

#include "driver/driver_registry.h"

namespace qvpa {

// Registers every driver of the library under its registration name.
void RegisterBuiltInDrivers(DriverRegistry& aRegistry);

// Obtains the key identifier of the built-in driver's key pair from its service for the
// parameter text aParameters: true with aKeyId, or false with aError. Never throws.
bool GenerateBuiltInKeyId(const std::u16string& aParameters, std::u16string& aKeyId,
                          std::u16string& aError);

}  // namespace qvpa

#endif  // QVPA_DRIVER_BUILTIN_DRIVERS_H_
