// TComPort on the Win32 communications API. The port is opened for exclusive use and
// runs in binary mode; flow control stays as the device had it. Read waits are the
// port's own time-outs (COMMTIMEOUTS), programmed when the read time-out changes, so a
// read never spins and never outlasts the time the caller gave.
#include <windows.h>

#include <algorithm>
#include <string>

#include "base/platform.h"
#include "base/text.h"
#include "io/com_port.h"

namespace qvpa {

namespace {

HANDLE Handle(intptr_t aHandle) { return reinterpret_cast<HANDLE>(aHandle); }

// Gap after which a read that has some bytes ends.
constexpr DWORD kIntervalMs = 100;

// Write time-outs: the time the bytes need at the line's speed plus a second, so that a
// port held up by flow control fails the write instead of hanging the caller.
void SetWriteBudget(COMMTIMEOUTS& aTimeouts, uint32_t aBaud) {
  const uint32_t baud = std::max<uint32_t>(aBaud, 1);
  aTimeouts.WriteTotalTimeoutMultiplier = (11000 + baud - 1) / baud;
  aTimeouts.WriteTotalTimeoutConstant = 1000;
}

}  // namespace

std::u16string ComDevicePath(uint32_t ncom) {
  const auto dir = platform::EnvironmentVariable(u"QVPA_COM_DIR");
  if (dir && !dir->empty()) return *dir + u"\\COM" + IntToStr(ncom);
  // The device namespace reaches every port, COM10 and above included.
  return u"\\\\.\\COM" + IntToStr(ncom);
}

intptr_t TComPort::PlatformOpen() {
  const std::u16string path = ComDevicePath(fComNumber);
  const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | GENERIC_WRITE,
                                     0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      throw TComPortException(u"COM" + IntToStr(fComNumber) + u" is not a valid COM port.");
    }
    throw TComPortException(u"Cannot open COM" + IntToStr(fComNumber) + u" (error #" + IntToStr(error) + u").");
  }
  // Until a read programs its time-out, a read takes only what has arrived.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetWriteBudget(timeouts, fBaudRate);
  ::SetCommTimeouts(handle, &timeouts);
  return reinterpret_cast<intptr_t>(handle);
}

void TComPort::PlatformSetLine(uint32_t baud, uint8_t data, TStopBits stop, TParity pty) {
  DCB line{};
  line.DCBlength = sizeof line;
  if (!::GetCommState(Handle(fComHandle), &line)) throw TComPortException(u"GetCommState failed!");
  // One and a half stop bits exist only with five data bits, two only with more.
  const bool valid = data >= 5 && data <= 8 && baud > 0 && (stop != TStopBits::sbOneHalf || data == 5) &&
                     (stop != TStopBits::sbTwo || data != 5);
  line.BaudRate = baud;
  line.ByteSize = data;
  switch (stop) {
    case TStopBits::sbOne: line.StopBits = ONESTOPBIT; break;
    case TStopBits::sbOneHalf: line.StopBits = ONE5STOPBITS; break;
    case TStopBits::sbTwo: line.StopBits = TWOSTOPBITS; break;
  }
  switch (pty) {
    case TParity::ptNone: line.Parity = NOPARITY; break;
    case TParity::ptOdd: line.Parity = ODDPARITY; break;
    case TParity::ptEven: line.Parity = EVENPARITY; break;
    case TParity::ptMark: line.Parity = MARKPARITY; break;
    case TParity::ptSpace: line.Parity = SPACEPARITY; break;
  }
  line.fBinary = TRUE;
  line.fParity = pty != TParity::ptNone ? TRUE : FALSE;
  // A line error must not stop every later read and write until it is cleared.
  line.fAbortOnError = FALSE;
  if (!valid || !::SetCommState(Handle(fComHandle), &line)) throw TComPortException(u"SetCommState failed!");
}

// Total time-out `timeout`, and at most 100 ms of silence between two bytes once the
// first has come; the write time-outs stay.
void TComPort::PlatformSetReadTimeout(uint32_t timeout) {
  COMMTIMEOUTS timeouts{};
  if (!::GetCommTimeouts(Handle(fComHandle), &timeouts)) throw TComPortException(u"GetCommTimeouts failed.");
  timeouts.ReadIntervalTimeout = kIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = std::min<DWORD>(timeout, MAXDWORD - 1);
  if (!::SetCommTimeouts(Handle(fComHandle), &timeouts)) throw TComPortException(u"SetCommTimeouts failed.");
}

// The wait is the one the port was programmed with (until then: only what has arrived).
int32_t TComPort::PlatformRead(void* buffer, int32_t nbytes, uint32_t, uint32_t& ErrorCode) {
  if (nbytes <= 0) return 0;
  DWORD got = 0;
  if (!::ReadFile(Handle(fComHandle), buffer, static_cast<DWORD>(nbytes), &got, nullptr)) {
    DWORD errors = 0;
    ::ClearCommError(Handle(fComHandle), &errors, nullptr);
    ErrorCode = errors != 0 ? static_cast<uint32_t>(errors) : kErrorIO;
    return -1;
  }
  return static_cast<int32_t>(got);
}

int64_t TComPort::PlatformWrite(std::string_view bytes) {
  COMMTIMEOUTS timeouts{};
  if (!::GetCommTimeouts(Handle(fComHandle), &timeouts)) return -1;
  SetWriteBudget(timeouts, fBaudRate);
  if (!::SetCommTimeouts(Handle(fComHandle), &timeouts)) return -1;
  int64_t written = 0;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 65536));
    DWORD n = 0;
    if (!::WriteFile(Handle(fComHandle), bytes.data(), chunk, &n, nullptr)) return -1;
    if (n == 0) return -1;  // timed out with nothing taken
    written += n;
    bytes.remove_prefix(n);
    if (n < chunk) return -1;  // timed out part way
  }
  return written;
}

bool TComPort::PlatformPurge() {
  return ::PurgeComm(Handle(fComHandle), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) != 0;
}

void TComPort::PlatformClose() {
  if (fComHandle == -1) return;
  ::CloseHandle(Handle(fComHandle));
  fComHandle = -1;
}

void TComPort::PlatformSetModemLine(bool dtr, bool assert) {
  const DWORD function = dtr ? (assert ? SETDTR : CLRDTR) : (assert ? SETRTS : CLRRTS);
  ::EscapeCommFunction(Handle(fComHandle), function);
}

int32_t TComPort::PlatformBytesPending() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(Handle(fComHandle), &errors, &status)) return 0;
  return static_cast<int32_t>(std::min<DWORD>(status.cbInQue, INT32_MAX));
}

}  // namespace qvpa
