// kPaymentDevice: the abstract payment device. It owns the device's I/O channel, built from
// the request that creates it, and offers one public operation per export that reaches a
// device: each logs its banner, prepares a fresh result record, runs the driver's slot and
// copies the channel's recorded error text into the record. Failures of the driver pass
// through unchanged. A device is used by one call at a time.
#ifndef QVPA_PAYMENT_PAYMENT_DEVICE_H_
#define QVPA_PAYMENT_PAYMENT_DEVICE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "payment/payment_results.h"

namespace qvpa {

class kIOHandler;
class kPaymentHandler;
class kPaymentReceipt;
class kPaymentDayClose;
class kPaymentTotals;

class kPaymentDevice {
 public:
  // Builds the channel from aHandler's connection section, with its log in
  // LogRootPath()/LogFiles/Payment/, and sets its Version. Throws EQVError when the channel
  // cannot be built.
  explicit kPaymentDevice(kPaymentHandler& aHandler);
  virtual ~kPaymentDevice();
  kPaymentDevice(const kPaymentDevice&) = delete;
  kPaymentDevice& operator=(const kPaymentDevice&) = delete;

  int32_t Handle() const { return fHandle; }
  void SetHandle(int32_t aHandle) { fHandle = aHandle; }
  kIOHandler& IOHandler() { return *fIOHandler; }

  // "Version <version> - <release date as short date>" of the process-wide application
  // object; the same text for every driver. Throws EQVError when no application object exists.
  static std::u16string GetDriverVersion();

  // The public operations; aHandler is the request of the current call.
  _int_PAY_result Pub_Pay(kPaymentHandler& aHandler);
  _int_REPRINT_result Pub_Reprint(kPaymentHandler& aHandler);
  _int_DAYCLOSE_result Pub_DayClose(kPaymentHandler& aHandler);
  _int_GETTOTALS_result Pub_GetTotals(kPaymentHandler& aHandler);
  _int_PAY_result Pub_VerifyTran(kPaymentHandler& aHandler);

 protected:
  // Driver slots; the Boolean results are not looked at by the base.
  virtual bool Pay(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) = 0;
  virtual bool Refund(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) = 0;
  virtual bool Void(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) = 0;
  virtual bool Reprint(kPaymentReceipt& aReceipt, _int_REPRINT_result& aResult) = 0;
  virtual bool DayClose(kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult) = 0;
  virtual bool GetTotals(kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult) = 0;
  virtual bool GetStatus() = 0;  // called by no operation; drivers answer false
  virtual bool VerifyTran(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) = 0;

 private:
  template <class R>
  void CopyChannelError(R& aResult);

  int32_t fHandle = 0;
  std::unique_ptr<kIOHandler> fIOHandler;
};

// Constructs a device of a concrete driver class from a parsed request.
using kPaymentClass = std::unique_ptr<kPaymentDevice> (*)(kPaymentHandler&);

// The kPaymentClass of driver class T (T constructible from kPaymentHandler&).
template <class T>
std::unique_ptr<kPaymentDevice> CreatePaymentDevice(kPaymentHandler& aHandler) {
  return std::make_unique<T>(aHandler);
}

}  // namespace qvpa

#endif  // QVPA_PAYMENT_PAYMENT_DEVICE_H_
