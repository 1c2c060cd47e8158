// kIOHandler_Com: a channel without transport, for drivers that reach their device
// by other means and need only the channel's log and error state. Writes are
// refused (false), reads give empty text, ReadAll and InputBufferContainsData throw.
#ifndef QVPA_IO_IO_HANDLER_COM_H_
#define QVPA_IO_IO_HANDLER_COM_H_

#include "io/io_handler.h"

namespace qvpa {

class kIOHandler_Com final : public kIOHandler {
 public:
  // aConnection may be null (both time-outs then stay 0).
  kIOHandler_Com(const kConnection* aConnection, const std::u16string& aDirectory,
                 const std::u16string& aFileName);

  std::u16string ClassName() const override { return u"kIOHandler_Com"; }

  bool GetConnected() override { return true; }
  bool Disconnect() override { return true; }
  void ClearBuffers() override {}
  bool Write(const std::u16string& aMessage) override;
  std::u16string ReadUpTo(std::span<const uint8_t> aChars) override;
  std::u16string ReadChars(int32_t aCharsNum) override;
  std::u16string ReadAll() override;  // throws EQVError "ReadAll Unsupported"
  std::u16string DecodeError(int32_t aErrorCode) override;
  // Throws EQVError "InputBufferContainsData Unsupported".
  bool InputBufferContainsData() override;
  void SetParameter(const std::u16string& aName, const std::u16string& aValue) override;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_COM_H_
