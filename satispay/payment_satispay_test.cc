#include "satispay/payment_satispay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/application.h"
#include "base/error.h"
#include "base/format_settings.h"
#include "base/text.h"
#include "io/io_handler_http.h"
#include "request/payment_handler.h"
#include "satispay/base64.h"
#include "satispay/generate_keyid.h"
#include "satispay/module_resources.h"
#include "satispay/rsa.h"
#include "satispay/tls_test_server.h"

namespace qvpa {
namespace {

using nlohmann::json;
using testing::TestAuthority;
using testing::TlsTestServer;

struct Seen {
  std::string method, target, body;
  httplib::Headers headers;
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

using Answer = std::function<void(const Seen&, httplib::Response&)>;

// A scripted service: records every request and answers through the current script.
class ScriptedService {
 public:
  void Handle(const httplib::Request& req, httplib::Response& res) {
    Seen seen{req.method, req.target, req.body, req.headers};
    Answer answer;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(seen);
      answer = answer_;
    }
    if (answer) answer(seen, res);
  }
  void SetAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
  }
  std::vector<Seen> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  std::mutex mutex_;
  std::vector<Seen> requests_;
  Answer answer_;
};

Answer Json(int status, const std::string& body) {
  return [status, body](const Seen&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, "application/json");
  };
}

