#include "tools/gbusiness-sim/payment_store.h"

#include <gtest/gtest.h>

#include <thread>

namespace qvpa::gbsim {
namespace {

using nlohmann::json;

// A store on a hand-moved clock, starting at 2024-01-10 12:00 UTC.
class PaymentStoreTest : public ::testing::Test {
 protected:
  explicit PaymentStoreTest(int accept_after = -1)
      : store_({"11111111-2222-4333-8444-555555555555", accept_after, [this] { return now_; }}) {}

  json Ok(const Answer& answer) {
    EXPECT_EQ(answer.status, 200) << answer.body;
    return json::parse(answer.body, nullptr, false);
  }
  json Charge(int64_t amount, const std::string& code = "R1") {
    return Ok(store_.Create(json{{"flow", "MATCH_CODE"}, {"amount_unit", amount}, {"currency", "EUR"},
                                 {"external_code", code}}.dump(), ""));
  }
  json Accepted(int64_t amount, const std::string& code = "R1") {
    const json charge = Charge(amount, code);
    return Ok(store_.Accept(charge["id"]));
  }
  Answer Refund(const json& parent, int64_t amount) {
    return store_.Create(json{{"flow", "REFUND"}, {"amount_unit", amount}, {"currency", "EUR"},
                              {"parent_payment_uid", parent["id"]}}.dump(), "");
  }
  static int ErrorCode(const Answer& answer) { return json::parse(answer.body).value("code", -1); }

  TimePoint now_ = *ParseUtcMillis("2024-01-10T12:00:00.000Z");
  PaymentStore store_;
};

TEST_F(PaymentStoreTest, NewMatchCodePaymentHasTheServiceShape) {
  const json p = Ok(store_.Create(R"({"flow":"MATCH_CODE","amount_unit":1250,"currency":"EUR","external_code":"R1"})", ""));
  const std::string id = p["id"];
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id[14], '4');
  std::string upper = id;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(p["code_identifier"], "S6Y-PAY--" + upper);
  EXPECT_EQ(p["status"], "PENDING");
  EXPECT_EQ(p["type"], "TO_BUSINESS");
  EXPECT_EQ(p["flow"], "CHARGE");
  EXPECT_EQ(p["amount_unit"], 1250);
  EXPECT_EQ(p["currency"], "EUR");
  EXPECT_EQ(p["external_code"], "R1");
  EXPECT_EQ(p["expired"], false);
  EXPECT_EQ(p["metadata"], json::object());
  EXPECT_EQ(p["insert_date"], "2024-01-10T12:00:00.000Z");
  EXPECT_EQ(p["expire_date"], "2024-01-10T14:00:00.000Z");
  EXPECT_EQ(p["sender"], (json{{"type", "CONSUMER"}}));
  EXPECT_EQ(p["receiver"], (json{{"id", store_.shop_id()}, {"type", "SHOP"}}));
  EXPECT_FALSE(p.contains("daily_closure"));
  EXPECT_EQ(Ok(store_.Read(id)), p);
}

TEST_F(PaymentStoreTest, RefusesMalformedCreations) {
  const char* bad[] = {
      "not json",
      R"({"amount_unit":100,"currency":"EUR"})",
      R"({"flow":"MATCH_USER","amount_unit":100,"currency":"EUR"})",
      R"({"flow":"MATCH_CODE","amount_unit":0,"currency":"EUR"})",
      R"({"flow":"MATCH_CODE","amount_unit":123.45,"currency":"EUR"})",
      R"({"flow":"MATCH_CODE","amount_unit":"100","currency":"EUR"})",
      R"({"flow":"MATCH_CODE","amount_unit":100})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR","external_code":"123456789012345678901234567890123456789012345678901"})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR","expiration_date":"tomorrow"})",
      R"({"flow":"REFUND","amount_unit":100,"currency":"EUR"})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"CHF"})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"eur"})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR","metadata":{"k":1}})",
      R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR","metadata":[]})",
  };
  for (const char* body : bad) {
    const Answer answer = store_.Create(body, "");
    EXPECT_EQ(answer.status, 400) << body;
    EXPECT_EQ(ErrorCode(answer), 36) << body;
  }
  EXPECT_EQ(Ok(store_.List({}))["data"].size(), 0u);
  EXPECT_EQ(Ok(store_.Create(R"({"flow":"MATCH_CODE","amount_unit":100.0,"currency":"EUR"})", ""))["amount_unit"], 100);
}

