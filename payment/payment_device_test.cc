#include "payment/payment_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/application.h"
#include "base/error.h"
#include "base/text.h"
#include "io/io_handler.h"
#include "payment/device_test_support.h"
#include "request/payment_handler.h"
#include "request/payment_sections.h"

namespace qvpa {
namespace {

using testing_device::ReadFile;
using testing_device::TempLogRoot;

// Records which slot ran; Reference "channel-error" leaves an error in the channel,
// "throw" fails after filling the record.
class RecordingDevice final : public kPaymentDevice {
 public:
  using kPaymentDevice::kPaymentDevice;
  std::vector<std::u16string> calls;

 protected:
  bool Pay(kPaymentReceipt& r, _int_PAY_result& res) override { return Payment(u"Pay", r, res); }
  bool Refund(kPaymentReceipt& r, _int_PAY_result& res) override {
    return Payment(u"Refund", r, res);
  }
  bool Void(kPaymentReceipt& r, _int_PAY_result& res) override { return Payment(u"Void", r, res); }
  bool VerifyTran(kPaymentReceipt& r, _int_PAY_result& res) override {
    return Payment(u"VerifyTran", r, res);
  }
  bool Reprint(kPaymentReceipt&, _int_REPRINT_result&) override {
    calls.push_back(u"Reprint");
    return true;
  }
  bool DayClose(kPaymentDayClose&, _int_DAYCLOSE_result&) override {
    calls.push_back(u"DayClose");
    return true;
  }
  bool GetTotals(kPaymentTotals&, _int_GETTOTALS_result&) override {
    calls.push_back(u"GetTotals");
    return true;
  }
  bool GetStatus() override { return false; }

 private:
  bool Payment(const char16_t* slot, kPaymentReceipt& r, _int_PAY_result& res) {
    calls.push_back(slot);
    if (r.Reference() == u"channel-error") IOHandler().SetCustomError(5, u"link lost");
    if (r.Reference() == u"throw") {
      res.DeviceId = u"half done";
      throw EQVError(u"service refused");
    }
    return true;
  }
};

std::u16string Request(const std::u16string& aSection) {
  return u"<Request><Driver>REC</Driver><LogId>T01</LogId>"
         u"<Connection><Type>Com</Type></Connection>" +
         aSection + u"</Request>";
}

std::u16string PaySection(const std::u16string& aAction, const std::u16string& aReference) {
  return u"<Payment><Action>" + aAction + u"</Action><Reference>" + aReference +
         u"</Reference></Payment>";
}

class PaymentDeviceTest : public ::testing::Test {
 protected:
  std::unique_ptr<RecordingDevice> Open() {
    kPaymentHandler handler;
    handler.Deserialize(Request(u""), {qvPaymentHandlerDocumentType::dt_Open});
    return std::make_unique<RecordingDevice>(handler);
  }
  kPaymentHandler& Parse(const std::u16string& aXml, qvPaymentHandlerDocumentType aType) {
    handler_ = std::make_unique<kPaymentHandler>();
    handler_->Deserialize(aXml, {aType});
    return *handler_;
  }