std::span<const uint8_t> Bytes(const std::string& s) {
  return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Rebuilds the signing string from what arrived and checks the signature with the
// built-in public key, as the service does.
::testing::AssertionResult SignatureVerifies(const Seen& seen, const std::string& key_id) {
  const std::string authorization = seen.Header("Authorization");
  const std::string prefix = "Signature keyId=\"" + key_id +
                             "\", algorithm=\"rsa-sha256\", headers=\"(request-target) host date "
                             "digest\", signature=\"";
  if (!authorization.starts_with(prefix) || !authorization.ends_with("\"")) {
    return ::testing::AssertionFailure() << "Authorization: " << authorization;
  }
  const std::string signature =
      authorization.substr(prefix.size(), authorization.size() - prefix.size() - 1);
  std::string method = seen.method;
  for (char& c : method) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string text = "(request-target): " + method + " " + seen.target + "\nhost: " +
                           seen.Header("host") + "\ndate: " + seen.Header("date") +
                           "\ndigest: " + seen.Header("digest");
  const std::vector<uint8_t> raw = TBase64::URLDecode(TJOSEBytes::FromByteString(signature)).AsBytes();
  const std::string public_key = ToUtf8(LoadResourceText(u"satispay_publickey"));
  if (!TRSA::Verify(Bytes(text), raw, Bytes(public_key), TRSAAlgorithm::RS256)) {
    return ::testing::AssertionFailure() << "signature does not verify over:\n" << text;
  }
  const std::string digest = ToUtf8(BodyDigest(FromUtf8(seen.body)));
  if (seen.Header("digest") != digest) {
    return ::testing::AssertionFailure() << "digest " << seen.Header("digest") << " != " << digest;
  }
  return ::testing::AssertionSuccess();
}

std::string ReadFile(const std::u16string& path) {
  std::ifstream in(ToUtf8(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SatispayDeviceTest : public ::testing::Test {
 protected:
  SatispayDeviceTest()
      : log_dir_(std::filesystem::temp_directory_path() /
                 ("qvpa-satispay-device-" + std::to_string(getpid()))),
        server_(authority_, [this](httplib::Server& s) {
          const auto handle = [this](const httplib::Request& req, httplib::Response& res) {
            service_.Handle(req, res);
          };
          s.Get(".*", handle);
          s.Post(".*", handle);
          s.Put(".*", handle);
        }) {
    setenv("QVPA_LOG_DIR", log_dir_.c_str(), 1);
    setenv("QVPA_SATISPAY_HOST", server_.HostPort().c_str(), 1);
    setenv("QVPA_SATISPAY_STAGING_HOST", ("localhost:" + std::to_string(server_.Port())).c_str(), 1);
    setenv("QVPA_SATISPAY_CA_FILE", authority_.CertificateFile().c_str(), 1);
    app_ = std::make_unique<tQV_ApplicationScope>(std::vector<std::u16string>{u"satispay_test"});
  }
  ~SatispayDeviceTest() override {
    app_.reset();
    unsetenv("QVPA_SATISPAY_HOST");
    unsetenv("QVPA_SATISPAY_STAGING_HOST");
    unsetenv("QVPA_SATISPAY_CA_FILE");
    std::error_code ignored;
    std::filesystem::remove_all(log_dir_, ignored);
  }

  static std::u16string Xml(const std::string& section, const std::string& parameters = "<KeyID>key-1</KeyID>",
                            const std::string& connection = "<Type>HTTP</Type>") {
    return FromUtf8("<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>T01</LogId><Connection>" +
                    connection + "</Connection><Parameters>" + parameters + "</Parameters>" +
                    section + "</Request>");
  }
  static std::string PaySection(const std::string& fields) { return "<Payment>" + fields + "</Payment>"; }

  // A device opened with these parameters.
  std::unique_ptr<kPayment_SATISPAY> Open(const std::string& parameters = "<KeyID>key-1</KeyID>",
                                          const std::string& connection = "<Type>HTTP</Type>") {
    kPaymentHandler handler;
    handler.Deserialize(Xml("", parameters, connection), {qvPaymentHandlerDocumentType::dt_Open});
    return std::make_unique<kPayment_SATISPAY>(handler);
  }

  _int_PAY_result Pay(kPayment_SATISPAY& device, const std::string& fields) {
    kPaymentHandler handler;
    handler.Deserialize(Xml(PaySection(fields)), {qvPaymentHandlerDocumentType::dt_Pay});
    return device.Pub_Pay(handler);
  }
  _int_PAY_result Verify(kPayment_SATISPAY& device, const std::string& receipt_id) {
    kPaymentHandler handler;
    handler.Deserialize(Xml("<VerifyTran><ReceiptId>" + receipt_id + "</ReceiptId></VerifyTran>"),
                        {qvPaymentHandlerDocumentType::dt_VerifyTran});
    return device.Pub_VerifyTran(handler);
  }

  std::filesystem::path log_dir_;
  TestAuthority authority_;
  ScriptedService service_;
  TlsTestServer server_;
  std::unique_ptr<tQV_ApplicationScope> app_;
};

constexpr const char* kPending =
    R"({"id":"p-1","code_identifier":"S6Y-PAY--ABC","type":"TO_BUSINESS","amount_unit":1250,)"
    R"("currency":"EUR","status":"PENDING","receiver":{"id":"shop-9","type":"SHOP"}})";

TEST_F(SatispayDeviceTest, CreationReadsParametersAndChoosesHost) {
  const struct {
    std::string staging;
    bool expected;
  } cases[] = {{"<Staging>true</Staging>", true}, {"<Staging>TRUE</Staging>", true},
               {"<Staging>True</Staging>", true}, {"<Staging>1</Staging>", false},
               {"<Staging>yes</Staging>", false}, {"", false}};
  const std::u16string production = FromUtf8(server_.HostPort());
  const std::u16string staging = u"localhost:" + IntToStr(server_.Port());
  for (const auto& c : cases) {
    auto device = Open("<KeyID>k</KeyID>" + c.staging);
    EXPECT_EQ(device->Staging(), c.expected) << c.staging;
    EXPECT_EQ(device->GetHost(), c.expected ? staging : production) << c.staging;
    EXPECT_EQ(device->Host(), device->GetHost());
  }
  auto device = Open("<KeyID>k</KeyID>");
  EXPECT_EQ(device->KeyID(), u"k");
  EXPECT_EQ(device->ApiVersion(), u"/g_business/v1/");
  EXPECT_EQ(device->ConnectTimeout(), kPayment_SATISPAY::kDefaultConnectTimeout);
  EXPECT_EQ(device->ResponseTimeout(), kPayment_SATISPAY::kDefaultResponseTimeout);
  EXPECT_EQ(static_cast<kIOHandler_HTTP&>(device->IOHandler()).URL(),
            u"https://" + production + u"/g_business/v1/");
}

TEST_F(SatispayDeviceTest, CreationRejectsOtherChannelsAndBadTimeouts) {
  EXPECT_THROW(Open("", "<Type>Com</Type>"), EInvalidCast);
  for (const char* bad : {"0", "-5", "abc", ""}) {
    try {
      Open(std::string("<RequestTimeout>") + bad + "</RequestTimeout>");
      ADD_FAILURE() << "RequestTimeout " << bad << " accepted";
    } catch (const EQVError& e) {
      EXPECT_NE(std::string(e.what()).find("RequestTimeout"), std::string::npos) << e.what();
    }
  }
  auto device = Open("<RequestTimeout>2500</RequestTimeout>");
  EXPECT_EQ(device->ConnectTimeout(), std::chrono::milliseconds(2500));
  EXPECT_EQ(device->ResponseTimeout(), std::chrono::milliseconds(2500));
}

// A URL from the request survives creation (with a "/" added) and is replaced by the
// chosen host's base URL at the first request.
TEST_F(SatispayDeviceTest, ConnectionUrlGivesWayToServiceUrl) {
  auto device = Open("<KeyID>k</KeyID>", "<Type>HTTP</Type><URL>https://elsewhere.example/api</URL>");
  auto& channel = static_cast<kIOHandler_HTTP&>(device->IOHandler());
  EXPECT_EQ(channel.URL(), u"https://elsewhere.example/api/");
  service_.SetAnswer(Json(200, kPending));
  Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>");
  EXPECT_EQ(channel.URL(), u"https://" + FromUtf8(server_.HostPort()) + u"/g_business/v1/");
}

TEST_F(SatispayDeviceTest, BeginCreatesSignedMatchCodePayment) {
  auto device = Open();
  service_.SetAnswer(Json(200, kPending));
  const _int_PAY_result result =
      Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount>"
                   "<Currency>EUR</Currency><Reference>R1 \"quoted\"</Reference>");

  EXPECT_FALSE(result.Error) << ToUtf8(result.ErrorText);
  EXPECT_EQ(result.PaymentNumber, u"p-1");
  EXPECT_EQ(result.TraceAuditId, u"p-1");
  EXPECT_EQ(result.AuthCode, u"S6Y-PAY--ABC");
  EXPECT_EQ(result.DeviceId, u"shop-9");
  EXPECT_EQ(result.PaymentAmount, Currency::FromCents(1250));
  EXPECT_EQ(result.PaymentCurrency, u"EUR");
  EXPECT_EQ(result.RefundReference, u"");
  EXPECT_EQ(result.PaymentNetwork, qvPaymentNetwork::Satispay);
  EXPECT_EQ(result.TransactionType, qvPaymentTransactionType::ptt_Other);

  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Seen& seen = requests[0];
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.target, "/g_business/v1/payments");
  EXPECT_EQ(seen.body,
            R"({"flow":"MATCH_CODE","amount_unit":1250,"currency":"EUR","external_code":"R1 \"quoted\""})");
  EXPECT_EQ(seen.Header("Content-Type"), "application/json");
  EXPECT_EQ(seen.Header("User-Agent"), "Brivel MXR Driver");
  EXPECT_EQ(seen.Header("host"), server_.HostPort());
  EXPECT_TRUE(seen.Header("date").ends_with(" +0000")) << seen.Header("date");
  EXPECT_TRUE(SignatureVerifies(seen, "key-1"));
}

TEST_F(SatispayDeviceTest, AmountUnitIsExactHundredthsInShortestForm) {
  const struct {
    const char16_t* amount;
    const char* text;
  } cases[] = {{u"12.50", "1250"}, {u"0.10", "10"}, {u"1.2345", "123.45"}, {u"0", "0"},
               {u"1.005", "100.5"}, {u"-3.25", "-325"}, {u"123456789012.34", "12345678901234"}};
  for (const auto& c : cases) {
    EXPECT_EQ(kPayment_SATISPAY::AmountUnitText(*Currency::Parse(c.amount)), c.text) << c.text;
  }
}

TEST_F(SatispayDeviceTest, PhasesReadCancelOrSkipTheService) {
  auto device = Open("");  // no KeyID: still a well-formed, signed request
  service_.SetAnswer(Json(200, R"({"id":"p-1","amount_unit":1250,"currency":"EUR","status":"accepted",)"
                               R"("code_identifier":"C","receiver":{"id":"shop-9"}})"));
  _int_PAY_result done = Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>");
  EXPECT_FALSE(done.Error) << ToUtf8(done.ErrorText);
  EXPECT_EQ(done.RefundReference, u"p-1");
  EXPECT_EQ(done.PaymentAmount, *Currency::Parse(u"12.5"));

  service_.SetAnswer(Json(200, kPending));
  _int_PAY_result early = Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>");
  EXPECT_TRUE(early.Error);
  EXPECT_EQ(early.ErrorText, u"PENDING");
  EXPECT_EQ(early.AuthCode, u"S6Y-PAY--ABC");  // filled before the check

  service_.SetAnswer(Json(200, R"({"id":"p-1","amount_unit":1250,"currency":"EUR","status":"CANCELED"})"));
  _int_PAY_result rolled =
      Pay(*device, "<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>p-1</Attributes>");
  EXPECT_FALSE(rolled.Error) << ToUtf8(rolled.ErrorText);
  EXPECT_EQ(rolled.PaymentNumber, u"p-1");
  EXPECT_EQ(rolled.AuthCode, u"");

  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/g_business/v1/payments/p-1");
  EXPECT_EQ(requests[0].Header("digest"), "SHA-256=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_EQ(requests[2].target, "/g_business/v1/payments/p-1");
  EXPECT_EQ(requests[2].body, "{\"action\": \"CANCEL_OR_REFUND\"}");
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "")) << seen.target;

  // COMMIT and an invalid phase send nothing.
  _int_PAY_result commit = Pay(*device, "<Action>PAY</Action><Phase>COMMIT</Phase>");
  EXPECT_FALSE(commit.Error);
  EXPECT_EQ(commit.PaymentNetwork, qvPaymentNetwork::Other);
  _int_PAY_result none = Pay(*device, "<Action>PAY</Action><Amount>1</Amount>");
  EXPECT_TRUE(none.Error);
  EXPECT_EQ(none.ErrorText, u"Phase Invalid. Must be BEGIN or DO or COMMIT or ROLLBACK");
  EXPECT_EQ(service_.Requests().size(), 3u);
}

