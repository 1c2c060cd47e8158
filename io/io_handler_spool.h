// kIOHandler_Spool: printing through the print spooler. Raw output sends text (in the
// code page) or bytes as one raw job "MXR Receipt"; a refusal returns false with the
// spooler's text in ErrorMessage and never throws. Normal output prints the Bitmap
// scaled to the printer's resolution, fitted and centred on the page; a printer that
// is not installed, a missing picture and errors of the printing system throw EQVError.
#ifndef QVPA_IO_IO_HANDLER_SPOOL_H_
#define QVPA_IO_IO_HANDLER_SPOOL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "io/bitmap.h"
#include "io/io_handler.h"

namespace qvpa {

class kIOHandler_Spool final : public kIOHandler {
 public:
  kIOHandler_Spool(const kConnection& aConnection, const std::u16string& aDirectory,
                   const std::u16string& aFileName);

  std::u16string ClassName() const override { return u"kIOHandler_Spool"; }

  bool GetConnected() override { return true; }
  bool Disconnect() override { return true; }
  void ClearBuffers() override {}
  // Raw: WriteRaw(aMessage); Normal: WriteNormal (aMessage is not used).
  bool Write(const std::u16string& aMessage) override;
  // The bytes as they are, in one raw job.
  bool WriteBytes(const std::vector<uint8_t>& aBytes);
  std::u16string ReadUpTo(std::span<const uint8_t>) override { return {}; }
  std::u16string ReadChars(int32_t) override { return {}; }
  std::u16string ReadAll() override;  // throws EQVError "ReadAll Unsupported"
  std::u16string DecodeError(int32_t) override { return {}; }
  // Throws EQVError "InputBufferContainsData Unsupported".
  bool InputBufferContainsData() override;
  void SetParameter(const std::u16string&, const std::u16string&) override {}

  qvSpoolOutputType OutputType() const { return fOutputType; }
  void SetOutputType(qvSpoolOutputType v) { fOutputType = v; }
  // The picture Normal output prints; not owned, must outlive the write.
  const Bitmap* GetBitmap() const { return fBitmap; }
  void SetBitmap(const Bitmap* v) { fBitmap = v; }
  const std::u16string& PrinterName() const { return fPrinterName; }

 private:
  bool WriteRaw(const std::u16string& aMessage);
  bool SendRaw(std::string_view aBytes);
  bool WriteNormal();

  std::u16string fPrinterName;
  qvSpoolOutputType fOutputType = qvSpoolOutputType::Normal;
  const Bitmap* fBitmap = nullptr;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_SPOOL_H_
