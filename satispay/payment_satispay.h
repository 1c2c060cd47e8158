// kPayment_SATISPAY: the payment device that carries out payments, refunds, verification,
// daily closure and totals against the service's G Business API over signed HTTPS
// requests. Its channel must be the HTTP channel, used as log, error state and URL holder;
// every request goes through ExecuteRequest, which records failures in the channel's error
// state instead of throwing. Signing failures (missing or broken key) throw EQVError. The
// device owns its HTTPS client: the connection to the service opens with the first request,
// stays open between requests and closes with the device.
#ifndef QVPA_SATISPAY_PAYMENT_SATISPAY_H_
#define QVPA_SATISPAY_PAYMENT_SATISPAY_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/date_time.h"
#include "base/message_type.h"
#include "payment/payment_device.h"
#include "satispay/payment_journal.h"
#include "satispay/signed_request.h"

namespace qvpa {

class HttpsClient;
class kIOHandler_HTTP;

class kPayment_SATISPAY : public kPaymentDevice {
 public:
  // Default limits of one request: to connect, and for the whole exchange. The device
  // parameter RequestTimeout (milliseconds, > 0) bounds the whole exchange instead, and
  // the connection within it.
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{10000};
  static constexpr std::chrono::milliseconds kDefaultTotalTimeout{30000};
  // Pages of each status's payment listing that one verification reads at most.
  static constexpr int kVerifyPagesPerStatus = 500;
  static constexpr int kListingPageTries = 3;  // sendings of one listing page that failed
  // Longest wait the device parameter AcceptanceWait may ask of the service, in seconds.
  static constexpr int kMaxAcceptanceWait = 25;

  // Reads KeyID, Staging, RequestTimeout, DeviceType and AcceptanceWait; throws
  // EInvalidCast when the channel is not the HTTP channel, EQVError for a parameter
  // out of its range.
  explicit kPayment_SATISPAY(kPaymentHandler& aHandler);
  ~kPayment_SATISPAY() override;

  // Logs a line for each extra sending of the last request by the transport.
  void LogResends(int aSends);
  // Sends one request below the API prefix (aResource, then "/" + aId or aQuery) with
  // fJSONRequest as body; true when the service answered 200, fJSONResponse then holding
  // the body. Other answers and transport failures are logged and recorded in the
  // channel's error state (transport failures as code 500). aHeaders: "name=value" lines;
  // an x-satispay-response-wait-time among them lengthens the request's time limit by
  // that many seconds. A payment creation carries a fresh Idempotency-Key and is sent
  // once more, with the same key, when its connection broke before any answer came.
  bool ExecuteRequest(const std::u16string& aResource, int32_t aMethod,
                      const std::vector<std::u16string>* aHeaders, const std::u16string& aQuery,
                      const std::u16string& aId);

  std::u16string GetHost() const;
  // "https://" + host + API prefix; also stored as the channel's URL.
  std::u16string GetBaseURL();
  void SetStaging(bool aStaging) { fStaging = aStaging; }
  bool Staging() const { return fStaging; }
  const std::u16string& KeyID() const { return fKeyID; }
  const std::u16string& Host() const { return fHost; }
  const std::u16string& ApiVersion() const { return fApiVersion; }
  const std::u16string& JSONRequest() const { return fJSONRequest; }
  void SetJSONRequest(std::u16string v) { fJSONRequest = std::move(v); }
  const std::u16string& JSONResponse() const { return fJSONResponse; }
  std::chrono::milliseconds ConnectTimeout() const { return fConnectTimeout; }
  std::chrono::milliseconds TotalTimeout() const { return fTotalTimeout; }
  std::chrono::seconds AcceptanceWait() const { return fAcceptanceWait; }
  const DeviceIdentity& Identity() const { return fIdentity; }

  // Registers the built-in public key with the activation token; true with the service's
  // key identifier. Throws EQVError "<code> <text>" when the service does not answer 200.
  bool AuthenticationKeys(const std::u16string& aToken, std::u16string& aKeyId);

  // The text of a built-in resource; throws EQVError "Resource <name> not found".
  static std::u16string LoadResourceText(std::u16string_view aName);
  static std::u16string GetDigest(std::u16string_view aBody) { return BodyDigest(aBody); }
  static std::u16string GetSigningString(std::u16string_view aHost, std::u16string_view aDigest,
                                         std::u16string_view aDate, std::u16string_view aMethod,
                                         std::u16string_view aPath) {
    return SigningString(aHost, aDigest, aDate, aMethod, aPath);
  }
  // base64url RS256 signature with the built-in private key (parsed once per process).
  static std::u16string SignString(std::u16string_view aText);
  std::u16string GetAuthorization(std::u16string_view aSignature) const {
    return AuthorizationValue(fKeyID, aSignature);
  }
  static std::u16string GetMethodText(int32_t aMethod) { return MethodText(aMethod); }

  // One report line of 60 columns: label, a text centred, a text ending in column 60.
  static void AddReportLine(std::vector<std::u16string>& aLines, std::u16string_view aLabel,
                            std::u16string_view aCentred, std::u16string_view aRight);
  // The JSON number of amount_unit: the amount in hundredths, exact, shortest form.
  static std::string AmountUnitText(qvpa::Currency aAmount);

