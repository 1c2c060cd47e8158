// The operation wrappers: one object per export call. A wrapper resets its result record,
// reads the request into its own kPaymentHandler, finds or creates the device in the given
// registry and table, runs the device operation and keeps the outcome; Process never
// throws for a failure of the operation, it records the failure's message in ErrorText.
// Wrappers may run on several threads at once: the table serialises the calls on one
// device, and the registry is only read.
#ifndef QVPA_DRIVER_PAYMENT_WRAPPER_H_
#define QVPA_DRIVER_PAYMENT_WRAPPER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/device_table.h"
#include "driver/driver_registry.h"
#include "driver/result_documents.h"
#include "payment/payment_results.h"
#include "request/payment_handler.h"

namespace qvpa {

class kPaymentWrapper {
 public:
  kPaymentWrapper(DriverRegistry& aRegistry, DeviceTable& aDevices);
  virtual ~kPaymentWrapper();
  kPaymentWrapper(const kPaymentWrapper&) = delete;
  kPaymentWrapper& operator=(const kPaymentWrapper&) = delete;

  virtual void ResetResult() = 0;
  // Renders the result record: document, unescaped error text, 0 or -1.
  virtual void Format(std::u16string& aOutput, std::u16string& aErrorMessage,
                      int16_t& aResult) const = 0;
  virtual void Process(const std::u16string& aXml) = 0;

  static std::u16string EscapeXmlText(std::u16string_view aText) {
    return qvpa::EscapeXmlText(aText);
  }

 protected:
  // Resolves the device of the current request and waits for its turn: the open device of a
  // positive handle, else (aCreate) a new device of the request's driver under the next
  // handle. The call holds the device until the lease goes. Throws EQVError.
  DeviceLease GetDevice(bool aCreate);
  kPaymentHandler& Handler() { return fHandler; }
  DeviceTable& Devices() { return fDevices; }

 private:
  const DriverRegistry& fRegistry;
  DeviceTable& fDevices;
  kPaymentHandler fHandler;
};

// The part every wrapper shares for its record type R.
template <class R>
class kPaymentWrapperOf : public kPaymentWrapper {
 public:
  using kPaymentWrapper::kPaymentWrapper;

  void ResetResult() override;
  void Format(std::u16string& aOutput, std::u16string& aErrorMessage,
              int16_t& aResult) const override;
  const R& Result() const { return fResult; }

 protected:
  // Runs one guarded block; a failure leaves the reset record with its message.
  template <class Body>
  void Guarded(Body&& aBody);
  // The five device operations: read the section, resolve the device, run Operation.
  void RunDeviceOperation(const std::u16string& aXml, qvPaymentHandlerDocumentTypes aTypes,
                          R (kPaymentDevice::*aOperation)(kPaymentHandler&));

  R fResult;
};

class kPaymentWrapper_OPEN final : public kPaymentWrapperOf<_int_OPEN_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_CLOSE final : public kPaymentWrapperOf<_int_CLOSE_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_PAY final : public kPaymentWrapperOf<_int_PAY_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_REPRINT final : public kPaymentWrapperOf<_int_REPRINT_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

// Answers without reading the request and without a device.
class kPaymentWrapper_GETSTATUS final : public kPaymentWrapperOf<_int_GETSTATUS_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_DAYCLOSE final : public kPaymentWrapperOf<_int_DAYCLOSE_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_GETTOTALS final : public kPaymentWrapperOf<_int_GETTOTALS_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

class kPaymentWrapper_VERIFYTRAN final : public kPaymentWrapperOf<_int_PAY_result> {
 public:
  using kPaymentWrapperOf::kPaymentWrapperOf;
  void Process(const std::u16string& aXml) override;
};

}  // namespace qvpa

#endif  // QVPA_DRIVER_PAYMENT_WRAPPER_H_
