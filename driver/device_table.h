// DeviceTable: the open devices keyed by handle, and the handle counter. Handles run
// 1, 2, 3, ... in order of creation and are never reused. The table owns its devices:
// closing an entry, or destroying the table, destroys them.
//
// Safe to call from any thread. The table's own mutex (the process-wide lock of the exports)
// is held only while an entry is looked up, created or taken out; a device's operation runs
// under that device's DeviceTurn instead, so calls on different devices run side by side and
// calls on one device run one at a time, in the order they reached the table.
#ifndef QVPA_DRIVER_DEVICE_TABLE_H_
#define QVPA_DRIVER_DEVICE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "driver/device_turn.h"
#include "payment/payment_device.h"

namespace qvpa {

// One open device and its line of callers. The entry lives as long as someone holds or
// waits for its turn, also after the device was closed.
struct DeviceEntry {
  DeviceTurn turn;
  // Guarded by turn: read and reset only by the holder of the turn; null once closed.
  std::unique_ptr<kPaymentDevice> device;
};

// The turn of one device, held from acquisition to destruction; empty when the handle was
// unknown or its device was closed while the caller waited.
class DeviceLease {
 public:
  DeviceLease() = default;
  explicit DeviceLease(std::shared_ptr<DeviceEntry> aEntry) : fEntry(std::move(aEntry)) {}
  ~DeviceLease() { Release(); }
  DeviceLease(DeviceLease&& aOther) noexcept = default;
  DeviceLease& operator=(DeviceLease&& aOther) noexcept;
  DeviceLease(const DeviceLease&) = delete;
  DeviceLease& operator=(const DeviceLease&) = delete;

  explicit operator bool() const { return fEntry != nullptr; }
  kPaymentDevice& Device() const { return *fEntry->device; }

 private:
  friend class DeviceTable;
  void Release();

  std::shared_ptr<DeviceEntry> fEntry;
};

class DeviceTable {
 public:
  using Factory = std::function<std::unique_ptr<kPaymentDevice>()>;

  // aLastHandle: the handle most recently issued (0 for a fresh table).
  explicit DeviceTable(int32_t aLastHandle = 0) : fLastHandle(aLastHandle) {}
  // Closes the devices left open, in handle order. No call may be running.
  ~DeviceTable();
  DeviceTable(const DeviceTable&) = delete;
  DeviceTable& operator=(const DeviceTable&) = delete;

  // Waits for the turn of the device open under aHandle (behind the calls that reached the
  // table before); an empty lease when there is none or it was closed meanwhile.
  DeviceLease Acquire(int32_t aHandle);
  // Creates a device with aCreate, issues the next handle, stores it in the device and keeps
  // the device; the caller holds its first turn. The table's lock is held meanwhile, so
  // handles follow the order in which the calls arrived. Throws what aCreate throws, and
  // EQVError when no positive handle is left (the counter never wraps to a reused or
  // negative value).
  DeviceLease Add(const Factory& aCreate);
  // Takes the leased device out of the table and destroys it; calls waiting for its turn
  // then find no device. The lease stays held until the caller drops it.
  void Close(DeviceLease& aLease);

  size_t Count() const;
  int32_t LastHandle() const;

 private:
  mutable std::mutex mutex_;
  int32_t fLastHandle;                                        // guarded by mutex_
  std::map<int32_t, std::shared_ptr<DeviceEntry>> fDevices;  // guarded by mutex_
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_DEVICE_TABLE_H_