// An id from the host stays one path segment: it cannot reach another resource.
TEST_F(SatispayDeviceTest, PaymentIdIsEncodedAsOnePathSegment) {
  auto device = Open();
  service_.SetAnswer(Json(200, R"({"status":"ACCEPTED"})"));
  Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>../authentication_keys?x=1 2</Attributes>");
  Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>..</Attributes>");
  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/g_business/v1/payments/..%2Fauthentication_keys%3Fx%3D1%202");
  EXPECT_EQ(requests[1].target, "/g_business/v1/payments/%2E%2E");
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "key-1")) << seen.target;
}

TEST_F(SatispayDeviceTest, RefundAndVoidIgnorePhaseAndRequireAccepted) {
  auto device = Open();
  service_.SetAnswer(Json(200, R"({"id":"r-1","amount_unit":500,"currency":"EUR","status":"ACCEPTED"})"));
  for (const char* action : {"REFUND", "VOID"}) {
    const _int_PAY_result result =
        Pay(*device, std::string("<Action>") + action +
                         "</Action><Phase>BEGIN</Phase><Amount>5</Amount><Currency>EUR</Currency>"
                         "<RefundReference><PaymentId>p-1</PaymentId></RefundReference>");
    EXPECT_FALSE(result.Error) << action << ToUtf8(result.ErrorText);
    EXPECT_EQ(result.PaymentNumber, u"r-1");
    EXPECT_EQ(result.PaymentAmount, *Currency::Parse(u"5"));
  }
  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const Seen& seen : requests) {
    EXPECT_EQ(seen.target, "/g_business/v1/payments");
    EXPECT_EQ(seen.body, R"({"flow":"REFUND","amount_unit":500,"currency":"EUR","parent_payment_uid":"p-1"})");
  }
  service_.SetAnswer(Json(200, R"({"id":"r-2","status":"PENDING"})"));
  const _int_PAY_result pending = Pay(*device, "<Action>REFUND</Action><Amount>5</Amount>");
  EXPECT_TRUE(pending.Error);
  EXPECT_EQ(pending.ErrorText, u"Transaction Status Invalid. Must be ACCEPTED");
  EXPECT_EQ(pending.PaymentNumber, u"r-2");

  service_.SetAnswer(Json(200, R"({"id":"p-2","status":"ACCEPTED"})"));
  const _int_PAY_result begin =
      Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>5</Amount>");
  EXPECT_TRUE(begin.Error);
  EXPECT_EQ(begin.ErrorText, u"Transaction Status Invalid. Must be PENDING");
}

