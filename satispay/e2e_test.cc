// The driver as a point-of-sale host uses it: the shared library loaded at run time, its
// exports called with request documents, against the local payment service started as a
// separate process on an ephemeral port. The service checks every signature; a test fails
// when one did not verify there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "satispay/e2e_support.h"
#include "satispay/tls_test_server.h"

namespace {

using nlohmann::json;
using qvpa::FromUtf8;
using qvpa::ToUtf8;
using qvpa::testing::DriverLibrary;
using qvpa::testing::LocalService;

constexpr const char* kShopId = LocalService::kShopId;

class SatispayEndToEndTest : public ::testing::Test {
 protected:
  SatispayEndToEndTest()
      : root_(std::filesystem::temp_directory_path() / ("qvpa-e2e-" + std::to_string(getpid()) + "-" +
                                                         ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        service_(GBUSINESS_SIM, root_ / "service", {"TKN001", "TKN002"}) {
    std::setlocale(LC_ALL, "C");
    setenv("QVPA_LOG_DIR", (root_ / "host").c_str(), 1);
    setenv("QVPA_SATISPAY_HOST", service_.HostPort().c_str(), 1);
    setenv("QVPA_SATISPAY_STAGING_HOST", service_.HostPort().c_str(), 1);
    setenv("QVPA_SATISPAY_CA_FILE", service_.CaFile().c_str(), 1);
    library_ = std::make_unique<DriverLibrary>(QVPA_PRODUCT_LIBRARY);
  }
  ~SatispayEndToEndTest() override {
    library_.reset();
    service_.Stop();
    for (const char* name : {"QVPA_LOG_DIR", "QVPA_SATISPAY_HOST", "QVPA_SATISPAY_STAGING_HOST",
                             "QVPA_SATISPAY_CA_FILE"}) {
      unsetenv(name);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // Every signed request the service saw verified (unless a test expects failures).
  void TearDown() override {
    if (expected_verification_failures_ < 0) return;
    const json stats = service_.Control("GET", "/control/stats");
    EXPECT_EQ(stats.value("verification_failures", -1), expected_verification_failures_)
        << stats.value("last_error", "");
  }

  DriverLibrary::Answer Call(const char* name, const std::string& request) const {
    return library_->Call(name, request);
  }

  std::string RegisterKey(const std::string& token = "TKN001") {
    const DriverLibrary::Answer key = Call("GENERATE_KEYID", "token=" + token + "|staging=false");
    EXPECT_EQ(key.result, 1) << key.Error();
    return ToUtf8(key.output);
  }

  static std::string OpenRequest(const std::string& parameters) {
    return "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>POS1</LogId><Connection><Type>HTTP</Type>"
           "</Connection><Parameters>" + parameters + "</Parameters></Request>";
  }
  int Open(const std::string& parameters) {
    const DriverLibrary::Answer open = Call("OPEN", OpenRequest(parameters));
    EXPECT_EQ(open.result, 0) << open.Error();
    return std::stoi(open.Field("Handle"));
  }
  static std::string WithHandle(int handle, const std::string& section) {
    return "<Request><Handle>" + std::to_string(handle) + "</Handle>" + section + "</Request>";
  }
  DriverLibrary::Answer Pay(int handle, const std::string& fields) const {
    return Call("PAY", WithHandle(handle, "<Payment>" + fields + "</Payment>"));
  }
  DriverLibrary::Answer Begin(int handle, const std::string& amount, const std::string& reference) const {
    return Pay(handle, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>" + amount +
                           "</Amount><Currency>EUR</Currency><Reference>" + reference + "</Reference>");
  }

  std::filesystem::path root_;
  LocalService service_;
  std::unique_ptr<DriverLibrary> library_;
  int expected_verification_failures_ = 0;
};

std::vector<std::string> ReportLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// The simulator plays each reading of the listing that the contract leaves open. A payment
// whose BEGIN was answered, one whose BEGIN timed out after the service stored it, and one
// another till made (unknown to this shop's journal) are found, or for the last reported as
// not checkable where the listing gives no codes; "not found" only for a reference nobody used.
TEST_F(SatispayEndToEndTest, VerificationUnderEveryReadingOfTheListing) {
  const std::string key = "<KeyID>" + RegisterKey() + "</KeyID>";
  const int handle = Open(key);
  const int slow = Open(key + "<RequestTimeout>800</RequestTimeout>");
  const auto verify = [&](const std::string& reference) {
    return Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>" + reference + "</ReceiptId></VerifyTran>"));
  };
  const auto stored = [&](const std::string& reference) {
    const json payments = service_.Control("GET", "/control/payments");
    for (const json& p : payments["data"]) {
      if (p.value("external_code", "") == reference) return true;
    }
    return false;
  };
  int round = 0;
  for (const bool codes : {true, false}) {
    for (const char* timestamp : {"cursor", "created_after"}) {
      SCOPED_TRACE(std::string(codes ? "codes, " : "no codes, ") + timestamp);
      service_.Control("POST", "/control/listing", {{"external_codes", codes}, {"timestamp", timestamp}});
      const std::string n = std::to_string(round++);
      const std::string answered = "ANSWERED-" + n, timed_out = "TIMEDOUT-" + n, theirs = "THEIRS-" + n;

      ASSERT_EQ(Begin(handle, "3", answered).result, 0);
      // The service stores the payment after the device gave up waiting for the answer.
      service_.AddFault({{"kind", "delay"}, {"delay_ms", 1500}, {"method", "POST"}, {"path", "/g_business/v1/payments"}});
      const DriverLibrary::Answer lost = Begin(slow, "3", timed_out);
      ASSERT_EQ(lost.result, -1) << lost.Error();
      for (int i = 0; i < 50 && !stored(timed_out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ASSERT_TRUE(stored(timed_out));
      service_.Control("POST", "/control/payments",
                       {{"amount_unit", 300}, {"external_code", theirs}, {"status", "PENDING"}});

      for (const std::string& reference : {answered, timed_out}) {
        const DriverLibrary::Answer verified = verify(reference);
        EXPECT_EQ(verified.result, -1) << reference;  // pending: reported with its status
        EXPECT_EQ(verified.Error(), "PENDING") << reference;
      }
      const DriverLibrary::Answer other = verify(theirs);
      const DriverLibrary::Answer absent = verify("NOBODY");
      EXPECT_EQ(other.result, -1);
      EXPECT_EQ(absent.result, -1);
      if (codes) {
        EXPECT_EQ(other.Error(), "PENDING");
        EXPECT_EQ(absent.Error(), "Transaction with external_code NOBODY not found");
      } else {
        for (const DriverLibrary::Answer* a : {&other, &absent}) {
          EXPECT_EQ(a->Error().rfind("Verification incomplete: the service's listing gives no external codes", 0), 0u)
              << a->Error();
        }
      }
    }
  }
}

// Right after a BEGIN that got no answer, the service may still store the payment: until
// it shows, verification says "incomplete", never "not found"; then it finds it.
TEST_F(SatispayEndToEndTest, VerificationRightAfterALostBeginIsNeverNotFound) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID><RequestTimeout>500</RequestTimeout>");
  service_.AddFault({{"kind", "delay"}, {"delay_ms", 2500}, {"method", "POST"}});
  ASSERT_EQ(Begin(handle, "6", "INFLIGHT-1").result, -1);
  const auto verify = [&] {
    return Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>INFLIGHT-1</ReceiptId></VerifyTran>"));
  };
  const DriverLibrary::Answer early = verify();  // the service is still holding the creation
  EXPECT_EQ(early.result, -1);
  EXPECT_EQ(early.Error().rfind("Verification incomplete: the BEGIN with this reference 0 s ago got no answer", 0), 0u)
      << early.Error();
  std::string last;
  for (int i = 0; i < 40 && last != "PENDING"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    last = verify().Error();
    ASSERT_TRUE(last == "PENDING" || last.rfind("Verification incomplete: ", 0) == 0) << last;
  }
  EXPECT_EQ(last, "PENDING");

  // A BEGIN the service refused, or that never reached it, made nothing: "not found" at once.
  service_.AddFault({{"kind", "status"}, {"status", 400}, {"code", 36}, {"method", "POST"}});
  ASSERT_EQ(Begin(handle, "6", "REFUSED-1").result, -1);
  EXPECT_EQ(Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>REFUSED-1</ReceiptId></VerifyTran>")).Error(),
            "Transaction with external_code REFUSED-1 not found");
}

// A host killed right after BEGIN returned: a new process finds the payment through the
// journal, even where the listing could not show it.
TEST_F(SatispayEndToEndTest, VerificationAfterTheHostWasKilled) {
  const std::string key = "<KeyID>" + RegisterKey() + "</KeyID>";
  service_.Control("POST", "/control/listing", {{"external_codes", false}, {"timestamp", "created_after"}});
  const std::filesystem::path script = root_ / "killed.script";
  std::ofstream(script) << "CALL OPEN expect=0\n" << OpenRequest(key) << "\nEND\n"
                        << "CALL PAY expect=0\n<Request><Handle>${Handle}</Handle><Payment><Action>PAY</Action>"
                           "<Phase>BEGIN</Phase><Amount>7</Amount><Currency>EUR</Currency><Reference>KILLED-1"
                           "</Reference></Payment></Request>\nEND\n"
                        << "CALL PAY until=Error=False max=1000 every=1000\n<Request><Handle>${Handle}</Handle>"
                           "<Payment><Action>PAY</Action><Phase>DO</Phase><Attributes>${PaymentNumber}"
                           "</Attributes></Payment></Request>\nEND\n";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(QVPA_HOST_TOOL, QVPA_HOST_TOOL, "--library", QVPA_PRODUCT_LIBRARY, "--script", script.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // Killed as soon as BEGIN's result is printed (the second result; OPEN's is the first).
  std::string printed;
  char buffer[4096];
  int results = 0;
  while (results < 2) {
    const ssize_t n = read(out[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    printed.append(buffer, static_cast<size_t>(n));
    results = 0;
    for (size_t at = 0; (at = printed.find("--- result: ", at)) != std::string::npos; ++at) ++results;
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(out[0]);
  ASSERT_GE(results, 2) << printed;
  ASSERT_NE(printed.find("--- result: 0\n--- PAY"), std::string::npos) << printed;
  EXPECT_TRUE(WIFSIGNALED(status));

  const int handle = Open(key);
  const DriverLibrary::Answer verified =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>KILLED-1</ReceiptId></VerifyTran>"));
  EXPECT_EQ(verified.result, -1);
  EXPECT_EQ(verified.Error(), "PENDING");
  EXPECT_EQ(verified.Field("PaymentAmount"), "7");
}

// A journal that cannot be opened costs nothing but its help: payments work, verification
// searches the listings, and the device log says why.
TEST_F(SatispayEndToEndTest, UnopenableJournalLeavesPaymentsWorking) {
  const std::string key_id = RegisterKey();
  const std::filesystem::path folder = root_ / "host" / "LogFiles" / "Payment";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / ("QVPA_SATISPAY_10_Journal_" + key_id + ".db")) << "this is not a database, but a text file"
                                                                           << std::string(4096, 'x');
  const int handle = Open("<KeyID>" + key_id + "</KeyID>");
  const DriverLibrary::Answer begin = Begin(handle, "4", "NOJOURNAL-1");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const DriverLibrary::Answer verified =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>NOJOURNAL-1</ReceiptId></VerifyTran>"));
  EXPECT_EQ(verified.Error(), "PENDING");
  const std::string log_file = begin.Field("LogFileName");
  EXPECT_EQ(Call("CLOSE", WithHandle(handle, "")).result, 0);
  library_.reset();  // the device log is complete once the library is gone
  std::ifstream in(log_file, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find("file is not a database (payments go on without the journal"), std::string::npos) << log_file;
  const json stats = service_.Control("GET", "/control/stats");
  EXPECT_EQ(stats["signed_requests"], 2);  // the creation, then the pending payments' listing
}

// A refund carries no external code (the service makes it from the parent): a listing that
// holds refunds still lets verification answer "not found" for a reference nobody used.
TEST_F(SatispayEndToEndTest, RefundsInTheListingLeaveNotFoundCertain) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  const DriverLibrary::Answer begin = Begin(handle, "10", "PAID-1");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const std::string id = begin.Field("PaymentNumber");
  service_.Control("POST", "/control/payments/" + id + "/accept");
  ASSERT_EQ(Pay(handle, "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + id + "</Attributes>").result, 0);
  ASSERT_EQ(Pay(handle, "<Action>REFUND</Action><Amount>4</Amount><Currency>EUR</Currency><RefundReference>"
                        "<PaymentId>" + id + "</PaymentId></RefundReference>").result, 0);
  const DriverLibrary::Answer absent =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>NOBODY</ReceiptId></VerifyTran>"));
  EXPECT_EQ(absent.result, -1);
  EXPECT_EQ(absent.Error(), "Transaction with external_code NOBODY not found");
  const DriverLibrary::Answer paid =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>PAID-1</ReceiptId></VerifyTran>"));
  EXPECT_EQ(paid.result, 0) << paid.Error();
  EXPECT_EQ(paid.Field("PaymentNumber"), id);
}

// The service takes a request on a kept connection and closes it unanswered: the transport
// sends the request once more over a new connection, and the device log shows both sendings.
TEST_F(SatispayEndToEndTest, RequestSentAgainByTheTransportShowsInTheLog) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  const DriverLibrary::Answer begin = Begin(handle, "2", "KEPT-1");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const std::string id = begin.Field("PaymentNumber");
  service_.AddFault({{"kind", "close"}, {"method", "GET"}});
  const DriverLibrary::Answer pending =
      Pay(handle, "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + id + "</Attributes>");
  EXPECT_EQ(pending.Error(), "PENDING");
  int reads = 0;
  const json received = service_.Control("GET", "/control/requests");
  for (const json& r : received["requests"]) {
    if (r["method"] == "GET" && r["target"].get<std::string>().find(id) != std::string::npos) ++reads;
  }
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(Call("CLOSE", WithHandle(handle, "")).result, 0);

  // Lines reach the file from the log's own thread.
  int resent = -1;
  for (int wait = 0; wait < 200 && resent < 1; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    resent = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "host" / "LogFiles" / "Payment")) {
      if (entry.path().filename().string().rfind("QVPA_SATISPAY_10_POS1_", 0) != 0) continue;
      std::ifstream in(entry.path());
      for (std::string line; std::getline(in, line);) resent += line.find("kSATISPAY.Resent:") != std::string::npos;
    }
  }
  EXPECT_EQ(resent, 1);
}

// One listing page that failed, was not JSON, or announced more with nothing on it is asked
// for again: a verification still ends clean, found or not found.
TEST_F(SatispayEndToEndTest, VerificationRidesOverOneFailedListingPage) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  // Another till's payment: this device's journal does not know it, so the listing decides.
  service_.Control("POST", "/control/payments", {{"amount_unit", 300}, {"external_code", "LISTED-1"}, {"status", "PENDING"}});
  const json faults[] = {{{"kind", "status"}, {"status", 503}, {"method", "GET"}},
                         {{"kind", "bad_json"}, {"method", "GET"}},
                         {{"kind", "endless_paging"}},
                         {{"kind", "close"}, {"method", "GET"}, {"count", 2}}};
  for (const json& fault : faults) {
    SCOPED_TRACE(fault.dump());
    service_.AddFault(fault);
    const DriverLibrary::Answer found =
        Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>LISTED-1</ReceiptId></VerifyTran>"));
    EXPECT_EQ(found.Error(), "PENDING");
    service_.AddFault(fault);
    const DriverLibrary::Answer absent =
        Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>NOBODY</ReceiptId></VerifyTran>"));
    EXPECT_EQ(absent.Error(), "Transaction with external_code NOBODY not found");
  }
}

TEST_F(SatispayEndToEndTest, WholePosSession) {
  const std::string key_id = RegisterKey();
  ASSERT_FALSE(key_id.empty());
  const DriverLibrary::Answer reused = Call("GENERATE_KEYID", "token=TKN001|staging=false");
  EXPECT_EQ(reused.result, 0);
  EXPECT_EQ(reused.Error(), "403 Forbidden");

  const int handle = Open("<KeyID>" + key_id + "</KeyID>");

  const DriverLibrary::Answer begin = Begin(handle, "12.50", "REF-1");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const std::string payment_id = begin.Field("PaymentNumber");
  EXPECT_EQ(begin.Field("AuthCode").rfind("S6Y-PAY--", 0), 0u) << begin.Field("AuthCode");
  EXPECT_EQ(begin.Field("PaymentAmount"), "12.5");
  EXPECT_EQ(begin.Field("DeviceId"), kShopId);
  EXPECT_EQ(begin.Field("PaymentNetwork"), "satispay");
  EXPECT_EQ(begin.Field("TransactionType"), "OTHER");

  const std::string do_fields = "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + payment_id + "</Attributes>";
  const DriverLibrary::Answer early = Pay(handle, do_fields);
  EXPECT_EQ(early.result, -1);
  EXPECT_EQ(early.Error(), "PENDING");
  service_.Control("POST", "/control/payments/" + payment_id + "/accept");
  const DriverLibrary::Answer accepted = Pay(handle, do_fields);
  EXPECT_EQ(accepted.result, 0) << accepted.Error();
  EXPECT_EQ(accepted.Field("RefundReference"), payment_id);
  EXPECT_EQ(Pay(handle, "<Action>PAY</Action><Phase>COMMIT</Phase>").result, 0);

  const DriverLibrary::Answer verified =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>REF-1</ReceiptId></VerifyTran>"));
  EXPECT_EQ(verified.result, 0) << verified.Error();
  EXPECT_EQ(verified.Field("PaymentNumber"), payment_id);
  const DriverLibrary::Answer other_case =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>ref-1</ReceiptId></VerifyTran>"));
  EXPECT_EQ(other_case.result, -1);
  EXPECT_EQ(other_case.Error(), "Transaction with external_code ref-1 not found");

  const std::string parent = "<RefundReference><PaymentId>" + payment_id + "</PaymentId></RefundReference>";
  const DriverLibrary::Answer refund =
      Pay(handle, "<Action>REFUND</Action><Amount>5</Amount><Currency>EUR</Currency>" + parent);
  EXPECT_EQ(refund.result, 0) << refund.Error();
  EXPECT_NE(refund.Field("PaymentNumber"), payment_id);
  EXPECT_EQ(refund.Field("PaymentAmount"), "5");
  const DriverLibrary::Answer voided =
      Pay(handle, "<Action>VOID</Action><Phase>BEGIN</Phase><Amount>2.50</Amount><Currency>EUR</Currency>" + parent);
  EXPECT_EQ(voided.result, 0) << voided.Error();
  const DriverLibrary::Answer too_much =
      Pay(handle, "<Action>REFUND</Action><Amount>100</Amount><Currency>EUR</Currency>" + parent);
  EXPECT_EQ(too_much.result, -1);

  const DriverLibrary::Answer second = Begin(handle, "3", "REF-2");
  ASSERT_EQ(second.result, 0) << second.Error();
  const DriverLibrary::Answer rollback =
      Pay(handle, "<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>" + second.Field("PaymentNumber") +
                      "</Attributes>");
  EXPECT_EQ(rollback.result, 0) << rollback.Error();
  bool canceled = false;
  const json payments = service_.Control("GET", "/control/payments");
  for (const json& p : payments["data"]) {
    if (p["id"] == second.Field("PaymentNumber")) canceled = p["status"] == "CANCELED";
  }
  EXPECT_TRUE(canceled) << payments.dump();

  const DriverLibrary::Answer closure = Call("DAYCLOSE", WithHandle(handle, "<DayClose/>"));
  ASSERT_EQ(closure.result, 0) << closure.Error();
  EXPECT_EQ(closure.Field("TotalAmount"), "5");
  EXPECT_EQ(closure.Field("DeviceId"), kShopId);
  EXPECT_EQ(closure.Field("ClosureNumber"), closure.Field("ClosureNumber").substr(0, 8) + "__" + kShopId);
  const std::vector<std::string> lines = ReportLines(closure.Field("ReceiptText"));
  ASSERT_EQ(lines.size(), 12u) << closure.Field("ReceiptText");
  EXPECT_EQ(lines[0], std::string(17, ' ') + "EFT RECONCILIATION REPORT");
  EXPECT_EQ(lines[11], "Amount" + std::string(46, ' ') + "EUR 5.00");
  EXPECT_EQ(lines[5], "Terminal:" + std::string(60 - 9 - 36, ' ') + kShopId);

  const DriverLibrary::Answer totals = Call("GETTOTALS", WithHandle(handle, "<GetTotals/>"));
  ASSERT_EQ(totals.result, 0) << totals.Error();
  EXPECT_EQ(ReportLines(totals.Field("ReceiptText")).at(0), std::string(22, ' ') + "EFT TOTAL REPORT");

  EXPECT_EQ(Call("CLOSE", WithHandle(handle, "")).result, 0);
  const json stats = service_.Control("GET", "/control/stats");
  EXPECT_EQ(stats["registrations"], 1);
  // A verification of a payment this device began reads it by id; of an unknown reference,
  // lists pending, then accepted, then canceled payments.
  EXPECT_EQ(stats["signed_requests"], 14);
}

// Production and staging hosts are told apart by pointing the other one at a dead port.
TEST_F(SatispayEndToEndTest, StagingChoosesTheStagingHost) {
  const std::string dead = "127.0.0.1:" + std::to_string(qvpa::testing::UnusedLoopbackPort());
  setenv("QVPA_SATISPAY_HOST", dead.c_str(), 1);
  const DriverLibrary::Answer production_key = Call("GENERATE_KEYID", "token=TKN001|staging=True");
  EXPECT_EQ(production_key.result, 0);
  EXPECT_EQ(production_key.Error().rfind("500 ", 0), 0u) << production_key.Error();
  const DriverLibrary::Answer staging_key = Call("GENERATE_KEYID", "token=TKN001|staging=true");
  ASSERT_EQ(staging_key.result, 1) << staging_key.Error();
  const std::string key_id = ToUtf8(staging_key.output);

  const int staging = Open("<KeyID>" + key_id + "</KeyID><Staging>TRUE</Staging>");
  EXPECT_EQ(Begin(staging, "1", "S1").result, 0);
  const int production = Open("<KeyID>" + key_id + "</KeyID><Staging>1</Staging>");
  const DriverLibrary::Answer refused = Begin(production, "1", "P1");
  EXPECT_EQ(refused.result, -1);
  EXPECT_FALSE(refused.error.empty());
}

TEST_F(SatispayEndToEndTest, EmptyKeyIdIsRejectedByTheService) {
  RegisterKey();
  const int handle = Open("");
  const DriverLibrary::Answer begin = Begin(handle, "1", "R");
  EXPECT_EQ(begin.result, -1);
  EXPECT_EQ(begin.Error(), "Unauthorized");
  EXPECT_EQ(begin.Field("PaymentNumber"), "");
  expected_verification_failures_ = 1;
}

// Each fault gives an error text and never a success.
TEST_F(SatispayEndToEndTest, ServiceFaultsEndAsErrors) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID><RequestTimeout>400</RequestTimeout>");
  const struct {
    json fault;
    std::string error;  // the start of the error text
  } cases[] = {
      {{{"kind", "status"}, {"status", 500}}, "Internal Server Error"},
      {{{"kind", "status"}, {"status", 201}}, "Created"},
      {{{"kind", "status"}, {"status", 401}, {"code", 34}}, "Unauthorized"},
      {{{"kind", "status"}, {"status", 404}, {"code", 41}}, "Not Found"},
      {{{"kind", "bad_json"}}, "Invalid JSON"},
      {{{"kind", "delay"}, {"delay_ms", 1500}}, "Operation timed out"},
      {{{"kind", "close"}, {"count", 2}}, ""},  // a creation is repeated once, so drop both
  };
  for (const auto& c : cases) {
    service_.AddFault(c.fault);
    const DriverLibrary::Answer answer = Begin(handle, "1", "F");
    EXPECT_EQ(answer.result, -1) << c.fault.dump();
    EXPECT_EQ(answer.Field("Error"), "True");
    EXPECT_EQ(answer.Error().rfind(c.error, 0), 0u) << c.fault.dump() << ": " << answer.Error();
    EXPECT_FALSE(answer.error.empty()) << c.fault.dump();
    EXPECT_EQ(answer.Field("PaymentNumber"), "");
  }
  // A service that keeps announcing pages it does not give neither holds the host nor
  // passes for an answer.
  service_.AddFault({{"kind", "endless_paging"}, {"count", 1000}});
  const DriverLibrary::Answer endless =
      Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>F</ReceiptId></VerifyTran>"));
  EXPECT_EQ(endless.result, -1);
  EXPECT_EQ(endless.Error(), "Verification incomplete: 0 payments searched, window not exhausted");
}

// The UTC text of a moment, as the service writes dates.
std::string UtcText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S.000Z", &parts);
  return text;
}

// Against the service's own listing rules (ACCEPTED unless asked), verification finds a
// payment in any status, also far down a busy day's listing, and never calls an unread
// page "not found".
TEST_F(SatispayEndToEndTest, VerificationFindsPaymentsOfEveryStatus) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  const auto verify = [&](const std::string& reference) {
    return Call("VERIFYTRAN", WithHandle(handle, "<VerifyTran><ReceiptId>" + reference + "</ReceiptId></VerifyTran>"));
  };
  const std::string pending = Begin(handle, "2", "REF-P").Field("PaymentNumber");
  const std::string canceled = Begin(handle, "3", "REF-C").Field("PaymentNumber");
  EXPECT_EQ(Pay(handle, "<Action>PAY</Action><Phase>ROLLBACK</Phase><Attributes>" + canceled + "</Attributes>").result, 0);

  // One accepted payment behind 1,200 newer ones.
  const auto now = std::chrono::system_clock::now();
  service_.Control("POST", "/control/payments",
                   {{"amount_unit", 990}, {"external_code", "REF-OLD"}, {"status", "ACCEPTED"},
                    {"insert_date", UtcText(now - std::chrono::minutes(30))}});
  json newer = json::array();
  for (int i = 0; i < 1200; ++i) {
    newer.push_back({{"amount_unit", 100 + i}, {"external_code", "N" + std::to_string(i)}, {"status", "ACCEPTED"}});
  }
  ASSERT_EQ(service_.Control("POST", "/control/payments", newer)["data"].size(), 1200u);

  const DriverLibrary::Answer old = verify("REF-OLD");
  EXPECT_EQ(old.result, 0) << old.Error();
  EXPECT_EQ(old.Field("PaymentAmount"), "9.9");
  const DriverLibrary::Answer waiting = verify("REF-P");
  EXPECT_EQ(waiting.result, -1);
  EXPECT_EQ(waiting.Error(), "PENDING");
  EXPECT_EQ(waiting.Field("PaymentNumber"), pending);
  const DriverLibrary::Answer dropped = verify("REF-C");
  EXPECT_EQ(dropped.result, -1);
  EXPECT_EQ(dropped.Error(), "CANCELED");
  EXPECT_EQ(dropped.Field("PaymentNumber"), canceled);
  EXPECT_EQ(verify("REF-NONE").Error(), "Transaction with external_code REF-NONE not found");

  // Not JSON however often the page is asked for (three times).
  service_.AddFault({{"kind", "bad_json"}, {"method", "GET"}, {"path", "/g_business/v1/payments"}, {"count", 3}});
  const DriverLibrary::Answer broken = verify("REF-OLD");
  EXPECT_EQ(broken.result, -1);
  EXPECT_EQ(broken.Error().rfind("Invalid JSON: ", 0), 0u) << broken.Error();
}

// A creation whose connection the service drops after storing it ends as one payment:
// the driver repeats it once with the same Idempotency-Key and gets the stored payment.
TEST_F(SatispayEndToEndTest, DroppedCreationLeavesExactlyOnePayment) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  service_.AddFault({{"kind", "close_after"}, {"method", "POST"}, {"path", "/g_business/v1/payments"}});
  const DriverLibrary::Answer begin = Begin(handle, "4.20", "REF-DROP");
  ASSERT_EQ(begin.result, 0) << begin.Error();

  const json payments = service_.Control("GET", "/control/payments")["data"];
  ASSERT_EQ(payments.size(), 1u) << payments.dump();
  EXPECT_EQ(payments[0]["id"], begin.Field("PaymentNumber"));
  EXPECT_EQ(payments[0]["external_code"], "REF-DROP");
  std::vector<std::string> keys;
  const json received = service_.Control("GET", "/control/requests");
  for (const json& request : received["requests"]) {
    if (request["method"] == "POST" && request["target"] == "/g_business/v1/payments")
      keys.push_back(request["headers"]["idempotency-key"][0]);
  }
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0], keys[1]);
}

// What the service received: the contract's headers on every request, key registration
// included, and the long-poll wait on DO, which answers as soon as the customer approves.
TEST_F(SatispayEndToEndTest, ServiceReceivesTheContractHeaders) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID><DeviceType>TABLET</DeviceType>"
                          "<AcceptanceWait>20</AcceptanceWait>");
  const DriverLibrary::Answer begin = Begin(handle, "1", "REF-H");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const std::string id = begin.Field("PaymentNumber");
  std::thread customer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    service_.Control("POST", "/control/payments/" + id + "/accept");
  });
  const auto asked = std::chrono::steady_clock::now();
  const DriverLibrary::Answer done =
      Pay(handle, "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + id + "</Attributes>");
  customer.join();
  EXPECT_EQ(done.result, 0) << done.Error();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(15));  // not the whole wait

  char host[256] = {};
  gethostname(host, sizeof(host) - 1);
  const json requests = service_.Control("GET", "/control/requests")["requests"];
  ASSERT_EQ(requests.size(), 3u) << requests.dump();  // registration, BEGIN, DO
  for (const json& request : requests) {
    const json& headers = request["headers"];
    SCOPED_TRACE(request["target"].get<std::string>());
    EXPECT_EQ(headers["accept"], json::array({"application/json"}));
    EXPECT_EQ(headers["x-satispay-deviceinfo"], json::array({host}));
    EXPECT_EQ(headers["x-satispay-appn"], json::array({"Brivel MXR Driver"}));
    for (const char* name : {"x-satispay-os", "x-satispay-osv", "x-satispay-appv"}) {
      EXPECT_FALSE(headers.value(name, json::array({""}))[0].get<std::string>().empty()) << name;
    }
  }
  // The key registration comes before the device exists: it reports the default type.
  EXPECT_EQ(requests[0]["headers"]["x-satispay-devicetype"], json::array({"POS"}));
  EXPECT_EQ(requests[1]["headers"]["x-satispay-devicetype"], json::array({"TABLET"}));
  EXPECT_TRUE(requests[1]["headers"].contains("idempotency-key"));
  EXPECT_FALSE(requests[2]["headers"].contains("idempotency-key"));
  EXPECT_EQ(requests[2]["headers"]["x-satispay-response-wait-time"], json::array({"20"}));
}

