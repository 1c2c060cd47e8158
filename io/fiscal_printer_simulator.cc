#include "io/fiscal_printer_simulator.h"

#include "base/error.h"
#include "base/text.h"

namespace qvpa::testing_io {

namespace {

std::u16string I(int64_t v) { return IntToStr(v); }
std::u16string C(Currency v) { return v.ToText(); }
std::u16string B(bool v) { return v ? u"true" : u"false"; }

constexpr int32_t kIllegal = 106;
constexpr int32_t kNoExist = 109;
constexpr int32_t kNotClaimed = 103;

}  // namespace

int32_t FiscalPrinterSimulator::Answer(const std::u16string& aMethod, const std::u16string& aArguments) {
  s_->calls.push_back(aMethod + u"(" + aArguments + u")");
  if (auto f = s_->failures.find(aMethod); f != s_->failures.end()) throw EQVError(f->second);
  if (auto r = s_->results.find(aMethod); r != s_->results.end()) return r->second;
  return 0;
}

int32_t FiscalPrinterSimulator::Open(const std::u16string& DeviceName) {
  int32_t code = Answer(u"Open", DeviceName);
  if (code == 0 && DeviceName != s_->device_name) {
    s_->error_string = u"Device " + DeviceName + u" not found";
    code = kNoExist;
  }
  s_->opened = code == 0;
  return code;
}

int32_t FiscalPrinterSimulator::ClaimDevice(int32_t Timeout) {
  int32_t code = Answer(u"ClaimDevice", I(Timeout));
  if (code == 0 && !s_->opened) code = kIllegal;
  s_->claimed = code == 0;
  return code;
}

int32_t FiscalPrinterSimulator::ReleaseDevice() {
  int32_t code = Answer(u"ReleaseDevice", u"");
  if (code == 0 && !s_->claimed) code = kIllegal;
  if (code == 0) s_->claimed = false;
  return code;
}

int32_t FiscalPrinterSimulator::Close() {
  const int32_t code = Answer(u"Close", u"");
  if (code == 0) s_->opened = false;
  return code;
}

void FiscalPrinterSimulator::SetDeviceEnabled(bool Value) {
  Answer(u"SetDeviceEnabled", B(Value));
  // A device that is not claimed cannot be enabled.
  s_->enabled = Value && s_->claimed;
}

int32_t FiscalPrinterSimulator::BeginFiscalReceipt(bool PrintHeader) {
  return Answer(u"BeginFiscalReceipt", B(PrintHeader));
}
int32_t FiscalPrinterSimulator::EndFiscalReceipt(bool PrintHeader) {
  return Answer(u"EndFiscalReceipt", B(PrintHeader));
}
int32_t FiscalPrinterSimulator::BeginNonFiscal() { return Answer(u"BeginNonFiscal", u""); }
int32_t FiscalPrinterSimulator::EndNonFiscal() { return Answer(u"EndNonFiscal", u""); }
int32_t FiscalPrinterSimulator::PrintNormal(int32_t Station, const std::u16string& Data) {
  return Answer(u"PrintNormal", I(Station) + u"," + Data);
}
int32_t FiscalPrinterSimulator::PrintRecItem(const std::u16string& Description, Currency Price,
                                             int32_t Quantity, int32_t VatInfo, Currency UnitPrice,
                                             const std::u16string& UnitName) {
  return Answer(u"PrintRecItem", Description + u"," + C(Price) + u"," + I(Quantity) + u"," + I(VatInfo) +
                                     u"," + C(UnitPrice) + u"," + UnitName);
}
int32_t FiscalPrinterSimulator::PrintRecItemVoid(const std::u16string& Description, Currency Price,
                                                 int32_t Quantity, int32_t VatInfo, Currency UnitPrice,
                                                 const std::u16string& UnitName) {
  return Answer(u"PrintRecItemVoid", Description + u"," + C(Price) + u"," + I(Quantity) + u"," +
                                         I(VatInfo) + u"," + C(UnitPrice) + u"," + UnitName);
}
int32_t FiscalPrinterSimulator::PrintRecRefund(const std::u16string& Description, Currency Amount,
                                               int32_t VatInfo) {
  return Answer(u"PrintRecRefund", Description + u"," + C(Amount) + u"," + I(VatInfo));
}
int32_t FiscalPrinterSimulator::PrintRecItemAdjustment(int32_t AdjustmentType, const std::u16string& Description,
                                                       Currency Amount, int32_t VatInfo) {
  return Answer(u"PrintRecItemAdjustment",
                I(AdjustmentType) + u"," + Description + u"," + C(Amount) + u"," + I(VatInfo));
}
int32_t FiscalPrinterSimulator::PrintRecSubtotal(Currency Amount) {
  return Answer(u"PrintRecSubtotal", C(Amount));
}
int32_t FiscalPrinterSimulator::PrintRecSubtotalAdjustment(int32_t AdjustmentType,
                                                           const std::u16string& Description, Currency Amount) {
  return Answer(u"PrintRecSubtotalAdjustment", I(AdjustmentType) + u"," + Description + u"," + C(Amount));
}
int32_t FiscalPrinterSimulator::PrintRecTotal(Currency Total, Currency Payment,
                                              const std::u16string& Description) {
  return Answer(u"PrintRecTotal", C(Total) + u"," + C(Payment) + u"," + Description);
}
int32_t FiscalPrinterSimulator::PrintRecNotPaid(const std::u16string& Description, Currency Amount) {
  return Answer(u"PrintRecNotPaid", Description + u"," + C(Amount));
}
int32_t FiscalPrinterSimulator::PrintRecMessage(const std::u16string& Message) {
  return Answer(u"PrintRecMessage", Message);
}
int32_t FiscalPrinterSimulator::PrintRecTaxID(const std::u16string& TaxID) {
  return Answer(u"PrintRecTaxID", TaxID);
}
int32_t FiscalPrinterSimulator::ResetPrinter() { return Answer(u"ResetPrinter", u""); }
int32_t FiscalPrinterSimulator::PrintXReport() { return Answer(u"PrintXReport", u""); }
int32_t FiscalPrinterSimulator::PrintZReport() { return Answer(u"PrintZReport", u""); }
int32_t FiscalPrinterSimulator::BeginTraining() {
  const int32_t code = Answer(u"BeginTraining", u"");
  if (code == 0) s_->training = true;
  return code;
}
int32_t FiscalPrinterSimulator::EndTraining() {
  const int32_t code = Answer(u"EndTraining", u"");
  if (code == 0) s_->training = false;
  return code;
}
int32_t FiscalPrinterSimulator::SetDate(const std::u16string& Date) {
  const int32_t code = Answer(u"SetDate", Date);
  if (code == 0) s_->date = Date;
  return code;
}
int32_t FiscalPrinterSimulator::GetDate(std::u16string& Date) {
  const int32_t code = Answer(u"GetDate", u"");
  if (code == 0) Date = s_->date;
  return code;
}
int32_t FiscalPrinterSimulator::GetData(int32_t DataItem, int32_t& OptArgs, std::u16string& Data) {
  const int32_t code = Answer(u"GetData", I(DataItem) + u"," + I(OptArgs));
  if (code == 0) Data = u"DATA" + I(DataItem);
  return code;
}
int32_t FiscalPrinterSimulator::DirectIO(int32_t Command, int32_t& pData, std::u16string& pString) {
  const int32_t code = Answer(u"DirectIO", I(Command) + u"," + I(pData) + u"," + pString);
  // The vendor command echoes its text reversed and counts it.
  pString = std::u16string(pString.rbegin(), pString.rend());
  pData = static_cast<int32_t>(pString.size());
  return code;
}

}  // namespace qvpa::testing_io
