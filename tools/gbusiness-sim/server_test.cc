#include "tools/gbusiness-sim/server.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tools/gbusiness-sim/test_client.h"
#include "tools/gbusiness-sim/tls_certs.h"

namespace qvpa::gbsim {
namespace {

using nlohmann::json;
using testing::SignedHeaders;
using testing::SignOptions;
using testing::TestKey;

constexpr char kRollbackBody[] = R"({"action": "CANCEL_OR_REFUND"})";

// One TLS folder and one client key for the whole suite; a fresh server per test.
class SimServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/gbusiness-sim-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = new std::string(pattern);
    tls_ = new TlsFiles(GenerateTlsFiles(*folder_, {}));
    key_ = new TestKey(TestKey::Generate());
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*folder_);
    delete key_;
    delete tls_;
    delete folder_;
  }

  void StartServer(int accept_after = -1) {
    ServerConfig config;
    config.cert_file = tls_->cert_file;
    config.key_file = tls_->key_file;
    config.tokens = {"TOKEN1", "TOKEN2"};
    config.store.accept_after_reads = accept_after;
    server_ = std::make_unique<SimServer>(std::move(config));
    port_ = server_->Start();
    client_ = NewClient();
  }
  void SetUp() override { StartServer(); }

  std::unique_ptr<httplib::SSLClient> NewClient() const {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port_);
    client->set_ca_cert_path(tls_->ca_file.c_str());
    client->enable_server_certificate_verification(true);
    return client;
  }

  std::string RegisterKey() {
    const auto result = client_->Post("/g_business/v1/authentication_keys",
                                      json{{"public_key", key_->public_pem()}, {"token", "TOKEN1"}}.dump(),
                                      "application/json");
    EXPECT_TRUE(result);
    EXPECT_EQ(result->status, 200) << result->body;
    return json::parse(result->body)["key_id"];
  }

  httplib::Result Signed(const std::string& method, const std::string& target, const std::string& body = "",
                         const TestKey* key = nullptr) {
    SignOptions options;
    options.key_id = key_id_;
    options.host = "127.0.0.1:" + std::to_string(port_);
    const httplib::Headers headers = SignedHeaders(key ? *key : *key_, options, method, target, body);
    if (method == "GET") return client_->Get(target.c_str(), headers);
    if (method == "PUT") return client_->Put(target.c_str(), headers, body, "application/json");
    return client_->Post(target.c_str(), headers, body, "application/json");
  }

  json SignedOk(const std::string& method, const std::string& target, const std::string& body = "") {
    const auto result = Signed(method, target, body);
    if (!result) {
      ADD_FAILURE() << method << " " << target << ": " << httplib::to_string(result.error());
      return {};
    }
    EXPECT_EQ(result->status, 200) << method << " " << target << ": " << result->body;
    return json::parse(result->body, nullptr, false);
  }

  json Control(const std::string& method, const std::string& path, const json& body = json::object()) {
    const auto result = method == "GET"      ? client_->Get(path.c_str())
                        : method == "DELETE" ? client_->Delete(path.c_str())
                                             : client_->Post(path.c_str(), body.dump(), "application/json");
    EXPECT_TRUE(result) << path;
    EXPECT_EQ(result->status, 200) << path << ": " << result->body;
    return json::parse(result->body, nullptr, false);
  }

  json NewPayment(int amount, const std::string& code) {
    return SignedOk("POST", "/g_business/v1/payments",
                    json{{"flow", "MATCH_CODE"}, {"amount_unit", amount}, {"currency", "EUR"},
                         {"external_code", code}}.dump());
  }

  static std::string* folder_;
  static TlsFiles* tls_;
  static TestKey* key_;
  std::unique_ptr<SimServer> server_;
  std::unique_ptr<httplib::SSLClient> client_;
  int port_ = 0;
  std::string key_id_;
};

std::string* SimServerTest::folder_ = nullptr;
TlsFiles* SimServerTest::tls_ = nullptr;
TestKey* SimServerTest::key_ = nullptr;

TEST_F(SimServerTest, KeyRegistrationAnswersLikeTheService) {
  auto post = [&](const std::string& pem, const std::string& token) {
    const auto result = client_->Post("/g_business/v1/authentication_keys",
                                      json{{"public_key", pem}, {"token", token}}.dump(), "application/json");
    EXPECT_TRUE(result);
    return std::make_pair(result->status, json::parse(result->body, nullptr, false));
  };
  const auto unknown = post(key_->public_pem(), "NOSUCH");
  EXPECT_EQ(unknown.first, 404);
  EXPECT_EQ(unknown.second["code"], 41);
  EXPECT_TRUE(unknown.second.contains("message"));
  EXPECT_TRUE(unknown.second.contains("wlt"));

  const auto not_a_key = post("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", "TOKEN1");
  EXPECT_EQ(not_a_key.first, 400);
  EXPECT_EQ(not_a_key.second["code"], 34);

  const auto registered = post(key_->public_pem(), "TOKEN1");  // the refused key left the token unused
  ASSERT_EQ(registered.first, 200);
  key_id_ = registered.second["key_id"];
  EXPECT_FALSE(key_id_.empty());

  const auto reused = post(key_->public_pem(), "TOKEN1");
  EXPECT_EQ(reused.first, 403);
  EXPECT_EQ(reused.second["code"], 45);

  // The registered key signs: the service knows it under the answered key id.
  EXPECT_EQ(SignedOk("GET", "/g_business/v1/payments?limit=20")["data"], json::array());
  EXPECT_EQ(server_->stats().registrations, 1);
}

