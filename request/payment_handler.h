// kPaymentHandler: the parsed request of a payment operation, the device part plus the one
// section that the operation asks for. Deserialize throws EQVError like the device part does.
#ifndef QVPA_REQUEST_PAYMENT_HANDLER_H_
#define QVPA_REQUEST_PAYMENT_HANDLER_H_

#include <memory>
#include <string>

#include "payment/payment_defs.h"
#include "request/device_handler.h"
#include "request/payment_sections.h"

namespace qvpa {

class kPaymentHandler : public kDeviceHandler {
 public:
  kPaymentHandler();
  ~kPaymentHandler() override;

  using kDeviceHandler::Deserialize;
  // Reads the device part, then at most one section: the payment section for dt_Pay,
  // dt_PayReprint or dt_VerifyTran, else DayClose for dt_DayClose, else GetTotals for
  // dt_GetTotals.
  void Deserialize(const std::u16string& aXml, qvPaymentHandlerDocumentTypes aDocumentTypes);

  kPaymentReceipt& PaymentReceipt() { return *fPaymentReceipt; }
  const kPaymentReceipt& PaymentReceipt() const { return *fPaymentReceipt; }
  kPaymentDayClose& DayClose() { return *fDayClose; }
  const kPaymentDayClose& DayClose() const { return *fDayClose; }
  kPaymentTotals& Totals() { return *fTotals; }
  const kPaymentTotals& Totals() const { return *fTotals; }

 private:
  std::unique_ptr<kPaymentReceipt> fPaymentReceipt;
  std::unique_ptr<kPaymentDayClose> fDayClose;
  std::unique_ptr<kPaymentTotals> fTotals;
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_PAYMENT_HANDLER_H_