// Whatever goes wrong with the exchange, the result is a failure with a readable text.
TEST_F(SatispayDeviceTest, FailedExchangesNeverSucceed) {
  const struct {
    Answer answer;
    const char16_t* text;
  } statuses[] = {{Json(201, kPending), u"Created"},
                  {Json(401, R"({"code":34})"), u"Unauthorized"},
                  {Json(404, R"({"code":41})"), u"Not Found"},
                  {Json(500, "oops"), u"Internal Server Error"}};
  auto device = Open();
  for (const auto& s : statuses) {
    service_.SetAnswer(s.answer);
    const _int_PAY_result result =
        Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount>");
    EXPECT_TRUE(result.Error) << ToUtf8(s.text);
    EXPECT_EQ(result.ErrorText, s.text);
    EXPECT_EQ(result.PaymentNumber, u"");
    EXPECT_EQ(device->IOHandler().ErrorMessage(), s.text);
  }
  EXPECT_EQ(device->IOHandler().ErrorCode(), 500);

  // 200 answers the driver cannot read are errors, not successes.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& body : {std::string("<html>not json</html>"), std::string("[1,2]"), deep}) {
    service_.SetAnswer(Json(200, body));
    for (const char* phase : {"BEGIN", "DO", "ROLLBACK"}) {
      EXPECT_THROW(Pay(*device, std::string("<Action>PAY</Action><Phase>") + phase +
                                    "</Phase><Attributes>p</Attributes>"),
                   EQVError)
          << phase << " " << body.substr(0, 20);
    }
  }
}

