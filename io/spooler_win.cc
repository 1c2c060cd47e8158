// The spooler on winspool and GDI: raw jobs go to the printer as they are, pictures are
// drawn on a printer device context. Page metrics are the device context's, which the
// printer driver gives for its default paper and resolution.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>

#include "base/error.h"
#include "base/text.h"
#include "io/spooler.h"
#include "io/system_error_win.h"

namespace qvpa::spooler {

namespace {

const wchar_t* Wide(const std::u16string& aText) { return reinterpret_cast<const wchar_t*>(aText.c_str()); }

// The system's text for the last error; GDI calls may fail without setting one.
std::u16string LastErrorText() {
  const DWORD error = ::GetLastError();
  return error != 0 ? WindowsErrorText(error) : std::u16string(u"the printing system refused the job");
}

struct PrinterCloser {
  void operator()(HANDLE h) const { ::ClosePrinter(h); }
};
using PrinterPtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, PrinterCloser>;

struct DcDeleter {
  void operator()(HDC dc) const { ::DeleteDC(dc); }
};
using DcPtr = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// A device context of aPrinter with the driver's default settings. Throws aContext and
// the system's text on failure; the printer is opened first because CreateDCW does not
// say why a name is refused, the spooler does.
DcPtr PrinterDc(const std::u16string& aPrinter, const std::u16string& aContext) {
  std::u16string printer = aPrinter;
  HANDLE opened = nullptr;
  if (!::OpenPrinterW(const_cast<wchar_t*>(Wide(printer)), &opened, nullptr)) {
    throw EQVError(aContext + LastErrorText());
  }
  ::ClosePrinter(opened);
  ::SetLastError(0);
  DcPtr dc(::CreateDCW(L"WINSPOOL", Wide(aPrinter), nullptr, nullptr));
  if (!dc) throw EQVError(aContext + LastErrorText());
  return dc;
}

// The picture's pixels laid on white paper: GDI draws colours and ignores alpha, so
// premultiplied pixels are composed over white here (a transparent pixel stays white,
// not black). 0xAARRGGBB in memory is the blue-green-red-x order of a 32-bit DIB.
std::vector<uint32_t> OverWhite(const Bitmap& aPicture) {
  std::vector<uint32_t> out(aPicture.pixels.size());
  std::transform(aPicture.pixels.begin(), aPicture.pixels.end(), out.begin(), [](uint32_t p) {
    const uint32_t blank = 255 - (p >> 24);
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      result |= std::min<uint32_t>(((p >> shift) & 0xFF) + blank, 255) << shift;
    }
    return result;
  });
  return out;
}

}  // namespace

bool SendRawJob(const std::u16string& aPrinter, const std::u16string& aDocumentName, std::string_view aBytes,
                std::u16string& aError) {
  HANDLE opened = nullptr;
  std::u16string printer = aPrinter;
  if (!::OpenPrinterW(const_cast<wchar_t*>(Wide(printer)), &opened, nullptr)) {
    aError = LastErrorText();
    return false;
  }
  PrinterPtr handle(opened);
  std::u16string name = aDocumentName;
  std::u16string datatype = u"RAW";
  DOC_INFO_1W doc{};
  doc.pDocName = const_cast<wchar_t*>(Wide(name));
  doc.pOutputFile = nullptr;
  doc.pDatatype = const_cast<wchar_t*>(Wide(datatype));
  if (::StartDocPrinterW(handle.get(), 1, reinterpret_cast<BYTE*>(&doc)) == 0) {
    aError = LastErrorText();
    return false;
  }
  bool ok = ::StartPagePrinter(handle.get()) != 0;
  while (ok && !aBytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(aBytes.size(), 1 << 20));
    DWORD written = 0;
    ok = ::WritePrinter(handle.get(), const_cast<char*>(aBytes.data()), chunk, &written) != 0 && written > 0;
    if (ok) aBytes.remove_prefix(written);
  }
  ok = ok && ::EndPagePrinter(handle.get()) != 0;
  if (!ok) {
    aError = LastErrorText();
    // Cancelled, not ended: ending the page and the document would print the bytes sent
    // so far, a receipt cut off mid-command. The spooler deletes the cancelled job's
    // spool file instead (Wine's spooler ignores the cancel and prints it all the same).
    ::AbortPrinter(handle.get());
    return false;
  }
  if (!::EndDocPrinter(handle.get())) {
    aError = LastErrorText();
    return false;
  }
  return true;
}

