// A payment device for tests and benchmarks, registered as "TEST_COM": it records which
// slot ran in DeviceId and echoes the request into its records. The payment section's
// Attributes steer it: "fail:<text>" throws EQVError(text) after filling the record,
// "error:<text>" sets Error with that ErrorText, "channel-error:<text>" records the text in
// the channel's error state, "receipt:<text>" sets ReceiptText. A request parameter
// FailCreate makes construction throw its value.
#ifndef QVPA_DRIVER_TEST_PAYMENT_DEVICE_H_
#define QVPA_DRIVER_TEST_PAYMENT_DEVICE_H_

#include "driver/driver_registry.h"
#include "payment/payment_device.h"

namespace qvpa {

inline constexpr char16_t kTestDriverName[] = u"TEST_COM";

class TestPaymentDevice final : public kPaymentDevice {
 public:
  explicit TestPaymentDevice(kPaymentHandler& aHandler);

 protected:
  bool Pay(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Refund(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Void(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Reprint(kPaymentReceipt& aReceipt, _int_REPRINT_result& aResult) override;
  bool DayClose(kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult) override;
  bool GetTotals(kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult) override;
  bool GetStatus() override { return false; }
  bool VerifyTran(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;

 private:
  bool Payment(const char16_t* aSlot, kPaymentReceipt& aReceipt, _int_PAY_result& aResult);
  template <class R>
  void Steer(const std::u16string& aAttributes, R& aResult);
};

void RegisterTestDrivers(DriverRegistry& aRegistry);

}  // namespace qvpa

#endif  // QVPA_DRIVER_TEST_PAYMENT_DEVICE_H_
