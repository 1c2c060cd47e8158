#include "satispay/payment_satispay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <optional>

#include <nlohmann/json.hpp>

#include "base/application.h"
#include "base/error.h"
#include "base/format_settings.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/text_helpers.h"
#include "io/io_handler_http.h"
#include "request/payment_handler.h"
#include "request/payment_sections.h"
#include "satispay/clock_skew.h"
#include "satispay/https_client.h"
#include "satispay/json_utils.h"
#include "satispay/module_resources.h"

namespace qvpa {
namespace {

using nlohmann::json;

constexpr int kReportWidth = 60;
constexpr const char16_t* kUserAgent = u"Brivel MXR Driver";
constexpr const char16_t* kPayments = u"payments";
constexpr const char16_t* kRollbackBody = u"{\"action\": \"CANCEL_OR_REFUND\"}";
constexpr const char16_t* kMissingPaymentId =
    u"Payment identifier missing: DO and ROLLBACK need the PaymentNumber answered by BEGIN in"
    u" <Attributes>";

// A secret as the log shows it: all but its last two characters masked.
std::u16string MaskSecret(const std::u16string& aSecret) {
  if (aSecret.size() <= 2) return std::u16string(aSecret.size(), u'*');
  return std::u16string(aSecret.size() - 2, u'*') + aSecret.substr(aSecret.size() - 2);
}
constexpr int32_t kPost = static_cast<int32_t>(SatispayMethod::Post);
constexpr int32_t kPut = static_cast<int32_t>(SatispayMethod::Put);
constexpr int32_t kGet = static_cast<int32_t>(SatispayMethod::Get);
constexpr double kMillisecondsPerDay = 86400000.0;
constexpr double kUnixEpochDays = 25569.0;  // 1 January 1970 as a TDateTime
// The journal's status of a BEGIN the service refused or never received.
constexpr const char16_t* kNotMade = u"NOT_MADE";
// How long after its time limit an unanswered BEGIN is still taken as possibly in flight:
// the margin within which a payment it made shows in the listing.
constexpr int64_t kUnansweredBeginGraceMs = 10000;
constexpr const char16_t* kWaitHeader = u"x-satispay-response-wait-time";

// A path segment or query value taken from outside (the host's request, the service's
// answers) cannot leave its place in the URL: anything but unreserved characters is
// percent-encoded, and so are the dots of a "." or ".." segment.
std::u16string EncodeUrlPart(std::u16string_view aValue) {
  const std::string bytes = ToUtf8(aValue);
  const bool only_dots = !bytes.empty() && bytes.find_first_not_of('.') == std::string::npos;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string encoded;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                            (b >= '0' && b <= '9') || b == '-' || b == '_' || b == '~' ||
                            (b == '.' && !only_dots);
    if (unreserved) {
      encoded.push_back(static_cast<char16_t>(b));
    } else {
      encoded.push_back(u'%');
      encoded.push_back(static_cast<char16_t>(kHex[b >> 4]));
      encoded.push_back(static_cast<char16_t>(kHex[b & 0x0F]));
    }
  }
  return encoded;
}

std::string JsonString(std::u16string_view aText) { return json(ToUtf8(aText)).dump(); }

// The answer of a successful request as a JSON object; throws EQVError otherwise, so
// that an answer the driver cannot read never counts as a success.
json ParseAnswerObject(const std::u16string& aText) {
  json answer = kJSONUtils::Parse(aText);
  if (!answer.is_object()) throw EQVError(u"Invalid JSON: the answer is not an object");
  return answer;
}

// "insert_date" of a payment as UTC date-time: yyyy-mm-ddThh:nn:ss[.fff][Z|+hh:mm|-hh:mm].
TDateTime IsoToUtc(const std::u16string& aText) {
  TDateTime value = ISOToDateTime(aText);
  size_t i = 19;
  if (i < aText.size() && aText[i] == u'.') {
    ++i;
    while (i < aText.size() && aText[i] >= u'0' && aText[i] <= u'9') ++i;
  }
  if (i < aText.size() && (aText[i] == u'+' || aText[i] == u'-')) {
    const std::u16string zone = aText.substr(i + 1);
    int32_t hours = 0;
    int32_t minutes = 0;
    const bool read = zone.size() >= 2 && TryStrToInt(zone.substr(0, 2), hours) &&
                      (zone.size() == 2 ||
                       TryStrToInt(zone.substr(zone[2] == u':' ? 3 : 2, 2), minutes));
    if (!read || hours > 23 || minutes > 59 || hours < 0 || minutes < 0) {
      throw EQVError(u"DateTime Format invalid: [" + aText + u"]");
    }
    const double offset = (hours * 60.0 + minutes) / 1440.0;
    value += aText[i] == u'+' ? -offset : offset;
  }
  return value;
}

// "#,##0.00" with the regional separators.
std::u16string FormatAmount(Currency aAmount, const FormatSettings& aSettings) {
  const int64_t cents = aAmount.ToCents();
  const uint64_t magnitude = cents < 0 ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  const std::u16string digits = IntToStr(static_cast<int64_t>(magnitude / 100));
  std::u16string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(aSettings.ThousandSeparator);
    grouped.push_back(digits[i]);
  }
  const auto fraction = static_cast<int64_t>(magnitude % 100);
  std::u16string text = cents < 0 ? u"-" : u"";
  text += grouped;
  text.push_back(aSettings.DecimalSeparator);
  if (fraction < 10) text.push_back(u'0');
  text += IntToStr(fraction);
  return text;
}

std::chrono::milliseconds ParseRequestTimeout(const std::u16string& aText) {
  int32_t value = 0;
  if (!TryStrToInt(aText, value) || value <= 0) {
    throw EQVError(u"Parameter RequestTimeout must be a positive number of milliseconds: [" +
                   aText + u"]");
  }
  return std::chrono::milliseconds(value);
}

