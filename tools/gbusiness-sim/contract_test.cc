// The simulator's answers held against schemas written from the service's published contract
// (shared/gbusiness-api-notes.md), so that the simulator cannot drift towards what the driver
// happens to expect.
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/gbusiness-sim/server_fixture.h"

namespace qvpa::gbsim {
namespace {

using nlohmann::json;
using testing::SignedHeaders;
using testing::SignOptions;
using testing::SimServerTest;

// The part of JSON Schema the contract's shapes need: type (one name or a list), required,
// properties, items, enum, pattern, maxLength, minimum. Returns the first mismatch, or "".
std::string Mismatch(const json& value, const json& schema, const std::string& where = "$") {
  if (schema.contains("type")) {
    const json types = schema["type"].is_array() ? schema["type"] : json::array({schema["type"]});
    bool fits = false;
    for (const json& type : types) {
      const std::string t = type;
      fits = fits || (t == "object" && value.is_object()) || (t == "array" && value.is_array()) ||
             (t == "string" && value.is_string()) || (t == "integer" && value.is_number_integer()) ||
             (t == "boolean" && value.is_boolean()) || (t == "null" && value.is_null());
    }
    if (!fits) return where + ": " + value.dump() + " is not " + schema["type"].dump();
  }
  if (schema.contains("enum") && std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
    return where + ": " + value.dump() + " is not one of " + schema["enum"].dump();
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (schema.contains("pattern") && !std::regex_search(text, std::regex(schema["pattern"].get<std::string>())))
      return where + ": \"" + text + "\" does not match " + schema["pattern"].get<std::string>();
    if (schema.contains("maxLength") && text.size() > schema["maxLength"].get<size_t>())
      return where + ": \"" + text + "\" is longer than " + schema["maxLength"].dump();
  }
  if (value.is_number() && schema.contains("minimum") && value.get<double>() < schema["minimum"].get<double>())
    return where + ": " + value.dump() + " is below " + schema["minimum"].dump();
  if (value.is_object()) {
    for (const json& name : schema.value("required", json::array())) {
      if (!value.contains(name.get<std::string>())) return where + ": " + name.get<std::string>() + " is missing";
    }
    const json properties = schema.value("properties", json::object());
    for (const auto& [name, member] : properties.items()) {
      if (!value.contains(name)) continue;
      if (std::string m = Mismatch(value[name], member, where + "." + name); !m.empty()) return m;
    }
  }
  if (value.is_array() && schema.contains("items")) {
    for (size_t i = 0; i < value.size(); ++i) {
      if (std::string m = Mismatch(value[i], schema["items"], where + "[" + std::to_string(i) + "]"); !m.empty())
        return m;
    }
  }
  return {};
}

// Schemas of the contract's answers, written as JSON Schema text.
constexpr const char* kPaymentSchema = R"json({
  "type": "object",
  "required": ["id", "type", "amount_unit", "currency", "status", "expired", "metadata", "sender", "receiver",
               "insert_date", "expire_date"],
  "properties": {
    "id": {"type": "string", "pattern": "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"},
    "code_identifier": {"type": "string", "pattern": "^S6Y-PAY--[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"},
    "type": {"enum": ["TO_BUSINESS", "REFUND_TO_BUSINESS"]},
    "amount_unit": {"type": "integer", "minimum": 0},
    "currency": {"enum": ["EUR"]},
    "status": {"enum": ["PENDING", "ACCEPTED", "CANCELED"]},
    "expired": {"type": "boolean"},
    "metadata": {"type": "object"},
    "sender": {"type": "object", "required": ["type"],
               "properties": {"type": {"enum": ["CONSUMER", "SHOP"]}, "id": {"type": "string"},
                              "name": {"type": "string"}}},
    "receiver": {"type": "object", "required": ["id", "type"],
                 "properties": {"type": {"enum": ["SHOP", "CONSUMER"]}, "id": {"type": "string"}}},
    "insert_date": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z$"},
    "expire_date": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z$"},
    "external_code": {"type": "string", "maxLength": 50},
    "flow": {"type": "string"},
    "daily_closure": {"type": "object", "required": ["id", "date"],
                      "properties": {"id": {"type": "string", "pattern": "^[0-9]{8}$"},
                                     "date": {"type": "string",
                                              "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}T00:00:00\\.000Z$"}}}
  }
})json";

constexpr const char* kErrorSchema = R"json({
  "type": "object",
  "required": ["code", "message", "wlt"],
  "properties": {"code": {"type": ["integer", "string"]}, "message": {"type": "string"}, "wlt": {"type": "string"}}
})json";

