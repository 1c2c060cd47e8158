#include "base/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/platform.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {

namespace {

// The open lock file; closing it releases the flock.
class FileInstanceLock final : public InstanceLock {
 public:
  explicit FileInstanceLock(int fd) : fd_(fd) {}
  ~FileInstanceLock() override { ::close(fd_); }

 private:
  const int fd_;
};

std::u16string RuntimeFolder() {
  for (const char16_t* name : {u"XDG_RUNTIME_DIR", u"TMPDIR"}) {
    std::optional<std::u16string> value = platform::EnvironmentVariable(name);
    if (value && !value->empty()) return *value;
  }
  return u"/tmp";
}

std::u16string PosixError(const std::u16string& aContext, int aErrno) {
  return aContext + u": " + FromUtf8(std::strerror(aErrno));
}

}  // namespace

InstanceLockResult AcquireInstanceLock(std::u16string_view aName) {
  const std::u16string path =
      JoinPath(RuntimeFolder(), std::u16string(aName) + u".single-instance.lock");
  InstanceLockResult result;
  const int fd = ::open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    result.error = PosixError(path, errno);
    return result;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      result.held_elsewhere = true;
    } else {
      result.error = PosixError(path, error);
    }
    return result;
  }
  result.lock = std::make_unique<FileInstanceLock>(fd);
  return result;
}

}  // namespace qvpa
