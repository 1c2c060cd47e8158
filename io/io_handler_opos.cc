#include "io/io_handler_opos.h"

#include <cmath>
#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {

namespace {

constexpr int32_t kOposExtended = 114;

constexpr const char16_t* kResultNames[] = {
    u"OPOS_E_CLOSED",     u"OPOS_E_CLAIMED",  u"OPOS_E_NOTCLAIMED", u"OPOS_E_NOSERVICE",
    u"OPOS_E_DISABLED",   u"OPOS_E_ILLEGAL",  u"OPOS_E_NOHARDWARE", u"OPOS_E_OFFLINE",
    u"OPOS_E_NOEXIST",    u"OPOS_E_EXISTS",   u"OPOS_E_FAILURE",    u"OPOS_E_TIMEOUT",
    u"OPOS_E_BUSY",       u"OPOS_E_EXTENDED", u"OPOS_E_DEPRECATED"};  // 101 to 115

constexpr const char16_t* kExtendedNames[] = {
    u"OPOS_EFPTR_COVER_OPEN",          u"OPOS_EFPTR_JRN_EMPTY",
    u"OPOS_EFPTR_REC_EMPTY",           u"OPOS_EFPTR_SLP_EMPTY",
    u"OPOS_EFPTR_SLP_FORM",            u"OPOS_EFPTR_MISSING_DEVICES",
    u"OPOS_EFPTR_WRONG_STATE",         u"OPOS_EFPTR_TECHNICAL_ASSISTANCE",
    u"OPOS_EFPTR_CLOCK_ERROR",         u"OPOS_EFPTR_FISCAL_MEMORY_FULL",
    u"OPOS_EFPTR_FISCAL_MEMORY_DISCONNECTED", u"OPOS_EFPTR_FISCAL_TOTALS_ERROR",
    u"OPOS_EFPTR_BAD_ITEM_QUANTITY",   u"OPOS_EFPTR_BAD_ITEM_AMOUNT",
    u"OPOS_EFPTR_BAD_ITEM_DESCRIPTION", u"OPOS_EFPTR_RECEIPT_TOTAL_OVERFLOW",
    u"OPOS_EFPTR_BAD_VAT",             u"OPOS_EFPTR_BAD_PRICE",
    u"OPOS_EFPTR_BAD_DATE",            u"OPOS_EFPTR_NEGATIVE_TOTAL",
    u"OPOS_EFPTR_WORD_NOT_ALLOWED",    u"OPOS_EFPTR_BAD_LENGTH",
    u"OPOS_EFPTR_MISSING_SET_CURRENCY", u"OPOS_EFPTR_DAY_END_REQUIRED"};  // 201 to 224

// x in single quotes, inner quotes doubled.
std::u16string Q(const std::u16string& x) { return u"'" + ReplaceAll(x, u"'", u"''") + u"'"; }
std::u16string C(Currency x) { return kIOHandler::CurrencyToText(x); }
std::u16string I(int64_t x) { return IntToStr(x); }
std::u16string B(bool x) { return x ? u"True" : u"False"; }

// raw / divisor rounded to the nearest integer, ties to even.
int64_t RoundDiv(int64_t raw, int64_t divisor) {
  int64_t quotient = raw / divisor;
  const int64_t rest = raw % divisor;
  const int64_t twice = 2 * (rest < 0 ? -rest : rest);
  if (twice > divisor || (twice == divisor && quotient % 2 != 0)) quotient += raw < 0 ? -1 : 1;
  return quotient;
}

std::u16string TwoDigits(int v) { return (v < 10 ? u"0" : u"") + IntToStr(v); }

constexpr char16_t kNoControl[] = u"OPOS Fiscal Printer control is not available on this platform";

}  // namespace

kIOHandler_OPOS::kIOHandler_OPOS(const kConnection& aConnection, const std::u16string& aDirectory,
                                 const std::u16string& aFileName)
    : kIOHandler_OPOS(aConnection, aDirectory, aFileName, CreateOposFiscalPrinterControl()) {}

kIOHandler_OPOS::kIOHandler_OPOS(const kConnection& aConnection, const std::u16string& aDirectory,
                                 const std::u16string& aFileName,
                                 std::unique_ptr<OposFiscalPrinter> aControl)
    : kIOHandler(&aConnection, aDirectory, aFileName),
      fOPOS(std::move(aControl)),
      fDeviceName(aConnection.DeviceName()) {}