TEST_F(SatispayDeviceTest, TransportFailureIsLoggedAndRecordedAs500) {
  setenv("QVPA_SATISPAY_HOST", ("127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort())).c_str(), 1);
  std::u16string log_file;
  {
    auto device = Open();
    const _int_PAY_result result =
        Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount>");
    EXPECT_TRUE(result.Error);
    EXPECT_FALSE(result.ErrorText.empty());
    EXPECT_EQ(device->IOHandler().ErrorCode(), 500);
    log_file = result.LogFileName;
  }
  const std::string log = ReadFile(log_file);
  const size_t error_line = log.find(" - ERROR - kSATISPAY.ExecuteRequest:");
  const size_t response_line = log.find("kSATISPAY.Response:500 ");
  EXPECT_NE(error_line, std::string::npos) << log;
  EXPECT_NE(response_line, std::string::npos) << log;
  EXPECT_LT(error_line, response_line);
  EXPECT_NE(log.find("kSATISPAY.Request:{\"flow\":\"MATCH_CODE\""), std::string::npos) << log;
}

TEST_F(SatispayDeviceTest, DelayedAnswerBeyondRequestTimeoutFails) {
  service_.SetAnswer([](const Seen&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    res.set_content(kPending, "application/json");
  });
  auto device = Open("<KeyID>k</KeyID><RequestTimeout>300</RequestTimeout>");
  const _int_PAY_result result = Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount>");
  EXPECT_TRUE(result.Error);
  EXPECT_EQ(device->IOHandler().ErrorCode(), 500);
  EXPECT_NE(ToUtf8(result.ErrorText).find("imed out"), std::string::npos) << ToUtf8(result.ErrorText);
}

// ---- Verification ----

std::string PaymentJson(const std::string& id, const std::string& code, const std::string& inserted,
                        const std::string& status = "ACCEPTED") {
  return R"({"id":")" + id + R"(","external_code":")" + code + R"(","insert_date":")" + inserted +
         R"(","status":")" + status + R"(","amount_unit":990,"currency":"EUR","receiver":{"id":"shop-9"}})";
}

std::string IsoDaysAgo(int days) {
  const DateTimeParts p = DecodeDateTime(std::floor(Now()) - days + 0.5);
  char text[40];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT12:00:00.000Z", p.year, p.month, p.day);
  return text;
}

