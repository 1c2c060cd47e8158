#include "satispay/payment_satispay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "base/application.h"
#include "base/error.h"
#include "base/format_settings.h"
#include "base/platform.h"
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
  int client_port = 0;  // one per connection
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
    Seen seen{req.method, req.target, req.body, req.headers, req.remote_port};
    Answer answer;
    bool drop = false;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(seen);
      answer = answer_;
      drop = drops_ > 0;
      if (drop) --drops_;
    }
    if (drop) {
      // The request arrived whole; the connection ends without a byte of answer.
      if (req.ssl != nullptr) shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
      res.status = 500;
      return;
    }
    if (answer) answer(seen, res);
  }
  // The next `count` requests are read and then cut off unanswered.
  void DropNext(int count) {
    std::lock_guard lock(mutex_);
    drops_ = count;
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
  int drops_ = 0;
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
  EXPECT_EQ(device->TotalTimeout(), kPayment_SATISPAY::kDefaultTotalTimeout);
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
  // RequestTimeout bounds the whole request, the connection within it.
  const struct {
    std::string parameter;
    std::chrono::milliseconds connect, total;
  } limits[] = {{"", std::chrono::milliseconds(10000), std::chrono::milliseconds(30000)},
                {"<RequestTimeout>2500</RequestTimeout>", std::chrono::milliseconds(2500), std::chrono::milliseconds(2500)},
                {"<RequestTimeout>45000</RequestTimeout>", std::chrono::milliseconds(10000), std::chrono::milliseconds(45000)}};
  for (const auto& l : limits) {
    auto device = Open(l.parameter);
    EXPECT_EQ(device->ConnectTimeout(), l.connect) << l.parameter;
    EXPECT_EQ(device->TotalTimeout(), l.total) << l.parameter;
  }
}