kIOHandler_OPOS::~kIOHandler_OPOS() {
  try {
    if (fConnected) Disconnect();
  } catch (...) {
    // A destructor must not throw; the control is released all the same.
  }
  fOPOS.reset();
}

OposFiscalPrinter& kIOHandler_OPOS::Control() {
  if (!fOPOS) throw EQVError(kNoControl);
  return *fOPOS;
}

std::u16string kIOHandler_OPOS::ResultCodeText(int32_t aCode, int32_t aExtended) {
  if (aCode == 0) return {};
  std::u16string text = u"[" + I(aCode) + u"] ";
  text += aCode >= 101 && aCode <= 115 ? kResultNames[aCode - 101] : u"UNKNOWN";
  if (aExtended != 0) {
    text += u" [" + I(aExtended) + u"] ";
    text += aExtended >= 201 && aExtended <= 224 ? kExtendedNames[aExtended - 201] : u"UNKNOWN";
  }
  return text + u" - " + Control().ErrorString();
}

bool kIOHandler_OPOS::CheckResult(int32_t aCode) {
  ResetCustomError();
  if (aCode == 0) return true;
  const int32_t extended = aCode == kOposExtended ? Control().ResultCodeExtended() : 0;
  const std::u16string text = ResultCodeText(aCode, extended);
  Debug(tQV_MessageType::let_error, text);
  SetCustomError(aCode, text);
  return false;
}

bool kIOHandler_OPOS::Connect() {
  kIOHandler::Connect();
  Debug(tQV_MessageType::let_info, u"DeviceName=" + fDeviceName);
  try {
    if (fConnected) Disconnect();
    OposFiscalPrinter& control = Control();
    Debug(tQV_MessageType::let_info, u"[Connect]->Open(" + fDeviceName + u")");
    bool result = CheckResult(control.Open(fDeviceName));
    if (result) {
      Debug(tQV_MessageType::let_info, u"[Connect]->ClaimDevice(" + I(ConnectTimeout()) + u")");
      result = CheckResult(control.ClaimDevice(ConnectTimeout()));
    }
    if (result) {
      Debug(tQV_MessageType::let_info, u"[Connect]->DeviceEnabled:=true");
      control.SetDeviceEnabled(true);
      result = control.DeviceEnabled();
    }
    fConnected = true;
    return result;
  } catch (const EQVError& e) {
    Debug(tQV_MessageType::let_error, u"[Connect]:" + e.Message());
    return false;
  }
}

bool kIOHandler_OPOS::Disconnect() {
  try {
    OposFiscalPrinter& control = Control();
    Debug(tQV_MessageType::let_info, u"[Disconnect]->DeviceEnabled:=false");
    control.SetDeviceEnabled(false);
    bool result = false;
    if (!control.DeviceEnabled()) {
      Debug(tQV_MessageType::let_info, u"[Disconnect]->ReleaseDevice");
      result = CheckResult(control.ReleaseDevice());
      if (result) {
        Debug(tQV_MessageType::let_info, u"[Disconnect]->Close");
        result = CheckResult(control.Close());
      }
    }
    fConnected = false;
    return result;
  } catch (const EQVError& e) {
    Debug(tQV_MessageType::let_error, u"[Disconnect]:" + e.Message());
    return false;
  }
}

bool kIOHandler_OPOS::Write(const std::u16string&) { throw EQVError(u"Write Unsupported"); }
std::u16string kIOHandler_OPOS::ReadUpTo(std::span<const uint8_t>) {
  throw EQVError(u"ReadUpto Unsupported");
}
std::u16string kIOHandler_OPOS::ReadChars(int32_t) { throw EQVError(u"ReadChars Unsupported"); }
std::u16string kIOHandler_OPOS::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }
bool kIOHandler_OPOS::InputBufferContainsData() {
  throw EQVError(u"InputBufferContainsData Unsupported");
}

bool kIOHandler_OPOS::BeginFiscalReceipt() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[BeginFiscalReceipt]->BeginFiscalReceipt(true)");
  return CheckResult(control.BeginFiscalReceipt(true));
}