TEST_F(SimServerTest, SignedRequestsHoldAndTamperedOnesAreRefused) {
  key_id_ = RegisterKey();
  const json payment = NewPayment(1250, "R1");
  const std::string item = "/g_business/v1/payments/" + payment["id"].get<std::string>();
  SignedOk("GET", item);
  SignedOk("GET", "/g_business/v1/payments?starting_after_timestamp=3913920000000&limit=20");
  const Stats clean = server_->stats();
  EXPECT_EQ(clean.signed_requests, 3);
  EXPECT_EQ(clean.verification_failures, 0);

  const TestKey stranger = TestKey::Generate();
  SignOptions options;
  options.key_id = key_id_;
  options.host = "127.0.0.1:" + std::to_string(port_);
  const std::string body = R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR"})";
  struct Case {
    const char* name;
    std::function<httplib::Result()> send;
  };
  const Case cases[] = {
      {"body changed",
       [&] {
         return client_->Post("/g_business/v1/payments",
                              SignedHeaders(*key_, options, "POST", "/g_business/v1/payments", body),
                              R"({"flow":"MATCH_CODE","amount_unit":1,"currency":"EUR"})", "application/json");
       }},
      {"path changed",
       [&] { return client_->Get("/g_business/v1/payments/other", SignedHeaders(*key_, options, "GET", item, "")); }},
      {"query changed",
       [&] {
         return client_->Get("/g_business/v1/payments?limit=21",
                             SignedHeaders(*key_, options, "GET", "/g_business/v1/payments?limit=20", ""));
       }},
      {"digest of another body",
       [&] {
         httplib::Headers headers = SignedHeaders(*key_, options, "GET", item, "");
         headers.erase("digest");
         headers.emplace("digest", testing::ClientDigest("x"));
         return client_->Get(item.c_str(), headers);
       }},
      {"wrong key", [&] { return Signed("GET", item, "", &stranger); }},
      {"unknown key id",
       [&] {
         SignOptions unknown = options;
         unknown.key_id = "nobody";
         return client_->Get(item.c_str(), SignedHeaders(*key_, unknown, "GET", item, ""));
       }},
      {"other host signed",
       [&] {
         SignOptions elsewhere = options;
         elsewhere.host = "127.0.0.1";
         httplib::Headers headers = SignedHeaders(*key_, elsewhere, "GET", item, "");
         headers.erase("host");
         headers.emplace("host", options.host);
         return client_->Get(item.c_str(), headers);
       }},
      {"unsigned", [&] { return client_->Get(item.c_str()); }},
  };
  for (const Case& c : cases) {
    const auto result = c.send();
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(result->status, 401) << c.name;
    EXPECT_EQ(json::parse(result->body)["code"], 34) << c.name;
  }
  const json stats = Control("GET", "/control/stats");
  EXPECT_EQ(stats["signed_requests"], 3 + std::size(cases));
  EXPECT_EQ(stats["verification_failures"], std::size(cases));
  EXPECT_NE(stats["last_error"].get<std::string>().find("missing Authorization header"), std::string::npos);
  EXPECT_EQ(server_->store().All().size(), 1u);  // the tampered creation made nothing
}

TEST_F(SimServerTest, MatchCodePaymentRunsThroughBeginDoAndRollback) {
  StartServer(1);
  key_id_ = RegisterKey();
  const json created = NewPayment(1250, "R1");
  EXPECT_EQ(created["status"], "PENDING");
  const std::string item = "/g_business/v1/payments/" + created["id"].get<std::string>();
  EXPECT_EQ(SignedOk("GET", item)["status"], "PENDING");
  EXPECT_EQ(SignedOk("GET", item)["status"], "ACCEPTED");
  const json refund = SignedOk("PUT", item, kRollbackBody);
  EXPECT_EQ(refund["type"], "REFUND_TO_BUSINESS");
  EXPECT_EQ(refund["amount_unit"], 1250);

  const json other = NewPayment(300, "R2");
  const std::string other_item = "/g_business/v1/payments/" + other["id"].get<std::string>();
  EXPECT_EQ(SignedOk("PUT", other_item, kRollbackBody)["status"], "CANCELED");
  EXPECT_EQ(Signed("PUT", other_item, kRollbackBody)->status, 403);

  const json closure = SignedOk("GET", "/g_business/v1/daily_closure/" + LocalDayText(std::chrono::system_clock::now()));
  EXPECT_EQ(closure["shop_daily_closure"]["amount_unit"], 0);  // paid, then refunded in full
  const auto bad_day = Signed("GET", "/g_business/v1/daily_closure/2024-01-10");
  EXPECT_EQ(bad_day->status, 400);
  EXPECT_EQ(bad_day->get_header_value("Content-Type"), "text/plain");
  EXPECT_EQ(server_->stats().verification_failures, 0);
}