TEST_F(PaymentStoreTest, IdempotencyKeyAnswersTheFirstPayment) {
  const std::string body = R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR"})";
  const json first = Ok(store_.Create(body, "key-a"));
  EXPECT_EQ(Ok(store_.Create(body, "key-a"))["id"], first["id"]);
  EXPECT_NE(Ok(store_.Create(body, "key-b"))["id"], first["id"]);
  EXPECT_NE(Ok(store_.Create(body, ""))["id"], first["id"]);
}

class AcceptAfterTwoReads : public PaymentStoreTest {
 protected:
  AcceptAfterTwoReads() : PaymentStoreTest(2) {}
};

TEST_F(AcceptAfterTwoReads, ThirdReadShowsThePaymentAccepted) {
  const std::string id = Charge(500)["id"];
  EXPECT_EQ(Ok(store_.Read(id))["status"], "PENDING");
  EXPECT_EQ(Ok(store_.Read(id))["status"], "PENDING");
  const json accepted = Ok(store_.Read(id));
  EXPECT_EQ(accepted["status"], "ACCEPTED");
  EXPECT_EQ(accepted["sender"]["type"], "CONSUMER");
  EXPECT_TRUE(accepted["sender"].contains("id"));
  EXPECT_EQ(accepted["daily_closure"]["id"], LocalDayText(now_));
  EXPECT_EQ(Ok(store_.Read(id))["status"], "ACCEPTED");
}

TEST_F(PaymentStoreTest, WithoutAcceptAfterOnlyTheCustomerDecides) {
  const std::string accepted = Charge(500)["id"];
  const std::string declined = Charge(500)["id"];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Ok(store_.Read(accepted))["status"], "PENDING");
  Ok(store_.Accept(accepted));
  Ok(store_.Decline(declined));
  EXPECT_EQ(Ok(store_.Read(accepted))["status"], "ACCEPTED");
  EXPECT_EQ(Ok(store_.Read(declined))["status"], "CANCELED");
  EXPECT_EQ(store_.Accept(declined).status, 403);
  EXPECT_EQ(store_.Decline(accepted).status, 403);
  EXPECT_EQ(store_.Accept("no-such-id").status, 404);
  EXPECT_EQ(store_.Read("no-such-id").status, 404);
  EXPECT_EQ(ErrorCode(store_.Read("no-such-id")), 41);
}

TEST_F(PaymentStoreTest, PendingPaymentExpiresAfterTwoHours) {
  const std::string id = Charge(500)["id"];
  now_ += std::chrono::minutes(119);
  EXPECT_EQ(Ok(store_.Read(id))["status"], "PENDING");
  now_ += std::chrono::minutes(1);
  const json expired = Ok(store_.Read(id));
  EXPECT_EQ(expired["status"], "CANCELED");
  EXPECT_EQ(expired["expired"], true);
  EXPECT_EQ(store_.Accept(id).status, 403);
}