bool kIOHandler_OPOS::EndFiscalReceipt() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[EndFiscalReceipt]->EndFiscalReceipt(false)");
  return CheckResult(control.EndFiscalReceipt(false));
}

bool kIOHandler_OPOS::BeginNonFiscal() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[BeginNonFiscal]->BeginNonFiscal");
  return CheckResult(control.BeginNonFiscal());
}

bool kIOHandler_OPOS::EndNonFiscal() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[EndNonFiscal]->EndNonFiscal");
  return CheckResult(control.EndNonFiscal());
}

bool kIOHandler_OPOS::PrintNormal(const std::u16string& aText) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintNormal]->PrintNormal(2," + Q(aText) + u")");
  return CheckResult(control.PrintNormal(2, aText));
}

bool kIOHandler_OPOS::PrintRecItem(const std::u16string&, const std::u16string& aDescription,
                                   Currency aQuantity, const std::u16string& aUOM, int32_t aVatCode,
                                   Currency aPrice, Currency aAmount) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecItem]->PrintRecItem(" + Q(aDescription) + u"," + C(aAmount) +
                                       u"," + I(RoundDiv(aQuantity.Raw(), 10000)) + u"," + I(aVatCode) +
                                       u"," + C(aPrice) + u"," + Q(aUOM) + u")");
  return CheckResult(control.PrintRecItem(aDescription, aAmount,
                                          static_cast<int32_t>(RoundDiv(aQuantity.Raw(), 10)), aVatCode,
                                          aPrice, aUOM));
}

bool kIOHandler_OPOS::PrintRecItemVoid(const std::u16string&, const std::u16string& aDescription,
                                       Currency aQuantity, const std::u16string& aUOM, int32_t aVatCode,
                                       Currency aPrice, Currency aAmount) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecItemVoid]->PrintRecItemVoid(" + Q(aDescription) + u"," +
                                       C(aAmount) + u"," + I(aVatCode) + u"," + C(aPrice) + u"," +
                                       Q(aUOM) + u")");
  return CheckResult(control.PrintRecItemVoid(aDescription, aAmount,
                                              static_cast<int32_t>(RoundDiv(aQuantity.Raw(), 10)),
                                              aVatCode, aPrice, aUOM));
}

bool kIOHandler_OPOS::PrintRecRefund(const std::u16string&, const std::u16string& aDescription, Currency,
                                     const std::u16string&, int32_t aVatCode, Currency, Currency aAmount) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecRefund]->PrintRecRefund(" + Q(aDescription) + u"," +
                                       C(aAmount) + u"," + I(aVatCode) + u")");
  return CheckResult(control.PrintRecRefund(aDescription, aAmount, aVatCode));
}

bool kIOHandler_OPOS::PrintRecItemAdjustment(int32_t aAdjType, const std::u16string& aDescription,
                                             Currency aAmount, int32_t aVatCode) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecItemAdjustment]->PrintRecItemAdjustment(" + I(aAdjType) +
                                       u"," + Q(aDescription) + u"," + C(aAmount) + u"," + I(aVatCode) +
                                       u")");
  return CheckResult(control.PrintRecItemAdjustment(aAdjType, aDescription, aAmount, aVatCode));
}

bool kIOHandler_OPOS::PrintRecSubtotal(Currency aAmount) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecSubtotal]->PrintRecSubTotal(" + C(aAmount) + u")");
  return CheckResult(control.PrintRecSubtotal(aAmount));
}

bool kIOHandler_OPOS::PrintRecSubtotalAdjustment(int32_t aAdjType, const std::u16string& aDescription,
                                                 Currency aAmount) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecSubtotalAdjustment]->PrintRecSubtotalAdjustment(" +
                                       I(aAdjType) + u"," + Q(aDescription) + u"," + C(aAmount) + u")");
  return CheckResult(control.PrintRecSubtotalAdjustment(aAdjType, aDescription, aAmount));
}

bool kIOHandler_OPOS::PrintRecTotal(Currency aTotalAmount, Currency aPaymentAmount,
                                    const std::u16string& aDescription) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecTotal]->PrintRecTotal(" + C(aTotalAmount) + u"," +
                                       C(aPaymentAmount) + u"," + Q(aDescription) + u")");
  return CheckResult(control.PrintRecTotal(aTotalAmount, aPaymentAmount, aDescription));
}

