// The OPOS Fiscal Printer control on Windows: the COM control of the OPOS common control
// objects, created by its class identifier and driven through IDispatch (late binding,
// so no type library is needed at build time).
#include <windows.h>
#include <oleauto.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "io/opos_fiscal_printer.h"
#include "io/system_error_win.h"

namespace qvpa {

namespace {

// The Fiscal Printer control object, CCB90072-B81E-11D2-AB74-0040054C3719.
constexpr CLSID kFiscalPrinterClass = {0xCCB90072, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

// COM on the calling thread for as long as the control lives. A thread that already
// runs COM in the other model keeps it (and this leaves it alone).
class ComApartment {
 public:
  ComApartment() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    initialized_ = SUCCEEDED(hr);
    usable_ = initialized_ || hr == RPC_E_CHANGED_MODE;
  }
  ~ComApartment() {
    if (initialized_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool usable() const { return usable_; }

 private:
  bool initialized_ = false;
  bool usable_ = false;
};

struct ComReleaser {
  void operator()(IUnknown* aObject) const { aObject->Release(); }
};
using DispatchPtr = std::unique_ptr<IDispatch, ComReleaser>;

// A BSTR that frees itself.
class Bstr {
 public:
  explicit Bstr(const std::u16string& aText)
      : value_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(aText.data()), static_cast<UINT>(aText.size()))) {
    if (value_ == nullptr && !aText.empty()) throw EQVError(u"Out of memory for a text of the OPOS control");
  }
  ~Bstr() { ::SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* address() { return &value_; }
  std::u16string Text() const {
    return value_ == nullptr ? std::u16string()
                             : std::u16string(reinterpret_cast<const char16_t*>(value_), ::SysStringLen(value_));
  }

 private:
  BSTR value_;
};

// The arguments of one call in the order of the method's parameters. Texts are owned
// here; by-reference arguments point at the caller's variables.
class Arguments {
 public:
  Arguments() = default;
  ~Arguments() {
    for (VARIANT& v : values_) ::VariantClear(&v);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  Arguments& Long(int32_t aValue) {
    VARIANT& v = Add(VT_I4);
    v.lVal = aValue;
    return *this;
  }
  Arguments& Bool(bool aValue) {
    VARIANT& v = Add(VT_BOOL);
    v.boolVal = aValue ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
  }
  Arguments& Money(Currency aValue) {
    VARIANT& v = Add(VT_CY);
    v.cyVal.int64 = aValue.Raw();
    return *this;
  }
  Arguments& Text(const std::u16string& aValue) {
    VARIANT& v = Add(VT_BSTR);
    v.bstrVal = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(aValue.data()), static_cast<UINT>(aValue.size()));
    if (v.bstrVal == nullptr && !aValue.empty()) throw EQVError(u"Out of memory for a text of the OPOS control");
    return *this;
  }
  Arguments& LongRef(LONG* aValue) {
    VARIANT& v = Add(VT_I4 | VT_BYREF);
    v.plVal = aValue;
    return *this;
  }
  Arguments& TextRef(Bstr& aValue) {
    VARIANT& v = Add(VT_BSTR | VT_BYREF);
    v.pbstrVal = aValue.address();
    return *this;
  }

  // The arguments as IDispatch::Invoke takes them: last first.
  std::vector<VARIANT> Reversed() const { return std::vector<VARIANT>(values_.rbegin(), values_.rend()); }

 private:
  VARIANT& Add(VARTYPE aType) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = aType;
    values_.push_back(v);
    return values_.back();
  }

  std::vector<VARIANT> values_;
};

// A call's result, cleared when it goes.
class Result {
 public:
  Result() { ::VariantInit(&value_); }
  ~Result() { ::VariantClear(&value_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

class DispatchFiscalPrinter final : public OposFiscalPrinter {
 public:
  DispatchFiscalPrinter(std::unique_ptr<ComApartment> aApartment, DispatchPtr aControl)
      : apartment_(std::move(aApartment)), control_(std::move(aControl)) {}

  int32_t Open(const std::u16string& DeviceName) override { return Method(u"Open", Arguments().Text(DeviceName)); }
  int32_t ClaimDevice(int32_t Timeout) override { return Method(u"ClaimDevice", Arguments().Long(Timeout)); }
  int32_t ReleaseDevice() override { return Method(u"ReleaseDevice", Arguments()); }
  int32_t Close() override { return Method(u"Close", Arguments()); }
  int32_t BeginFiscalReceipt(bool PrintHeader) override {
    return Method(u"BeginFiscalReceipt", Arguments().Bool(PrintHeader));
  }
  int32_t EndFiscalReceipt(bool PrintHeader) override {
    return Method(u"EndFiscalReceipt", Arguments().Bool(PrintHeader));
  }
  int32_t BeginNonFiscal() override { return Method(u"BeginNonFiscal", Arguments()); }
  int32_t EndNonFiscal() override { return Method(u"EndNonFiscal", Arguments()); }
  int32_t PrintNormal(int32_t Station, const std::u16string& Data) override {
    return Method(u"PrintNormal", Arguments().Long(Station).Text(Data));
  }
  int32_t PrintRecItem(const std::u16string& Description, Currency Price, int32_t Quantity, int32_t VatInfo,
                       Currency UnitPrice, const std::u16string& UnitName) override {
    return Method(u"PrintRecItem",
                  Arguments().Text(Description).Money(Price).Long(Quantity).Long(VatInfo).Money(UnitPrice).Text(UnitName));
  }
  int32_t PrintRecItemVoid(const std::u16string& Description, Currency Price, int32_t Quantity, int32_t VatInfo,
                           Currency UnitPrice, const std::u16string& UnitName) override {
    return Method(u"PrintRecItemVoid",
                  Arguments().Text(Description).Money(Price).Long(Quantity).Long(VatInfo).Money(UnitPrice).Text(UnitName));
  }
  int32_t PrintRecRefund(const std::u16string& Description, Currency Amount, int32_t VatInfo) override {
    return Method(u"PrintRecRefund", Arguments().Text(Description).Money(Amount).Long(VatInfo));
  }
  int32_t PrintRecItemAdjustment(int32_t AdjustmentType, const std::u16string& Description, Currency Amount,
                                 int32_t VatInfo) override {
    return Method(u"PrintRecItemAdjustment",
                  Arguments().Long(AdjustmentType).Text(Description).Money(Amount).Long(VatInfo));
  }
  int32_t PrintRecSubtotal(Currency Amount) override { return Method(u"PrintRecSubtotal", Arguments().Money(Amount)); }
  int32_t PrintRecSubtotalAdjustment(int32_t AdjustmentType, const std::u16string& Description,
                                     Currency Amount) override {
    return Method(u"PrintRecSubtotalAdjustment", Arguments().Long(AdjustmentType).Text(Description).Money(Amount));
  }
  int32_t PrintRecTotal(Currency Total, Currency Payment, const std::u16string& Description) override {
    return Method(u"PrintRecTotal", Arguments().Money(Total).Money(Payment).Text(Description));
  }
  int32_t PrintRecNotPaid(const std::u16string& Description, Currency Amount) override {
    return Method(u"PrintRecNotPaid", Arguments().Text(Description).Money(Amount));
  }
  int32_t PrintRecMessage(const std::u16string& Message) override {
    return Method(u"PrintRecMessage", Arguments().Text(Message));
  }
  int32_t PrintRecTaxID(const std::u16string& TaxID) override { return Method(u"PrintRecTaxID", Arguments().Text(TaxID)); }
  int32_t ResetPrinter() override { return Method(u"ResetPrinter", Arguments()); }
  int32_t PrintXReport() override { return Method(u"PrintXReport", Arguments()); }
  int32_t PrintZReport() override { return Method(u"PrintZReport", Arguments()); }
  int32_t BeginTraining() override { return Method(u"BeginTraining", Arguments()); }
  int32_t EndTraining() override { return Method(u"EndTraining", Arguments()); }
  int32_t SetDate(const std::u16string& Date) override { return Method(u"SetDate", Arguments().Text(Date)); }
  int32_t GetDate(std::u16string& Date) override {
    Bstr date(u"");
    const int32_t result = Method(u"GetDate", Arguments().TextRef(date));
    Date = date.Text();
    return result;
  }
  int32_t GetData(int32_t DataItem, int32_t& OptArgs, std::u16string& Data) override {
    LONG opt_args = OptArgs;
    Bstr data(Data);
    const int32_t result = Method(u"GetData", Arguments().Long(DataItem).LongRef(&opt_args).TextRef(data));
    OptArgs = opt_args;
    Data = data.Text();
    return result;
  }
  int32_t DirectIO(int32_t Command, int32_t& pData, std::u16string& pString) override {
    LONG value = pData;
    Bstr text(pString);
    const int32_t result = Method(u"DirectIO", Arguments().Long(Command).LongRef(&value).TextRef(text));
    pData = value;
    pString = text.Text();
    return result;
  }

  bool DeviceEnabled() override { return GetBool(u"DeviceEnabled"); }
  void SetDeviceEnabled(bool Value) override { Put(u"DeviceEnabled", Arguments().Bool(Value)); }
  int32_t ResultCodeExtended() override { return GetLong(u"ResultCodeExtended"); }
  std::u16string ErrorString() override { return GetText(u"ErrorString"); }
  bool CoverOpen() override { return GetBool(u"CoverOpen"); }
  bool DayOpened() override { return GetBool(u"DayOpened"); }
  bool RecEmpty() override { return GetBool(u"RecEmpty"); }
  bool RecNearEnd() override { return GetBool(u"RecNearEnd"); }
  bool TrainingModeActive() override { return GetBool(u"TrainingModeActive"); }
  int32_t PrinterState() override { return GetLong(u"PrinterState"); }
  int32_t RemainingFiscalMemory() override { return GetLong(u"RemainingFiscalMemory"); }
  std::u16string AdditionalTrailer() override { return GetText(u"AdditionalTrailer"); }
  void SetAdditionalTrailer(const std::u16string& Value) override { Put(u"AdditionalTrailer", Arguments().Text(Value)); }
  void SetPreLine(const std::u16string& Value) override { Put(u"PreLine", Arguments().Text(Value)); }
  void SetFiscalReceiptType(int32_t Value) override { Put(u"FiscalReceiptType", Arguments().Long(Value)); }

 private:
  // The member's dispatch identifier, asked once.
  DISPID Id(const std::u16string& aName) {
    const auto found = ids_.find(aName);
    if (found != ids_.end()) return found->second;
    std::u16string name = aName;
    LPOLESTR names[] = {reinterpret_cast<LPOLESTR>(name.data())};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) Fail(aName, WindowsErrorText(static_cast<DWORD>(hr)));
    ids_.emplace(aName, id);
    return id;
  }

  [[noreturn]] static void Fail(const std::u16string& aName, const std::u16string& aText) {
    throw EQVError(u"OPOS control call " + aName + u" failed: " + aText);
  }

  void Invoke(const std::u16string& aName, WORD aKind, const Arguments& aArguments, Result* aResult) {
    const DISPID id = Id(aName);
    std::vector<VARIANT> values = aArguments.Reversed();
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{};
    parameters.rgvarg = values.empty() ? nullptr : values.data();
    parameters.cArgs = static_cast<UINT>(values.size());
    if (aKind == DISPATCH_PROPERTYPUT) {
      parameters.rgdispidNamedArgs = &put;
      parameters.cNamedArgs = 1;
    }
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    const HRESULT hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, aKind, &parameters,
                                        aResult != nullptr ? aResult->get() : nullptr, &exception, &bad_argument);
    if (SUCCEEDED(hr)) return;
    std::u16string text;
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      if (exception.bstrDescription != nullptr) {
        text.assign(reinterpret_cast<const char16_t*>(exception.bstrDescription),
                    ::SysStringLen(exception.bstrDescription));
      }
      if (text.empty() && exception.scode != 0) text = WindowsErrorText(static_cast<DWORD>(exception.scode));
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    if (text.empty()) text = WindowsErrorText(static_cast<DWORD>(hr));
    Fail(aName, text);
  }

  // The result of aName converted to aType; throws when the control answers another kind.
  void Convert(const std::u16string& aName, Result& aResult, VARTYPE aType) {
    const HRESULT hr = ::VariantChangeType(aResult.get(), aResult.get(), 0, aType);
    if (FAILED(hr)) Fail(aName, WindowsErrorText(static_cast<DWORD>(hr)));
  }

  int32_t Method(const std::u16string& aName, const Arguments& aArguments) {
    Result result;
    Invoke(aName, DISPATCH_METHOD, aArguments, &result);
    Convert(aName, result, VT_I4);
    return result.get()->lVal;
  }
  void Put(const std::u16string& aName, const Arguments& aArguments) {
    Invoke(aName, DISPATCH_PROPERTYPUT, aArguments, nullptr);
  }
  int32_t GetLong(const std::u16string& aName) {
    Result result;
    Invoke(aName, DISPATCH_PROPERTYGET, Arguments(), &result);
    Convert(aName, result, VT_I4);
    return result.get()->lVal;
  }
  bool GetBool(const std::u16string& aName) {
    Result result;
    Invoke(aName, DISPATCH_PROPERTYGET, Arguments(), &result);
    Convert(aName, result, VT_BOOL);
    return result.get()->boolVal != VARIANT_FALSE;
  }
  std::u16string GetText(const std::u16string& aName) {
    Result result;
    Invoke(aName, DISPATCH_PROPERTYGET, Arguments(), &result);
    Convert(aName, result, VT_BSTR);
    const BSTR text = result.get()->bstrVal;
    return text == nullptr ? std::u16string()
                           : std::u16string(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text));
  }

  // Declared first, so that it ends last: the control is released inside the apartment.
  std::unique_ptr<ComApartment> apartment_;
  DispatchPtr control_;
  std::map<std::u16string, DISPID> ids_;
};

}  // namespace

std::unique_ptr<OposFiscalPrinter> CreateOposFiscalPrinterControl() {
  auto apartment = std::make_unique<ComApartment>();
  if (!apartment->usable()) return nullptr;
  IDispatch* control = nullptr;
  // Not installed (class not registered) or failing to start: no control, which the
  // channel reports on Connect and every operation.
  if (FAILED(::CoCreateInstance(kFiscalPrinterClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&control))) ||
      control == nullptr) {
    return nullptr;
  }
  return std::make_unique<DispatchFiscalPrinter>(std::move(apartment), DispatchPtr(control));
}

}  // namespace qvpa
