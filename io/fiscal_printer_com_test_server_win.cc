// A fiscal printer control for the OPOS channel's tests on Windows: an in-process COM
// server whose objects answer IDispatch with the members of the OPOS Fiscal Printer
// control, by name, and hand each call to a FiscalPrinterSimulator. The test gives the
// simulated printer's state to the module (AttachFiscalPrinterState) before the channel
// creates its control, so it plans answers and reads the calls as received through
// IDispatch. Arguments must arrive with the types of the control's interface (texts as
// BSTR, numbers as 32-bit integers, amounts as currency, flags as VARIANT_BOOL); any other
// type is refused with DISP_E_TYPEMISMATCH, as a control with a fixed interface would.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "base/error.h"
#include "io/fiscal_printer_simulator.h"

namespace {

using qvpa::Currency;
using qvpa::EQVError;
using qvpa::testing_io::FiscalPrinterSimulator;

constexpr CLSID kFiscalPrinterClass = {0xCCB90072, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

std::shared_ptr<FiscalPrinterSimulator::State> g_state;  // the printer every control talks to
std::atomic<long> g_objects{0};                           // live objects and server locks

// The members by dispatch identifier; names match without regard to case.
enum Member : DISPID {
  kOpen = 1, kClaimDevice, kReleaseDevice, kClose, kBeginFiscalReceipt, kEndFiscalReceipt, kBeginNonFiscal,
  kEndNonFiscal, kPrintNormal, kPrintRecItem, kPrintRecItemVoid, kPrintRecRefund, kPrintRecItemAdjustment,
  kPrintRecSubtotal, kPrintRecSubtotalAdjustment, kPrintRecTotal, kPrintRecNotPaid, kPrintRecMessage,
  kPrintRecTaxID, kResetPrinter, kPrintXReport, kPrintZReport, kBeginTraining, kEndTraining, kSetDate, kGetDate,
  kGetData, kDirectIO, kDeviceEnabled, kResultCodeExtended, kErrorString, kCoverOpen, kDayOpened, kRecEmpty,
  kRecNearEnd, kTrainingModeActive, kPrinterState, kRemainingFiscalMemory, kAdditionalTrailer, kPreLine,
  kFiscalReceiptType
};

constexpr struct {
  const wchar_t* name;
  DISPID id;
} kMembers[] = {
    {L"Open", kOpen}, {L"ClaimDevice", kClaimDevice}, {L"ReleaseDevice", kReleaseDevice}, {L"Close", kClose},
    {L"BeginFiscalReceipt", kBeginFiscalReceipt}, {L"EndFiscalReceipt", kEndFiscalReceipt},
    {L"BeginNonFiscal", kBeginNonFiscal}, {L"EndNonFiscal", kEndNonFiscal}, {L"PrintNormal", kPrintNormal},
    {L"PrintRecItem", kPrintRecItem}, {L"PrintRecItemVoid", kPrintRecItemVoid},
    {L"PrintRecRefund", kPrintRecRefund}, {L"PrintRecItemAdjustment", kPrintRecItemAdjustment},
    {L"PrintRecSubtotal", kPrintRecSubtotal}, {L"PrintRecSubtotalAdjustment", kPrintRecSubtotalAdjustment},
    {L"PrintRecTotal", kPrintRecTotal}, {L"PrintRecNotPaid", kPrintRecNotPaid},
    {L"PrintRecMessage", kPrintRecMessage}, {L"PrintRecTaxID", kPrintRecTaxID},
    {L"ResetPrinter", kResetPrinter}, {L"PrintXReport", kPrintXReport}, {L"PrintZReport", kPrintZReport},
    {L"BeginTraining", kBeginTraining}, {L"EndTraining", kEndTraining}, {L"SetDate", kSetDate},
    {L"GetDate", kGetDate}, {L"GetData", kGetData}, {L"DirectIO", kDirectIO},
    {L"DeviceEnabled", kDeviceEnabled}, {L"ResultCodeExtended", kResultCodeExtended},
    {L"ErrorString", kErrorString}, {L"CoverOpen", kCoverOpen}, {L"DayOpened", kDayOpened},
    {L"RecEmpty", kRecEmpty}, {L"RecNearEnd", kRecNearEnd}, {L"TrainingModeActive", kTrainingModeActive},
    {L"PrinterState", kPrinterState}, {L"RemainingFiscalMemory", kRemainingFiscalMemory},
    {L"AdditionalTrailer", kAdditionalTrailer}, {L"PreLine", kPreLine},
    {L"FiscalReceiptType", kFiscalReceiptType},
};

// A refusal of one call, turned into the HRESULT of Invoke.
struct Refusal {
  HRESULT code;
  UINT argument;  // index into DISPPARAMS::rgvarg for a type mismatch
};

std::u16string FromBstr(BSTR aText) {
  return aText == nullptr ? std::u16string()
                          : std::u16string(reinterpret_cast<const char16_t*>(aText), ::SysStringLen(aText));
}

BSTR ToBstr(const std::u16string& aText) {
  return ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(aText.data()), static_cast<UINT>(aText.size()));
}

// The positional arguments of one call, first argument at index 0.
class Arguments {
 public:
  Arguments(DISPPARAMS* aParams, UINT aExpected) : params_(aParams) {
    if (aParams->cArgs != aExpected) throw Refusal{DISP_E_BADPARAMCOUNT, 0};
  }

