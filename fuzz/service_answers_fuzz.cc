// The readers of the service's answers, fed fuzzed answers through the device's public
// operations: the answers of payment creation, reading, rollback and refund, the pages of
// verification, the daily closure behind DAYCLOSE and GETTOTALS, key registration, and the
// JSON accessors of kJSONUtils themselves. The first byte chooses the operation ('0' to
// '8'); the rest holds the service's answers to its requests in turn, separated by form
// feeds, each delivered with status 200. Requests beyond the answers fail as a refused
// connection does. Nothing is sent anywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

// The answers of the current input, taken in turn by the requests.
struct Script {
  std::vector<std::string_view> answers;
  size_t next = 0;
};

// Takes the platform client's place after the request's checks.
class ScriptedClient final : public HttpsClient {
 public:
  explicit ScriptedClient(Script& aScript) : fScript(aScript) {}

 protected:
  HttpsResponse Send(const HttpsRequest&) override {
    if (fScript.next >= fScript.answers.size()) {
      throw EHttpsFailure(HttpsFailureKind::kConnect, u"Connection refused");
    }
    return HttpsResponse{200, "OK", std::string(fScript.answers[fScript.next++]), {}};
  }

 private:
  Script& fScript;
};

// A device whose requests are answered by the script instead of the service.
class AnsweredDevice final : public kPayment_SATISPAY {
 public:
  AnsweredDevice(kPaymentHandler& aHandler, Script& aScript)
      : kPayment_SATISPAY(aHandler), fScript(aScript) {}

 protected:
  std::unique_ptr<HttpsClient> NewClient() override {
    return std::make_unique<ScriptedClient>(fScript);
  }

 private:
  Script& fScript;
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

std::unique_ptr<tQV_ApplicationScope> gApplication;  // outlives the device
Script gScript;
std::unique_ptr<AnsweredDevice> gDevice;
int gRuns = 0;

// One device serves many inputs (creating one per input would cost more than the reading):
// every request resets the channel's error state and each operation its result and texts.
// It is replaced now and then, together with its log.
AnsweredDevice& Device() {
  if (gDevice && ++gRuns % 1000 != 0) return *gDevice;
  gDevice.reset();
  fuzzing::ClearDeviceLogs();
  const std::unique_ptr<kPaymentHandler> open = Request(u"", T::dt_Open);
  gDevice = std::make_unique<AnsweredDevice>(*open, gScript);
  return *gDevice;
}

void Run(char aOperation) {
  if (aOperation == '8') {
    if (!gScript.answers.empty()) ReadWithAccessors(gScript.answers[0]);
    return;
  }
  AnsweredDevice& device = Device();
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

}  // namespace
}  // namespace qvpa

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qvpa::fuzzing::PrepareProcess();
  qvpa::gApplication = std::make_unique<qvpa::tQV_ApplicationScope>(
      std::vector<std::u16string>{u"service_answers_fuzz"});
  std::atexit([] {
    qvpa::gDevice.reset();
    qvpa::gApplication.reset();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(aData), aSize);
  qvpa::gScript = {qvpa::fuzzing::Split(input.substr(1), '\f'), 0};
  try {
    qvpa::Run(input[0]);
  } catch (const qvpa::EQVError&) {
    // A refused answer ends the operation with its message, as the export would report it.
  }
  return 0;
}
