#include "io/io_handler_spool.h"

#include "base/error.h"
#include "base/text.h"
#include "io/code_page.h"
#include "io/spool_placement.h"
#include "io/spooler.h"

namespace qvpa {

namespace {

constexpr char16_t kRawDocumentName[] = u"MXR Receipt";
constexpr char16_t kPictureJobTitle[] = u"Cassora Spool Output";

}  // namespace

kIOHandler_Spool::kIOHandler_Spool(const kConnection& aConnection, const std::u16string& aDirectory,
                                   const std::u16string& aFileName)
    : kIOHandler(&aConnection, aDirectory, aFileName), fPrinterName(aConnection.PrinterName()) {}

bool kIOHandler_Spool::Write(const std::u16string& aMessage) {
  return fOutputType == qvSpoolOutputType::Raw ? WriteRaw(aMessage) : WriteNormal();
}

bool kIOHandler_Spool::WriteRaw(const std::u16string& aMessage) {
  std::string bytes;
  try {
    bytes = EncodeCodePage(aMessage, CodePage() <= 0 ? AnsiCodePage() : CodePage());
  } catch (const EQVError& e) {
    // Nothing of a text the printer would get wrong is sent.
    SetErrorMessage(e.Message());
    return false;
  }
  return SendRaw(bytes);
}

bool kIOHandler_Spool::WriteBytes(const std::vector<uint8_t>& aBytes) {
  return SendRaw(std::string_view(reinterpret_cast<const char*>(aBytes.data()), aBytes.size()));
}

bool kIOHandler_Spool::SendRaw(std::string_view aBytes) {
  std::u16string error;
  const bool sent = spooler::SendRawJob(fPrinterName, kRawDocumentName, aBytes, error);
  if (!sent) SetErrorMessage(error);
  return sent;
}

bool kIOHandler_Spool::WriteNormal() {
  std::u16string printer;
  const std::u16string wanted = LowerCase(fPrinterName);
  for (const std::u16string& name : spooler::InstalledPrinters()) {
    if (LowerCase(name) == wanted) {
      printer = name;
      break;
    }
  }
  if (printer.empty()) {
    throw EQVError(u"kIOHandler_Spool.WriteNormal: Printer " + fPrinterName + u" not found");
  }
  if (fBitmap == nullptr || fBitmap->width <= 0 || fBitmap->height <= 0) {
    throw EQVError(u"kIOHandler_Spool.WriteNormal: no picture to print");
  }
  const PageMetrics page = spooler::GetPageMetrics(printer);
  spooler::PrintPicture(printer, kPictureJobTitle, page, *fBitmap,
                        PlacePicture(page, fBitmap->width, fBitmap->height));
  return true;
}

std::u16string kIOHandler_Spool::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }

bool kIOHandler_Spool::InputBufferContainsData() {
  throw EQVError(u"InputBufferContainsData Unsupported");
}

}  // namespace qvpa