// The service stores a payment and then drops the device's kept connection without an
// answer: the creation goes out again over a new connection with the same Idempotency-Key,
// the host sees a success and the service holds one payment for it. CLOSE releases the
// connection.
TEST_F(SatispayEndToEndTest, CreationOnADroppedKeptConnectionSucceedsOnce) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  EXPECT_EQ(qvpa::testing::EstablishedConnectionsTo(service_.Port()), 0);  // OPEN does not connect
  ASSERT_EQ(Begin(handle, "1", "K1").result, 0);
  EXPECT_EQ(qvpa::testing::EstablishedConnectionsTo(service_.Port()), 1);
  service_.AddFault({{"kind", "close_after"}, {"method", "POST"}, {"path", "/g_business/v1/payments"}});
  const DriverLibrary::Answer begin = Begin(handle, "2", "K2");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  EXPECT_TRUE(service_.Control("GET", "/control/faults")["faults"].empty());  // the drop happened
  const json payments = service_.Control("GET", "/control/payments");
  int created = 0;
  for (const json& p : payments["data"]) {
    if (p["external_code"] == "K2") {
      ++created;
      EXPECT_EQ(p["id"], begin.Field("PaymentNumber"));
    }
  }
  EXPECT_EQ(created, 1) << payments.dump();
  EXPECT_EQ(Call("CLOSE", WithHandle(handle, "")).result, 0);
  EXPECT_EQ(qvpa::testing::EstablishedConnectionsTo(service_.Port()), 0);
}

