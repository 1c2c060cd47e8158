#include "payment/payment_device.h"

#include "base/application.h"
#include "base/error.h"
#include "base/format_settings.h"
#include "base/message_type.h"
#include "base/text_helpers.h"
#include "io/io_handler.h"
#include "request/payment_handler.h"
#include "request/payment_sections.h"

namespace qvpa {
namespace {

// Folder of the device logs: LogFiles/Payment below the log root, ending with a separator.
std::u16string PaymentLogDirectory() {
  return JoinPath(JoinPath(JoinPath(LogRootPath(), u"LogFiles"), u"Payment"), u"");
}

void Banner(kIOHandler& aChannel, size_t aHyphens, std::u16string_view aName) {
  std::u16string line(aHyphens, u'-');
  line += u' ';
  line += aName;
  aChannel.Debug(tQV_MessageType::let_info, line);
}

}  // namespace

kPaymentDevice::kPaymentDevice(kPaymentHandler& aHandler)
    : fIOHandler(aHandler.CreateIOHandler(PaymentLogDirectory())) {
  if (!fIOHandler) throw EQVError(u"The device channel could not be created");
  fIOHandler->SetVersion(GetDriverVersion());
}

kPaymentDevice::~kPaymentDevice() = default;

std::u16string kPaymentDevice::GetDriverVersion() {
  const tQV_Application* app = QVApplication();
  if (app == nullptr) throw EQVError(u"The application object does not exist");
  return u"Version " + app->Info().Version() + u" - " + DateToShortText(app->Info().ReleaseDate());
}

template <class R>
void kPaymentDevice::CopyChannelError(R& aResult) {
  if (fIOHandler->ErrorFound()) aResult.ErrorText = fIOHandler->ErrorMessage();
}

_int_PAY_result kPaymentDevice::Pub_Pay(kPaymentHandler& aHandler) {
  _int_PAY_result result;
  Banner(*fIOHandler, 60, u"Pay");
  result.LogFileName = fIOHandler->GetLogFileName();
  result.PaymentDateTime = Now();
  result.TransactionType = qvPaymentTransactionType::ptt_Other;
  result.PaymentNetwork = qvPaymentNetwork::Other;
  kPaymentReceipt& receipt = aHandler.PaymentReceipt();
  switch (receipt.Action()) {
    case qvPaymentAction::Refund:
      Refund(receipt, result);
      break;
    case qvPaymentAction::Void:
      Void(receipt, result);
      break;
    default:
      Pay(receipt, result);
      break;
  }
  CopyChannelError(result);
  return result;
}

_int_PAY_result kPaymentDevice::Pub_VerifyTran(kPaymentHandler& aHandler) {
  _int_PAY_result result;
  Banner(*fIOHandler, 60, u"VerifyTran");
  result.LogFileName = fIOHandler->GetLogFileName();
  result.PaymentDateTime = Now();
  result.TransactionType = qvPaymentTransactionType::ptt_Other;
  result.PaymentNetwork = qvPaymentNetwork::Other;
  VerifyTran(aHandler.PaymentReceipt(), result);
  CopyChannelError(result);
  return result;
}

_int_REPRINT_result kPaymentDevice::Pub_Reprint(kPaymentHandler& aHandler) {
  _int_REPRINT_result result;
  Reprint(aHandler.PaymentReceipt(), result);
  CopyChannelError(result);
  return result;
}

_int_DAYCLOSE_result kPaymentDevice::Pub_DayClose(kPaymentHandler& aHandler) {
  _int_DAYCLOSE_result result;
  Banner(*fIOHandler, 55, u"DayClose");
  result.LogFileName = fIOHandler->GetLogFileName();
  result.ClosureDateTime = Now();
  DayClose(aHandler.DayClose(), result);
  CopyChannelError(result);
  return result;
}

_int_GETTOTALS_result kPaymentDevice::Pub_GetTotals(kPaymentHandler& aHandler) {
  _int_GETTOTALS_result result;
  Banner(*fIOHandler, 55, u"GetTotals");
  result.LogFileName = fIOHandler->GetLogFileName();
  result.DateTime = Now();
  GetTotals(aHandler.Totals(), result);
  CopyChannelError(result);
  return result;
}

}  // namespace qvpa