// DeviceType takes one of the service's device types, AcceptanceWait 0 to 25 seconds;
// anything else makes the device fail to open, naming the parameter.
TEST_F(SatispayDeviceTest, CreationChecksDeviceTypeAndAcceptanceWait) {
  const struct {
    std::string parameters;
    const char16_t* device_type;  // null: the device does not open
    int wait;
  } cases[] = {
      {"", u"POS", 0},
      {"<DeviceType>CASH REGISTER</DeviceType><AcceptanceWait>25</AcceptanceWait>", u"CASH REGISTER", 25},
      {"<DeviceType>ECOMMERCE_PLUGIN</DeviceType><AcceptanceWait>0</AcceptanceWait>", u"ECOMMERCE_PLUGIN", 0},
      {"<DeviceType>pos</DeviceType>", nullptr, 0},
      {"<DeviceType>KIOSK</DeviceType>", nullptr, 0},
      {"<DeviceType></DeviceType>", nullptr, 0},
      {"<AcceptanceWait>26</AcceptanceWait>", nullptr, 0},
      {"<AcceptanceWait>-1</AcceptanceWait>", nullptr, 0},
      {"<AcceptanceWait>soon</AcceptanceWait>", nullptr, 0},
  };
  for (const auto& c : cases) {
    try {
      auto device = Open(c.parameters);
      ASSERT_NE(c.device_type, nullptr) << c.parameters << " opened";
      EXPECT_EQ(device->Identity().device_type, c.device_type);
      EXPECT_EQ(device->AcceptanceWait(), std::chrono::seconds(c.wait));
    } catch (const EQVError& e) {
      EXPECT_EQ(c.device_type, nullptr) << c.parameters << ": " << e.what();
      const std::string name = c.parameters.substr(1, c.parameters.find('>') - 1);
      EXPECT_TRUE(std::string(e.what()).starts_with("Parameter " + name + " must be")) << e.what();
    }
  }
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

// What the service's contract asks of clients goes with every request: Accept and the
// device identification; each creation (and only a creation) carries its own
// Idempotency-Key, outside the signature and written into the request's log line.
TEST_F(SatispayDeviceTest, RequestsCarryContractHeadersAndCreationsAnIdempotencyKey) {
  auto device = Open("<KeyID>key-1</KeyID><DeviceType>CASH REGISTER</DeviceType>");
  service_.SetAnswer(Json(200, kPending));
  const std::string refund = "<Amount>1</Amount><Currency>EUR</Currency><RefundReference><PaymentId>p-1"
                             "</PaymentId></RefundReference>";
  const _int_PAY_result begin =
      Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>");
  Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>");
  Pay(*device, "<Action>REFUND</Action>" + refund);
  Pay(*device, "<Action>VOID</Action>" + refund);
  Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>");
  Pay(*device, "<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>p-1</Attributes>");
  service_.SetAnswer(Json(200, R"({"has_more":false,"data":[]})"));
  Verify(*device, "R1");

  const std::regex uuid("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  std::set<std::string> keys;
  const std::vector<Seen> requests = service_.Requests();
  ASSERT_GE(requests.size(), 7u);
  for (size_t i = 0; i < requests.size(); ++i) {
    const Seen& seen = requests[i];
    SCOPED_TRACE(seen.method + " " + seen.target);
    EXPECT_EQ(seen.Header("Accept"), "application/json");
    EXPECT_EQ(seen.Header("x-satispay-devicetype"), "CASH REGISTER");
    EXPECT_EQ(seen.Header("x-satispay-deviceinfo"), ToUtf8(platform::HostName()));
    EXPECT_EQ(seen.Header("x-satispay-os"), ToUtf8(platform::OsName()));
    EXPECT_EQ(seen.Header("x-satispay-osv"), ToUtf8(platform::OsVersion()));
    EXPECT_EQ(seen.Header("x-satispay-appn"), "Brivel MXR Driver");
    EXPECT_EQ(seen.Header("x-satispay-appv"), ToUtf8(QVApplication()->Info().Version()));
    EXPECT_FALSE(seen.Header("x-satispay-appv").empty());
    EXPECT_TRUE(SignatureVerifies(seen, "key-1"));
    const bool creation = i < 4;
    EXPECT_EQ(seen.headers.count("Idempotency-Key"), creation ? 1u : 0u);
    if (creation) {
      EXPECT_TRUE(std::regex_match(seen.Header("Idempotency-Key"), uuid)) << seen.Header("Idempotency-Key");
      keys.insert(seen.Header("Idempotency-Key"));
    }
  }
  EXPECT_EQ(keys.size(), 4u);  // a fresh key for every creation
  device.reset();  // its log is complete once the device is gone
  const std::string log = ReadFile(begin.LogFileName);
  // Method and path, the body alone after the colon, then the key, each on its own line.
  EXPECT_NE(log.find("kSATISPAY.Method:POST /g_business/v1/payments\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("kSATISPAY.Request:{\"flow\":\"MATCH_CODE\",\"amount_unit\":100,\"currency\":\"EUR\","
                     "\"external_code\":\"\"}\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("kSATISPAY.IdempotencyKey:" + requests[0].Header("Idempotency-Key") + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("kSATISPAY.Method:GET /g_business/v1/payments/"), std::string::npos) << log;
}

// A request that cannot help is never sent: DO and ROLLBACK need the payment's id, and
// verification a reference (an empty one would match payments made without one).
TEST_F(SatispayDeviceTest, MissingIdentifiersFailBeforeAnyRequest) {
  service_.SetAnswer(Json(200, R"({"has_more":false,"data":[{"id":"p-9","status":"ACCEPTED"}]})"));
  auto device = Open();
  const struct {
    const char* fields;  // empty: a verification without ReceiptId
    const char* error_start;
  } cases[] = {{"<Action>PAY</Action><Phase>DO</Phase>", "Payment identifier missing:"},
               {"<Action>PAY</Action><Phase>DO</Phase><Attributes></Attributes>",
                "Payment identifier missing:"},
               {"<Action>PAY</Action><Phase>ROLLBACK</Phase>", "Payment identifier missing:"},
               {"", "ReceiptId missing:"}};
  for (const auto& c : cases) {
    const _int_PAY_result result = *c.fields != 0 ? Pay(*device, c.fields) : Verify(*device, "");
    EXPECT_TRUE(result.Error) << c.fields;
    EXPECT_EQ(ToUtf8(result.ErrorText).rfind(c.error_start, 0), 0u) << ToUtf8(result.ErrorText);
  }
  EXPECT_EQ(service_.Requests().size(), 0u);
}

// A refusal keeps its short text for the host, and its body (the service's code and
// message) in the log; a 401 also logs the key id and the host it was sent to.
TEST_F(SatispayDeviceTest, RefusalsLogTheServiceBody) {
  std::u16string log_file;
  {
    auto device = Open();  // its log is complete once the device is gone
    service_.SetAnswer(Json(400, R"({"code":36,"message":"Invalid amount_unit","wlt":"w1"})"));
    const _int_PAY_result refused =
        Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>0</Amount>");
    EXPECT_EQ(refused.ErrorText, u"Bad Request");
    service_.SetAnswer(Json(401, R"({"code":34,"message":"Invalid signature"})"));
    const _int_PAY_result unauthorized =
        Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount>");
    EXPECT_EQ(unauthorized.ErrorText, u"Unauthorized");
    log_file = refused.LogFileName;
  }
  const std::string log = ReadFile(log_file);
  EXPECT_NE(log.find(" - ERROR - kSATISPAY.ResponseBody:{\"code\":36,\"message\":\"Invalid amount_unit\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("kSATISPAY.Unauthorized:KeyID=key-1 Host=" + server_.HostPort()), std::string::npos)
      << log;
}

// Answers dated off the local clock: beyond a minute either way the device log warns with
// the difference in seconds; a 401 says how far off the clock is in any case.
TEST_F(SatispayDeviceTest, AnswersDatedOffTheLocalClockAreLogged) {
  const auto dated = [](int status, const std::string& body, int offset_seconds) -> Answer {
    return [=](const Seen&, httplib::Response& res) {
      const std::time_t at = std::time(nullptr) + offset_seconds;
      std::tm utc{};
      gmtime_r(&at, &utc);
      char date[40];
      std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
      res.status = status;
      res.set_header("Date", date);
      res.set_content(body, "application/json");
    };
  };
  std::u16string log_file;
  {
    auto device = Open();
    const std::string begin = "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount>";
    service_.SetAnswer(dated(200, kPending, 300));  // the service's clock 5 minutes later
    log_file = Pay(*device, begin).LogFileName;
    service_.SetAnswer(dated(200, kPending, -30));  // within a minute: no warning
    EXPECT_FALSE(Pay(*device, begin).Error);
    service_.SetAnswer(dated(401, R"({"code":34,"message":"Invalid signature"})", -90));
    EXPECT_EQ(Pay(*device, begin).ErrorText, u"Unauthorized");
    service_.SetAnswer(dated(401, R"({"code":34,"message":"Invalid signature"})", 20));
    EXPECT_EQ(Pay(*device, begin).ErrorText, u"Unauthorized");
  }
  const std::string log = ReadFile(log_file);
  std::vector<std::string> warnings;
  const std::regex warning(
      R"(kSATISPAY\.ClockSkew:WARNING: the local clock is (\d+) s (ahead of|behind) the )"
      R"(service's Date \([^)]+ GMT\); signed requests may be refused)");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), warning); it != std::sregex_iterator();
       ++it) {
    warnings.push_back((*it)[2].str() + " " + (*it)[1].str());
  }
  // A second may pass between the answer and its reading.
  ASSERT_EQ(warnings.size(), 2u) << log;
  EXPECT_TRUE(warnings[0] == "behind 300" || warnings[0] == "behind 299") << warnings[0];
  EXPECT_TRUE(warnings[1] == "ahead of 90" || warnings[1] == "ahead of 91") << warnings[1];
  const std::regex unauthorized(R"(kSATISPAY\.Unauthorized:KeyID=key-1 Host=[^ ]+ \(.*\); the local clock is (\d+) s (ahead of|behind) the service's Date)");
  std::vector<std::string> offsets;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), unauthorized); it != std::sregex_iterator(); ++it) {
    offsets.push_back((*it)[2].str() + " " + (*it)[1].str());
  }
  ASSERT_EQ(offsets.size(), 2u) << log;
  EXPECT_TRUE(offsets[0] == "ahead of 90" || offsets[0] == "ahead of 91") << offsets[0];
  EXPECT_TRUE(offsets[1] == "behind 20" || offsets[1] == "behind 19") << offsets[1];
}

// A creation cut off after it went out is sent once more with the same key (and a new
// signature), so the service can answer with what it stored. A time-out, or any other
// request, is not repeated.
TEST_F(SatispayDeviceTest, DroppedCreationIsRepeatedOnceWithTheSameKey) {
  service_.SetAnswer(Json(200, kPending));
  service_.DropNext(1);
  auto device = Open();
  const _int_PAY_result begin =
      Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>");
  EXPECT_FALSE(begin.Error) << ToUtf8(begin.ErrorText);
  EXPECT_EQ(begin.PaymentNumber, u"p-1");
  std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Idempotency-Key"), requests[1].Header("Idempotency-Key"));
  EXPECT_EQ(requests[0].body, requests[1].body);
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "key-1"));
  const std::string log = ReadFile(begin.LogFileName);
  EXPECT_NE(log.find("kSATISPAY.Retry:Idempotency-Key=" + requests[0].Header("Idempotency-Key")), std::string::npos)
      << log;

  // The driver's own repeat is one: dropped twice, the second failure is the answer. Each
  // case starts on a new device, whose first request opens its connection.
  service_.DropNext(2);
  const size_t before_refund = service_.Requests().size();
  const _int_PAY_result twice =
      Pay(*Open(), "<Action>REFUND</Action><Amount>1</Amount><Currency>EUR</Currency>");
  EXPECT_TRUE(twice.Error);
  EXPECT_EQ(service_.Requests().size() - before_refund, 2u);

  // Reads and cancellations are not repeated by the driver.
  for (const char* phase : {"DO", "ROLLBACK"}) {
    auto fresh = Open();
    service_.DropNext(1);
    const size_t before = service_.Requests().size();
    const _int_PAY_result once =
        Pay(*fresh, std::string("<Action>PAY</Action><Phase>") + phase + "</Phase><Attributes>p-1</Attributes>");
    EXPECT_TRUE(once.Error) << phase;
    EXPECT_EQ(fresh->IOHandler().ErrorCode(), 500) << phase;
    EXPECT_EQ(service_.Requests().size() - before, 1u) << phase;
  }

  // A kept connection that dies under a request before any answer is taken for one the
  // service had closed: the request goes out once more over a new connection, below the
  // driver, whatever its method.
  service_.DropNext(1);
  const size_t before = service_.Requests().size();
  const _int_PAY_result read = Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>");
  requests = service_.Requests();
  ASSERT_EQ(requests.size() - before, 2u);
  EXPECT_NE(requests[before + 1].client_port, requests[before].client_port);
  EXPECT_EQ(read.PaymentNumber, u"p-1");
}