  std::u16string Text(UINT aIndex) const { return FromBstr(At(aIndex, VT_BSTR).bstrVal); }
  int32_t Long(UINT aIndex) const { return At(aIndex, VT_I4).lVal; }
  bool Bool(UINT aIndex) const { return At(aIndex, VT_BOOL).boolVal != VARIANT_FALSE; }
  Currency Money(UINT aIndex) const { return Currency::FromRaw(At(aIndex, VT_CY).cyVal.int64); }
  LONG* LongRef(UINT aIndex) const { return At(aIndex, VT_I4 | VT_BYREF).plVal; }
  BSTR* TextRef(UINT aIndex) const { return At(aIndex, VT_BSTR | VT_BYREF).pbstrVal; }

 private:
  const VARIANT& At(UINT aIndex, VARTYPE aType) const {
    const UINT position = params_->cArgs - 1 - aIndex;  // Invoke passes the arguments last first
    const VARIANT& value = params_->rgvarg[position];
    if (value.vt != aType) throw Refusal{DISP_E_TYPEMISMATCH, position};
    return value;
  }

  DISPPARAMS* params_;
};

// COM objects are destroyed through their own class (Release), never through the
// interface, whose destructor COM leaves non-virtual.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class FiscalPrinterControl final : public IDispatch {
 public:
  FiscalPrinterControl() : printer_(g_state) { ++g_objects; }
  ~FiscalPrinterControl() { --g_objects; }
  FiscalPrinterControl(const FiscalPrinterControl&) = delete;
  FiscalPrinterControl& operator=(const FiscalPrinterControl&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID aId, void** aObject) override {
    if (aObject == nullptr) return E_POINTER;
    if (!IsEqualIID(aId, IID_IUnknown) && !IsEqualIID(aId, IID_IDispatch)) {
      *aObject = nullptr;
      return E_NOINTERFACE;
    }
    *aObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) std::unique_ptr<FiscalPrinterControl> last(this);
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* aCount) override {
    if (aCount == nullptr) return E_POINTER;
    *aCount = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** aInfo) override {
    if (aInfo != nullptr) *aInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* aNames, UINT aCount, LCID, DISPID* aIds) override {
    if (aCount == 0) return E_INVALIDARG;
    HRESULT result = S_OK;
    for (UINT i = 0; i < aCount; ++i) aIds[i] = DISPID_UNKNOWN;  // named arguments: none known
    for (const auto& member : kMembers) {
      if (::lstrcmpiW(member.name, aNames[0]) == 0) aIds[0] = member.id;
    }
    if (aIds[0] == DISPID_UNKNOWN || aCount > 1) result = DISP_E_UNKNOWNNAME;
    return result;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID aId, REFIID, LCID, WORD aFlags, DISPPARAMS* aParams, VARIANT* aResult,
                                   EXCEPINFO* aException, UINT* aBadArgument) override {
    if (aParams == nullptr) return E_INVALIDARG;
    if (aResult != nullptr) ::VariantInit(aResult);
    try {
      if (aFlags & DISPATCH_PROPERTYPUT) {
        if (aParams->cNamedArgs != 1 || aParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
          return DISP_E_PARAMNOTOPTIONAL;
        }
        return Put(aId, Arguments(aParams, 1));
      }
      if (aParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
      VARIANT value;
      ::VariantInit(&value);
      const HRESULT hr = (aFlags & DISPATCH_METHOD) && aId <= kDirectIO ? Method(aId, aParams, value)
                         : (aFlags & DISPATCH_PROPERTYGET)             ? Get(aId, Arguments(aParams, 0), value)
                                                                       : DISP_E_MEMBERNOTFOUND;
      if (aResult != nullptr) {
        *aResult = value;
      } else {
        ::VariantClear(&value);
      }
      return hr;
    } catch (const Refusal& refusal) {
      if (aBadArgument != nullptr) *aBadArgument = refusal.argument;
      return refusal.code;
    } catch (const EQVError& error) {
      // A failure the test planned for the control itself (not an OPOS result code).
      if (aException == nullptr) return E_FAIL;
      *aException = EXCEPINFO{};
      aException->bstrSource = ToBstr(u"FiscalPrinterSimulator");
      aException->bstrDescription = ToBstr(error.Message());
      aException->scode = E_FAIL;
      return DISP_E_EXCEPTION;
    }
  }

 private:
  static void SetLong(VARIANT& aValue, int32_t aNumber) {
    aValue.vt = VT_I4;
    aValue.lVal = aNumber;
  }
  static void SetBool(VARIANT& aValue, bool aFlag) {
    aValue.vt = VT_BOOL;
    aValue.boolVal = aFlag ? VARIANT_TRUE : VARIANT_FALSE;
  }
  static void SetText(VARIANT& aValue, const std::u16string& aText) {
    aValue.vt = VT_BSTR;
    aValue.bstrVal = ToBstr(aText);
  }
  // Stores a text in a by-reference argument, freeing what it held.
  static void Store(BSTR* aTarget, const std::u16string& aText) {
    ::SysFreeString(*aTarget);
    *aTarget = ToBstr(aText);
  }

  HRESULT Method(DISPID aId, DISPPARAMS* aParams, VARIANT& aValue) {
    FiscalPrinterSimulator& p = printer_;
    int32_t code = 0;
    switch (aId) {
      case kOpen: { Arguments a(aParams, 1); code = p.Open(a.Text(0)); break; }
      case kClaimDevice: { Arguments a(aParams, 1); code = p.ClaimDevice(a.Long(0)); break; }
      case kReleaseDevice: { Arguments a(aParams, 0); code = p.ReleaseDevice(); break; }
      case kClose: { Arguments a(aParams, 0); code = p.Close(); break; }
      case kBeginFiscalReceipt: { Arguments a(aParams, 1); code = p.BeginFiscalReceipt(a.Bool(0)); break; }
      case kEndFiscalReceipt: { Arguments a(aParams, 1); code = p.EndFiscalReceipt(a.Bool(0)); break; }
      case kBeginNonFiscal: { Arguments a(aParams, 0); code = p.BeginNonFiscal(); break; }
      case kEndNonFiscal: { Arguments a(aParams, 0); code = p.EndNonFiscal(); break; }
      case kPrintNormal: { Arguments a(aParams, 2); code = p.PrintNormal(a.Long(0), a.Text(1)); break; }
      case kPrintRecItem: {
        Arguments a(aParams, 6);
        code = p.PrintRecItem(a.Text(0), a.Money(1), a.Long(2), a.Long(3), a.Money(4), a.Text(5));
        break;
      }
      case kPrintRecItemVoid: {
        Arguments a(aParams, 6);
        code = p.PrintRecItemVoid(a.Text(0), a.Money(1), a.Long(2), a.Long(3), a.Money(4), a.Text(5));
        break;
      }
      case kPrintRecRefund: {
        Arguments a(aParams, 3);
        code = p.PrintRecRefund(a.Text(0), a.Money(1), a.Long(2));
        break;
      }
      case kPrintRecItemAdjustment: {
        Arguments a(aParams, 4);
        code = p.PrintRecItemAdjustment(a.Long(0), a.Text(1), a.Money(2), a.Long(3));
        break;
      }
      case kPrintRecSubtotal: { Arguments a(aParams, 1); code = p.PrintRecSubtotal(a.Money(0)); break; }
      case kPrintRecSubtotalAdjustment: {
        Arguments a(aParams, 3);
        code = p.PrintRecSubtotalAdjustment(a.Long(0), a.Text(1), a.Money(2));
        break;
      }
      case kPrintRecTotal: {
        Arguments a(aParams, 3);
        code = p.PrintRecTotal(a.Money(0), a.Money(1), a.Text(2));
        break;
      }
      case kPrintRecNotPaid: { Arguments a(aParams, 2); code = p.PrintRecNotPaid(a.Text(0), a.Money(1)); break; }
      case kPrintRecMessage: { Arguments a(aParams, 1); code = p.PrintRecMessage(a.Text(0)); break; }
      case kPrintRecTaxID: { Arguments a(aParams, 1); code = p.PrintRecTaxID(a.Text(0)); break; }
      case kResetPrinter: { Arguments a(aParams, 0); code = p.ResetPrinter(); break; }
      case kPrintXReport: { Arguments a(aParams, 0); code = p.PrintXReport(); break; }
      case kPrintZReport: { Arguments a(aParams, 0); code = p.PrintZReport(); break; }
      case kBeginTraining: { Arguments a(aParams, 0); code = p.BeginTraining(); break; }
      case kEndTraining: { Arguments a(aParams, 0); code = p.EndTraining(); break; }
      case kSetDate: { Arguments a(aParams, 1); code = p.SetDate(a.Text(0)); break; }
      case kGetDate: {
        Arguments a(aParams, 1);
        BSTR* date = a.TextRef(0);
        std::u16string text = FromBstr(*date);
        code = p.GetDate(text);
        Store(date, text);
        break;
      }
      case kGetData: {
        Arguments a(aParams, 3);
        LONG* opt_args = a.LongRef(1);
        BSTR* data = a.TextRef(2);
        int32_t number = *opt_args;
        std::u16string text = FromBstr(*data);
        code = p.GetData(a.Long(0), number, text);
        *opt_args = number;
        Store(data, text);
        break;
      }
      case kDirectIO: {
        Arguments a(aParams, 3);
        LONG* data = a.LongRef(1);
        BSTR* text_ref = a.TextRef(2);
        int32_t number = *data;
        std::u16string text = FromBstr(*text_ref);
        code = p.DirectIO(a.Long(0), number, text);
        *data = number;
        Store(text_ref, text);
        break;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    SetLong(aValue, code);
    return S_OK;
  }

  HRESULT Get(DISPID aId, const Arguments&, VARIANT& aValue) {
    FiscalPrinterSimulator& p = printer_;
    switch (aId) {
      case kDeviceEnabled: SetBool(aValue, p.DeviceEnabled()); break;
      case kResultCodeExtended: SetLong(aValue, p.ResultCodeExtended()); break;
      case kErrorString: SetText(aValue, p.ErrorString()); break;
      case kCoverOpen: SetBool(aValue, p.CoverOpen()); break;
      case kDayOpened: SetBool(aValue, p.DayOpened()); break;
      case kRecEmpty: SetBool(aValue, p.RecEmpty()); break;
      case kRecNearEnd: SetBool(aValue, p.RecNearEnd()); break;
      case kTrainingModeActive: SetBool(aValue, p.TrainingModeActive()); break;
      case kPrinterState: SetLong(aValue, p.PrinterState()); break;
      case kRemainingFiscalMemory: SetLong(aValue, p.RemainingFiscalMemory()); break;
      case kAdditionalTrailer: SetText(aValue, p.AdditionalTrailer()); break;
      default: return DISP_E_MEMBERNOTFOUND;  // methods and write-only properties
    }
    return S_OK;
  }

  HRESULT Put(DISPID aId, const Arguments& aValue) {
    FiscalPrinterSimulator& p = printer_;
    switch (aId) {
      case kDeviceEnabled: p.SetDeviceEnabled(aValue.Bool(0)); break;
      case kAdditionalTrailer: p.SetAdditionalTrailer(aValue.Text(0)); break;
      case kPreLine: p.SetPreLine(aValue.Text(0)); break;
      case kFiscalReceiptType: p.SetFiscalReceiptType(aValue.Long(0)); break;
      default: return DISP_E_MEMBERNOTFOUND;  // methods and read-only properties
    }
    return S_OK;
  }

  std::atomic<ULONG> references_{1};
  FiscalPrinterSimulator printer_;
};

class ControlFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID aId, void** aObject) override {
    if (aObject == nullptr) return E_POINTER;
    if (!IsEqualIID(aId, IID_IUnknown) && !IsEqualIID(aId, IID_IClassFactory)) {
      *aObject = nullptr;
      return E_NOINTERFACE;
    }
    *aObject = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory is static and lives as long as the module.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* aOuter, REFIID aId, void** aObject) override {
    if (aObject == nullptr) return E_POINTER;
    *aObject = nullptr;
    if (aOuter != nullptr) return CLASS_E_NOAGGREGATION;
    // No printer attached: the control cannot start, as when its service is missing.
    if (!g_state) return E_FAIL;
    auto control = std::make_unique<FiscalPrinterControl>();
    const HRESULT hr = control->QueryInterface(aId, aObject);
    if (SUCCEEDED(hr)) control.release()->Release();  // the caller's reference is the only one
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL aLock) override {
    aLock ? ++g_objects : --g_objects;
    return S_OK;
  }
};

#pragma GCC diagnostic pop

ControlFactory g_factory;

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID aClass, REFIID aId, void** aObject) {
  if (aObject == nullptr) return E_POINTER;
  *aObject = nullptr;
  if (!IsEqualCLSID(aClass, kFiscalPrinterClass)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(aId, aObject);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && !g_state ? S_OK : S_FALSE; }

// The printer the controls created from now on talk to (null: none, and creation fails).
// aState points at the test's shared state; the module keeps its own reference.
void AttachFiscalPrinterState(const std::shared_ptr<FiscalPrinterSimulator::State>* aState) {
  g_state = aState != nullptr ? *aState : nullptr;
}

}  // extern "C"
