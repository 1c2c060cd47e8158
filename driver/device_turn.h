// DeviceTurn: a first-come, first-served lock for one device. A caller takes a ticket (never
// blocks), then waits until the tickets before it have been served; calls on one device run
// one at a time in the order their tickets were taken.
#ifndef QVPA_DRIVER_DEVICE_TURN_H_
#define QVPA_DRIVER_DEVICE_TURN_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qvpa {

class DeviceTurn {
 public:
  DeviceTurn() = default;
  DeviceTurn(const DeviceTurn&) = delete;
  DeviceTurn& operator=(const DeviceTurn&) = delete;

  // The next place in line.
  uint64_t TakeTicket();
  // Blocks until aTicket is served; the caller then holds the turn until Pass.
  void Wait(uint64_t aTicket);
  // Ends the current holder's turn and wakes the next ticket.
  void Pass();

 private:
  std::mutex mutex_;
  std::condition_variable served_;
  uint64_t next_ticket_ = 0;  // guarded by mutex_
  uint64_t serving_ = 0;      // guarded by mutex_
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_DEVICE_TURN_H_
