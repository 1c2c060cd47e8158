#include "base/instance_lock.h"

#include <windows.h>

#include "base/text.h"

namespace qvpa {

namespace {

// The owned named mutex; released and closed when destroyed. A process that ends while
// holding it leaves it abandoned, which the next waiter receives as acquired.
class MutexInstanceLock final : public InstanceLock {
 public:
  explicit MutexInstanceLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexInstanceLock() override {
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
  }

 private:
  const HANDLE mutex_;
};

}  // namespace

InstanceLockResult AcquireInstanceLock(std::u16string_view aName) {
  InstanceLockResult result;
  const std::u16string name(aName);
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
  if (mutex == nullptr) {
    const DWORD error = ::GetLastError();
    result.error = u"CreateMutexW " + name + u" failed with error " + IntToStr(error);
    return result;
  }
  const DWORD wait = ::WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    result.lock = std::make_unique<MutexInstanceLock>(mutex);
    return result;
  }
  if (wait == WAIT_TIMEOUT) {
    result.held_elsewhere = true;
  } else {
    const DWORD error = ::GetLastError();
    result.error = u"WaitForSingleObject " + name + u" failed with error " + IntToStr(error);
  }
  ::CloseHandle(mutex);
  return result;
}

}  // namespace qvpa
