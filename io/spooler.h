// The print spooler as the spooler channel needs it. One implementation per platform
// (spooler_posix.cc on CUPS with cairo; Windows: winspool and GDI).
#ifndef QVPA_IO_SPOOLER_H_
#define QVPA_IO_SPOOLER_H_

#include <string>
#include <string_view>
#include <vector>

#include "io/bitmap.h"
#include "io/spool_placement.h"

namespace qvpa::spooler {

// Sends aBytes to aPrinter unchanged as one raw job named aDocumentName. False when the
// spooler refuses, with its message in aError.
bool SendRawJob(const std::u16string& aPrinter, const std::u16string& aDocumentName,
                std::string_view aBytes, std::u16string& aError);

// Names of the installed printers.
std::vector<std::u16string> InstalledPrinters();

// The page of aPrinter's default media at its default resolution. Throws EQVError.
PageMetrics GetPageMetrics(const std::u16string& aPrinter);

// Prints aPicture on one page of aPage as a job titled aTitle, in the rectangle of
// aPlace (device pixels). Throws EQVError when the printing system refuses.
void PrintPicture(const std::u16string& aPrinter, const std::u16string& aTitle, const PageMetrics& aPage,
                  const Bitmap& aPicture, const Placement& aPlace);

}  // namespace qvpa::spooler

#endif  // QVPA_IO_SPOOLER_H_