TEST_F(SatispayDeviceTest, VerifyPagesUntilTheReferenceIsFound) {
  const std::string today = IsoDaysAgo(0);
  service_.SetAnswer([&](const Seen& seen, httplib::Response& res) {
    std::string page;
    if (seen.target.find("starting_after_timestamp=") != std::string::npos) {
      page = R"({"has_more":true,"data":[)" + PaymentJson("a", "r1", today) + "," +
             PaymentJson("b", "", today) + "]}";
    } else {
      page = R"({"has_more":false,"data":[)" + PaymentJson("c", "R1", today) + "]}";
    }
    res.set_content(page, "application/json");
  });
  auto device = Open();
  const _int_PAY_result result = Verify(*device, "R1");
  EXPECT_FALSE(result.Error) << ToUtf8(result.ErrorText);
  EXPECT_EQ(result.PaymentNumber, u"c");
  EXPECT_EQ(result.RefundReference, u"c");
  EXPECT_EQ(result.PaymentAmount, *Currency::Parse(u"9.9"));
  EXPECT_EQ(json::parse(ToUtf8(device->JSONResponse()))["id"], "c");

  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto start = static_cast<int64_t>(std::llround((std::floor(Now()) - 1) * 86400000.0));
  EXPECT_EQ(requests[0].target,
            "/g_business/v1/payments?starting_after_timestamp=" + std::to_string(start) + "&limit=20");
  EXPECT_EQ(requests[1].target, "/g_business/v1/payments?starting_after=b&limit=20");
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "key-1")) << seen.target;
}

TEST_F(SatispayDeviceTest, VerifyEndsAsNotFound) {
  const std::string not_found = "Transaction with external_code R1 not found";
  const std::string today = IsoDaysAgo(0);
  const struct {
    const char* name;
    std::string page;  // answered to every listing request
    size_t requests;
  } cases[] = {
      {"older than the window", R"({"has_more":true,"data":[)" + PaymentJson("a", "x", today) + "," +
                                    PaymentJson("b", "y", IsoDaysAgo(2)) + "," +
                                    PaymentJson("c", "R1", today) + "]}",
       1},
      {"no more pages", R"({"has_more":false,"data":[)" + PaymentJson("a", "x", today) + "]}", 1},
      {"empty page", R"({"has_more":true,"data":[]})", 1},
      {"not an object", R"([1,2,3])", 1},
      {"not JSON", "<html>", 1},
      {"no data array", R"({"has_more":true,"data":{}})", 1},
      {"endless pages", R"({"has_more":true,"data":[)" + PaymentJson("a", "x", today) + "]}",
       static_cast<size_t>(kPayment_SATISPAY::kMaxVerifyPages)},
  };
  for (const auto& c : cases) {
    service_.SetAnswer(Json(200, c.page));
    const size_t before = service_.Requests().size();
    auto device = Open();
    const _int_PAY_result result = Verify(*device, "R1");
    EXPECT_TRUE(result.Error) << c.name;
    EXPECT_EQ(ToUtf8(result.ErrorText), not_found) << c.name;
    EXPECT_EQ(device->JSONResponse(), u"") << c.name;
    EXPECT_EQ(service_.Requests().size() - before, c.requests) << c.name;
  }
  // An empty ReceiptId never matches a payment without external code.
  service_.SetAnswer(Json(200, R"({"has_more":false,"data":[)" + PaymentJson("a", "", today) + "]}"));
  auto device = Open();
  EXPECT_EQ(Verify(*device, "").ErrorText, u"Transaction with external_code  not found");
}

TEST_F(SatispayDeviceTest, VerifyReportsStatusFailureAndBadDates) {
  auto device = Open();
  service_.SetAnswer(Json(200, R"({"has_more":false,"data":[)" +
                                   PaymentJson("a", "R1", IsoDaysAgo(0), "PENDING") + "]}"));
  const _int_PAY_result pending = Verify(*device, "R1");
  EXPECT_TRUE(pending.Error);
  EXPECT_EQ(pending.ErrorText, u"PENDING");
  EXPECT_EQ(pending.PaymentNumber, u"a");

  service_.SetAnswer(Json(500, "{}"));
  const _int_PAY_result failed = Verify(*device, "R1");
  EXPECT_TRUE(failed.Error);
  EXPECT_EQ(failed.ErrorText, u"Internal Server Error");

  service_.SetAnswer(Json(200, R"({"has_more":false,"data":[)" + PaymentJson("a", "x", "yesterday") + "]}"));
  EXPECT_THROW(Verify(*device, "R1"), EQVError);
}

