// DeviceTable: the open devices keyed by handle, and the handle counter. Handles run
// 1, 2, 3, ... in order of creation and are never reused. The table owns its devices:
// removing an entry, or destroying the table, destroys them.
#ifndef QVPA_DRIVER_DEVICE_TABLE_H_
#define QVPA_DRIVER_DEVICE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "payment/payment_device.h"

namespace qvpa {

class DeviceTable {
 public:
  // aLastHandle: the handle most recently issued (0 for a fresh table).
  explicit DeviceTable(int32_t aLastHandle = 0) : fLastHandle(aLastHandle) {}
  ~DeviceTable();
  DeviceTable(const DeviceTable&) = delete;
  DeviceTable& operator=(const DeviceTable&) = delete;

  // The device open under aHandle, or nullptr.
  kPaymentDevice* Find(int32_t aHandle) const;
  // Issues the next handle, stores it in the device and keeps the device. Throws EQVError
  // when no positive handle is left (the counter never wraps to a reused or negative value).
  int32_t Add(std::unique_ptr<kPaymentDevice> aDevice);
  // Destroys the device open under aHandle; false when there is none.
  bool Remove(int32_t aHandle);

  size_t Count() const { return fDevices.size(); }
  int32_t LastHandle() const { return fLastHandle; }

 private:
  int32_t fLastHandle;
  std::map<int32_t, std::unique_ptr<kPaymentDevice>> fDevices;
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_DEVICE_TABLE_H_
