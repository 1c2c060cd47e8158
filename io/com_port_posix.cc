// TComPort on termios. The port runs in raw (binary) mode, as a Windows port always
// does; flow control and the special characters stay as the device had them.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "base/platform.h"
#include "base/text.h"
#include "io/com_port.h"
#include "io/com_port_posix.h"

namespace qvpa {

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

speed_t SpeedConstant(uint32_t baud, bool& known) {
  static constexpr struct {
    uint32_t baud;
    speed_t constant;
  } kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                 {150, B150},       {200, B200},       {300, B300},       {600, B600},
                 {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                 {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& s : kSpeeds) {
    if (s.baud == baud) {
      known = true;
      return s.constant;
    }
  }
  known = false;
  return B0;
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

std::u16string ComDevicePath(uint32_t ncom) {
  const auto dir = platform::EnvironmentVariable(u"QVPA_COM_DIR");
  if (dir && !dir->empty()) return *dir + u"/COM" + IntToStr(ncom);
  return u"/dev/ttyS" + IntToStr(static_cast<int64_t>(ncom) - 1);
}

intptr_t TComPort::PlatformOpen() {
  const std::string path = ToUtf8(ComDevicePath(fComNumber));
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  // No sharing: refuse a port another program holds (advisory lock, also for root),
  // then keep further opens out while this one lasts.
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(fd);
  }
  if (error == ENOENT || error == ENXIO || error == ENODEV) {
    throw TComPortException(u"COM" + IntToStr(fComNumber) + u" is not a valid COM port.");
  }
  if (error != 0) {
    throw TComPortException(u"Cannot open COM" + IntToStr(fComNumber) + u" (error #" +
                            IntToStr(error) + u").");
  }
  ::ioctl(fd, TIOCEXCL);
  return fd;
}

bool ApplyLineParameters(termios& line, uint32_t baud, uint8_t data, TStopBits stop, TParity pty) {
  bool known = false;
  const speed_t speed = SpeedConstant(baud, known);
  tcflag_t size = 0;
  switch (data) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: known = false;
  }
  // One and a half stop bits exist only with five data bits.
  if (stop == TStopBits::sbOneHalf && data != 5) known = false;
  if (!known) return false;

  // Binary mode: no line editing, echo, signals or translations of bytes.
  line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag |= CLOCAL | CREAD;
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;

  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
  line.c_cflag |= size;
  if (stop != TStopBits::sbOne) line.c_cflag |= CSTOPB;
  switch (pty) {
    case TParity::ptNone: break;
    case TParity::ptOdd: line.c_cflag |= PARENB | PARODD; break;
    case TParity::ptEven: line.c_cflag |= PARENB; break;
    case TParity::ptMark: line.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::ptSpace: line.c_cflag |= PARENB | CMSPAR; break;
  }
  return ::cfsetispeed(&line, speed) == 0 && ::cfsetospeed(&line, speed) == 0;
}

void TComPort::PlatformSetLine(uint32_t baud, uint8_t data, TStopBits stop, TParity pty) {
  termios line{};
  if (::tcgetattr(Fd(fComHandle), &line) != 0) throw TComPortException(u"GetCommState failed!");
  if (!ApplyLineParameters(line, baud, data, stop, pty) ||
      ::tcsetattr(Fd(fComHandle), TCSANOW, &line) != 0) {
    throw TComPortException(u"SetCommState failed!");
  }
}

// Each read waits with poll for the time it is given: there is nothing to program.
void TComPort::PlatformSetReadTimeout(uint32_t) {}

int32_t TComPort::PlatformRead(void* buffer, int32_t nbytes, uint32_t timeout, uint32_t& ErrorCode) {
  // Total time-out `timeout` (none programmed: only what has arrived), and at most 100 ms
  // of silence between two bytes once the first has come. In raw mode with VMIN and VTIME
  // 0 a read answers 0 at once when nothing waits; poll does the waiting.
  const auto start = std::chrono::steady_clock::now();
  const int64_t total = timeout == kNoTimeout ? 0 : static_cast<int64_t>(timeout);
  auto* out = static_cast<unsigned char*>(buffer);
  int32_t got = 0;
  while (got < nbytes) {
    const ssize_t n = ::read(Fd(fComHandle), out + got, static_cast<size_t>(nbytes - got));
    if (n > 0) {
      got += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      ErrorCode = kErrorIO;
      return -1;
    }
    const int64_t left = total - MillisecondsSince(start);
    if (left <= 0) break;
    pollfd p{Fd(fComHandle), POLLIN, 0};
    const int wait = static_cast<int>(got > 0 ? std::min<int64_t>(left, 100) : left);
    const int ready = ::poll(&p, 1, wait);
    if (ready == 0) break;
    if (ready < 0 && errno != EINTR) {
      ErrorCode = kErrorIO;
      return -1;
    }
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      // The device hung up (a read then answers 0 at once): a failure, not silence.
      if (got > 0) return got;
      ErrorCode = kErrorIO;
      return -1;
    }
  }
  return got;
}

int64_t TComPort::PlatformWrite(std::string_view bytes) {
  // A port held up by flow control gets the time the bytes need at the line's speed
  // plus a second, then the write fails instead of hanging the caller.
  const int64_t budget = 1000 + static_cast<int64_t>(bytes.size()) * 11000 / std::max<uint32_t>(fBaudRate, 1);
  const auto start = std::chrono::steady_clock::now();
  int64_t written = 0;
  while (!bytes.empty()) {
    const ssize_t n = ::write(Fd(fComHandle), bytes.data(), bytes.size());
    if (n > 0) {
      written += n;
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return -1;
    const int64_t left = budget - MillisecondsSince(start);
    if (left <= 0) return -1;
    pollfd p{Fd(fComHandle), POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -1;
  }
  return written;
}

bool TComPort::PlatformPurge() { return ::tcflush(Fd(fComHandle), TCIOFLUSH) == 0; }

void TComPort::PlatformClose() {
  if (fComHandle < 0) return;
  ::ioctl(Fd(fComHandle), TIOCNXCL);  // the flag outlives this handle otherwise
  ::close(Fd(fComHandle));
  fComHandle = -1;
}

void TComPort::PlatformSetModemLine(bool dtr, bool assert) {
  int bits = dtr ? TIOCM_DTR : TIOCM_RTS;
  ::ioctl(Fd(fComHandle), assert ? TIOCMBIS : TIOCMBIC, &bits);  // a pty has no such lines
}

int32_t TComPort::PlatformBytesPending() {
  int pending = 0;
  return ::ioctl(Fd(fComHandle), FIONREAD, &pending) == 0 ? pending : 0;
}

}  // namespace qvpa