TEST_F(SimServerTest, CustomerSideAcceptsDeclinesAndSeeds) {
  key_id_ = RegisterKey();
  const std::string paid = NewPayment(400, "A")["id"];
  const std::string declined = NewPayment(500, "D")["id"];
  EXPECT_EQ(Control("POST", "/control/payments/" + paid + "/accept")["status"], "ACCEPTED");
  EXPECT_EQ(Control("POST", "/control/payments/" + declined + "/decline")["status"], "CANCELED");
  EXPECT_EQ(SignedOk("GET", "/g_business/v1/payments/" + paid)["status"], "ACCEPTED");
  EXPECT_EQ(client_->Post(("/control/payments/" + declined + "/accept").c_str(), "", "application/json")->status, 403);

  Control("POST", "/control/payments",
          {{"amount_unit", 100}, {"external_code", "OLD"}, {"insert_date", "2020-07-01T09:18:17.166Z"}});
  const json listed = SignedOk("GET", "/g_business/v1/payments?limit=20");
  ASSERT_EQ(listed["data"].size(), 3u);
  EXPECT_EQ(listed["data"][2]["external_code"], "OLD");

  Control("POST", "/control/tokens", {{"token", "LATE"}});
  const auto late = client_->Post("/g_business/v1/authentication_keys",
                                  json{{"public_key", key_->public_pem()}, {"token", "LATE"}}.dump(), "application/json");
  EXPECT_EQ(late->status, 200);
}

TEST_F(SimServerTest, InjectedFaultsHitTheNextMatchingRequests) {
  key_id_ = RegisterKey();
  const std::string id = NewPayment(100, "F")["id"];
  const std::string item = "/g_business/v1/payments/" + id;

  // A status with the service's error body, for two requests, then normal answers.
  Control("POST", "/control/faults",
          {{"kind", "status"}, {"status", 403}, {"code", 70}, {"message", "Too many requests"}, {"count", 2}});
  for (int i = 0; i < 2; ++i) {
    const auto limited = Signed("GET", item);
    ASSERT_TRUE(limited);
    EXPECT_EQ(limited->status, 403);
    EXPECT_EQ(json::parse(limited->body)["code"], 70);
  }
  SignedOk("GET", item);

  // A connection closed without an answer.
  Control("POST", "/control/faults", {{"kind", "close"}});
  const auto closed = Signed("GET", item);
  EXPECT_FALSE(closed);
  SignedOk("GET", item);

  // A body that is not JSON.
  Control("POST", "/control/faults", {{"kind", "bad_json"}, {"method", "GET"}});
  const auto garbled = Signed("GET", item);
  ASSERT_TRUE(garbled);
  EXPECT_EQ(garbled->status, 200);
  EXPECT_TRUE(json::parse(garbled->body, nullptr, false).is_discarded());

  // Endless paging affects listings only.
  Control("POST", "/control/faults", {{"kind", "endless_paging"}, {"count", 3}});
  SignedOk("GET", item);
  for (int i = 0; i < 3; ++i) {
    const json page = SignedOk("GET", "/g_business/v1/payments?starting_after=" + id + "&limit=20");
    EXPECT_EQ(page, (json{{"has_more", true}, {"data", json::array()}}));
  }
  EXPECT_EQ(SignedOk("GET", "/g_business/v1/payments?limit=20")["data"].size(), 1u);

  // A delay longer than the client waits makes it give up; the next request is answered at once.
  Control("POST", "/control/faults", {{"kind", "delay"}, {"delay_ms", 1500}, {"path", "/g_business/v1/payments/"}});
  client_->set_read_timeout(0, 300'000);
  const auto late = Signed("GET", item);
  EXPECT_FALSE(late);
  client_ = NewClient();
  SignedOk("GET", item);

  EXPECT_EQ(Control("GET", "/control/faults")["faults"], json::array());
  Control("POST", "/control/faults", {{"kind", "close"}});
  Control("DELETE", "/control/faults");
  SignedOk("GET", item);
  EXPECT_EQ(client_->Post("/control/faults", R"({"kind":"explode"})", "application/json")->status, 400);
  EXPECT_EQ(server_->stats().verification_failures, 0);
}

}  // namespace
}  // namespace qvpa::gbsim
