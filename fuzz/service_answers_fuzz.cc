// The readers of the service's answers, fed fuzzed answers through the device's public
// operations: the answers of payment creation, reading, rollback and refund, the pages of
// verification, the daily closure behind DAYCLOSE and GETTOTALS, key registration, and the
// JSON accessors of kJSONUtils themselves. The first byte chooses the operation ('0' to
// '8'); the rest holds the service's answers to its requests in turn, separated by form
// feeds, each delivered with status 200. Requests beyond the answers fail as a refused
// connection does. Nothing is sent anywhere.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/application.h"
#include "base/error.h"
#include "base/text.h"
#include "fuzz/fuzz_support.h"
#include "request/payment_handler.h"
#include "satispay/https_client.h"
#include "satispay/json_utils.h"
#include "satispay/payment_satispay.h"

namespace qvpa {
namespace {

using T = qvPaymentHandlerDocumentType;

// Answers each request with the next of a list of bodies.
class ScriptedClient final : public HttpsClient {
 public:
  ScriptedClient(const std::vector<std::string_view>& aAnswers, size_t& aNext)
      : fAnswers(aAnswers), fNext(aNext) {}
  HttpsResponse Execute(const HttpsRequest&) override {
    if (fNext >= fAnswers.size()) throw EQVError(u"Connection refused");
    return HttpsResponse{200, "OK", std::string(fAnswers[fNext++])};
  }

 private:
  const std::vector<std::string_view>& fAnswers;
  size_t& fNext;
};

class AnsweredDevice final : public kPayment_SATISPAY {
 public:
  AnsweredDevice(kPaymentHandler& aHandler, std::vector<std::string_view> aAnswers)
      : kPayment_SATISPAY(aHandler), fAnswers(std::move(aAnswers)) {}

 protected:
  std::unique_ptr<HttpsClient> NewClient() override {
    return std::make_unique<ScriptedClient>(fAnswers, fNext);
  }

 private:
  std::vector<std::string_view> fAnswers;
  size_t fNext = 0;
};

std::unique_ptr<kPaymentHandler> Request(const std::u16string& aSection,
                                         qvPaymentHandlerDocumentType aType) {
  auto handler = std::make_unique<kPaymentHandler>();
  handler->Deserialize(
      u"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>F2</LogId>"
      u"<Connection><Type>HTTP</Type></Connection><Parameters><KeyID>fuzz-key</KeyID>"
      u"</Parameters>" + aSection + u"</Request>",
      {aType});
  return handler;
}

std::unique_ptr<kPaymentHandler> Payment(const std::u16string& aFields) {
  return Request(u"<Payment><Amount>12.50</Amount><Currency>EUR</Currency>"
                 u"<Reference>R-1</Reference>" + aFields + u"</Payment>",
                 T::dt_Pay);
}

// The accessors on the first answer, on paths the readers use and a few they do not.
void ReadWithAccessors(std::string_view aAnswer) {
  const std::optional<nlohmann::json> answer = kJSONUtils::TryParse(aAnswer);
  if (!answer) return;
  const nlohmann::json* root = &*answer;
  for (const char16_t* path : {u"id", u"status", u"receiver.id", u"data[0].id", u"data[1]",
                               u"shop_daily_closure.amount_unit", u"[0]", u"a[", u"a[]"}) {
    kJSONUtils::GetString(root, path);
    kJSONUtils::GetBoolean(root, path);
    kJSONUtils::GetCurrency(root, path);
    kJSONUtils::GetObject(root, path);
    kJSONUtils::GetArray(root, path);
  }
  try {
    kJSONUtils::GetDateFromString(kJSONUtils::GetString(root, u"date"));
  } catch (const EQVError&) {
  }
}

void Run(char aOperation, const std::vector<std::string_view>& aAnswers) {
  if (aOperation == '8') {
    if (!aAnswers.empty()) ReadWithAccessors(aAnswers[0]);
    return;
  }
  const std::unique_ptr<kPaymentHandler> open = Request(u"", T::dt_Open);
  AnsweredDevice device(*open, aAnswers);
  switch (aOperation) {
    case '0':
      device.Pub_Pay(*Payment(u"<Action>PAY</Action><Phase>BEGIN</Phase>"));
      break;
    case '1':
      device.Pub_Pay(*Payment(u"<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>"));
      break;
    case '2':
      device.Pub_Pay(
          *Payment(u"<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>p-1</Attributes>"));
      break;
    case '3':
      device.Pub_Pay(*Payment(u"<Action>REFUND</Action><RefundReference><PaymentId>p-1"
                              u"</PaymentId></RefundReference>"));
      break;
    case '4':
      device.Pub_VerifyTran(
          *Request(u"<VerifyTran><ReceiptId>R-1</ReceiptId></VerifyTran>", T::dt_VerifyTran));
      break;
    case '5':
      device.Pub_DayClose(*Request(u"<DayClose/>", T::dt_DayClose));
      break;
    case '6':
      device.Pub_GetTotals(*Request(u"<GetTotals/>", T::dt_GetTotals));
      break;
    case '7': {
      std::u16string key_id;
      device.AuthenticationKeys(u"token-1", key_id);
      break;
    }
    default:
      break;
  }
}

std::unique_ptr<tQV_ApplicationScope> gApplication;

}  // namespace
}  // namespace qvpa

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qvpa::fuzzing::PrepareProcess();
  qvpa::gApplication = std::make_unique<qvpa::tQV_ApplicationScope>(
      std::vector<std::u16string>{u"service_answers_fuzz"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(aData), aSize);
  try {
    qvpa::Run(input[0], qvpa::fuzzing::Split(input.substr(1), '\f'));
  } catch (const qvpa::EQVError&) {
    // A refused answer ends the operation with its message, as the export would report it.
  }
  qvpa::fuzzing::ClearDeviceLogs();
  return 0;
}
