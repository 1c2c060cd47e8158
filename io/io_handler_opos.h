// kIOHandler_OPOS: a fiscal printer through an OPOS Fiscal Printer control. Every
// operation logs the OPOS call with its arguments, calls the control and turns the
// result code into a Boolean and the error state (never an exception). Failures of the
// control itself are caught in Connect and Disconnect and reach the caller elsewhere;
// without a control (no OPOS on the platform) every use reports that as such a failure.
// The byte-stream operations throw their "... Unsupported" errors.
#ifndef QVPA_IO_IO_HANDLER_OPOS_H_
#define QVPA_IO_IO_HANDLER_OPOS_H_

#include <memory>
#include <string>

#include "base/currency.h"
#include "base/date_time.h"
#include "io/io_handler.h"
#include "io/opos_fiscal_printer.h"

namespace qvpa {

class kIOHandler_OPOS final : public kIOHandler {
 public:
  // With the platform's control (CreateOposFiscalPrinterControl).
  kIOHandler_OPOS(const kConnection& aConnection, const std::u16string& aDirectory,
                  const std::u16string& aFileName);
  // With a given control (null: none).
  kIOHandler_OPOS(const kConnection& aConnection, const std::u16string& aDirectory,
                  const std::u16string& aFileName, std::unique_ptr<OposFiscalPrinter> aControl);
  ~kIOHandler_OPOS() override;  // disconnects when connected, then releases the control

  std::u16string ClassName() const override { return u"kIOHandler_OPOS"; }

  bool GetConnected() override { return fConnected; }
  // Open, claim (ConnectTimeout ms) and enable; true when the device is usable.
  bool Connect() override;
  // Disable, release and close.
  bool Disconnect() override;
  void ClearBuffers() override {}
  bool Write(const std::u16string& aMessage) override;  // throws "Write Unsupported"
  std::u16string ReadUpTo(std::span<const uint8_t> aChars) override;
  std::u16string ReadChars(int32_t aCharsNum) override;
  std::u16string ReadAll() override;
  std::u16string DecodeError(int32_t) override { return {}; }
  bool InputBufferContainsData() override;
  void SetParameter(const std::u16string&, const std::u16string&) override {}

  bool BeginFiscalReceipt();
  bool EndFiscalReceipt();
  bool BeginNonFiscal();
  bool EndNonFiscal();
  bool PrintNormal(const std::u16string& aText);
  // aCode is accepted and not used; the quantity goes to the printer in thousandths.
  bool PrintRecItem(const std::u16string& aCode, const std::u16string& aDescription, Currency aQuantity,
                    const std::u16string& aUOM, int32_t aVatCode, Currency aPrice, Currency aAmount);
  bool PrintRecItemVoid(const std::u16string& aCode, const std::u16string& aDescription,
                        Currency aQuantity, const std::u16string& aUOM, int32_t aVatCode,
                        Currency aPrice, Currency aAmount);
  bool PrintRecRefund(const std::u16string& aCode, const std::u16string& aDescription, Currency aQuantity,
                      const std::u16string& aUOM, int32_t aVatCode, Currency aPrice, Currency aAmount);
  bool PrintRecItemAdjustment(int32_t aAdjType, const std::u16string& aDescription, Currency aAmount,
                              int32_t aVatCode);
  bool PrintRecSubtotal(Currency aAmount);
  bool PrintRecSubtotalAdjustment(int32_t aAdjType, const std::u16string& aDescription, Currency aAmount);
  bool PrintRecTotal(Currency aTotalAmount, Currency aPaymentAmount, const std::u16string& aDescription);
  bool PrintRecNotPaid(Currency aAmount, const std::u16string& aDescription);
  bool PrintRecMessage(const std::u16string& aText);
  bool PrintRecTaxid(const std::u16string& aTaxId);
  bool ResetPrinter();
  bool PrintXReport();
  bool PrintZReport();
  bool BeginTraining();
  bool EndTraining();
  bool SetDate(TDateTime aDateTime);

  bool GetCoverOpen(bool& aResult);
  bool GetDayOpened(bool& aResult);
  bool GetRecEmpty(bool& aResult);
  bool GetRecNearEnd(bool& aResult);
  bool GetTrainingModeActive(bool& aResult);
  bool PrinterState(int32_t& aPrinterState);
  bool RemainingFiscalMemory(int32_t& aRemainingFiscalMemory);

  bool SetFiscalReceiptType(int32_t aReceiptType);
  bool SetPreLine(const std::u16string& aDescription);
  bool SetAdditionalTrailerLine(const std::u16string& aDescription, bool aClear);

  // The printer's date and time (ddmmyyyyhhnn); on failure the current time and false.
  bool GetDate(TDateTime& aDate);
  bool GetData(int32_t aDataItem, int32_t aOptArgs, std::u16string& aOutput);
  bool DirectIO(int32_t aCommand, int32_t& aData, std::u16string& aString);

  const std::u16string& DeviceName() const { return fDeviceName; }
  void SetDeviceName(std::u16string v) { fDeviceName = std::move(v); }

  // "[code] NAME" (+ " [extended] NAME") + " - " + the control's error string.
  std::u16string ResultCodeText(int32_t aCode, int32_t aExtended);

 private:
  // The control, or EQVError when the platform has none.
  OposFiscalPrinter& Control();
  // Records the outcome of an OPOS call in the error state; true for success.
  bool CheckResult(int32_t aCode);
  // The two log lines around reading one Boolean property.
  bool ReadFlag(const char16_t* aFirst, const char16_t* aSecond, bool (OposFiscalPrinter::*aRead)(),
                bool& aResult);

  std::unique_ptr<OposFiscalPrinter> fOPOS;
  std::u16string fDeviceName;
  bool fConnected = false;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_OPOS_H_
