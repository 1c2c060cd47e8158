#include "io/com_port.h"

namespace qvpa {

TComPort::TComPort(uint32_t ncom, uint32_t baud, uint8_t data, TStopBits stop, TParity parity)
    : fComNumber(ncom), fBaudRate(baud), fDataBits(data), fStopBits(stop), fParity(parity) {}

TComPort::~TComPort() { Close(); }

void TComPort::Open() {
  if (fIsOpen) Close();
  fComHandle = PlatformOpen();
  try {
    SetLineParameters(fBaudRate, fDataBits, fStopBits, fParity);
  } catch (...) {
    PlatformClose();
    throw;
  }
  fIsOpen = true;
  fCurrentComTimeout = kNoTimeout;
}

void TComPort::Close() {
  if (fIsOpen) {
    PlatformPurge();
    PlatformClose();
  }
  fIsOpen = false;
}

int32_t TComPort::Read(void* buffer, int32_t nbytes, uint32_t timeout, uint32_t& ErrorCode) {
  if (!fIsOpen) throw TComPortException(u"Cannot read because COM port is not open.");
  if (timeout != 0 && timeout != fCurrentComTimeout) {
    PlatformSetReadTimeout(timeout);
    fCurrentComTimeout = timeout;
  }
  return PlatformRead(buffer, nbytes, fCurrentComTimeout, ErrorCode);
}

bool TComPort::WriteText(std::string_view S) {
  if (!fIsOpen) throw TComPortException(u"Cannot write because COM port is not open.");
  const int64_t written = PlatformWrite(S);
  if (written < 0) throw TComPortException(u"Write to com port failed.");
  return written == static_cast<int64_t>(S.size());
}

void TComPort::SetLineParameters(uint32_t baud, uint8_t data, TStopBits stop, TParity pty) {
  PlatformSetLine(baud, data, stop, pty);
  fBaudRate = baud;
  fDataBits = data;
  fStopBits = stop;
  fParity = pty;
}

int32_t TComPort::GetBytesPending() { return fIsOpen ? PlatformBytesPending() : 0; }

void TComPort::ClearBuffers() {
  if (fIsOpen && !PlatformPurge()) throw TComPortException(u"PurgeComm failed!");
}

void TComPort::SetDTR(bool assert) {
  if (!fIsOpen) throw TComPortException(u"SetRTS failed because COM port not open.");
  PlatformSetModemLine(true, assert);
}

void TComPort::SetRTS(bool assert) {
  if (!fIsOpen) throw TComPortException(u"SetRTS failed because COM port not open.");
  PlatformSetModemLine(false, assert);
}

}  // namespace qvpa