TEST_F(SatispayEndToEndTest, UntrustedOrMissingServiceFails) {
  const int handle = Open("<KeyID>" + RegisterKey() + "</KeyID>");
  qvpa::testing::TestAuthority stranger("Stranger Root");
  setenv("QVPA_SATISPAY_CA_FILE", stranger.CertificateFile().c_str(), 1);
  const DriverLibrary::Answer untrusted = Begin(handle, "1", "U");
  EXPECT_EQ(untrusted.result, -1);
  EXPECT_NE(untrusted.Error().find("certificate"), std::string::npos) << untrusted.Error();
  unsetenv("QVPA_SATISPAY_CA_FILE");
  EXPECT_EQ(Begin(handle, "1", "U").result, -1);
  setenv("QVPA_SATISPAY_CA_FILE", service_.CaFile().c_str(), 1);
  EXPECT_EQ(Begin(handle, "1", "U").result, 0);

  const json stats = service_.Control("GET", "/control/stats");
  EXPECT_EQ(stats["verification_failures"], 0) << stats.dump();
  expected_verification_failures_ = -1;  // the service is gone below
  service_.Stop();
  const DriverLibrary::Answer down = Begin(handle, "1", "D");
  EXPECT_EQ(down.result, -1);
  EXPECT_NE(down.Error().find("127.0.0.1"), std::string::npos) << down.Error();
  const DriverLibrary::Answer closure = Call("DAYCLOSE", WithHandle(handle, "<DayClose/>"));
  EXPECT_EQ(closure.result, -1);
  EXPECT_EQ(closure.Field("ReceiptText"), "");
}

}  // namespace

