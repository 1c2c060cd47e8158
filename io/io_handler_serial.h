// kIOHandler_Serial: a device on an RS-232 port (TComPort). Connect opens the port with
// the connection's line parameters; reads go byte by byte in 100 ms slices until a
// count, a terminator or ReadTimeout, and never run past ReadTimeout by more than a
// slice. Port refusals throw TComPortException; text goes out in the ANSI code page and
// a character it cannot hold is refused (EQVError), never replaced.
#ifndef QVPA_IO_IO_HANDLER_SERIAL_H_
#define QVPA_IO_IO_HANDLER_SERIAL_H_

#include <memory>
#include <string>

#include "io/com_port.h"
#include "io/io_handler.h"

namespace qvpa {

class kIOHandler_Serial final : public kIOHandler {
 public:
  // Port number from the characters after "COM" (at most three); throws EQVError for a
  // number that does not convert, "Parity invalid" or "Stop Bits <n> invalid".
  kIOHandler_Serial(const kConnection& aConnection, const std::u16string& aDirectory,
                    const std::u16string& aFileName);
  ~kIOHandler_Serial() override;

  std::u16string ClassName() const override { return u"kIOHandler_Serial"; }

  bool GetConnected() override { return fComPort->ComIsOpen(); }
  bool Connect() override;
  bool Disconnect() override;
  void ClearBuffers() override { fComPort->ClearBuffers(); }
  bool Write(const std::u16string& aMessage) override;
  std::u16string ReadUpTo(std::span<const uint8_t> aChars) override;
  std::u16string ReadChars(int32_t aCharsNum) override;
  std::u16string ReadAll() override;  // throws EQVError "ReadAll Unsupported"
  std::u16string DecodeError(int32_t) override { return {}; }
  bool InputBufferContainsData() override { return fComPort->GetBytesPending() > 0; }
  void SetParameter(const std::u16string&, const std::u16string&) override {}

  TComPort& ComPort() { return *fComPort; }

 private:
  // One read round: at most one byte within a slice of at most 100 ms that ends no later
  // than just past ReadTimeout. A failed read waits out its slice, so no loop spins.
  int32_t ReadRound(uint8_t& aByte, int64_t aElapsedMs, uint32_t& aErrorMask);

  std::unique_ptr<TComPort> fComPort;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_SERIAL_H_
