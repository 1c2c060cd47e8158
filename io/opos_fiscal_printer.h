// OposFiscalPrinter: the members of the OPOS Fiscal Printer control that the OPOS
// channel uses, with their OPOS meanings. Methods answer the OPOS result code (0 =
// success); a failure of the control itself (not of the printer) throws EQVError.
// CreateOposFiscalPrinterControl is the platform's half: on Windows the COM control by
// its class identifier; where no OPOS control exists it answers null.
#ifndef QVPA_IO_OPOS_FISCAL_PRINTER_H_
#define QVPA_IO_OPOS_FISCAL_PRINTER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/currency.h"

namespace qvpa {

class OposFiscalPrinter {
 public:
  virtual ~OposFiscalPrinter() = default;

  virtual int32_t Open(const std::u16string& DeviceName) = 0;
  virtual int32_t ClaimDevice(int32_t Timeout) = 0;
  virtual int32_t ReleaseDevice() = 0;
  virtual int32_t Close() = 0;
  virtual int32_t BeginFiscalReceipt(bool PrintHeader) = 0;
  virtual int32_t EndFiscalReceipt(bool PrintHeader) = 0;
  virtual int32_t BeginNonFiscal() = 0;
  virtual int32_t EndNonFiscal() = 0;
  virtual int32_t PrintNormal(int32_t Station, const std::u16string& Data) = 0;
  virtual int32_t PrintRecItem(const std::u16string& Description, Currency Price, int32_t Quantity,
                               int32_t VatInfo, Currency UnitPrice, const std::u16string& UnitName) = 0;
  virtual int32_t PrintRecItemVoid(const std::u16string& Description, Currency Price, int32_t Quantity,
                                   int32_t VatInfo, Currency UnitPrice,
                                   const std::u16string& UnitName) = 0;
  virtual int32_t PrintRecRefund(const std::u16string& Description, Currency Amount, int32_t VatInfo) = 0;
  virtual int32_t PrintRecItemAdjustment(int32_t AdjustmentType, const std::u16string& Description,
                                         Currency Amount, int32_t VatInfo) = 0;
  virtual int32_t PrintRecSubtotal(Currency Amount) = 0;
  virtual int32_t PrintRecSubtotalAdjustment(int32_t AdjustmentType, const std::u16string& Description,
                                             Currency Amount) = 0;
  virtual int32_t PrintRecTotal(Currency Total, Currency Payment, const std::u16string& Description) = 0;
  virtual int32_t PrintRecNotPaid(const std::u16string& Description, Currency Amount) = 0;
  virtual int32_t PrintRecMessage(const std::u16string& Message) = 0;
  virtual int32_t PrintRecTaxID(const std::u16string& TaxID) = 0;
  virtual int32_t ResetPrinter() = 0;
  virtual int32_t PrintXReport() = 0;
  virtual int32_t PrintZReport() = 0;
  virtual int32_t BeginTraining() = 0;
  virtual int32_t EndTraining() = 0;
  virtual int32_t SetDate(const std::u16string& Date) = 0;
  virtual int32_t GetDate(std::u16string& Date) = 0;
  virtual int32_t GetData(int32_t DataItem, int32_t& OptArgs, std::u16string& Data) = 0;
  virtual int32_t DirectIO(int32_t Command, int32_t& pData, std::u16string& pString) = 0;

  virtual bool DeviceEnabled() = 0;
  virtual void SetDeviceEnabled(bool Value) = 0;
  virtual int32_t ResultCodeExtended() = 0;
  virtual std::u16string ErrorString() = 0;
  virtual bool CoverOpen() = 0;
  virtual bool DayOpened() = 0;
  virtual bool RecEmpty() = 0;
  virtual bool RecNearEnd() = 0;
  virtual bool TrainingModeActive() = 0;
  virtual int32_t PrinterState() = 0;
  virtual int32_t RemainingFiscalMemory() = 0;
  virtual std::u16string AdditionalTrailer() = 0;
  virtual void SetAdditionalTrailer(const std::u16string& Value) = 0;
  virtual void SetPreLine(const std::u16string& Value) = 0;
  virtual void SetFiscalReceiptType(int32_t Value) = 0;
};

// A new instance of the platform's OPOS Fiscal Printer control; null where the platform
// has none.
std::unique_ptr<OposFiscalPrinter> CreateOposFiscalPrinterControl();

}  // namespace qvpa

#endif  // QVPA_IO_OPOS_FISCAL_PRINTER_H_
