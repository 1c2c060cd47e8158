// LibraryState: everything the exports share for the life of the loaded library, created
// in this order and destroyed in reverse: the process-wide application object, the driver
// registry, the device table (destroying it closes every open device); then the drivers
// are registered. The library creates it while its statics are initialised, so what this
// reaches must not depend on other files' dynamically initialised statics. Calls on several
// threads share it: the application object is safe for them (see base/application.h), the
// registry is read-only once filled and the device table locks itself.
#ifndef QVPA_DRIVER_LIBRARY_STATE_H_
#define QVPA_DRIVER_LIBRARY_STATE_H_

#include "base/application.h"
#include "driver/device_table.h"
#include "driver/driver_registry.h"

namespace qvpa {

class LibraryState {
 public:
  using Registration = void (*)(DriverRegistry&);

  // Throws what the application object's creation or a registration throws.
  explicit LibraryState(Registration aRegister);
  ~LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;

  DriverRegistry& Registry() { return fRegistry; }
  DeviceTable& Devices() { return fDevices; }

 private:
  tQV_ApplicationScope fApplication;
  DriverRegistry fRegistry;
  DeviceTable fDevices;
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_LIBRARY_STATE_H_
