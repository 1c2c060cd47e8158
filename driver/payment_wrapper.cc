#include "driver/payment_wrapper.h"

#include <exception>
#include <new>
#include <type_traits>

#include "base/application.h"
#include "base/error.h"
#include "base/text.h"

namespace qvpa {

kPaymentWrapper::kPaymentWrapper(DriverRegistry& aRegistry, DeviceTable& aDevices)
    : fRegistry(aRegistry), fDevices(aDevices) {}

kPaymentWrapper::~kPaymentWrapper() = default;

DeviceLease kPaymentWrapper::GetDevice(bool aCreate) {
  const int32_t handle = fHandler.DeviceHandle();
  if (handle > 0) {
    DeviceLease lease = fDevices.Acquire(handle);
    if (!lease) throw EQVError(u"Device Handle not found");
    return lease;
  }
  if (!aCreate) throw EQVError(u"Payment Device has not previously opened");
  const kPaymentClass create = fRegistry.Find(fHandler.Driver());
  if (create == nullptr) {
    throw EQVError(u"Payment Driver [" + fHandler.Driver() + u"] not registered.");
  }
  return fDevices.Add([&] { return create(fHandler); });
}

template <class R>
void kPaymentWrapperOf<R>::ResetResult() {
  fResult = R{};
  fResult.Error = true;
  if constexpr (std::is_same_v<R, _int_PAY_result>) {
    fResult.TransactionType = qvPaymentTransactionType::ptt_Other;
    fResult.PaymentNetwork = qvPaymentNetwork::Other;
  }
}

template <class R>
void kPaymentWrapperOf<R>::Format(std::u16string& aOutput, std::u16string& aErrorMessage,
                                  int16_t& aResult) const {
  RenderedResult rendered = RenderResult(fResult);
  aOutput = std::move(rendered.Output);
  aErrorMessage = std::move(rendered.ErrorMessage);
  aResult = rendered.Result;
}

template <class R>
template <class Body>
void kPaymentWrapperOf<R>::Guarded(Body&& aBody) {
  try {
    aBody();
  } catch (const EQVError& e) {
    fResult.ErrorText = e.Message();
  } catch (const std::bad_alloc&) {
    fResult.ErrorText = u"Out of memory";
  } catch (const std::exception& e) {
    fResult.ErrorText = FromUtf8(e.what());
  } catch (...) {
    fResult.ErrorText = u"Unexpected failure";
  }
}

template <class R>
void kPaymentWrapperOf<R>::RunDeviceOperation(
    const std::u16string& aXml, qvPaymentHandlerDocumentTypes aTypes,
    R (kPaymentDevice::*aOperation)(kPaymentHandler&)) {
  ResetResult();
  Guarded([&] {
    Handler().Deserialize(aXml, aTypes);
    const DeviceLease device = GetDevice(true);
    fResult = (device.Device().*aOperation)(Handler());
  });
}

void kPaymentWrapper_OPEN::Process(const std::u16string& aXml) {
  ResetResult();
  Guarded([&] {
    Handler().Deserialize(aXml, {qvPaymentHandlerDocumentType::dt_Open});
    fResult.Handle = GetDevice(true).Device().Handle();
    fResult.Error = false;
  });
  // A device that could not be opened has no log of its own: the reason goes to the
  // application log.
  if (fResult.Error) {
    if (tQV_Application* app = QVApplication()) {
      app->Log(tQV_MessageType::let_error, u"OPEN failed: " + fResult.ErrorText);
    }
  }
}

void kPaymentWrapper_CLOSE::Process(const std::u16string& aXml) {
  ResetResult();
  Guarded([&] {
    Handler().Deserialize(aXml, qvPaymentHandlerDocumentTypes{});
    DeviceLease device = GetDevice(false);
    Devices().Close(device);
    fResult.Error = false;
  });
}

void kPaymentWrapper_PAY::Process(const std::u16string& aXml) {
  RunDeviceOperation(aXml, {qvPaymentHandlerDocumentType::dt_Pay}, &kPaymentDevice::Pub_Pay);
}

void kPaymentWrapper_REPRINT::Process(const std::u16string& aXml) {
  RunDeviceOperation(aXml, {qvPaymentHandlerDocumentType::dt_PayReprint},
                     &kPaymentDevice::Pub_Reprint);
}

void kPaymentWrapper_GETSTATUS::Process(const std::u16string&) {
  ResetResult();
  fResult.Error = false;
}

void kPaymentWrapper_DAYCLOSE::Process(const std::u16string& aXml) {
  RunDeviceOperation(aXml, {qvPaymentHandlerDocumentType::dt_DayClose},
                     &kPaymentDevice::Pub_DayClose);
}

void kPaymentWrapper_GETTOTALS::Process(const std::u16string& aXml) {
  RunDeviceOperation(aXml, {qvPaymentHandlerDocumentType::dt_GetTotals},
                     &kPaymentDevice::Pub_GetTotals);
}

void kPaymentWrapper_VERIFYTRAN::Process(const std::u16string& aXml) {
  RunDeviceOperation(aXml, {qvPaymentHandlerDocumentType::dt_VerifyTran},
                     &kPaymentDevice::Pub_VerifyTran);
}

template class kPaymentWrapperOf<_int_OPEN_result>;
template class kPaymentWrapperOf<_int_CLOSE_result>;
template class kPaymentWrapperOf<_int_PAY_result>;
template class kPaymentWrapperOf<_int_REPRINT_result>;
template class kPaymentWrapperOf<_int_GETSTATUS_result>;
template class kPaymentWrapperOf<_int_DAYCLOSE_result>;
template class kPaymentWrapperOf<_int_GETTOTALS_result>;

}  // namespace qvpa