TEST_F(PaymentStoreTest, CancelOrRefundCancelsPendingAndRefundsWhatIsLeftOfAccepted) {
  const json pending = Charge(800);
  const json canceled = Ok(store_.Update(pending["id"], R"({"action": "CANCEL_OR_REFUND"})"));
  EXPECT_EQ(canceled["id"], pending["id"]);
  EXPECT_EQ(canceled["status"], "CANCELED");
  EXPECT_EQ(ErrorCode(store_.Update(pending["id"], R"({"action": "CANCEL_OR_REFUND"})")), 44);

  const json paid = Accepted(1000);
  Ok(Refund(paid, 300));
  const json refund = Ok(store_.Update(paid["id"], R"({"action": "CANCEL_OR_REFUND"})"));
  EXPECT_NE(refund["id"], paid["id"]);
  EXPECT_EQ(refund["type"], "REFUND_TO_BUSINESS");
  EXPECT_EQ(refund["status"], "ACCEPTED");
  EXPECT_EQ(refund["amount_unit"], 700);
  EXPECT_EQ(refund["parent_payment_uid"], paid["id"]);
  EXPECT_EQ(refund["sender"]["type"], "SHOP");
  EXPECT_EQ(refund["receiver"]["type"], "CONSUMER");
  EXPECT_EQ(Ok(store_.Read(paid["id"]))["status"], "ACCEPTED");

  const Answer again = store_.Update(paid["id"], R"({"action": "CANCEL_OR_REFUND"})");
  EXPECT_EQ(again.status, 403);
  EXPECT_EQ(ErrorCode(again), 44);
  EXPECT_EQ(store_.Update(refund["id"], R"({"action": "CANCEL_OR_REFUND"})").status, 403);
  EXPECT_EQ(store_.Update(paid["id"], R"({"action": "REFUND"})").status, 400);
  EXPECT_EQ(store_.Update("no-such-id", R"({"action": "CANCEL"})").status, 404);
}

TEST_F(PaymentStoreTest, RefundsNeverExceedTheParentAmount) {
  const json paid = Accepted(1000);
  struct Step {
    int64_t amount;
    int status;
  };
  const Step steps[] = {{600, 200}, {500, 400}, {400, 200}, {1, 400}};
  for (const Step& step : steps) {
    const Answer answer = Refund(paid, step.amount);
    EXPECT_EQ(answer.status, step.status) << step.amount << " " << answer.body;
    if (step.status == 200) {
      const json refund = json::parse(answer.body);
      EXPECT_EQ(refund["status"], "ACCEPTED");
      EXPECT_EQ(refund["amount_unit"], step.amount);
    }
  }
  EXPECT_EQ(Refund(Charge(100), 50).status, 403);  // still pending
  EXPECT_EQ(Refund(json{{"id", "no-such-id"}}, 50).status, 404);
  const json refund = json::parse(Refund(Accepted(100), 50).body);
  EXPECT_EQ(Refund(refund, 10).status, 403);  // a refund is not refundable
  EXPECT_EQ(store_.Create(json{{"flow", "REFUND"}, {"amount_unit", 10}, {"currency", "CHF"},
                               {"parent_payment_uid", Accepted(100)["id"]}}.dump(), "").status,
            400);
}

TEST_F(PaymentStoreTest, RefundsOnlyWithin365Days) {
  const json paid = Accepted(1000);
  now_ += std::chrono::hours(24 * 365);
  Ok(Refund(paid, 100));
  now_ += std::chrono::hours(1);
  const Answer late = Refund(paid, 100);
  EXPECT_EQ(late.status, 400);
  EXPECT_EQ(ErrorCode(late), 131);
  EXPECT_EQ(ErrorCode(store_.Update(paid["id"], R"({"action": "CANCEL_OR_REFUND"})")), 131);
}

