#include "driver/device_table.h"

#include <limits>
#include <utility>

#include "base/error.h"

namespace qvpa {

DeviceLease& DeviceLease::operator=(DeviceLease&& aOther) noexcept {
  if (this != &aOther) {
    Release();
    fEntry = std::move(aOther.fEntry);
  }
  return *this;
}

void DeviceLease::Release() {
  if (fEntry) {
    fEntry->turn.Pass();
    fEntry.reset();
  }
}

DeviceTable::~DeviceTable() {
  // Devices go in handle order, each writing its channel's stop banner.
  for (auto& [handle, entry] : fDevices) entry->device.reset();
}

DeviceLease DeviceTable::Acquire(int32_t aHandle) {
  std::shared_ptr<DeviceEntry> entry;
  uint64_t ticket = 0;
  {
    std::lock_guard lock(mutex_);
    const auto it = fDevices.find(aHandle);
    if (it == fDevices.end()) return {};
    entry = it->second;
    ticket = entry->turn.TakeTicket();
  }
  entry->turn.Wait(ticket);
  DeviceLease lease(std::move(entry));
  if (!lease.fEntry->device) return {};  // closed while this call waited; the turn passes on
  return lease;
}

DeviceLease DeviceTable::Add(const Factory& aCreate) {
  std::lock_guard lock(mutex_);
  if (fLastHandle == std::numeric_limits<int32_t>::max()) {
    throw EQVError(u"No device handle left");
  }
  auto entry = std::make_shared<DeviceEntry>();
  entry->device = aCreate();
  const int32_t handle = fLastHandle + 1;
  entry->device->SetHandle(handle);
  entry->turn.Wait(entry->turn.TakeTicket());  // the first ticket: served at once
  fDevices.emplace(handle, entry);
  fLastHandle = handle;
  return DeviceLease(std::move(entry));
}

void DeviceTable::Close(DeviceLease& aLease) {
  std::unique_ptr<kPaymentDevice> device = std::move(aLease.fEntry->device);
  {
    std::lock_guard lock(mutex_);
    fDevices.erase(device->Handle());
  }
  // Destroyed outside the table's lock: its channel writes the stop banner and joins its
  // log thread while other devices go on.
  device.reset();
}

size_t DeviceTable::Count() const {
  std::lock_guard lock(mutex_);
  return fDevices.size();
}

int32_t DeviceTable::LastHandle() const {
  std::lock_guard lock(mutex_);
  return fLastHandle;
}

}  // namespace qvpa
