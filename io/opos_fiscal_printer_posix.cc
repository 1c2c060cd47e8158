#include "io/opos_fiscal_printer.h"

namespace qvpa {

// OPOS controls are COM objects; POSIX systems have none.
std::unique_ptr<OposFiscalPrinter> CreateOposFiscalPrinterControl() { return nullptr; }

}  // namespace qvpa
