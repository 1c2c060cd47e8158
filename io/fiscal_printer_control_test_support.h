// The fiscal printer control under the OPOS channel's tests, one half per platform. On
// POSIX systems it is the FiscalPrinterSimulator itself. On Windows it is the platform's
// own control (CreateOposFiscalPrinterControl, COM by class identifier and IDispatch),
// served by the test server DLL built beside the tests and registered for the current
// while this object lives; that server hands each call to a FiscalPrinterSimulator
// on the same state. Either way the test plans answers and reads the calls in the state.
#ifndef QVPA_IO_FISCAL_PRINTER_CONTROL_TEST_SUPPORT_H_
#define QVPA_IO_FISCAL_PRINTER_CONTROL_TEST_SUPPORT_H_

#include <memory>
#include <string>

#include "io/fiscal_printer_simulator.h"

namespace qvpa::testing_io {

class FiscalPrinterUnderTest {
 public:
  // Throws EQVError when the Windows server cannot be loaded or registered.
  explicit FiscalPrinterUnderTest(std::shared_ptr<FiscalPrinterSimulator::State> aState);
  ~FiscalPrinterUnderTest();  // on Windows: detaches the state, removes the registration
  FiscalPrinterUnderTest(const FiscalPrinterUnderTest&) = delete;
  FiscalPrinterUnderTest& operator=(const FiscalPrinterUnderTest&) = delete;

  // A new control on the simulated printer; null when the platform created none.
  std::unique_ptr<OposFiscalPrinter> NewControl();

  // The message the channel receives when a control failure aText planned for aMember
  // (the OPOS member name: "DeviceEnabled", not "SetDeviceEnabled") reaches it.
  static std::u16string ControlFailure(const std::u16string& aMember, const std::u16string& aText);

 private:
  struct Platform;
  std::shared_ptr<FiscalPrinterSimulator::State> state_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_FISCAL_PRINTER_CONTROL_TEST_SUPPORT_H_
