// kIOHandler_TCP: a device over one TCP connection. Received bytes become characters
// of the same code (0 to 255); text goes out one byte per character, or through the
// Windows code page CodePage when it is not 0. Reads are bounded by ReadTimeout as a
// whole, whatever the peer does: when it runs out after some bytes came the read ends
// "Read Timeout"; when nothing came at all it fails as a socket read time-out. Read
// failures are logged, never thrown. Writes,
// ReadBytes and every read or buffer call before the first Connect throw EQVError.
#ifndef QVPA_IO_IO_HANDLER_TCP_H_
#define QVPA_IO_IO_HANDLER_TCP_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/io_handler.h"

namespace qvpa {

class TcpSocket;

class kIOHandler_TCP final : public kIOHandler {
 public:
  // Host from Address, port from the low 16 bits of Port.
  kIOHandler_TCP(const kConnection& aConnection, const std::u16string& aDirectory,
                 const std::u16string& aFileName);
  ~kIOHandler_TCP() override;

  std::u16string ClassName() const override { return u"kIOHandler_TCP"; }

  bool GetConnected() override;
  // Banner, Host= and Port= lines; connects when not connected (bounded by
  // ConnectTimeout). Failures are logged ("Connect Timeout", "Connect Error"), not thrown.
  bool Connect() override;
  bool Disconnect() override;
  void ClearBuffers() override;
  bool Write(const std::u16string& aMessage) override;
  bool WriteBytes(const std::vector<uint8_t>& aBytes);
  std::u16string ReadChars(int32_t aCharsNum) override;
  std::u16string ReadUpTo(std::span<const uint8_t> aChars) override;
  std::u16string ReadAll() override;
  // Exactly aCount bytes within ReadTimeout; throws EQVError on time-out or close.
  std::vector<uint8_t> ReadBytes(int32_t aCount);
  std::u16string DecodeError(int32_t) override { return {}; }
  bool InputBufferContainsData() override;
  void SetParameter(const std::u16string&, const std::u16string&) override {}

  const std::u16string& Host() const { return fHost; }
  uint16_t Port() const { return fPort; }

 private:
  // The socket, or EQVError when Connect was never called.
  TcpSocket& Socket();

  std::unique_ptr<TcpSocket> fTCPClient;  // created by the first Connect
  std::u16string fHost;
  uint16_t fPort = 0;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_TCP_H_