namespace parallel {

using Clock = std::chrono::steady_clock;

// Four devices driven from four threads while the first one long-polls: GETSTATUS and the
// other devices answer at once, a CLOSE of the busy device waits for its running call, and
// a call that arrives behind that CLOSE finds no device.
TEST_F(SatispayEndToEndTest, DevicesDoNotWaitForEachOther) {
  const std::string key = "<KeyID>" + RegisterKey() + "</KeyID>";
  const int polling = Open(key + "<AcceptanceWait>4</AcceptanceWait>");
  std::vector<int> others;
  for (int i = 0; i < 3; ++i) others.push_back(Open(key));
  const DriverLibrary::Answer begin = Begin(polling, "1", "REF-LONG");
  ASSERT_EQ(begin.result, 0) << begin.Error();
  const std::string id = begin.Field("PaymentNumber");

  const auto start = Clock::now();
  Clock::time_point poll_end, close_end;
  DriverLibrary::Answer closed, behind_close;
  std::thread poll([&] {
    Pay(polling, "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + id + "</Attributes>");
    poll_end = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::thread close([&] {
    closed = Call("CLOSE", WithHandle(polling, ""));
    close_end = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread queued([&] { behind_close = Begin(polling, "1", "REF-QUEUED"); });

  // Meanwhile: GETSTATUS and a payment on each of the other devices, on their own threads.
  const auto status_asked = Clock::now();
  EXPECT_EQ(Call("GETSTATUS", "").result, 0);
  const auto status_time = Clock::now() - status_asked;
  std::vector<std::thread> lanes;
  std::vector<DriverLibrary::Answer> answers(others.size());
  std::vector<Clock::duration> times(others.size());
  for (size_t i = 0; i < others.size(); ++i) {
    lanes.emplace_back([&, i] {
      const auto asked = Clock::now();
      answers[i] = Begin(others[i], "2", "REF-LANE" + std::to_string(i));
      times[i] = Clock::now() - asked;
    });
  }
  for (std::thread& lane : lanes) lane.join();
  const auto lanes_done = Clock::now();
  poll.join();
  close.join();
  queued.join();

  const auto ms = [](Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  };
  std::printf("long poll %lld ms; GETSTATUS %lld ms; other devices' BEGIN %lld, %lld, %lld ms\n",
              static_cast<long long>(ms(poll_end - start)), static_cast<long long>(ms(status_time)),
              static_cast<long long>(ms(times[0])), static_cast<long long>(ms(times[1])),
              static_cast<long long>(ms(times[2])));
  EXPECT_LT(status_time, std::chrono::milliseconds(500));
  for (size_t i = 0; i < others.size(); ++i) {
    EXPECT_EQ(answers[i].result, 0) << answers[i].Error();
    EXPECT_LT(times[i], std::chrono::milliseconds(900)) << "lane " << i;
  }
  EXPECT_LT(lanes_done, poll_end);                                 // answered during the poll
  EXPECT_GE(poll_end - start, std::chrono::milliseconds(3500));  // the poll waited its time
  EXPECT_EQ(closed.result, 0) << closed.Error();
  // CLOSE waited for the running DO: it was asked at 300 ms and ended only after the poll's
  // wait. (Compared with the start, not with poll_end: the poll thread may be scheduled out
  // between the DO's return and its clock reading, while the CLOSE it released runs.)
  EXPECT_GE(close_end - start, std::chrono::milliseconds(3500));
  EXPECT_EQ(behind_close.result, -1);
  EXPECT_EQ(behind_close.Error(), "Device Handle not found");
  // The queued BEGIN never reached the service: one payment per lane plus the polled one.
  EXPECT_EQ(service_.Control("GET", "/control/payments")["data"].size(), 4u);
}

}  // namespace parallel