constexpr const char* kClosureSchema = R"json({
  "type": "object",
  "required": ["shop_daily_closure"],
  "properties": {
    "shop_daily_closure": {
      "type": "object",
      "required": ["id", "type", "customer_uid", "amount_unit", "currency"],
      "properties": {
        "id": {"type": "string", "pattern": "^[0-9]{8}__[0-9a-f-]{36}$"},
        "type": {"enum": ["SHOP"]},
        "customer_uid": {"type": "string", "pattern": "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"},
        "amount_unit": {"type": "integer"},
        "currency": {"enum": ["EUR"]}
      }
    },
    "pdf": {
      "type": ["null", "object"],
      "required": ["url", "http_method", "expires_in_sec", "expiration", "key", "bucket"],
      "properties": {"url": {"type": "string", "pattern": "^https://"}, "http_method": {"type": "string"},
                     "expires_in_sec": {"type": "integer"}, "expiration": {"type": "string"},
                     "key": {"type": "string"}, "bucket": {"type": "string"}}
    }
  }
})json";

constexpr const char* kKeySchema = R"json({
  "type": "object", "required": ["key_id"], "properties": {"key_id": {"type": "string"}}
})json";

json PaymentSchema() { return json::parse(kPaymentSchema); }
json ErrorSchema() { return json::parse(kErrorSchema); }
json ClosureSchema() { return json::parse(kClosureSchema); }
json ListSchema() {
  return {{"type", "object"},
          {"required", json::array({"has_more", "data"})},
          {"properties", {{"has_more", {{"type", "boolean"}}}, {"data", {{"type", "array"}, {"items", PaymentSchema()}}}}}};
}

class ContractTest : public SimServerTest {
 protected:
  // The answer's status, and its body against the schema.
  void Expect(const httplib::Result& result, int status, const json& schema, const std::string& what) {
    ASSERT_TRUE(result) << what;
    EXPECT_EQ(result->status, status) << what << ": " << result->body;
    const json body = json::parse(result->body, nullptr, false);
    EXPECT_EQ(Mismatch(body, schema), "") << what << ": " << result->body;
  }
  void ExpectError(const httplib::Result& result, int status, int code, const std::string& what) {
    Expect(result, status, ErrorSchema(), what);
    if (!result) return;
    const json body = json::parse(result->body, nullptr, false);
    EXPECT_EQ(body.is_object() ? body.value("code", -1) : -1, code) << what;
  }
  std::string Create(const json& body) {
    const auto result = Signed("POST", "/g_business/v1/payments", body.dump());
    Expect(result, 200, PaymentSchema(), "POST payments " + body.dump());
    return result ? json::parse(result->body, nullptr, false).value("id", "") : "";
  }
};

TEST_F(ContractTest, SuccessfulAnswersHaveTheContractShapes) {
  key_id_ = RegisterKey();
  const std::string pending = Create({{"flow", "MATCH_CODE"}, {"amount_unit", 100}, {"currency", "EUR"},
                                      {"external_code", std::string(50, 'x')}});
  const std::string paid = Create({{"flow", "MATCH_CODE"}, {"amount_unit", 900}, {"currency", "EUR"}});
  Control("POST", "/control/payments/" + paid + "/accept");
  const std::string refund = Create({{"flow", "REFUND"}, {"amount_unit", 300}, {"currency", "EUR"},
                                     {"parent_payment_uid", paid}, {"external_code", "R-1"}});
  EXPECT_FALSE(refund.empty());

  Expect(Signed("GET", "/g_business/v1/payments/" + pending), 200, PaymentSchema(), "GET pending");
  Expect(Signed("GET", "/g_business/v1/payments/" + paid), 200, PaymentSchema(), "GET accepted");
  for (const char* query : {"", "?status=ACCEPTED", "?status=PENDING", "?status=CANCELED&limit=1",
                            "?starting_after_timestamp=3913920000000&limit=100"}) {
    Expect(Signed("GET", std::string("/g_business/v1/payments") + query), 200, ListSchema(),
           std::string("GET payments") + query);
  }
  Expect(Signed("PUT", "/g_business/v1/payments/" + paid, R"({"action": "CANCEL_OR_REFUND"})"), 200,
         PaymentSchema(), "PUT refund of accepted");
  Expect(Signed("PUT", "/g_business/v1/payments/" + pending, R"({"action": "CANCEL_OR_REFUND"})"), 200,
         PaymentSchema(), "PUT cancel of pending");
  const std::string today = LocalDayText(std::chrono::system_clock::now());
  Expect(Signed("GET", "/g_business/v1/daily_closure/" + today), 200, ClosureSchema(), "closure");
  const auto with_pdf = Signed("GET", "/g_business/v1/daily_closure/" + today + "?generate_pdf=true");
  Expect(with_pdf, 200, ClosureSchema(), "closure with pdf");
  ASSERT_TRUE(with_pdf);
  EXPECT_TRUE(json::parse(with_pdf->body)["pdf"].is_object());
  EXPECT_EQ(server_->stats().verification_failures, 0);
}