std::vector<std::u16string> InstalledPrinters() {
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  std::vector<std::u16string> names;
  DWORD needed = 0;
  DWORD count = 0;
  ::EnumPrintersW(flags, nullptr, 4, nullptr, 0, &needed, &count);
  // The list can grow between the two calls: ask again with the larger size.
  for (int attempt = 0; attempt < 3 && needed > 0; ++attempt) {
    std::vector<PRINTER_INFO_4W> buffer(needed / sizeof(PRINTER_INFO_4W) + 1);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(PRINTER_INFO_4W));
    if (::EnumPrintersW(flags, nullptr, 4, reinterpret_cast<BYTE*>(buffer.data()), size, &needed, &count)) {
      for (DWORD i = 0; i < count; ++i) {
        if (buffer[i].pPrinterName != nullptr) {
          names.emplace_back(reinterpret_cast<const char16_t*>(buffer[i].pPrinterName));
        }
      }
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return names;
}

PageMetrics GetPageMetrics(const std::u16string& aPrinter) {
  const DcPtr dc = PrinterDc(aPrinter, u"Cannot read the printer " + aPrinter + u": ");
  PageMetrics page;
  page.dpi_x = ::GetDeviceCaps(dc.get(), LOGPIXELSX);
  page.dpi_y = ::GetDeviceCaps(dc.get(), LOGPIXELSY);
  page.page_width = ::GetDeviceCaps(dc.get(), PHYSICALWIDTH);
  page.page_height = ::GetDeviceCaps(dc.get(), PHYSICALHEIGHT);
  page.offset_x = ::GetDeviceCaps(dc.get(), PHYSICALOFFSETX);
  page.offset_y = ::GetDeviceCaps(dc.get(), PHYSICALOFFSETY);
  page.printable_width = ::GetDeviceCaps(dc.get(), HORZRES);
  page.printable_height = ::GetDeviceCaps(dc.get(), VERTRES);
  if (page.dpi_x <= 0 || page.dpi_y <= 0 || page.page_width <= 0 || page.page_height <= 0) {
    throw EQVError(u"Printer " + aPrinter + u" has no default media");
  }
  page.media_width_points = page.page_width * 72.0 / page.dpi_x;
  page.media_height_points = page.page_height * 72.0 / page.dpi_y;
  return page;
}

void PrintPicture(const std::u16string& aPrinter, const std::u16string& aTitle, const PageMetrics& aPage,
                  const Bitmap& aPicture, const Placement& aPlace) {
  const auto refuse = [&aPrinter](const std::u16string& aText) {
    throw EQVError(u"Cannot print on " + aPrinter + u": " + aText);
  };
  if (aPicture.width < 0 || aPicture.height < 0 ||
      aPicture.pixels.size() != static_cast<size_t>(aPicture.width) * static_cast<size_t>(aPicture.height)) {
    refuse(u"the picture's pixels do not match its size");
  }
  const DcPtr dc = PrinterDc(aPrinter, u"Cannot print on " + aPrinter + u": ");
  DOCINFOW doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = Wide(aTitle);
  if (::StartDocW(dc.get(), &doc) <= 0) refuse(LastErrorText());
  bool ok = ::StartPage(dc.get()) > 0;
  if (ok && aPicture.width > 0 && aPicture.height > 0) {
    const std::vector<uint32_t> pixels = OverWhite(aPicture);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = aPicture.width;
    info.bmiHeader.biHeight = -aPicture.height;  // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetStretchBltMode(dc.get(), HALFTONE);
    ::SetBrushOrgEx(dc.get(), 0, 0, nullptr);
    // The placement is on the sheet; the device context starts at the printable area.
    const int width = aPlace.unscaled ? aPicture.width : aPlace.width;
    const int height = aPlace.unscaled ? aPicture.height : aPlace.height;
    const int lines = ::StretchDIBits(dc.get(), aPlace.left - aPage.offset_x, aPlace.top - aPage.offset_y, width,
                                      height, 0, 0, aPicture.width, aPicture.height, pixels.data(), &info,
                                      DIB_RGB_COLORS, SRCCOPY);
    ok = lines != 0 && lines != static_cast<int>(GDI_ERROR);
  }
  ok = ok && ::EndPage(dc.get()) > 0;
  if (!ok) {
    const std::u16string text = LastErrorText();
    ::AbortDoc(dc.get());
    refuse(text);
  }
  if (::EndDoc(dc.get()) <= 0) refuse(LastErrorText());
}

}  // namespace qvpa::spooler
