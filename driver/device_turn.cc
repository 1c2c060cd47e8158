#include "driver/device_turn.h"

namespace qvpa {

uint64_t DeviceTurn::TakeTicket() {
  std::lock_guard lock(mutex_);
  return next_ticket_++;
}

void DeviceTurn::Wait(uint64_t aTicket) {
  std::unique_lock lock(mutex_);
  served_.wait(lock, [&] { return serving_ == aTicket; });
}

void DeviceTurn::Pass() {
  {
    std::lock_guard lock(mutex_);
    ++serving_;
  }
  served_.notify_all();
}

}  // namespace qvpa