bool kIOHandler_OPOS::PrintRecNotPaid(Currency aAmount, const std::u16string& aDescription) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info,
        u"[PrintRecNotPaid]->PrintRecNotPaid(" + Q(aDescription) + u"," + C(aAmount) + u")");
  return CheckResult(control.PrintRecNotPaid(aDescription, aAmount));
}

bool kIOHandler_OPOS::PrintRecMessage(const std::u16string& aText) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecMessage]->PrintRecMessage(" + Q(aText) + u")");
  return CheckResult(control.PrintRecMessage(aText));
}

bool kIOHandler_OPOS::PrintRecTaxid(const std::u16string& aTaxId) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintRecTaxid]->PrintRecTaxid(" + Q(aTaxId) + u")");
  return CheckResult(control.PrintRecTaxID(aTaxId));
}

bool kIOHandler_OPOS::ResetPrinter() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[ResetPrinter]->ResetPrinter");
  return CheckResult(control.ResetPrinter());
}

bool kIOHandler_OPOS::PrintXReport() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintXReport]->PrintXReport");
  return CheckResult(control.PrintXReport());
}

bool kIOHandler_OPOS::PrintZReport() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrintZReport]->PrintZReport");
  return CheckResult(control.PrintZReport());
}

bool kIOHandler_OPOS::BeginTraining() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[BeginTraining]->BeginTraining");
  return CheckResult(control.BeginTraining());
}

bool kIOHandler_OPOS::EndTraining() {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[EndTraining]->EndTraining");
  return CheckResult(control.EndTraining());
}

bool kIOHandler_OPOS::SetDate(TDateTime aDateTime) {
  OposFiscalPrinter& control = Control();
  const DateTimeParts p = DecodeDateTime(aDateTime);
  const std::u16string text = TwoDigits(p.day) + TwoDigits(p.month) + IntToStr(p.year) +
                              TwoDigits(p.hour) + TwoDigits(p.minute);
  Debug(tQV_MessageType::let_info, u"[SetDate]->SetDate(" + Q(text) + u")");
  return CheckResult(control.SetDate(text));
}

bool kIOHandler_OPOS::ReadFlag(const char16_t* aFirst, const char16_t* aSecond,
                               bool (OposFiscalPrinter::*aRead)(), bool& aResult) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, aFirst);
  aResult = (control.*aRead)();
  Debug(tQV_MessageType::let_info, aSecond + B(aResult));
  return true;
}

bool kIOHandler_OPOS::GetCoverOpen(bool& aResult) {
  return ReadFlag(u"[GetCoverOpen]->CoverOpen(aResult)", u"[GetCoverOpen]->CoverOpen=",
                  &OposFiscalPrinter::CoverOpen, aResult);
}

bool kIOHandler_OPOS::GetDayOpened(bool& aResult) {
  return ReadFlag(u"[GetDayOpened]->DayOpened(aResult)", u"[GetDayOpened]->aResult=",
                  &OposFiscalPrinter::DayOpened, aResult);
}

bool kIOHandler_OPOS::GetRecEmpty(bool& aResult) {
  return ReadFlag(u"[GetRecEmpty]->RecEmpty(aResult)", u"[GetRecEmpty]->aResult=",
                  &OposFiscalPrinter::RecEmpty, aResult);
}

bool kIOHandler_OPOS::GetRecNearEnd(bool& aResult) {
  return ReadFlag(u"[GetRecNearEmpty]->RecNearEmpty(aResult)", u"[GetRecNearEmpty]->aResult=",
                  &OposFiscalPrinter::RecNearEnd, aResult);
}

bool kIOHandler_OPOS::GetTrainingModeActive(bool& aResult) {
  return ReadFlag(u"[GetTrainingModeActive]->TrainingModeActive(aResult)",
                  u"[GetTrainingModeActive]->aResult=", &OposFiscalPrinter::TrainingModeActive, aResult);
}

