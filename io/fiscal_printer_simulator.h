// FiscalPrinterSimulator: an OPOS fiscal printer control for tests. It records every
// call with its arguments, keeps the properties the channel reads and writes, and
// answers the result codes, extended codes, error strings and control failures that a
// test plans for each method.
#ifndef QVPA_IO_FISCAL_PRINTER_SIMULATOR_H_
#define QVPA_IO_FISCAL_PRINTER_SIMULATOR_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/opos_fiscal_printer.h"

namespace qvpa::testing_io {

class FiscalPrinterSimulator final : public OposFiscalPrinter {
 public:
  // What the simulated printer knows; the test keeps a handle while the channel owns
  // the control.
  struct State {
    std::u16string device_name = u"FiscalPrinter";  // the only name Open accepts
    std::vector<std::u16string> calls;               // "Method(arg,arg)" in call order
    bool opened = false, claimed = false, enabled = false;
    bool cover_open = false, day_opened = true, rec_empty = false, rec_near_end = false;
    bool training = false;
    int32_t printer_state = 1, remaining_fiscal_memory = 4000, fiscal_receipt_type = 0;
    std::u16string additional_trailer, pre_line, error_string;
    int32_t extended = 0;
    std::u16string date = u"311220231545";
    // Planned answers by method name: an OPOS result code, or a control failure.
    std::map<std::u16string, int32_t> results;
    std::map<std::u16string, std::u16string> failures;
  };

  explicit FiscalPrinterSimulator(std::shared_ptr<State> aState) : s_(std::move(aState)) {}

  int32_t Open(const std::u16string& DeviceName) override;
  int32_t ClaimDevice(int32_t Timeout) override;
  int32_t ReleaseDevice() override;
  int32_t Close() override;
  int32_t BeginFiscalReceipt(bool PrintHeader) override;
  int32_t EndFiscalReceipt(bool PrintHeader) override;
  int32_t BeginNonFiscal() override;
  int32_t EndNonFiscal() override;
  int32_t PrintNormal(int32_t Station, const std::u16string& Data) override;
  int32_t PrintRecItem(const std::u16string& Description, Currency Price, int32_t Quantity, int32_t VatInfo,
                       Currency UnitPrice, const std::u16string& UnitName) override;
  int32_t PrintRecItemVoid(const std::u16string& Description, Currency Price, int32_t Quantity,
                           int32_t VatInfo, Currency UnitPrice, const std::u16string& UnitName) override;
  int32_t PrintRecRefund(const std::u16string& Description, Currency Amount, int32_t VatInfo) override;
  int32_t PrintRecItemAdjustment(int32_t AdjustmentType, const std::u16string& Description, Currency Amount,
                                 int32_t VatInfo) override;
  int32_t PrintRecSubtotal(Currency Amount) override;
  int32_t PrintRecSubtotalAdjustment(int32_t AdjustmentType, const std::u16string& Description,
                                     Currency Amount) override;
  int32_t PrintRecTotal(Currency Total, Currency Payment, const std::u16string& Description) override;
  int32_t PrintRecNotPaid(const std::u16string& Description, Currency Amount) override;
  int32_t PrintRecMessage(const std::u16string& Message) override;
  int32_t PrintRecTaxID(const std::u16string& TaxID) override;
  int32_t ResetPrinter() override;
  int32_t PrintXReport() override;
  int32_t PrintZReport() override;
  int32_t BeginTraining() override;
  int32_t EndTraining() override;
  int32_t SetDate(const std::u16string& Date) override;
  int32_t GetDate(std::u16string& Date) override;
  int32_t GetData(int32_t DataItem, int32_t& OptArgs, std::u16string& Data) override;
  int32_t DirectIO(int32_t Command, int32_t& pData, std::u16string& pString) override;

  bool DeviceEnabled() override { return s_->enabled; }
  void SetDeviceEnabled(bool Value) override;
  int32_t ResultCodeExtended() override { return s_->extended; }
  std::u16string ErrorString() override { return s_->error_string; }
  bool CoverOpen() override { return s_->cover_open; }
  bool DayOpened() override { return s_->day_opened; }
  bool RecEmpty() override { return s_->rec_empty; }
  bool RecNearEnd() override { return s_->rec_near_end; }
  bool TrainingModeActive() override { return s_->training; }
  int32_t PrinterState() override { return s_->printer_state; }
  int32_t RemainingFiscalMemory() override { return s_->remaining_fiscal_memory; }
  std::u16string AdditionalTrailer() override { return s_->additional_trailer; }
  void SetAdditionalTrailer(const std::u16string& Value) override { s_->additional_trailer = Value; }
  void SetPreLine(const std::u16string& Value) override { s_->pre_line = Value; }
  void SetFiscalReceiptType(int32_t Value) override { s_->fiscal_receipt_type = Value; }

 private:
  // Records the call, throws a planned failure, else answers the planned code (0).
  int32_t Answer(const std::u16string& aMethod, const std::u16string& aArguments);

  std::shared_ptr<State> s_;
};

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_FISCAL_PRINTER_SIMULATOR_H_
