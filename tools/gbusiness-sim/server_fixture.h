// The simulator's server in process on an ephemeral port, with a client that signs its requests
// with a key made for the test suite. Shared by the server's tests.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_SERVER_FIXTURE_H_
#define QVPA_TOOLS_GBUSINESS_SIM_SERVER_FIXTURE_H_

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/gbusiness-sim/server.h"
#include "tools/gbusiness-sim/test_client.h"
#include "tools/gbusiness-sim/tls_certs.h"

namespace qvpa::gbsim::testing {

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
                                      nlohmann::json{{"public_key", key_->public_pem()}, {"token", "TOKEN1"}}.dump(),
                                      "application/json");
    EXPECT_TRUE(result);
    EXPECT_EQ(result->status, 200) << result->body;
    return nlohmann::json::parse(result->body)["key_id"];
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

  nlohmann::json SignedOk(const std::string& method, const std::string& target, const std::string& body = "") {
    const auto result = Signed(method, target, body);
    if (!result) {
      ADD_FAILURE() << method << " " << target << ": " << httplib::to_string(result.error());
      return {};
    }
    EXPECT_EQ(result->status, 200) << method << " " << target << ": " << result->body;
    return nlohmann::json::parse(result->body, nullptr, false);
  }

  nlohmann::json Control(const std::string& method, const std::string& path, const nlohmann::json& body = nlohmann::json::object()) {
    const auto result = method == "GET"      ? client_->Get(path.c_str())
                        : method == "DELETE" ? client_->Delete(path.c_str())
                                             : client_->Post(path.c_str(), body.dump(), "application/json");
    EXPECT_TRUE(result) << path;
    EXPECT_EQ(result->status, 200) << path << ": " << result->body;
    return nlohmann::json::parse(result->body, nullptr, false);
  }

  nlohmann::json NewPayment(int amount, const std::string& code) {
    return SignedOk("POST", "/g_business/v1/payments",
                    nlohmann::json{{"flow", "MATCH_CODE"}, {"amount_unit", amount}, {"currency", "EUR"},
                         {"external_code", code}}.dump());
  }

  static inline std::string* folder_ = nullptr;
  static inline TlsFiles* tls_ = nullptr;
  static inline TestKey* key_ = nullptr;
  std::unique_ptr<SimServer> server_;
  std::unique_ptr<httplib::SSLClient> client_;
  int port_ = 0;
  std::string key_id_;
};


}  // namespace qvpa::gbsim::testing

#endif  // QVPA_TOOLS_GBUSINESS_SIM_SERVER_FIXTURE_H_