bool kIOHandler_OPOS::PrinterState(int32_t& aPrinterState) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[PrinterState]->PrinterState(aPrinterState)");
  aPrinterState = control.PrinterState();
  Debug(tQV_MessageType::let_info, u"[PrinterState]->aPrinterState=" + I(aPrinterState));
  return true;
}

bool kIOHandler_OPOS::RemainingFiscalMemory(int32_t& aRemainingFiscalMemory) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[RemainingFiscalMemory]->RemainingFiscalMemory(aRemainingFiscalMemory)");
  aRemainingFiscalMemory = control.RemainingFiscalMemory();
  Debug(tQV_MessageType::let_info,
        u"[RemainingFiscalMemory]->aRemainingFiscalMemory=" + I(aRemainingFiscalMemory));
  return true;
}

bool kIOHandler_OPOS::SetFiscalReceiptType(int32_t aReceiptType) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[SetFiscalReceiptType]->FiscalReceiptType=" + I(aReceiptType));
  control.SetFiscalReceiptType(aReceiptType);
  return true;
}

bool kIOHandler_OPOS::SetPreLine(const std::u16string& aDescription) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[SetPreLine]->PreLine=" + Q(aDescription));
  control.SetPreLine(aDescription);
  return true;
}

bool kIOHandler_OPOS::SetAdditionalTrailerLine(const std::u16string& aDescription, bool aClear) {
  OposFiscalPrinter& control = Control();
  if (aClear) {
    Debug(tQV_MessageType::let_info, u"[SetAdditionalTrailerLine]->AdditionalTrailer=" + Q(aDescription));
    control.SetAdditionalTrailer(aDescription);
  } else {
    Debug(tQV_MessageType::let_info, u"[SetAdditionalTrailerLine]->AdditionalTrailer=+" + Q(aDescription));
    control.SetAdditionalTrailer(control.AdditionalTrailer() + aDescription + u"\r\n");
  }
  return true;
}

bool kIOHandler_OPOS::GetDate(TDateTime& aDate) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[GetDate]->GetDate");
  std::u16string text;
  if (!CheckResult(control.GetDate(text))) {
    aDate = Now();
    return false;
  }
  Debug(tQV_MessageType::let_info, u"[GetDate]->aDate=" + text);
  // ddmmyyyyhhnn; a text the printer should never give is refused, not guessed at.
  int32_t day = 0, month = 0, year = 0, hour = 0, minute = 0;
  std::optional<TDateTime> decoded;
  if (text.size() >= 12 && TryStrToInt(text.substr(0, 2), day) && TryStrToInt(text.substr(2, 2), month) &&
      TryStrToInt(text.substr(4, 4), year) && TryStrToInt(text.substr(8, 2), hour) &&
      TryStrToInt(text.substr(10, 2), minute)) {
    decoded = TryEncodeDateTime(year, month, day, hour, minute, 0, 0);
  }
  if (!decoded) {
    const std::u16string message = u"[GetDate]:Invalid printer date " + Q(text);
    Debug(tQV_MessageType::let_error, message);
    SetCustomError(0, message);
    aDate = Now();
    return false;
  }
  aDate = *decoded;
  return true;
}

bool kIOHandler_OPOS::GetData(int32_t aDataItem, int32_t aOptArgs, std::u16string& aOutput) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info, u"[GetData]->GetData(" + I(aDataItem) + u"," + I(aOptArgs) + u",aOutput)");
  int32_t opt_args = aOptArgs;
  std::u16string data;
  const bool result = CheckResult(control.GetData(aDataItem, opt_args, data));
  if (result) Debug(tQV_MessageType::let_info, u"[GetData]->aOutput=" + data);
  aOutput = result ? data : std::u16string();
  return result;
}

bool kIOHandler_OPOS::DirectIO(int32_t aCommand, int32_t& aData, std::u16string& aString) {
  OposFiscalPrinter& control = Control();
  Debug(tQV_MessageType::let_info,
        u"[DirectIO]->DirectIO(" + I(aCommand) + u"," + I(aData) + u"," + Q(aString) + u")");
  const bool result = CheckResult(control.DirectIO(aCommand, aData, aString));
  Debug(tQV_MessageType::let_info, u"[DirectIO]->Output(Data:=" + I(aData) + u", Obj:=" + Q(aString) + u")");
  return result;
}

}  // namespace qvpa
