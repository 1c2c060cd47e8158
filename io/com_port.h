// TComPort: one serial communications port COMn with its line parameters, read
// time-outs, byte reads and writes, purge and the DTR/RTS lines. Refusals of the system
// throw TComPortException with fixed texts. The system calls live in one file per
// platform (com_port_posix.cc: termios on the device COMn resolves to, see ComDevicePath).
#ifndef QVPA_IO_COM_PORT_H_
#define QVPA_IO_COM_PORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qvpa {

enum class TParity : uint8_t { ptNone = 0, ptOdd = 1, ptEven = 2, ptMark = 3, ptSpace = 4 };
enum class TStopBits : uint8_t { sbOne = 0, sbOneHalf = 1, sbTwo = 2 };

class TComPortException : public EQVError {
 public:
  using EQVError::EQVError;
};

class TComPort {
 public:
  // Error mask bit of a read that the system refused (an I/O error on the line).
  static constexpr uint32_t kErrorIO = 0x0400;
  static constexpr uint32_t kNoTimeout = 0xFFFFFFFFu;

  explicit TComPort(uint32_t ncom, uint32_t baud = 9600, uint8_t data = 8,
                    TStopBits stop = TStopBits::sbOne, TParity parity = TParity::ptNone);
  ~TComPort();  // closes the port when open
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  // Opens COMn for exclusive use and programs the line parameters.
  void Open();
  // Purges and closes; the port is marked closed in every case.
  void Close();
  // Up to nbytes bytes, waiting at most timeout ms in all (and 100 ms between bytes);
  // 0 when nothing came. -1 on a failed read, with the error mask in ErrorCode (written
  // only then). A timeout of 0 keeps the one programmed last; the port's time-outs are
  // programmed only when the time-out changes (throws "GetCommTimeouts failed." or
  // "SetCommTimeouts failed." when the system refuses).
  int32_t Read(void* buffer, int32_t nbytes, uint32_t timeout, uint32_t& ErrorCode);
  // Writes every byte of S; true when all were written.
  bool WriteText(std::string_view S);
  // Replaces baud rate, data bits, stop bits and parity; the rest of the line stays.
  void SetLineParameters(uint32_t baud, uint8_t data, TStopBits stop, TParity pty);
  // Received bytes waiting in the input queue; 0 when that cannot be read.
  int32_t GetBytesPending();
  void ClearBuffers();
  void SetDTR(bool assert);
  void SetRTS(bool assert);

  uint32_t ComNumber() const { return fComNumber; }
  uint32_t BaudRate() const { return fBaudRate; }
  uint8_t DataBits() const { return fDataBits; }
  TStopBits StopBits() const { return fStopBits; }
  TParity Parity() const { return fParity; }
  bool ComIsOpen() const { return fIsOpen; }
  std::u16string DriverVersion() const { return u"1.0"; }

 private:
  // The platform's half (com_port_posix.cc / com_port_win.cc).
  intptr_t PlatformOpen();  // the handle; throws TComPortException
  void PlatformSetLine(uint32_t baud, uint8_t data, TStopBits stop, TParity pty);
  void PlatformSetReadTimeout(uint32_t timeout);  // throws TComPortException
  int32_t PlatformRead(void* buffer, int32_t nbytes, uint32_t timeout, uint32_t& ErrorCode);
  int64_t PlatformWrite(std::string_view bytes);  // bytes written, -1 when refused
  bool PlatformPurge();
  void PlatformClose();
  void PlatformSetModemLine(bool dtr, bool assert);
  int32_t PlatformBytesPending();

  uint32_t fComNumber;
  uint32_t fBaudRate;
  uint8_t fDataBits;
  TStopBits fStopBits;
  TParity fParity;
  intptr_t fComHandle = -1;
  bool fIsOpen = false;
  uint32_t fCurrentComTimeout = kNoTimeout;  // read time-out last programmed; none after Open
};

// The device COMn opens: "<dir>/COMn" when QVPA_COM_DIR names a folder, else the
// platform's own name for it (/dev/ttyS<n-1> on POSIX).
std::u16string ComDevicePath(uint32_t ncom);

}  // namespace qvpa

#endif  // QVPA_IO_COM_PORT_H_
