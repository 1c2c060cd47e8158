// InstanceLock: a named lock that excludes every other process asking for the same name,
// held until it is destroyed or the process ends (the operating system releases it then,
// also when the process is killed). On POSIX a flock on "<name>.single-instance.lock" in
// the runtime folder ($XDG_RUNTIME_DIR, else $TMPDIR, else /tmp), its descriptor not
// inherited by child processes; on Windows the named mutex <name>.
#ifndef QVPA_BASE_INSTANCE_LOCK_H_
#define QVPA_BASE_INSTANCE_LOCK_H_

#include <memory>
#include <string>
#include <string_view>

namespace qvpa {

class InstanceLock {
 public:
  InstanceLock() = default;
  virtual ~InstanceLock() = default;  // releases the lock
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
};

struct InstanceLockResult {
  std::unique_ptr<InstanceLock> lock;  // held by this process; null otherwise
  bool held_elsewhere = false;         // another holder has it
  std::u16string error;                // why the lock could not be asked for; else empty
};

// Takes the lock named aName without waiting. Never throws.
InstanceLockResult AcquireInstanceLock(std::u16string_view aName);

}  // namespace qvpa

#endif  // QVPA_BASE_INSTANCE_LOCK_H_
