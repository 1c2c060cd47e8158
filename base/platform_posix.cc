#include "base/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "base/text.h"

namespace qvpa::platform {

namespace {

// Closes a file descriptor when it leaves scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

char16_t PathSeparator() { return u'/'; }

bool IsPathSeparator(char16_t c) { return c == u'/'; }

bool IsAbsolutePath(std::u16string_view path) { return !path.empty() && path[0] == u'/'; }

std::u16string ExecutablePath() {
  std::string buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(n));
  return FromUtf8(buffer);
}

std::vector<std::u16string> CommandLineParameters() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::u16string> params;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    params.push_back(FromUtf8(std::string_view(all).substr(start, end - start)));
    start = end + 1;
  }
  return params;
}

std::optional<std::u16string> EnvironmentVariable(std::u16string_view name) {
  const char* value = std::getenv(ToUtf8(name).c_str());
  if (value == nullptr) return std::nullopt;
  return FromUtf8(value);
}

bool CreateDirectories(std::u16string_view path) {
  const std::string p = ToUtf8(path);
  if (p.empty()) return false;
  // Create each prefix that ends before a separator, then the whole path.
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/') continue;
    const std::string prefix = p.substr(0, i);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(std::u16string_view path) {
  struct stat st {};
  return ::stat(ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileSize(std::u16string_view path) {
  struct stat st {};
  if (::stat(ToUtf8(path).c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RenameFile(std::u16string_view from, std::u16string_view to) {
  // Never replaces an existing target; link + unlink where the file system lacks the flag.
  const std::string f = ToUtf8(from), t = ToUtf8(to);
  if (::renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(f.c_str(), t.c_str()) != 0) return false;
  if (::unlink(f.c_str()) != 0) {
    ::unlink(t.c_str());
    return false;
  }
  return true;
}

bool AppendToFileExclusive(std::u16string_view path, std::string_view bytes) {
  ScopedFd fd(::open(ToUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (!WriteAll(fd.get(), bytes)) return false;
  return fd.Close();  // closing also releases the lock
}

std::u16string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return FromUtf8(name);
}

std::u16string OsName() {
  utsname info{};
  return uname(&info) == 0 ? FromUtf8(info.sysname) : std::u16string();
}

std::u16string OsVersion() {
  utsname info{};
  return uname(&info) == 0 ? FromUtf8(info.release) : std::u16string();
}

bool ProcessEnding() { return false; }

}  // namespace qvpa::platform