std::chrono::seconds ParseAcceptanceWait(const std::u16string& aText) {
  int32_t value = 0;
  if (!TryStrToInt(aText, value) || value < 0 || value > kPayment_SATISPAY::kMaxAcceptanceWait) {
    throw EQVError(u"Parameter AcceptanceWait must be a number of seconds from 0 to " +
                   IntToStr(kPayment_SATISPAY::kMaxAcceptanceWait) + u": [" + aText + u"]");
  }
  return std::chrono::seconds(value);
}

// Who this driver is, for the service's device identification headers.
DeviceIdentity ReadIdentity(const kPaymentHandler& aHandler) {
  DeviceIdentity identity;
  if (aHandler.ParameterExists(u"DeviceType")) {
    const std::u16string type = aHandler.GetParameter(u"DeviceType");
    if (!IsDeviceType(type)) {
      throw EQVError(u"Parameter DeviceType must be one of " + DeviceTypeList() + u": [" + type + u"]");
    }
    identity.device_type = type;
  }
  identity.device_info = platform::HostName();
  identity.os = platform::OsName();
  identity.os_version = platform::OsVersion();
  identity.app_name = kUserAgent;
  if (const tQV_Application* app = QVApplication()) identity.app_version = app->Info().Version();
  return identity;
}

// The seconds an x-satispay-response-wait-time header asks the service to hold its answer.
std::chrono::seconds RequestedWait(const std::string& aName, const std::string& aValue) {
  int32_t seconds = 0;
  if (!SameText(FromUtf8(aName), kWaitHeader) || !TryStrToInt(FromUtf8(aValue), seconds) ||
      seconds <= 0 || seconds > 60) {
    return std::chrono::seconds(0);
  }
  return std::chrono::seconds(seconds);
}

}  // namespace

kPayment_SATISPAY::kPayment_SATISPAY(kPaymentHandler& aHandler) : kPaymentDevice(aHandler) {
  fKeyID = aHandler.GetParameter(u"KeyID");
  fStaging = LowerCase(aHandler.GetParameter(u"Staging")) == u"true";
  fProductionHost = ProductionHost();
  fStagingHost = StagingHost();
  fHost = fStaging ? fStagingHost : fProductionHost;
  fIOHandlerHTTP = dynamic_cast<kIOHandler_HTTP*>(&IOHandler());
  if (fIOHandlerHTTP == nullptr) throw EInvalidCast();
  fApiVersion = u"/g_business/v1/";
  if (fIOHandlerHTTP->URL().empty()) fIOHandlerHTTP->SetURL(u"https://" + fHost + fApiVersion);
  if (!fIOHandlerHTTP->URL().ends_with(u'/')) fIOHandlerHTTP->SetURL(fIOHandlerHTTP->URL() + u"/");
  if (aHandler.ParameterExists(u"RequestTimeout")) {
    fTotalTimeout = ParseRequestTimeout(aHandler.GetParameter(u"RequestTimeout"));
    fConnectTimeout = std::min(kDefaultConnectTimeout, fTotalTimeout);
  }
  if (aHandler.ParameterExists(u"AcceptanceWait")) {
    fAcceptanceWait = ParseAcceptanceWait(aHandler.GetParameter(u"AcceptanceWait"));
  }
  fIdentity = ReadIdentity(aHandler);
  fLogId = aHandler.LogId();
}

kPayment_SATISPAY::~kPayment_SATISPAY() = default;

void kPayment_SATISPAY::Log(tQV_MessageType aType, const std::u16string& aTitle,
                            const std::u16string& aMessage) {
  fIOHandlerHTTP->WriteLog(aType, aTitle, aMessage);
}

std::u16string kPayment_SATISPAY::GetHost() const { return fStaging ? fStagingHost : fProductionHost; }

std::u16string kPayment_SATISPAY::GetBaseURL() {
  std::u16string url = u"https://" + GetHost() + fApiVersion;
  if (!url.ends_with(u'/')) url += u'/';
  fIOHandlerHTTP->SetURL(url);
  return url;
}

std::unique_ptr<HttpsClient> kPayment_SATISPAY::NewClient() { return NewHttpsClient(); }

std::u16string kPayment_SATISPAY::LoadResourceText(std::u16string_view aName) {
  return qvpa::LoadResourceText(aName);
}

std::u16string kPayment_SATISPAY::SignString(std::u16string_view aText) {
  // The built-in key never changes: it is parsed on the first signature of the process and
  // kept until the library is unloaded. A failed parse is not kept; the next call tries again.
  // The first use is initialised once for all threads; signing with it is safe from any.
  static const TRSAPrivateKey key = [] {
    const std::string pem = ToUtf8(LoadResourceText(u"satispay_privatekey"));
    return TRSAPrivateKey(std::span(reinterpret_cast<const uint8_t*>(pem.data()), pem.size()));
  }();
  return SignText(aText, key);
}

