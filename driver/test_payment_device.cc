#include "driver/test_payment_device.h"

#include <string_view>

#include "base/error.h"
#include "io/io_handler.h"
#include "request/payment_handler.h"
#include "request/payment_sections.h"

namespace qvpa {
namespace {

bool TakeCommand(std::u16string_view aText, std::u16string_view aCommand,
                 std::u16string& aValue) {
  if (aText.substr(0, aCommand.size()) != aCommand) return false;
  aValue = aText.substr(aCommand.size());
  return true;
}

}  // namespace

TestPaymentDevice::TestPaymentDevice(kPaymentHandler& aHandler) : kPaymentDevice(aHandler) {
  if (aHandler.ParameterExists(u"FailCreate")) throw EQVError(aHandler.GetParameter(u"FailCreate"));
}

template <class R>
void TestPaymentDevice::Steer(const std::u16string& aAttributes, R& aResult) {
  std::u16string value;
  if (TakeCommand(aAttributes, u"fail:", value)) throw EQVError(value);
  if (TakeCommand(aAttributes, u"error:", value)) {
    aResult.Error = true;
    aResult.ErrorText = value;
  } else if (TakeCommand(aAttributes, u"channel-error:", value)) {
    IOHandler().SetCustomError(7, value);
  } else if (TakeCommand(aAttributes, u"receipt:", value)) {
    aResult.ReceiptText = value;
  }
}

bool TestPaymentDevice::Payment(const char16_t* aSlot, kPaymentReceipt& aReceipt,
                                _int_PAY_result& aResult) {
  aResult.DeviceId = aSlot;
  aResult.PaymentNumber = aReceipt.Reference();
  aResult.PaymentAmount = aReceipt.Amount();
  aResult.PaymentCurrency = aReceipt.Currency();
  aResult.PaymentNetwork = qvPaymentNetwork::Satispay;
  Steer(aReceipt.Attributes(), aResult);
  return true;
}

bool TestPaymentDevice::Pay(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Payment(u"Pay", aReceipt, aResult);
}

bool TestPaymentDevice::Refund(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Payment(u"Refund", aReceipt, aResult);
}

bool TestPaymentDevice::Void(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Payment(u"Void", aReceipt, aResult);
}

bool TestPaymentDevice::VerifyTran(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Payment(u"VerifyTran", aReceipt, aResult);
}

bool TestPaymentDevice::Reprint(kPaymentReceipt& aReceipt, _int_REPRINT_result& aResult) {
  aResult.CashierReceiptText = aReceipt.Reference();
  Steer(aReceipt.Attributes(), aResult);
  return true;
}

bool TestPaymentDevice::DayClose(kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult) {
  aResult.DeviceId = u"DayClose";
  aResult.ClosureNumber = aDayClose.Reference();
  aResult.TotalAmount = qvpa::Currency::FromCents(123450);
  return true;
}

bool TestPaymentDevice::GetTotals(kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult) {
  aResult.DeviceId = u"GetTotals";
  aResult.ReceiptText = aTotals.Reference();
  return true;
}

void RegisterTestDrivers(DriverRegistry& aRegistry) {
  aRegistry.Register(kTestDriverName, &CreatePaymentDevice<TestPaymentDevice>);
}

}  // namespace qvpa
