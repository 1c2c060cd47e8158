#include "driver/library_drivers.h"

#include "driver/builtin_drivers.h"

namespace qvpa {

void RegisterLibraryDrivers(DriverRegistry& aRegistry) { RegisterBuiltInDrivers(aRegistry); }

}  // namespace qvpa