// Text from the host that would add header lines never reaches the wire.
TEST_F(SatispayDeviceTest, LineBreaksInHeaderSourcesSendNothing) {
  for (const std::string key : {"key&#13;&#10;X-Injected: 1", "key&#10;host: evil.example"}) {
    auto device = Open("<KeyID>" + key + "</KeyID>");
    const _int_PAY_result result =
        Pay(*device, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>");
    EXPECT_TRUE(result.Error);
    EXPECT_EQ(ToUtf8(result.ErrorText).rfind("HTTP header Authorization is not valid", 0), 0u)
        << ToUtf8(result.ErrorText);
    EXPECT_EQ(device->IOHandler().ErrorCode(), 500);
  }
  // A host name from the environment ends up in the URL and the signed host header.
  setenv("QVPA_SATISPAY_HOST", (server_.HostPort() + "\r\nX-Injected: 1").c_str(), 1);
  auto device = Open();
  const _int_PAY_result result = Pay(*device, "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>");
  EXPECT_TRUE(result.Error);
  EXPECT_TRUE(result.ErrorText.starts_with(u"HTTP header host is not valid")) << ToUtf8(result.ErrorText);
  EXPECT_EQ(service_.Requests().size(), 0u);
}

// Opening connects nothing; each device then keeps its own connection to the service from
// its first request until it is destroyed.
TEST_F(SatispayDeviceTest, EachDeviceKeepsItsOwnConnectionUntilDestroyed) {
  service_.SetAnswer(Json(200, kPending));
  auto first = Open();
  auto second = Open();
  EXPECT_EQ(testing::EstablishedConnectionsTo(server_.Port()), 0);
  const std::string begin = "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>1</Amount><Currency>EUR</Currency>";
  for (int round = 0; round < 2; ++round) {
    EXPECT_FALSE(Pay(*first, begin).Error);
    EXPECT_FALSE(Pay(*second, begin).Error);
  }
  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2].client_port, requests[0].client_port);
  EXPECT_EQ(requests[3].client_port, requests[1].client_port);
  EXPECT_NE(requests[0].client_port, requests[1].client_port);
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "key-1"));
  EXPECT_EQ(testing::EstablishedConnectionsTo(server_.Port()), 2);
  first.reset();
  EXPECT_EQ(testing::EstablishedConnectionsTo(server_.Port()), 1);
  second.reset();
  EXPECT_EQ(testing::EstablishedConnectionsTo(server_.Port()), 0);
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
  EXPECT_EQ(service_.Requests().size(), 1u);  // the host decides about a creation that timed out
}