bool kPayment_SATISPAY::ExecuteRequest(const std::u16string& aResource, int32_t aMethod,
                                       const std::vector<std::u16string>* aHeaders,
                                       const std::u16string& aQuery, const std::u16string& aId) {
  fIOHandlerHTTP->ResetCustomError();
  fLastRequestMayHaveActed = false;

  HttpsRequest request;
  request.connect_timeout = fConnectTimeout;
  request.total_timeout = fTotalTimeout;
  request.extra_ca_file = ExtraCaFile();
  request.user_agent = ToUtf8(kUserAgent);
  request.content_type = "application/json";
  const std::u16string method = GetMethodText(aMethod);
  request.method = ToUtf8(method);

  // URL and signed path carry the same id segment and query.
  std::u16string url = GetBaseURL() + aResource;
  std::u16string path = fApiVersion + aResource;
  if (!aId.empty()) {
    const std::u16string segment = u"/" + EncodeUrlPart(aId);
    url += segment;
    path += segment;
  }
  url += aQuery;
  path += aQuery;
  request.url = ToUtf8(url);

  // After the signed headers: what the service asks of every client, the creation's
  // Idempotency-Key (not signed, so a repeat may carry a new date), the caller's lines.
  std::vector<std::pair<std::string, std::string>> unsigned_headers = ContractHeaders(fIdentity);
  const bool creation = method == u"POST" && LowerCase(aResource) == kPayments && aId.empty();
  std::u16string idempotency_key;
  if (creation) idempotency_key = fNextIdempotencyKey.empty() ? NewIdempotencyKey() : fNextIdempotencyKey;
  fNextIdempotencyKey.clear();
  if (creation) unsigned_headers.emplace_back("Idempotency-Key", ToUtf8(idempotency_key));
  if (aHeaders != nullptr) {
    for (const std::u16string& line : *aHeaders) {
      const size_t equals = line.find(u'=');
      unsigned_headers.emplace_back(ToUtf8(line.substr(0, equals)),
                                    equals == std::u16string::npos ? std::string()
                                                                   : ToUtf8(line.substr(equals + 1)));
      request.total_timeout += RequestedWait(unsigned_headers.back().first, unsigned_headers.back().second);
    }
  }
  if (aMethod != kGet) request.body = ToUtf8(fJSONRequest);
  const bool is_signed = LowerCase(aResource) != u"authentication_keys";

  // The method and path on a line of their own; the request line holds the body alone (a
  // secret in it masked), so that a reader of the log finds JSON after the colon.
  Log(tQV_MessageType::let_info, u"kSATISPAY.Method", method + u" " + path);
  Log(tQV_MessageType::let_info, u"kSATISPAY.Request",
      fLoggedRequest.empty() ? fJSONRequest : fLoggedRequest);
  fLoggedRequest.clear();
  if (creation) Log(tQV_MessageType::let_info, u"kSATISPAY.IdempotencyKey", idempotency_key);

  int32_t status = 0;
  std::u16string status_text;
  std::string body;
  std::string answer_date;  // the answer's Date header
  // A repeat shares the request's time limit with the first attempt.
  const auto deadline = std::chrono::steady_clock::now() + request.total_timeout;
  // One client for the device's life, made at its first request; it connects then.
  if (!fHttpsClient) fHttpsClient = NewClient();
  for (int attempt = 1;; ++attempt) {
    request.headers.clear();
    if (is_signed) {
      const std::u16string digest = GetDigest(fJSONRequest);
      const std::u16string date = CurrentSignatureDate();
      const std::u16string host = GetHost();
      const std::u16string signature =
          SignString(GetSigningString(host, digest, date, LowerCase(method), path));
      request.headers = {{"Content-Type", "application/json"},
                         {"host", ToUtf8(host)},
                         {"date", ToUtf8(date)},
                         {"digest", ToUtf8(digest)},
                         {"Authorization", ToUtf8(GetAuthorization(signature))}};
    }
    request.headers.insert(request.headers.end(), unsigned_headers.begin(), unsigned_headers.end());
    try {
      HttpsResponse response = fHttpsClient->Execute(request);
      LogResends(response.sends);
      status = response.status;
      status_text = FromUtf8(response.status_text);
      body = std::move(response.body);
      answer_date = std::move(response.date);
      break;
    } catch (const std::exception& failure) {
      const EQVError* own = dynamic_cast<const EQVError*>(&failure);
      const std::u16string message = own != nullptr ? own->Message() : FromUtf8(failure.what());
      const auto* transport = dynamic_cast<const EHttpsFailure*>(&failure);
      if (transport != nullptr) LogResends(transport->Sends());
      Log(tQV_MessageType::let_error, u"kSATISPAY.ExecuteRequest", message);
      // Only a request that never left leaves no doubt about what the service did.
      if (transport == nullptr || (transport->Kind() != HttpsFailureKind::kRefused &&
                                   transport->Kind() != HttpsFailureKind::kConnect)) {
        fLastRequestMayHaveActed = true;
      }
      // A creation that went out and was cut off unanswered may have been stored: the same
      // key makes the service answer with that payment instead of making a second one.
      // After a time-out the host decides.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (creation && attempt == 1 && transport != nullptr &&
          transport->Kind() == HttpsFailureKind::kDropped && left.count() > 0) {
        request.total_timeout = left;
        Log(tQV_MessageType::let_info, u"kSATISPAY.Retry", u"Idempotency-Key=" + idempotency_key);
        continue;
      }
      status = 500;
      status_text = message;
      break;
    }
  }

  // A local clock far from the service's gets signed requests refused: said in the log.
  const std::optional<int64_t> clock_ahead =
      LocalClockAhead(answer_date, std::chrono::system_clock::now());
  if (clock_ahead && std::abs(*clock_ahead) > kClockSkewWarningSeconds) {
    Log(tQV_MessageType::let_info, u"kSATISPAY.ClockSkew",
        u"WARNING: " + ClockOffsetText(*clock_ahead, answer_date) +
            u"; signed requests may be refused");
  }
  if (status == 200) {
    fJSONResponse = FromUtf8(body);
    Log(tQV_MessageType::let_info, u"kSATISPAY.Response", fJSONResponse);
    return true;
  }
  if (status >= 500) fLastRequestMayHaveActed = true;  // the service may have failed after acting
  // A status line without a reason phrase still leaves a readable error text.
  if (status_text.empty()) status_text = fIOHandlerHTTP->DecodeError(status);
  Log(tQV_MessageType::let_info, u"kSATISPAY.Response", IntToStr(status) + u" " + status_text);
  // A refusal's body says what was wrong (its code and message): kept for support.
  if (!body.empty()) Log(tQV_MessageType::let_error, u"kSATISPAY.ResponseBody", FromUtf8(body));
  if (status == 401) {
    Log(tQV_MessageType::let_error, u"kSATISPAY.Unauthorized",
        u"KeyID=" + fKeyID + u" Host=" + GetHost() +
            u" (key not registered, a staging key against production or the reverse, or the"
            u" local clock off); " +
            (clock_ahead ? ClockOffsetText(*clock_ahead, answer_date) : u"the answer has no Date"));
  }
  fIOHandlerHTTP->SetCustomError(status, status_text);
  return false;
}