// A read with a wait is held while the payment is pending and answers as soon as it changes.
TEST_F(PaymentStoreTest, LongPollingReadAnswersWhenTheCustomerActs) {
  const std::string id = Charge(500)["id"];
  json held;
  std::thread reader([&] { held = Ok(store_.Read(id, std::chrono::seconds(60))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto accepted_at = std::chrono::steady_clock::now();
  Ok(store_.Accept(id));
  reader.join();
  EXPECT_EQ(held["status"], "ACCEPTED");
  EXPECT_LT(std::chrono::steady_clock::now() - accepted_at, std::chrono::seconds(30));

  // Without a change the wait runs out and the payment is answered as it is.
  const std::string other = Charge(500)["id"];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ok(store_.Read(other, std::chrono::seconds(1)))["status"], "PENDING");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));

  // Closing the store ends held reads.
  std::thread closing([&] { held = Ok(store_.Read(other, std::chrono::seconds(60))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  store_.Close();
  closing.join();
  EXPECT_EQ(held["status"], "PENDING");
}

TEST_F(PaymentStoreTest, ListingIsNewestFirstAndPagesAfterTheLastId) {
  std::vector<std::string> ids;  // oldest first
  for (int i = 0; i < 5; ++i) {
    ids.push_back(Charge(100 + i, "C" + std::to_string(i))["id"]);
    if (i != 2) now_ += std::chrono::seconds(1);  // two payments share one instant
  }
  auto page = [&](QueryParams query) {
    query.emplace("status", "PENDING");
    return Ok(store_.List(query));
  };
  const json first = page({{"limit", "2"}});
  ASSERT_EQ(first["data"].size(), 2u);
  EXPECT_EQ(first["data"][0]["id"], ids[4]);
  EXPECT_EQ(first["data"][1]["id"], ids[3]);
  EXPECT_EQ(first["has_more"], true);
  const json second = page({{"limit", "2"}, {"starting_after", ids[3]}});
  EXPECT_EQ(second["data"][0]["id"], ids[2]);
  EXPECT_EQ(second["data"][1]["id"], ids[1]);
  EXPECT_EQ(second["has_more"], true);
  const json last = page({{"limit", "2"}, {"starting_after", ids[1]}});
  ASSERT_EQ(last["data"].size(), 1u);
  EXPECT_EQ(last["data"][0]["id"], ids[0]);
  EXPECT_EQ(last["has_more"], false);
  EXPECT_EQ(page({})["data"].size(), 5u);

  // The timestamp is a cursor in Unix milliseconds: only payments inserted before it.
  const int64_t third_inserted = UnixMillis(*ParseUtcMillis("2024-01-10T12:00:02.000Z"));
  const json older = page({{"starting_after_timestamp", std::to_string(third_inserted)}});
  ASSERT_EQ(older["data"].size(), 2u);
  EXPECT_EQ(older["data"][0]["id"], ids[1]);
  // A count of milliseconds since 1899 lies far in the future as a Unix time: everything, newest first.
  const json all = page({{"starting_after_timestamp", "3913920000000"}, {"limit", "20"}});
  ASSERT_EQ(all["data"].size(), 5u);
  EXPECT_EQ(all["data"][0]["id"], ids[4]);
}

// The two readings the contract leaves open, switched while the store serves: items with or
// without external_code, and the timestamp as a place in the list or as "created after".
TEST_F(PaymentStoreTest, ListingPlaysEachReadingOfTheContract) {
  const std::string id = Charge(100, "R1")["id"];
  const std::string driver_timestamp = "4005936000000";  // milliseconds since 1899: year 2096 in Unix time
  const std::string just_before = std::to_string(UnixMillis(now_) - 1);
  const struct {
    bool codes;
    bool created_after;
    std::string timestamp;
    size_t listed;
  } cases[] = {{true, false, driver_timestamp, 1},  {false, false, driver_timestamp, 1},
               {true, true, driver_timestamp, 0},   {false, true, driver_timestamp, 0},
               {true, true, just_before, 1},        {true, false, just_before, 0}};
  for (const auto& c : cases) {
    store_.SetListingReading(c.codes, c.created_after);
    const json page = Ok(store_.List({{"status", "PENDING"}, {"starting_after_timestamp", c.timestamp}}));
    ASSERT_EQ(page["data"].size(), c.listed) << c.codes << c.created_after << c.timestamp;
    if (c.listed == 1) {
      EXPECT_EQ(page["data"][0]["id"], id);
      EXPECT_EQ(page["data"][0].contains("external_code"), c.codes);
    }
    // A read by id always carries it.
    EXPECT_EQ(Ok(store_.Read(id))["external_code"], "R1");
  }
}

// The contract lists ACCEPTED payments unless asked for another status.
TEST_F(PaymentStoreTest, ListingShowsAcceptedUnlessAskedForAnotherStatus) {
  Charge(100, "P");
  const std::string accepted = Accepted(200, "A")["id"];
  Ok(store_.Decline(Charge(300, "C")["id"]));
  const json by_default = Ok(store_.List({}));
  ASSERT_EQ(by_default["data"].size(), 1u);
  EXPECT_EQ(by_default["data"][0]["id"], accepted);
  EXPECT_EQ(Ok(store_.List({{"status", "ACCEPTED"}}))["data"], by_default["data"]);
  const json pending = Ok(store_.List({{"status", "PENDING"}}));
  ASSERT_EQ(pending["data"].size(), 1u);
  EXPECT_EQ(pending["data"][0]["external_code"], "P");
  const json canceled = Ok(store_.List({{"status", "CANCELED"}}));
  ASSERT_EQ(canceled["data"].size(), 1u);
  EXPECT_EQ(canceled["data"][0]["external_code"], "C");

  const QueryParams bad[] = {{{"limit", "0"}},  {{"limit", "101"}},        {{"limit", "ten"}},
                             {{"status", "NEW"}}, {{"starting_after", "x"}}, {{"starting_after_timestamp", "-5"}},
                             {{"status", "accepted"}}};
  for (const QueryParams& query : bad) {
    const Answer answer = store_.List(query);
    EXPECT_EQ(answer.status, 400) << query.begin()->first;
    EXPECT_EQ(ErrorCode(answer), 36) << query.begin()->first;
  }
}

TEST_F(PaymentStoreTest, DailyClosureSumsTheDaysAcceptedPaymentsMinusRefunds) {
  const json paid = Accepted(1000);
  Accepted(250);
  Charge(999);                                      // pending: not counted
  Ok(store_.Decline(Charge(777)["id"]));            // declined: not counted
  Ok(Refund(paid, 300));
  const std::string today = LocalDayText(now_);
  now_ += std::chrono::hours(24);
  Accepted(5000);                                   // the next day
  Ok(Refund(paid, 100));                            // refunded the next day

  const json closure = Ok(store_.DailyClosure(today));
  EXPECT_EQ(closure["pdf"], nullptr);
  const json with_pdf = Ok(store_.DailyClosure(today, true));
  EXPECT_EQ(with_pdf["shop_daily_closure"], closure["shop_daily_closure"]);
  for (const char* member : {"url", "http_method", "expires_in_sec", "expiration", "key", "bucket"}) {
    EXPECT_TRUE(with_pdf["pdf"].contains(member)) << member;
  }
  const json& day = closure["shop_daily_closure"];
  EXPECT_EQ(day["id"], today + "__" + store_.shop_id());
  EXPECT_EQ(day["type"], "SHOP");
  EXPECT_EQ(day["customer_uid"], store_.shop_id());
  EXPECT_EQ(day["currency"], "EUR");
  EXPECT_EQ(day["amount_unit"], 1000 + 250 - 300);
  EXPECT_EQ(Ok(store_.DailyClosure(LocalDayText(now_)))["shop_daily_closure"]["amount_unit"], 5000 - 100);
  EXPECT_EQ(Ok(store_.DailyClosure("20000101"))["shop_daily_closure"]["amount_unit"], 0);

  for (const char* bad : {"2024011", "2024-01-10", "20241301", "", "abcdefgh"}) {
    const Answer answer = store_.DailyClosure(bad);
    EXPECT_EQ(answer.status, 400) << bad;
    EXPECT_EQ(answer.content_type, "text/plain") << bad;
  }
}

TEST_F(PaymentStoreTest, SeededPaymentsKeepTheirDates) {
  const json old = Ok(store_.Seed(R"({"amount_unit":100,"external_code":"OLD","status":"ACCEPTED",
                                      "insert_date":"2024-01-07T10:00:00.000Z"})"));
  EXPECT_EQ(old["insert_date"], "2024-01-07T10:00:00.000Z");
  EXPECT_EQ(old["status"], "ACCEPTED");
  EXPECT_EQ(old["daily_closure"]["id"], LocalDayText(*ParseUtcMillis("2024-01-07T10:00:00.000Z")));
  Accepted(100, "NEW");
  const json listed = Ok(store_.List({}));
  EXPECT_EQ(listed["data"][0]["external_code"], "NEW");
  EXPECT_EQ(listed["data"][1]["external_code"], "OLD");
  EXPECT_EQ(store_.Seed(R"({"amount_unit":100,"insert_date":"yesterday"})").status, 400);
  EXPECT_EQ(store_.Seed(R"({"amount_unit":100,"status":"LOST"})").status, 400);
}

}  // namespace
}  // namespace qvpa::gbsim