// AcceptanceWait asks the service to hold DO's answer, and gives that request the time.
TEST_F(SatispayDeviceTest, AcceptanceWaitLongPollsDo) {
  service_.SetAnswer([](const Seen& seen, httplib::Response& res) {
    if (!seen.Header("x-satispay-response-wait-time").empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    res.set_content(R"({"id":"p-1","status":"ACCEPTED"})", "application/json");
  });
  auto device = Open("<KeyID>k</KeyID><RequestTimeout>300</RequestTimeout><AcceptanceWait>4</AcceptanceWait>");
  const std::string do_fields = "<Action>PAY</Action><Phase>DO</Phase><Attributes>p-1</Attributes>";
  const _int_PAY_result done = Pay(*device, do_fields);
  EXPECT_FALSE(done.Error) << ToUtf8(done.ErrorText);
  auto plain = Open("<KeyID>k</KeyID>");
  Pay(*plain, do_fields);
  Pay(*device, "<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>p-1</Attributes>");

  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Header("x-satispay-response-wait-time"), "4");
  EXPECT_TRUE(SignatureVerifies(requests[0], "k"));
  EXPECT_EQ(requests[1].headers.count("x-satispay-response-wait-time"), 0u);  // AcceptanceWait 0
  EXPECT_EQ(requests[2].headers.count("x-satispay-response-wait-time"), 0u);  // DO only
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
    if (seen.target.find("status=") != std::string::npos) {
      page = R"({"has_more":false,"data":[]})";
    } else if (seen.target.find("starting_after_timestamp=") != std::string::npos) {
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

  // Pending payments first, then the accepted ones (the service's default listing).
  const std::vector<Seen> requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto start = static_cast<int64_t>(std::llround((std::floor(Now()) - 1) * 86400000.0));
  const std::string first_page = "/g_business/v1/payments?starting_after_timestamp=" + std::to_string(start) + "&limit=20";
  EXPECT_EQ(requests[0].target, first_page + "&status=PENDING");
  EXPECT_EQ(requests[1].target, first_page);
  EXPECT_EQ(requests[2].target, "/g_business/v1/payments?starting_after=b&limit=20");
  for (const Seen& seen : requests) EXPECT_TRUE(SignatureVerifies(seen, "key-1")) << seen.target;
}

// Each status's listing is searched through to the end of the window before the driver
// says a payment does not exist; every search ends one way or another.
TEST_F(SatispayDeviceTest, VerifyEndsAsNotFoundOnlyWhenTheWindowWasSearched) {
  const std::string not_found = "Transaction with external_code R1 not found";
  const std::string today = IsoDaysAgo(0);
  const struct {
    const char* name;
    std::string page;  // answered to every listing request
    size_t requests;
    std::string error;  // the text, or the start of the text when it ends in "..."
  } cases[] = {
      {"older than the window",
       R"({"has_more":true,"data":[)" + PaymentJson("a", "x", today) + "," + PaymentJson("b", "y", IsoDaysAgo(2)) +
           "," + PaymentJson("c", "R1", today) + "]}",
       3, not_found},
      {"no more pages", R"({"has_more":false,"data":[)" + PaymentJson("a", "x", today) + "]}", 3, not_found},
      // Every first page empty: searched once more without starting_after_timestamp.
      {"last page empty", R"({"has_more":false,"data":[]})", 6, not_found},
      // A page that is empty with more announced, or not read at all, is asked for again.
      {"more pages announced, none given", R"({"has_more":true,"data":[]})",
       6 * kPayment_SATISPAY::kListingPageTries, "Verification incomplete: 0 payments searched, window not exhausted"},
      {"not an object", R"([1,2,3])", kPayment_SATISPAY::kListingPageTries, "Invalid JSON: ..."},
      {"not JSON", "<html>", kPayment_SATISPAY::kListingPageTries, "Invalid JSON: ..."},
      {"no data array", R"({"has_more":true,"data":{}})", kPayment_SATISPAY::kListingPageTries, "Invalid JSON: ..."},
  };
  for (const auto& c : cases) {
    service_.SetAnswer(Json(200, c.page));
    const size_t before = service_.Requests().size();
    auto device = Open();
    std::string error;
    try {
      const _int_PAY_result result = Verify(*device, "R1");
      EXPECT_TRUE(result.Error) << c.name;
      error = ToUtf8(result.ErrorText);
    } catch (const EQVError& e) {
      error = e.what();
    }
    if (c.error.ends_with("...")) {
      EXPECT_EQ(error.rfind(c.error.substr(0, c.error.size() - 3), 0), 0u) << c.name << ": " << error;
    } else {
      EXPECT_EQ(error, c.error) << c.name;
    }
    EXPECT_EQ(device->JSONResponse(), u"") << c.name;
    EXPECT_EQ(service_.Requests().size() - before, c.requests) << c.name;
  }
}

// The contract leaves open how starting_after_timestamp is read and whether listing items
// carry external_code. Under every reading a payment that exists is found, or the answer
// says the search could not tell; never "not found".
TEST_F(SatispayDeviceTest, VerifyHoldsUnderEveryReadingOfTheListing) {
  const std::string today = IsoDaysAgo(0);
  const struct {
    const char* name;
    bool created_after;  // the timestamp read as "created after" (nothing is that new)
    bool codes;          // listing items carry external_code
    bool oldest_first;
    const char* wanted;
    std::string expected;  // "found", or the start of the error text
  } cases[] = {
      {"cursor, codes", false, true, false, "R1", "found"},
      {"created after, codes", true, true, false, "R1", "found"},
      {"created after, codes, oldest first", true, true, true, "R1", "found"},
      {"cursor, no codes", false, false, false, "R1", "Verification incomplete: the service's listing"},
      {"created after, no codes", true, false, false, "R1",
       "Verification incomplete: the service's listing"},
      // A refund carries no code, yet cannot be the payment: "not found" stays possible.
      {"cursor, codes, absent", false, true, false, "R9", "Transaction with external_code R9 not found"},
      {"created after, codes, absent", true, true, false, "R9",
       "Transaction with external_code R9 not found"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> items = {PaymentJson("new", "R2", today), PaymentJson("mine", "R1", today),
                                      R"({"id":"refund","type":"REFUND_TO_BUSINESS","amount_unit":100,)"
                                      R"("currency":"EUR","status":"ACCEPTED","insert_date":")" + today + R"("})",
                                      PaymentJson("old", "R0", IsoDaysAgo(3))};
    if (c.oldest_first) std::reverse(items.begin(), items.end());
    if (!c.codes) {
      for (std::string& item : items) item = std::regex_replace(item, std::regex(R"("external_code":"[^"]*",)"), "");
    }
    service_.SetAnswer([&](const Seen& seen, httplib::Response& res) {
      std::string body = R"({"has_more":false,"data":[]})";
      const bool accepted = seen.target.find("status=") == std::string::npos;
      const bool from_timestamp = seen.target.find("starting_after_timestamp=") != std::string::npos;
      if (accepted && !(from_timestamp && c.created_after)) {
        body = R"({"has_more":false,"data":[)" + items[0] + "," + items[1] + "," + items[2] + "," + items[3] + "]}";
      }
      res.status = 200;
      res.set_content(body, "application/json");
    });
    auto device = Open();
    std::string error;  // a failure raised reaches the host as its ErrorText
    try {
      const _int_PAY_result result = Verify(*device, c.wanted);
      if (result.Error) error = ToUtf8(result.ErrorText);
      if (!result.Error) {
        EXPECT_EQ(result.RefundReference, u"mine") << c.name;
      }
    } catch (const EQVError& e) {
      error = e.what();
    }
    if (c.expected == "found") {
      EXPECT_EQ(error, "") << c.name;
    } else {
      EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.name << ": " << error;
    }
  }
}

// A listing that never ends spends the page budget and says so; the other statuses are
// still searched, and a match there is still found.
TEST_F(SatispayDeviceTest, VerifyPageBudgetEndsAsIncomplete) {
  const std::string today = IsoDaysAgo(0);
  std::string found_in_canceled;
  int served = 0;
  service_.SetAnswer([&](const Seen& seen, httplib::Response& res) {
    std::string page = R"({"has_more":false,"data":[]})";
    if (seen.target.find("status=CANCELED") != std::string::npos && !found_in_canceled.empty()) {
      page = R"({"has_more":false,"data":[)" + found_in_canceled + "]}";
    } else if (seen.target.find("status=") == std::string::npos) {
      page = R"({"has_more":true,"data":[)" + PaymentJson("n" + std::to_string(served++), "x", today) + "]}";
    }
    res.set_content(page, "application/json");
  });
  auto device = Open();
  try {
    Verify(*device, "R1");
    ADD_FAILURE() << "an endless listing ended as a verdict";
  } catch (const EQVError& e) {
    const std::string expected = "Verification incomplete: " + std::to_string(kPayment_SATISPAY::kVerifyPagesPerStatus) +
                                 " payments searched, window not exhausted";
    EXPECT_EQ(std::string(e.what()), expected);
  }
  EXPECT_EQ(service_.Requests().size(), static_cast<size_t>(kPayment_SATISPAY::kVerifyPagesPerStatus) + 2);
  EXPECT_EQ(service_.Requests().back().target.find("status=CANCELED") != std::string::npos, true);

  found_in_canceled = PaymentJson("z", "R1", today, "CANCELED");
  const _int_PAY_result canceled = Verify(*device, "R1");
  EXPECT_TRUE(canceled.Error);
  EXPECT_EQ(canceled.ErrorText, u"CANCELED");
  EXPECT_EQ(canceled.PaymentNumber, u"z");
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

  // The activation token is masked in the log, which has a name of its own.
  const std::filesystem::path log_file =
      log_dir_ / "LogFiles" / "Payment" /
      ("QVPA_SATISPAY_10_GenerateKeyID_" + ToUtf8(FormatDateTime(u"yyyymmdd", Now())) + ".log");
  const std::string log = ReadFile(log_file.u16string());
  EXPECT_NE(log.find("\"token\":\"****23\"}"), std::string::npos) << log;
  EXPECT_EQ(log.find("ABC123"), std::string::npos) << log;

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
