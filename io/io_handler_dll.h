// kIOHandler_Dll: a vendor's shared library, loaded for the channel's whole life, whose
// exports the driver calls itself through GetAddress. No transport: Write accepts and
// sends nothing, reads give empty text, ReadAll and InputBufferContainsData throw.
#ifndef QVPA_IO_IO_HANDLER_DLL_H_
#define QVPA_IO_IO_HANDLER_DLL_H_

#include <memory>
#include <string>

#include "io/io_handler.h"

namespace qvpa {

class DynamicLibrary;

class kIOHandler_Dll final : public kIOHandler {
 public:
  // Loads the connection's LibraryName. Throws EQVError "Unable to Load Library <name>.
  // <system text> [<code>]" when it cannot, after logging the attempt and the stop banner.
  kIOHandler_Dll(const kConnection& aConnection, const std::u16string& aDirectory,
                 const std::u16string& aFileName);
  ~kIOHandler_Dll() override;  // logs and unloads the library

  std::u16string ClassName() const override { return u"kIOHandler_Dll"; }

  // Address of the export aProcName; throws EQVError
  // "Unable to get address for procedure <name>" when there is none.
  void* GetAddress(const std::u16string& aProcName);

  bool GetConnected() override { return true; }
  bool Disconnect() override { return true; }
  void ClearBuffers() override {}
  bool Write(const std::u16string&) override { return true; }
  std::u16string ReadUpTo(std::span<const uint8_t>) override { return {}; }
  std::u16string ReadChars(int32_t) override { return {}; }
  std::u16string ReadAll() override;  // throws EQVError "ReadAll Unsupported"
  std::u16string DecodeError(int32_t) override { return {}; }
  // Throws EQVError "InputBufferContainsData Unsupported".
  bool InputBufferContainsData() override;
  void SetParameter(const std::u16string&, const std::u16string&) override {}

 private:
  void Unload();

  std::unique_ptr<DynamicLibrary> fLibraryHandle;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_DLL_H_