// Every sending shows in the log: the transport sends a request once more by itself when a
// kept connection died before any answer.
void kPayment_SATISPAY::LogResends(int aSends) {
  for (int extra = 1; extra < aSends; ++extra) {
    Log(tQV_MessageType::let_info, u"kSATISPAY.Resent",
        u"sent once more over a new connection: the kept one closed without an answer");
  }
}

// ---- Payment flow ----

std::string kPayment_SATISPAY::AmountUnitText(qvpa::Currency aAmount) {
  // raw = amount x 10000, so hundredths = raw / 100 with two further decimals.
  const int64_t raw = aAmount.Raw();
  const uint64_t magnitude = raw < 0 ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  std::string text = raw < 0 ? "-" : "";
  text += std::to_string(magnitude / 100);
  const uint64_t fraction = magnitude % 100;
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

void kPayment_SATISPAY::BuildPaymentJSON(const kPaymentReceipt& aReceipt) {
  const std::string body = "{\"flow\":\"MATCH_CODE\",\"amount_unit\":" + AmountUnitText(aReceipt.Amount()) +
                           ",\"currency\":" + JsonString(aReceipt.Currency()) +
                           ",\"external_code\":" + JsonString(aReceipt.Reference()) + "}";
  fJSONRequest = FromUtf8(body);
}

void kPayment_SATISPAY::BuildRefundJSON(const kPaymentReceipt& aReceipt) {
  const std::string body = "{\"flow\":\"REFUND\",\"amount_unit\":" + AmountUnitText(aReceipt.Amount()) +
                           ",\"currency\":" + JsonString(aReceipt.Currency()) +
                           ",\"parent_payment_uid\":" +
                           JsonString(aReceipt.RefundReference().PaymentNumber) + "}";
  fJSONRequest = FromUtf8(body);
}

namespace {

enum class PaymentAnswer { Created, Read, Rolledback, Refunded };

// Fills the result fields every reading routine sets and returns the answer's status.
std::u16string FillPaymentResult(const json& aAnswer, PaymentAnswer aKind, _int_PAY_result& aResult) {
  const json* answer = &aAnswer;
  if (aKind == PaymentAnswer::Created || aKind == PaymentAnswer::Read) {
    aResult.DeviceId = kJSONUtils::GetString(kJSONUtils::GetObject(answer, u"receiver"), u"id");
  }
  const std::u16string id = kJSONUtils::GetString(answer, u"id");
  aResult.PaymentDateTime = Now();
  aResult.PaymentNumber = id;
  aResult.PaymentAmount = kJSONUtils::GetCurrency(answer, u"amount_unit");
  aResult.PaymentCurrency = kJSONUtils::GetString(answer, u"currency");
  aResult.AuthCode = aKind == PaymentAnswer::Created || aKind == PaymentAnswer::Read
                         ? kJSONUtils::GetString(answer, u"code_identifier")
                         : std::u16string();
  aResult.TraceAuditId = id;
  aResult.RefundReference = aKind == PaymentAnswer::Read ? id : std::u16string();
  aResult.PaymentNetwork = qvPaymentNetwork::Satispay;
  aResult.TransactionType = qvPaymentTransactionType::ptt_Other;
  aResult.MaskedPAN.clear();
  aResult.PaymentCurrencyCurrency.clear();
  aResult.ExchangeRate = Currency();
  aResult.PaymentAmountCurrency = Currency();
  aResult.TippedAmount = Currency();
  aResult.RemainingBalance = Currency();
  return kJSONUtils::GetString(answer, u"status");
}

}  // namespace

bool kPayment_SATISPAY::ReadPayBeginResponse(const kPaymentReceipt&, _int_PAY_result& aResult) {
  const std::u16string status =
      FillPaymentResult(ParseAnswerObject(fJSONResponse), PaymentAnswer::Created, aResult);
  if (UpperCase(status) != u"PENDING") {
    aResult.Error = true;
    aResult.ErrorText = u"Transaction Status Invalid. Must be PENDING";
    return false;
  }
  return true;
}

bool kPayment_SATISPAY::ReadPaymentResponse(const kPaymentReceipt&, _int_PAY_result& aResult) {
  const std::u16string status =
      FillPaymentResult(ParseAnswerObject(fJSONResponse), PaymentAnswer::Read, aResult);
  if (UpperCase(status) != u"ACCEPTED") {
    aResult.Error = true;
    aResult.ErrorText = status;
    return false;
  }
  return true;
}

bool kPayment_SATISPAY::ReadRollbackResponse(const kPaymentReceipt&, _int_PAY_result& aResult) {
  FillPaymentResult(ParseAnswerObject(fJSONResponse), PaymentAnswer::Rolledback, aResult);
  return true;
}

bool kPayment_SATISPAY::ReadRefundResponse(const kPaymentReceipt&, _int_PAY_result& aResult) {
  const std::u16string status =
      FillPaymentResult(ParseAnswerObject(fJSONResponse), PaymentAnswer::Refunded, aResult);
  if (UpperCase(status) != u"ACCEPTED") {
    aResult.Error = true;
    aResult.ErrorText = u"Transaction Status Invalid. Must be ACCEPTED";
    return false;
  }
  return true;
}

bool kPayment_SATISPAY::Pay(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  bool ok = false;
  switch (aReceipt.Action()) {
    case qvPaymentAction::Pay:
      switch (aReceipt.Phase()) {
        case qvPaymentPhase::Begin: {
          BuildPaymentJSON(aReceipt);
          Log(tQV_MessageType::let_info, u"kSATISPAY.PayBegin", u"");
          // On disk before the request leaves: a verification after a lost answer or a
          // restart of the host knows what was sent.
          JournalEntry entry;
          entry.reference = aReceipt.Reference();
          entry.amount_raw = aReceipt.Amount().Raw();
          entry.currency = aReceipt.Currency();
          entry.idempotency_key = NewIdempotencyKey();
          entry.begun_ms = PaymentJournal::NowMs();
          entry.time_limit_ms = fTotalTimeout.count();
          entry.device = fLogId + u"#" + IntToStr(Handle());
          UseJournal(u"record the payment", [&](PaymentJournal& aJournal) { aJournal.RecordBegin(entry); });
          fNextIdempotencyKey = entry.idempotency_key;
          ok = ExecuteRequest(kPayments, kPost, nullptr, u"", u"");
          if (ok) {
            JournalAnswer(entry.idempotency_key);
          } else if (!fLastRequestMayHaveActed) {
            // Refused, or never sent: no payment came of it.
            UseJournal(u"record the refusal", [&](PaymentJournal& aJournal) {
              aJournal.RecordAnswer(entry.idempotency_key, u"", kNotMade);
            });
          }
          ok = ok && ReadPayBeginResponse(aReceipt, aResult);
          break;
        }
        case qvPaymentPhase::Do:
          fJSONRequest.clear();
          if (aReceipt.Attributes().empty()) {
            aResult.ErrorText = kMissingPaymentId;
            break;
          }
          Log(tQV_MessageType::let_info, u"kSATISPAY.PayDo", u"");
          ok = ReadPaymentForDo(aReceipt.Attributes());
          if (ok) JournalAnswer(u"");
          ok = ok && ReadPaymentResponse(aReceipt, aResult);
          break;
        case qvPaymentPhase::Commit:
          ok = true;
          break;
        case qvPaymentPhase::Rollback:
          fJSONRequest = kRollbackBody;
          if (aReceipt.Attributes().empty()) {
            aResult.ErrorText = kMissingPaymentId;
            break;
          }
          Log(tQV_MessageType::let_info, u"kSATISPAY.PayRollback", u"");
          ok = ExecuteRequest(kPayments, kPut, nullptr, u"", aReceipt.Attributes());
          if (ok) JournalAnswer(u"");
          ok = ok && ReadRollbackResponse(aReceipt, aResult);
          break;
        default:
          aResult.ErrorText = u"Phase Invalid. Must be BEGIN or DO or COMMIT or ROLLBACK";
          break;
      }
      break;
    case qvPaymentAction::Refund:
    case qvPaymentAction::Void:
      BuildRefundJSON(aReceipt);
      Log(tQV_MessageType::let_info, u"kSATISPAY.Refund", u"");
      ok = ExecuteRequest(kPayments, kPost, nullptr, u"", u"") && ReadRefundResponse(aReceipt, aResult);
      break;
    default:
      aResult.ErrorText = u"Action Invalid. Must be PAY, REFUND or VOID";
      break;
  }
  aResult.Error = !ok;
  return ok;
}

bool kPayment_SATISPAY::ReadPaymentForDo(const std::u16string& aId) {
  if (fAcceptanceWait.count() == 0) return ExecuteRequest(kPayments, kGet, nullptr, u"", aId);
  // The service holds the answer until the customer acts or the wait ends.
  const std::vector<std::u16string> wait = {std::u16string(kWaitHeader) + u"=" +
                                            IntToStr(fAcceptanceWait.count())};
  return ExecuteRequest(kPayments, kGet, &wait, u"", aId);
}

bool kPayment_SATISPAY::Refund(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Pay(aReceipt, aResult);
}

bool kPayment_SATISPAY::Void(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  return Refund(aReceipt, aResult);
}

bool kPayment_SATISPAY::Reprint(kPaymentReceipt&, _int_REPRINT_result&) { return false; }

bool kPayment_SATISPAY::GetStatus() { return false; }

// ---- Verification ----

bool kPayment_SATISPAY::VerifyTran(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) {
  Log(tQV_MessageType::let_info, u"kSATISPAY.VerifyTran", u"ReceiptId=" + aReceipt.ReceiptId());
  // An empty code would match payments made without one: no search, a clear refusal.
  if (aReceipt.ReceiptId().empty()) {
    aResult.Error = true;
    aResult.ErrorText = u"ReceiptId missing: VERIFYTRAN needs the reference of the payment"
                        u" (the Reference sent with BEGIN) in <ReceiptId>";
    return false;
  }
  std::optional<JournalEntry> begun;
  UseJournal(u"read", [&](PaymentJournal& aJournal) { begun = aJournal.Latest(aReceipt.ReceiptId()); });
  if (begun && !begun->payment_id.empty()) {
    // The id is known: one read answers, whatever the listing gives.
    Log(tQV_MessageType::let_info, u"kSATISPAY.VerifyTran",
        u"payment " + begun->payment_id + u" from the journal (" + begun->device + u")");
    fJSONRequest.clear();
    if (!ExecuteRequest(kPayments, kGet, nullptr, u"", begun->payment_id)) {
      aResult.Error = true;
      return false;
    }
    JournalAnswer(u"");
    return ReadPaymentResponse(aReceipt, aResult);
  }
  if (begun) {
    Log(tQV_MessageType::let_info, u"kSATISPAY.VerifyTran",
        u"begun by " + begun->device + u" without an answer: searching the listings");
  }
  if (GetTransactionsByRange(aReceipt.ReceiptId(), std::floor(Now()), begun ? &*begun : nullptr)) {
    if (begun) JournalAnswer(begun->idempotency_key);
    return ReadPaymentResponse(aReceipt, aResult);
  }
  // A BEGIN that got no answer may still be stored by the service for a while after the
  // device gave up: "not found" then would have the till charge the customer twice.
  if (begun && begun->payment_id.empty() && begun->status != kNotMade) {
    const int64_t since = PaymentJournal::NowMs() - begun->begun_ms;
    if (since < begun->time_limit_ms + kUnansweredBeginGraceMs) {
      aResult.Error = true;
      aResult.ErrorText = u"Verification incomplete: the BEGIN with this reference " + IntToStr(since / 1000) +
                          u" s ago got no answer and the service may still store it; ask again in a few seconds";
      return false;
    }
  }
  aResult.Error = true;
  aResult.ErrorText = u"Transaction with external_code " + aReceipt.ReceiptId() + u" not found";
  return false;
}

nlohmann::json kPayment_SATISPAY::ReadListingPage() {
  json page;
  try {
    page = ParseAnswerObject(fJSONResponse);
  } catch (...) {
    fJSONResponse.clear();
    throw;
  }
  if (kJSONUtils::GetArray(&page, u"data") == nullptr) {
    fJSONResponse.clear();
    throw EQVError(u"Invalid JSON: the listing has no \"data\" array");
  }
  return page;
}

bool kPayment_SATISPAY::GetTransactionsByRange(const std::u16string& aCode, TDateTime aDay,
                                               const JournalEntry* aBegun) {
  const TDateTime start = std::floor(aDay) - 1;
  fJSONResponse.clear();
  ListingSearch search = SearchListings(aCode, start, true, aBegun);
  int64_t searched = search.searched;
  if (search.found) {
    Log(tQV_MessageType::let_info, u"kSATISPAY.GetTransactionsByRange",
        u"found in the listing from starting_after_timestamp");
    return true;
  }
  if (search.failed) return false;
  if (search.first_pages_empty) {
    // Nothing at all from the timestamp: the service may read it as "created after" (in Unix
    // milliseconds) rather than as a place in the list. The listings from their top decide.
    Log(tQV_MessageType::let_info, u"kSATISPAY.GetTransactionsByRange",
        u"every listing empty from starting_after_timestamp: searching without it");
    search = SearchListings(aCode, start, false, aBegun);
    searched += search.searched;
    if (search.found) {
      Log(tQV_MessageType::let_info, u"kSATISPAY.GetTransactionsByRange",
          u"found in the listing without starting_after_timestamp");
      return true;
    }
    if (search.failed) return false;
  }
  fJSONResponse.clear();
  if (search.incomplete) {
    throw EQVError(u"Verification incomplete: " + IntToStr(searched) +
                   u" payments searched, window not exhausted");
  }
  // Items without external_code could be the payment: "not found" would be a guess.
  if (search.without_code > 0) {
    throw EQVError(u"Verification incomplete: the service's listing gives no external codes (" +
                   IntToStr(search.without_code) + u" of " + IntToStr(searched) +
                   u" payments searched carry none)");
  }
  return false;
}

kPayment_SATISPAY::ListingSearch kPayment_SATISPAY::SearchListings(const std::u16string& aCode,
                                                                   TDateTime aStart,
                                                                   bool aFromTimestamp,
                                                                   const JournalEntry* aBegun) {
  const auto start_value = static_cast<int64_t>(std::llround(aStart * kMillisecondsPerDay));
  // The service lists ACCEPTED payments when no status is asked for. PENDING goes first:
  // a payment leaves it only for ACCEPTED or CANCELED, which are listed after it, so a
  // payment that changes status while the search runs is still seen once.
  static constexpr const char16_t* kStatusQueries[] = {u"&status=PENDING", u"", u"&status=CANCELED"};
  ListingSearch search;
  for (const char16_t* status_query : kStatusQueries) {
    // Each listing ends at a match, at a payment older than the window (once the listing
    // shows itself newest first), when the service has no more pages, on a failed request,
    // or when its page budget is spent.
    bool more = true;
    std::u16string last_id;
    TDateTime previous = 0;
    bool have_previous = false;
    bool oldest_first = false;
    for (int page = 0; more; ++page) {
      if (page == kVerifyPagesPerStatus) {
        search.incomplete = true;
        break;
      }
      fJSONRequest.clear();
      Log(tQV_MessageType::let_info, u"kSATISPAY.GetTransactionsByRange", u"");
      std::u16string query;
      if (page > 0) {
        query = u"?starting_after=" + EncodeUrlPart(last_id) + u"&limit=20";
      } else if (aFromTimestamp) {
        query = u"?starting_after_timestamp=" + IntToStr(start_value) + u"&limit=20";
      } else {
        query = u"?limit=20";
      }
      query += status_query;
      // A listing page is only read: one that failed, was not JSON, or announced more with
      // nothing on it is asked for again. A whole day's search reads many pages, and one
      // failed page would otherwise fail the search.
      json answer;
      for (int attempt = 1;; ++attempt) {
        fJSONResponse.clear();  // a failed request leaves it so
        if (!ExecuteRequest(kPayments, kGet, nullptr, query, u"")) {
          if (attempt < kListingPageTries) continue;
          search.failed = true;
          return search;
        }
        try {
          answer = ReadListingPage();
        } catch (const EQVError&) {
          if (attempt < kListingPageTries) continue;
          throw;
        }
        const json* items = kJSONUtils::GetArray(&answer, u"data");
        const auto announced = answer.find("has_more");
        const bool empty_with_more =
            items->empty() && announced != answer.end() && announced->is_boolean() && announced->get<bool>();
        if (!empty_with_more || attempt == kListingPageTries) break;
      }
      const auto has_more = answer.find("has_more");
      if (has_more != answer.end() && has_more->is_boolean()) more = has_more->get<bool>();
      const json* data = kJSONUtils::GetArray(&answer, u"data");
      // More pages announced but none to continue from: the rest cannot be reached.
      if (data->empty()) {
        search.incomplete = search.incomplete || more;
        break;
      }
      if (page == 0) search.first_pages_empty = false;
      for (const json& payment : *data) {
        ++search.searched;
        last_id = kJSONUtils::GetString(&payment, u"id");
        const auto code_member = payment.is_object() ? payment.find("external_code") : payment.end();
        const bool has_code = payment.is_object() && code_member != payment.end() && code_member->is_string();
        const std::u16string code = kJSONUtils::GetString(&payment, u"external_code");
        TDateTime inserted = 0;
        Currency amount;
        try {
          inserted = IsoToUtc(kJSONUtils::GetString(&payment, u"insert_date"));
          if (!has_code && aBegun != nullptr) amount = kJSONUtils::GetCurrency(&payment, u"amount_unit");
        } catch (...) {
          fJSONResponse.clear();
          throw;
        }
        // A refund carries no code of its own and is never the payment asked for.
        const bool refund = kJSONUtils::GetString(&payment, u"type") == u"REFUND_TO_BUSINESS" ||
                            kJSONUtils::GetString(&payment, u"flow") == u"REFUND";
        if (!has_code && !refund && aBegun == nullptr) ++search.without_code;
        // Without a code, an item of the BEGIN's amount made while it ran may be it: read by id.
        if (!has_code && !refund && aBegun != nullptr && !last_id.empty() && amount.Raw() == aBegun->amount_raw) {
          const TDateTime begun = static_cast<double>(aBegun->begun_ms) / kMillisecondsPerDay + kUnixEpochDays;
          const TDateTime margin = 10000.0 / kMillisecondsPerDay;
          if (inserted >= begun - margin &&
              inserted <= begun + static_cast<double>(aBegun->time_limit_ms) / kMillisecondsPerDay + margin) {
            ++search.candidates_read;
            const int read = ReadCandidate(last_id, aCode);
            if (read < 0) {
              search.failed = true;
              return search;
            }
            if (read > 0) {
              search.found = true;
              return search;
            }
          }
        }
        if (!code.empty() && code == aCode) {
          fJSONResponse = FromUtf8(payment.dump(-1, ' ', false, json::error_handler_t::replace));
          search.found = true;
          return search;
        }
        // A listing that runs oldest first is followed to its end: its first items are
        // older than the window by nature.
        if (have_previous && inserted > previous) oldest_first = true;
        const bool older_than_window = std::floor(inserted) < aStart;
        if (older_than_window && !oldest_first && (have_previous || aFromTimestamp)) {
          more = false;
          break;
        }
        previous = inserted;
        have_previous = true;
      }
    }
  }
  return search;
}

int kPayment_SATISPAY::ReadCandidate(const std::u16string& aId, const std::u16string& aCode) {
  fJSONRequest.clear();
  Log(tQV_MessageType::let_info, u"kSATISPAY.GetTransactionsByRange", u"candidate " + aId);
  if (!ExecuteRequest(kPayments, kGet, nullptr, u"", aId)) {
    fJSONResponse.clear();
    return -1;
  }
  json read;
  try {
    read = ParseAnswerObject(fJSONResponse);
  } catch (...) {
    fJSONResponse.clear();
    throw;
  }
  if (kJSONUtils::GetString(&read, u"external_code") == aCode) return 1;
  fJSONResponse.clear();
  return 0;
}

// ---- Payment journal ----

PaymentJournal* kPayment_SATISPAY::Journal() {
  if (fJournalTried) return fJournal.get();
  fJournalTried = true;
  const std::u16string folder = JoinPath(JoinPath(JoinPath(LogRootPath(), u"LogFiles"), u"Payment"), u"");
  const std::u16string file = PaymentJournal::FileFor(folder, fKeyID);
  try {
    platform::CreateDirectories(folder);
    fJournal = PaymentJournal::Open(file);
    Log(tQV_MessageType::let_info, u"kSATISPAY.Journal", file);
  } catch (const std::exception& failure) {
    const auto* own = dynamic_cast<const EQVError*>(&failure);
    Log(tQV_MessageType::let_error, u"kSATISPAY.Journal",
        (own != nullptr ? own->Message() : FromUtf8(failure.what())) +
            u" (payments go on without the journal; verification searches the listings)");
  }
  return fJournal.get();
}

template <class F>
void kPayment_SATISPAY::UseJournal(const char16_t* aWhat, F&& aWrite) {
  PaymentJournal* journal = Journal();
  if (journal == nullptr) return;
  try {
    aWrite(*journal);
  } catch (const std::exception& failure) {
    const auto* own = dynamic_cast<const EQVError*>(&failure);
    Log(tQV_MessageType::let_error, u"kSATISPAY.Journal",
        std::u16string(u"could not ") + aWhat + u": " + (own != nullptr ? own->Message() : FromUtf8(failure.what())));
  }
}

void kPayment_SATISPAY::JournalAnswer(const std::u16string& aIdempotencyKey) {
  const json answer = json::parse(ToUtf8(fJSONResponse), nullptr, false);
  if (!answer.is_object()) return;
  const std::u16string id = kJSONUtils::GetString(&answer, u"id");
  const std::u16string status = kJSONUtils::GetString(&answer, u"status");
  if (id.empty()) return;
  UseJournal(u"record the answer", [&](PaymentJournal& aJournal) {
    if (aIdempotencyKey.empty()) {
      aJournal.RecordStatus(id, status);
    } else {
      aJournal.RecordAnswer(aIdempotencyKey, id, status);
    }
  });
}

// ---- Daily closure and totals ----

bool kPayment_SATISPAY::ReadDailyClosure(const char16_t* aTitle) {
  const std::u16string day = FormatDateTime(u"yyyymmdd", Now());
  fJSONRequest.clear();
  Log(tQV_MessageType::let_info, aTitle, u"");
  return ExecuteRequest(u"daily_closure", kGet, nullptr, u"", day);
}

bool kPayment_SATISPAY::DayClose(kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult) {
  if (!ReadDailyClosure(u"kSATISPAY.DayClose")) {
    aResult.Error = true;
    return false;
  }
  return BuildDayCloseReport(aDayClose, aResult);
}

bool kPayment_SATISPAY::GetTotals(kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult) {
  if (!ReadDailyClosure(u"kSATISPAY.DayClose")) {
    aResult.Error = true;
    return false;
  }
  return BuildTotalsReport(aTotals, aResult);
}

void kPayment_SATISPAY::AddReportLine(std::vector<std::u16string>& aLines, std::u16string_view aLabel,
                                      std::u16string_view aCentred, std::u16string_view aRight) {
  std::u16string line(aLabel);
  const auto fit = [&line](size_t width) { line.resize(width, u' '); };
  if (!aCentred.empty()) {
    const int position = (kReportWidth - static_cast<int>(aCentred.size())) / 2;
    fit(static_cast<size_t>(std::max(position, 0)));
    line += aCentred;
  }
  if (!aRight.empty()) {
    const int position = kReportWidth - static_cast<int>(aRight.size());
    fit(static_cast<size_t>(std::max(position, 0)));
    line += aRight;
  }
  if (line.size() > static_cast<size_t>(kReportWidth)) line.resize(kReportWidth);
  aLines.push_back(std::move(line));
}

namespace {

struct ClosureReport {
  std::u16string id, customer_uid, currency;
  Currency amount;
  std::u16string text;
};

ClosureReport BuildClosureReport(const std::u16string& aAnswer, const char16_t* aTitle) {
  const json answer = ParseAnswerObject(aAnswer);
  const json* closure = kJSONUtils::GetObject(&answer, u"shop_daily_closure");
  ClosureReport report;
  report.id = kJSONUtils::GetString(closure, u"id");
  report.amount = kJSONUtils::GetCurrency(closure, u"amount_unit");
  report.currency = kJSONUtils::GetString(closure, u"currency");
  report.customer_uid = kJSONUtils::GetString(closure, u"customer_uid");
  const std::u16string type = kJSONUtils::GetString(closure, u"type");

  const FormatSettings& settings = DefaultFormatSettings();
  const TDateTime now = Now();
  std::vector<std::u16string> lines;
  kPayment_SATISPAY::AddReportLine(lines, u"", aTitle, u"");
  kPayment_SATISPAY::AddReportLine(lines, u"", u"", u"");
  kPayment_SATISPAY::AddReportLine(lines, u"Date ", u"", DateToShortText(now, settings));
  kPayment_SATISPAY::AddReportLine(lines, u"Time ", u"",
                                   FormatDateTime(settings.LongTimeFormat, now, settings));
  kPayment_SATISPAY::AddReportLine(lines, u"", u"", u"");
  kPayment_SATISPAY::AddReportLine(lines, u"Terminal:", u"", report.customer_uid);
  kPayment_SATISPAY::AddReportLine(lines, u"", u"", u"");
  kPayment_SATISPAY::AddReportLine(lines, u"ID:", u"", report.id);
  kPayment_SATISPAY::AddReportLine(lines, u"", u"", u"");
  kPayment_SATISPAY::AddReportLine(lines, u"Transactions Type", u"", type);
  kPayment_SATISPAY::AddReportLine(lines, u"", u"", u"");
  kPayment_SATISPAY::AddReportLine(lines, u"Amount", u"",
                                   report.currency + u" " + FormatAmount(report.amount, settings));
  for (const std::u16string& line : lines) report.text += line + u"\r\n";
  return report;
}

}  // namespace

bool kPayment_SATISPAY::BuildDayCloseReport(const kPaymentDayClose&, _int_DAYCLOSE_result& aResult) {
  aResult.TotalAmount = Currency();
  aResult.TransactionsCount = 0;
  aResult.ReceiptText.clear();
  const ClosureReport report = BuildClosureReport(fJSONResponse, u"EFT RECONCILIATION REPORT");
  aResult.DeviceId = report.customer_uid;
  aResult.ClosureNumber = report.id;
  aResult.ClosureDateTime = std::floor(Now());
  aResult.TotalAmount = report.amount;
  aResult.Currency = report.currency;
  aResult.ReceiptText = report.text;
  aResult.Error = false;
  return true;
}

bool kPayment_SATISPAY::BuildTotalsReport(const kPaymentTotals&, _int_GETTOTALS_result& aResult) {
  aResult.TotalAmount = Currency();
  aResult.TransactionsCount = 0;
  aResult.ReceiptText.clear();
  const ClosureReport report = BuildClosureReport(fJSONResponse, u"EFT TOTAL REPORT");
  aResult.DeviceId = report.customer_uid;
  aResult.TotalAmount = report.amount;
  aResult.Currency = report.currency;
  aResult.ReceiptText = report.text;
  aResult.Error = false;
  return true;
}

// ---- Key registration ----

bool kPayment_SATISPAY::AuthenticationKeys(const std::u16string& aToken, std::u16string& aKeyId) {
  aKeyId.clear();
  const std::u16string public_key = LoadResourceText(u"satispay_publickey");
  fJSONRequest = FromUtf8("{\"public_key\":" + JsonString(public_key) + ",\"token\":" + JsonString(aToken) + "}");
  fLoggedRequest = FromUtf8("{\"public_key\":" + JsonString(public_key) + ",\"token\":" +
                            JsonString(MaskSecret(aToken)) + "}");
  Log(tQV_MessageType::let_info, u"kSATISPAY.AuthenticationKeys", u"");
  if (!ExecuteRequest(u"authentication_keys", kPost, nullptr, u"", u"")) {
    throw EQVError(IntToStr(fIOHandlerHTTP->ErrorCode()) + u" " + fIOHandlerHTTP->ErrorMessage());
  }
  const json answer = ParseAnswerObject(fJSONResponse);
  aKeyId = kJSONUtils::GetString(&answer, u"key_id");
  return true;
}

}  // namespace qvpa
