// The registration the library runs at load: the product library registers its built-in
// drivers; a test build of the same exports adds its own.
#ifndef QVPA_DRIVER_LIBRARY_DRIVERS_H_
#define QVPA_DRIVER_LIBRARY_DRIVERS_H_

#include "driver/driver_registry.h"

namespace qvpa {

void RegisterLibraryDrivers(DriverRegistry& aRegistry);

}  // namespace qvpa

#endif  // QVPA_DRIVER_LIBRARY_DRIVERS_H_