TEST_F(ContractTest, ErrorsCarryTheContractCodes) {
  key_id_ = RegisterKey();
  const std::string pending = Create({{"flow", "MATCH_CODE"}, {"amount_unit", 100}, {"currency", "EUR"}});
  const struct {
    const char* what;
    const char* method;
    std::string target, body;
    int status, code;
  } cases[] = {
      {"unknown flow", "POST", "/g_business/v1/payments", R"({"flow":"MATCH_USER","amount_unit":1,"currency":"EUR"})", 400, 36},
      {"other currency", "POST", "/g_business/v1/payments", R"({"flow":"MATCH_CODE","amount_unit":1,"currency":"USD"})", 400, 36},
      {"external_code of 51", "POST", "/g_business/v1/payments",
       json{{"flow", "MATCH_CODE"}, {"amount_unit", 1}, {"currency", "EUR"}, {"external_code", std::string(51, 'x')}}.dump(), 400, 36},
      {"body not JSON", "POST", "/g_business/v1/payments", "amount=1", 400, 36},
      {"invalid listing status", "GET", "/g_business/v1/payments?status=EXPIRED", "", 400, 36},
      {"unknown payment", "GET", "/g_business/v1/payments/00000000-0000-4000-8000-000000000000", "", 404, 41},
      {"refund of an unpaid payment", "POST", "/g_business/v1/payments",
       json{{"flow", "REFUND"}, {"amount_unit", 1}, {"currency", "EUR"}, {"parent_payment_uid", pending}}.dump(), 403, 44},
      {"accept of a canceled payment", "PUT", "/g_business/v1/payments/" + pending, R"({"action": "ACCEPT"})", 403, 44},
  };
  Signed("PUT", "/g_business/v1/payments/" + pending, R"({"action": "CANCEL"})");
  for (const auto& c : cases) ExpectError(Signed(c.method, c.target, c.body), c.status, c.code, c.what);

  SignOptions options;
  options.key_id = key_id_;
  options.host = "127.0.0.1:" + std::to_string(port_);
  const std::string item = "/g_business/v1/payments/" + pending;
  httplib::Headers headers = SignedHeaders(*key_, options, "GET", item, "");
  headers.emplace("x-satispay-response-wait-time", "61");
  ExpectError(client_->Get(item.c_str(), headers), 400, 36, "wait beyond 60 seconds");

  key_id_ = "no-such-key";
  ExpectError(Signed("GET", "/g_business/v1/payments"), 401, 34, "unknown key");
  const auto registration = [&](const std::string& pem, const std::string& token) {
    return client_->Post("/g_business/v1/authentication_keys", json{{"public_key", pem}, {"token", token}}.dump(),
                         "application/json");
  };
  Expect(registration(key_->public_pem(), "TOKEN2"), 200, json::parse(kKeySchema), "key");
  ExpectError(registration(key_->public_pem(), "TOKEN2"), 403, 45, "token used twice");
  ExpectError(registration(key_->public_pem(), "NOSUCH"), 404, 41, "unknown token");
  Control("POST", "/control/tokens", {{"token", "FRESH1"}});
  ExpectError(registration("not a key", "FRESH1"), 400, 34, "not an RSA key");
}

// x-satispay-response-wait-time holds a read of a pending payment until the customer acts.
TEST_F(ContractTest, WaitTimeHoldsTheReadUntilTheStatusChanges) {
  key_id_ = RegisterKey();
  const std::string id = Create({{"flow", "MATCH_CODE"}, {"amount_unit", 100}, {"currency", "EUR"}});
  const std::string target = "/g_business/v1/payments/" + id;
  SignOptions options;
  options.key_id = key_id_;
  options.host = "127.0.0.1:" + std::to_string(port_);
  httplib::Headers headers = SignedHeaders(*key_, options, "GET", target, "");
  headers.emplace("x-satispay-response-wait-time", "50");

  json held;
  std::thread reader([&] {
    auto client = NewClient();
    client->set_read_timeout(60, 0);
    const auto result = client->Get(target.c_str(), headers);
    if (result) held = json::parse(result->body, nullptr, false);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto accepted_at = std::chrono::steady_clock::now();
  Control("POST", "/control/payments/" + id + "/accept");
  reader.join();
  EXPECT_EQ(held.value("status", ""), "ACCEPTED");
  EXPECT_LT(std::chrono::steady_clock::now() - accepted_at, std::chrono::seconds(40));
}

// The control side shows what each service request carried, as received.
TEST_F(ContractTest, ReceivedRequestsAreRecordedWithTheirHeaders) {
  key_id_ = RegisterKey();
  Signed("GET", "/g_business/v1/payments?limit=3");
  const json requests = Control("GET", "/control/requests")["requests"];
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["target"], "/g_business/v1/authentication_keys");
  EXPECT_EQ(requests[1]["method"], "GET");
  EXPECT_EQ(requests[1]["target"], "/g_business/v1/payments?limit=3");
  EXPECT_EQ(requests[1]["headers"]["host"], json::array({"127.0.0.1:" + std::to_string(port_)}));
  EXPECT_TRUE(requests[1]["headers"].contains("authorization"));
  EXPECT_FALSE(requests[1]["headers"].contains("remote_addr"));  // only what the client sent
  Control("DELETE", "/control/requests");
  EXPECT_EQ(Control("GET", "/control/requests")["requests"].size(), 0u);
}

}  // namespace
}  // namespace qvpa::gbsim