// ---- Daily closure and totals ----

TEST_F(SatispayDeviceTest, ClosureReportsFromTheDailyClosure) {
  service_.SetAnswer(Json(200, R"({"shop_daily_closure":{"id":"20240110__shop","type":"SHOP",)"
                               R"("customer_uid":"shop-9","amount_unit":123456,"currency":"EUR"},"pdf":null})"));
  auto device = Open();
  kPaymentHandler day_close;
  day_close.Deserialize(Xml("<DayClose/>"), {qvPaymentHandlerDocumentType::dt_DayClose});
  const _int_DAYCLOSE_result closure = device->Pub_DayClose(day_close);
  kPaymentHandler totals_request;
  totals_request.Deserialize(Xml("<GetTotals/>"), {qvPaymentHandlerDocumentType::dt_GetTotals});
  const _int_GETTOTALS_result totals = device->Pub_GetTotals(totals_request);

  EXPECT_FALSE(closure.Error) << ToUtf8(closure.ErrorText);
  EXPECT_EQ(closure.DeviceId, u"shop-9");
  EXPECT_EQ(closure.ClosureNumber, u"20240110__shop");
  EXPECT_EQ(closure.TotalAmount, *Currency::Parse(u"1234.56"));
  EXPECT_EQ(closure.Currency, u"EUR");
  EXPECT_EQ(closure.TransactionsCount, 0);
  EXPECT_EQ(closure.ClosureDateTime, std::floor(Now()));
  EXPECT_FALSE(totals.Error);
  EXPECT_GT(totals.DateTime, std::floor(Now()));

  const FormatSettings& settings = DefaultFormatSettings();
  const std::u16string date = DateToShortText(Now(), settings);
  const std::u16string amount = u"EUR 1" + std::u16string(1, settings.ThousandSeparator) + u"234" +
                                std::u16string(1, settings.DecimalSeparator) + u"56";
  const auto line = [](std::u16string left, const std::u16string& right) {
    return left + std::u16string(60 - left.size() - right.size(), u' ') + right;
  };
  std::vector<std::u16string> lines;
  std::u16string text = closure.ReceiptText;
  for (size_t end; (end = text.find(u"\r\n")) != std::u16string::npos; text.erase(0, end + 2)) {
    lines.push_back(text.substr(0, end));
  }
  EXPECT_EQ(text, u"");  // the last line ends with CR LF too
  ASSERT_EQ(lines.size(), 12u) << ToUtf8(closure.ReceiptText);
  EXPECT_EQ(lines[0], std::u16string(17, u' ') + u"EFT RECONCILIATION REPORT");
  EXPECT_EQ(lines[1], u"");
  EXPECT_EQ(lines[2], line(u"Date ", date));
  EXPECT_EQ(lines[3].substr(0, 5), u"Time ");
  EXPECT_EQ(lines[5], line(u"Terminal:", u"shop-9"));
  EXPECT_EQ(lines[7], line(u"ID:", u"20240110__shop"));
  EXPECT_EQ(lines[9], line(u"Transactions Type", u"SHOP"));
  EXPECT_EQ(lines[11], line(u"Amount", amount));
  EXPECT_TRUE(totals.ReceiptText.starts_with(std::u16string(22, u' ') + u"EFT TOTAL REPORT\r\n"));

  const std::string day = ToUtf8(FormatDateTime(u"yyyymmdd", Now()));
  for (const Seen& seen : service_.Requests()) {
    EXPECT_EQ(seen.target, "/g_business/v1/daily_closure/" + day);
    EXPECT_TRUE(SignatureVerifies(seen, "key-1"));
  }

  service_.SetAnswer(Json(200, "{}"));  // members missing: still a report
  const _int_DAYCLOSE_result bare = device->Pub_DayClose(day_close);
  EXPECT_FALSE(bare.Error);
  EXPECT_TRUE(bare.ReceiptText.ends_with(
      u" " + std::u16string(1, u'0') + std::u16string(1, settings.DecimalSeparator) + u"00\r\n"));

  service_.SetAnswer(Json(404, "no closure"));
  const _int_GETTOTALS_result missing = device->Pub_GetTotals(totals_request);
  EXPECT_TRUE(missing.Error);
  EXPECT_EQ(missing.ErrorText, u"Not Found");
  EXPECT_EQ(missing.ReceiptText, u"");
}