  TempLogRoot root_;
  tQV_ApplicationScope app_;
  std::unique_ptr<kPaymentHandler> handler_;
};

TEST_F(PaymentDeviceTest, ActionChoosesThePaymentSlot) {
  struct Case {
    const char16_t* action;
    const char16_t* slot;
  } cases[] = {{u"PAY", u"Pay"}, {u"", u"Pay"}, {u"REFUND", u"Refund"}, {u"VOID", u"Void"}};
  for (const Case& c : cases) {
    auto device = Open();
    device->Pub_Pay(Parse(Request(PaySection(c.action, u"r")), qvPaymentHandlerDocumentType::dt_Pay));
    EXPECT_EQ(device->calls, std::vector<std::u16string>{c.slot}) << ToUtf8(c.action);
  }
  // Verification ignores the action.
  auto device = Open();
  device->Pub_VerifyTran(
      Parse(Request(PaySection(u"REFUND", u"r")), qvPaymentHandlerDocumentType::dt_VerifyTran));
  EXPECT_EQ(device->calls, std::vector<std::u16string>{u"VerifyTran"});
}

TEST_F(PaymentDeviceTest, PreparesThePaymentRecord) {
  auto device = Open();
  const TDateTime before = Now();
  const _int_PAY_result r = device->Pub_Pay(
      Parse(Request(PaySection(u"PAY", u"r")), qvPaymentHandlerDocumentType::dt_Pay));
  const TDateTime after = Now();
  EXPECT_FALSE(r.Error);
  EXPECT_TRUE(r.ErrorText.empty());
  EXPECT_EQ(r.PaymentNetwork, qvPaymentNetwork::Other);
  EXPECT_EQ(r.TransactionType, qvPaymentTransactionType::ptt_Other);
  EXPECT_GE(r.PaymentDateTime, before);
  EXPECT_LE(r.PaymentDateTime, after);
  EXPECT_EQ(r.LogFileName, device->IOHandler().GetLogFileName());
  EXPECT_NE(ToUtf8(r.LogFileName).find((root_.PaymentLogs() / "REC_T01_").string()),
            std::string::npos)
      << ToUtf8(r.LogFileName);
}

TEST_F(PaymentDeviceTest, ReprintTakesNoBannerNoDateNoLogName) {
  auto device = Open();
  const _int_REPRINT_result r = device->Pub_Reprint(
      Parse(Request(u"<Reprint><Reference>x</Reference></Reprint>"),
            qvPaymentHandlerDocumentType::dt_PayReprint));
  EXPECT_TRUE(r.LogFileName.empty());
  EXPECT_FALSE(r.Error);
}

TEST_F(PaymentDeviceTest, ChannelErrorReachesLaterOperationsWithoutSettingError) {
  auto device = Open();
  const _int_PAY_result pay = device->Pub_Pay(
      Parse(Request(PaySection(u"PAY", u"channel-error")), qvPaymentHandlerDocumentType::dt_Pay));
  EXPECT_EQ(pay.ErrorText, u"link lost");
  EXPECT_FALSE(pay.Error);
  // Nothing clears the channel's error state in between.
  const _int_REPRINT_result reprint = device->Pub_Reprint(
      Parse(Request(PaySection(u"PAY", u"x")), qvPaymentHandlerDocumentType::dt_PayReprint));
  EXPECT_EQ(reprint.ErrorText, u"link lost");
  EXPECT_FALSE(reprint.Error);
  const _int_DAYCLOSE_result close = device->Pub_DayClose(
      Parse(Request(u"<DayClose/>"), qvPaymentHandlerDocumentType::dt_DayClose));
  EXPECT_EQ(close.ErrorText, u"link lost");
}

TEST_F(PaymentDeviceTest, DriverFailurePassesThrough) {
  auto device = Open();
  try {
    device->Pub_Pay(Parse(Request(PaySection(u"PAY", u"throw")), qvPaymentHandlerDocumentType::dt_Pay));
    FAIL() << "no failure";
  } catch (const EQVError& e) {
    EXPECT_EQ(e.Message(), u"service refused");
  }
}

TEST_F(PaymentDeviceTest, BannersInTheDeviceLog) {
  std::u16string log_name;
  {
    auto device = Open();
    log_name = device->IOHandler().GetLogFileName();
    device->Pub_Pay(Parse(Request(PaySection(u"PAY", u"r")), qvPaymentHandlerDocumentType::dt_Pay));
    device->Pub_Reprint(Parse(Request(PaySection(u"PAY", u"r")),
                              qvPaymentHandlerDocumentType::dt_PayReprint));
    device->Pub_VerifyTran(Parse(Request(PaySection(u"PAY", u"r")),
                                 qvPaymentHandlerDocumentType::dt_VerifyTran));
    device->Pub_DayClose(Parse(Request(u"<DayClose/>"), qvPaymentHandlerDocumentType::dt_DayClose));
    device->Pub_GetTotals(
        Parse(Request(u"<GetTotals/>"), qvPaymentHandlerDocumentType::dt_GetTotals));
  }  // destroying the device closes the log
  const std::string log = ReadFile(ToUtf8(log_name));
  const std::string h60(60, '-');
  const std::string h55(55, '-');
  // Each banner ends its line: the stamp and marker come before, CR LF after.
  const std::vector<std::string> banners = {" - " + h60 + " Pay\r\n", " - " + h60 + " VerifyTran\r\n",
                                            " - " + h55 + " DayClose\r\n",
                                            " - " + h55 + " GetTotals\r\n"};
  size_t at = 0;
  for (const std::string& banner : banners) {
    const size_t found = log.find(banner, at);
    ASSERT_NE(found, std::string::npos) << banner << "\n" << log;
    EXPECT_NE(log[found - 1], '-') << "too many hyphens before " << banner;
    at = found + banner.size();
  }
  EXPECT_EQ(log.find("Reprint"), std::string::npos);
  EXPECT_NE(log.find("STOP"), std::string::npos);
}

TEST_F(PaymentDeviceTest, ChannelCarriesTheDriverVersion) {
  auto device = Open();
  const std::u16string version = kPaymentDevice::GetDriverVersion();
  EXPECT_EQ(version.rfind(u"Version 1.03 - ", 0), 0u) << ToUtf8(version);
  EXPECT_EQ(device->IOHandler().Version(), version);
}

TEST(PaymentDeviceVersionTest, NeedsTheApplicationObject) {
  ASSERT_EQ(QVApplication(), nullptr);
  EXPECT_THROW(kPaymentDevice::GetDriverVersion(), EQVError);
}

TEST_F(PaymentDeviceTest, ChannelFailureEndsConstruction) {
  kPaymentHandler handler;
  handler.Deserialize(u"<R><Driver>REC</Driver><Connection><Type>Com</Type></Connection></R>",
                      {qvPaymentHandlerDocumentType::dt_Open});
  EXPECT_NO_THROW(RecordingDevice{handler});
  // Without a section the connection is a fiscal printer's: the channel builds even where
  // the platform has no such control.
  kPaymentHandler no_connection;
  no_connection.Deserialize(u"<R><Driver>REC</Driver></R>", {qvPaymentHandlerDocumentType::dt_Open});
  EXPECT_NO_THROW(RecordingDevice{no_connection});
  kPaymentHandler missing_library;
  missing_library.Deserialize(
      u"<R><Driver>REC</Driver><Connection><Type>DLL</Type><LibraryName>libqvpa-absent.so</LibraryName>"
      u"</Connection></R>",
      {qvPaymentHandlerDocumentType::dt_Open});
  EXPECT_THROW(RecordingDevice{missing_library}, EQVError);
}

}  // namespace
}  // namespace qvpa