 protected:
  bool Pay(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Refund(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Void(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;
  bool Reprint(kPaymentReceipt& aReceipt, _int_REPRINT_result& aResult) override;
  bool DayClose(kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult) override;
  bool GetTotals(kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult) override;
  bool GetStatus() override;
  bool VerifyTran(kPaymentReceipt& aReceipt, _int_PAY_result& aResult) override;

  // The client that carries the device's requests, made at the first one: the platform's
  // HTTPS client. A derived device may answer from elsewhere (the fuzz target of the
  // service's answers does).
  virtual std::unique_ptr<HttpsClient> NewClient();

  void BuildPaymentJSON(const kPaymentReceipt& aReceipt);
  void BuildRefundJSON(const kPaymentReceipt& aReceipt);
  bool ReadPayBeginResponse(const kPaymentReceipt& aReceipt, _int_PAY_result& aResult);
  bool ReadPaymentResponse(const kPaymentReceipt& aReceipt, _int_PAY_result& aResult);
  bool ReadRollbackResponse(const kPaymentReceipt& aReceipt, _int_PAY_result& aResult);
  bool ReadRefundResponse(const kPaymentReceipt& aReceipt, _int_PAY_result& aResult);

  // Pages through the recent payments of every status (the service lists ACCEPTED ones
  // unless asked for PENDING or CANCELED) for the one whose external_code is aCode; true
  // with that payment alone in fJSONResponse, false with fJSONResponse empty when the
  // window was searched through or a request failed. Throws EQVError "Invalid JSON: ..."
  // for a page it cannot read and "Verification incomplete: ..." when a listing could not
  // be followed to the end of the window, or when its items carry no external_code to
  // compare. Every listing's first page empty from the timestamp: searched once more
  // without it, since the service may read it as "created after" in another epoch.
  // aBegun: the journal's record of the BEGIN that sent aCode, when it has one; an item
  // without external_code whose amount and insert_date fit it is read by id and compared.
  bool GetTransactionsByRange(const std::u16string& aCode, TDateTime aDay,
                              const JournalEntry* aBegun = nullptr);

  bool BuildDayCloseReport(const kPaymentDayClose& aDayClose, _int_DAYCLOSE_result& aResult);
  bool BuildTotalsReport(const kPaymentTotals& aTotals, _int_GETTOTALS_result& aResult);

 private:
  void Log(tQV_MessageType aType, const std::u16string& aTitle, const std::u16string& aMessage);
  // fJSONResponse as a listing page with its "data" array; throws EQVError "Invalid JSON: ..."
  // (and empties fJSONResponse) otherwise.
  nlohmann::json ReadListingPage();
  // What one pass over the three listings came to.
  struct ListingSearch {
    bool found = false;              // the payment is in fJSONResponse
    bool failed = false;             // a request failed; the channel holds the error
    bool incomplete = false;         // a listing was not followed to the end of the window
    bool first_pages_empty = true;   // every listing's first page had no item
    int64_t searched = 0;
    int64_t without_code = 0;        // items without external_code that could be the payment
    int64_t candidates_read = 0;     // such items read by id because they fit the journal
  };
  // One pass from aStart (TDateTime); aFromTimestamp: the first pages ask for
  // starting_after_timestamp, else they start at the top of each listing.
  ListingSearch SearchListings(const std::u16string& aCode, TDateTime aStart, bool aFromTimestamp,
                               const JournalEntry* aBegun);
  // Reads payment aId and compares its external_code with aCode: 1 when it matches (the
  // payment then in fJSONResponse), 0 when not, -1 when the request failed.
  int ReadCandidate(const std::u16string& aId, const std::u16string& aCode);
  // The shop key's payment journal, opened at its first use; null when it cannot be opened
  // (the device log says why, once). Payments go on without it.
  PaymentJournal* Journal();
  // Runs aWrite on the journal; a failure is logged, never passed on.
  template <class F>
  void UseJournal(const char16_t* aWhat, F&& aWrite);
  // Records the id and status of the payment in fJSONResponse, if it reads as one.
  void JournalAnswer(const std::u16string& aIdempotencyKey);
  // GET payments/{aId} for DO, asking the service to wait AcceptanceWait for a change.
  bool ReadPaymentForDo(const std::u16string& aId);
  bool ReadDailyClosure(const char16_t* aTitle);

  std::u16string fKeyID;
  bool fStaging = false;
  std::u16string fHost;
  std::u16string fApiVersion;
  std::u16string fJSONRequest;
  std::u16string fJSONResponse;
  std::u16string fLoggedRequest;  // the next request's body as logged, when it holds a secret
  kIOHandler_HTTP* fIOHandlerHTTP = nullptr;  // the base's channel; not owned
  std::unique_ptr<HttpsClient> fHttpsClient;    // this device's connection to the service
  std::u16string fProductionHost;
  std::u16string fStagingHost;
  std::chrono::milliseconds fConnectTimeout = kDefaultConnectTimeout;
  std::chrono::milliseconds fTotalTimeout = kDefaultTotalTimeout;
  std::chrono::seconds fAcceptanceWait{0};
  DeviceIdentity fIdentity;
  std::u16string fLogId;
  // The Idempotency-Key the next payment creation carries, when chosen by its caller.
  std::u16string fNextIdempotencyKey;
  std::unique_ptr<PaymentJournal> fJournal;
  bool fJournalTried = false;
  // The last request's service may have acted on it: it went out and got no answer, or a
  // 5xx. False when it was refused (4xx) or never sent.
  bool fLastRequestMayHaveActed = false;
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_PAYMENT_SATISPAY_H_
