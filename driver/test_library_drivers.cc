// Registration of the test build of the exports: the library's drivers plus the test device.
#include "driver/builtin_drivers.h"
#include "driver/library_drivers.h"
#include "driver/test_payment_device.h"

namespace qvpa {

void RegisterLibraryDrivers(DriverRegistry& aRegistry) {
  RegisterBuiltInDrivers(aRegistry);
  RegisterTestDrivers(aRegistry);
}

}  // namespace qvpa
