#include "driver/device_table.h"

#include <limits>

#include "base/error.h"

namespace qvpa {

DeviceTable::~DeviceTable() {
  // Devices go in handle order, each writing its channel's stop banner.
  while (!fDevices.empty()) fDevices.erase(fDevices.begin());
}

kPaymentDevice* DeviceTable::Find(int32_t aHandle) const {
  const auto it = fDevices.find(aHandle);
  return it == fDevices.end() ? nullptr : it->second.get();
}

int32_t DeviceTable::Add(std::unique_ptr<kPaymentDevice> aDevice) {
  if (fLastHandle == std::numeric_limits<int32_t>::max()) {
    throw EQVError(u"No device handle left");
  }
  const int32_t handle = fLastHandle + 1;
  aDevice->SetHandle(handle);
  fDevices.emplace(handle, std::move(aDevice));
  fLastHandle = handle;
  return handle;
}

bool DeviceTable::Remove(int32_t aHandle) {
  const auto it = fDevices.find(aHandle);
  if (it == fDevices.end()) return false;
  fDevices.erase(it);
  return true;
}

}  // namespace qvpa
