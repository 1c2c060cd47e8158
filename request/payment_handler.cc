#include "request/payment_handler.h"

namespace qvpa {

kPaymentHandler::kPaymentHandler()
    : fPaymentReceipt(std::make_unique<kPaymentReceipt>()),
      fDayClose(std::make_unique<kPaymentDayClose>()),
      fTotals(std::make_unique<kPaymentTotals>()) {}

kPaymentHandler::~kPaymentHandler() = default;

void kPaymentHandler::Deserialize(const std::u16string& aXml,
                                  qvPaymentHandlerDocumentTypes aDocumentTypes) {
  using T = qvPaymentHandlerDocumentType;
  const std::unique_ptr<XmlDocument> document = kDeviceHandler::Deserialize(aXml);
  if (aDocumentTypes.Contains(T::dt_Pay) || aDocumentTypes.Contains(T::dt_PayReprint) ||
      aDocumentTypes.Contains(T::dt_VerifyTran)) {
    fPaymentReceipt->Deserialize(*document);
  } else if (aDocumentTypes.Contains(T::dt_DayClose)) {
    fDayClose->Deserialize(*document);
  } else if (aDocumentTypes.Contains(T::dt_GetTotals)) {
    fTotals->Deserialize(*document);
  }
}

}  // namespace qvpa
