#include "io/fiscal_printer_control_test_support.h"

namespace qvpa::testing_io {

struct FiscalPrinterUnderTest::Platform {};

FiscalPrinterUnderTest::FiscalPrinterUnderTest(std::shared_ptr<FiscalPrinterSimulator::State> aState)
    : state_(std::move(aState)) {}

FiscalPrinterUnderTest::~FiscalPrinterUnderTest() = default;

std::unique_ptr<OposFiscalPrinter> FiscalPrinterUnderTest::NewControl() {
  return std::make_unique<FiscalPrinterSimulator>(state_);
}

// The simulator's failures reach the channel as they were thrown.
std::u16string FiscalPrinterUnderTest::ControlFailure(const std::u16string&, const std::u16string& aText) {
  return aText;
}

}  // namespace qvpa::testing_io