TEST(SatispayReportLineTest, LinesAreSixtyColumns) {
  const struct {
    std::u16string label, centred, right, expected;
  } cases[] = {
      {u"", u"", u"", u""},
      {u"", u"EFT TOTAL REPORT", u"", std::u16string(22, u' ') + u"EFT TOTAL REPORT"},
      {u"Date ", u"", u"10/01/2024", u"Date " + std::u16string(45, u' ') + u"10/01/2024"},
      {u"Label", u"", std::u16string(70, u'x'), std::u16string(60, u'x')},
      {std::u16string(70, u'L'), u"", u"", std::u16string(60, u'L')},
      {std::u16string(40, u'L'), u"", u"right", std::u16string(40, u'L') + std::u16string(15, u' ') + u"right"},
      {std::u16string(58, u'L'), u"", u"right", std::u16string(55, u'L') + u"right"},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> lines;
    kPayment_SATISPAY::AddReportLine(lines, c.label, c.centred, c.right);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.expected) << ToUtf8(c.label) << "|" << ToUtf8(c.right);
  }
}

// ---- Key registration ----

TEST_F(SatispayDeviceTest, KeyRegistrationIsUnsignedAndPicksHostByExactFlag) {
  service_.SetAnswer(Json(200, R"({"key_id":"kid-77"})"));
  const struct {
    const char16_t* parameters;
    const char* token;
    bool staging;
  } cases[] = {{u"token=ABC123|staging=true", "ABC123", true},
               {u"token=ABC123|staging=True", "ABC123", false},
               {u"token=AB=C|D|staging=true", "AB", false},
               {u"token=XYZ", "XYZ", false},
               {u"", "", false}};
  const std::string staging_host = "localhost:" + std::to_string(server_.Port());
  for (const auto& c : cases) {
    std::u16string key_id, error;
    EXPECT_TRUE(GenerateKeyId(c.parameters, key_id, error)) << ToUtf8(error);
    EXPECT_EQ(key_id, u"kid-77");
    const Seen seen = service_.Requests().back();
    EXPECT_EQ(seen.target, "/g_business/v1/authentication_keys");
    EXPECT_EQ(seen.Header("Host"), c.staging ? staging_host : server_.HostPort()) << ToUtf8(c.parameters);
    for (const char* absent : {"Authorization", "date", "digest"}) EXPECT_FALSE(seen.headers.count(absent)) << absent;
    EXPECT_EQ(seen.Header("Content-Type"), "application/json");
    const json body = json::parse(seen.body);
    ASSERT_EQ(body.size(), 2u);
    EXPECT_EQ(seen.body.find("{\"public_key\":"), 0u);
    EXPECT_EQ(body["public_key"], ToUtf8(LoadResourceText(u"satispay_publickey")));
    EXPECT_EQ(body["token"], c.token);
  }

  service_.SetAnswer(Json(403, R"({"code":45})"));
  std::u16string key_id = u"stale", error;
  EXPECT_FALSE(GenerateKeyId(u"token=ABC123|staging=false", key_id, error));
  EXPECT_EQ(key_id, u"");
  EXPECT_EQ(error, u"403 Forbidden");

  service_.SetAnswer(Json(200, R"({"other":1})"));
  EXPECT_TRUE(GenerateKeyId(u"token=A", key_id, error));
  EXPECT_EQ(key_id, u"");

  service_.SetAnswer(Json(200, "not json"));
  EXPECT_FALSE(GenerateKeyId(u"token=A", key_id, error));
  EXPECT_NE(ToUtf8(error).find("Invalid JSON"), std::string::npos) << ToUtf8(error);

  setenv("QVPA_SATISPAY_HOST", ("127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort())).c_str(), 1);
  EXPECT_FALSE(GenerateKeyId(u"token=A", key_id, error));
  EXPECT_TRUE(error.starts_with(u"500 ")) << ToUtf8(error);
}

}  // namespace
}  // namespace qvpa
