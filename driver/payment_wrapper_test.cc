#include "driver/payment_wrapper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>

#include "base/application.h"
#include "base/text.h"
#include "driver/test_payment_device.h"
#include "payment/device_test_support.h"

namespace qvpa {
namespace {

using testing_device::TempLogRoot;

std::u16string OpenRequest(const std::u16string& aExtra = u"") {
  return u"<Request><Driver>TEST_COM</Driver><LogId>T01</LogId>"
         u"<Connection><Type>Com</Type></Connection>" +
         aExtra + u"</Request>";
}

std::u16string HandleRequest(int32_t aHandle, const std::u16string& aExtra = u"") {
  return u"<Request><Handle>" + IntToStr(aHandle) + u"</Handle>" + aExtra + u"</Request>";
}

std::u16string Payment(const std::u16string& aAction, const std::u16string& aAttributes) {
  return u"<Payment><Action>" + aAction + u"</Action><Reference>R-1</Reference>"
         u"<Amount>12.50</Amount><Currency>EUR</Currency><Attributes>" +
         aAttributes + u"</Attributes></Payment>";
}

class PaymentWrapperTest : public ::testing::Test {
 protected:
  PaymentWrapperTest() { RegisterTestDrivers(registry_); }

  template <class W>
  auto Run(const std::u16string& aXml) {
    W wrapper(registry_, devices_);
    wrapper.Process(aXml);
    return wrapper.Result();
  }
  int32_t Open(const std::u16string& aXml = OpenRequest()) {
    const _int_OPEN_result r = Run<kPaymentWrapper_OPEN>(aXml);
    EXPECT_FALSE(r.Error) << ToUtf8(r.ErrorText);
    return r.Handle;
  }

  TempLogRoot root_;
  tQV_ApplicationScope app_;
  DriverRegistry registry_;
  DeviceTable devices_;
};

TEST_F(PaymentWrapperTest, HandlesRunInOrderAndAreNeverReused) {
  EXPECT_EQ(Open(), 1);
  EXPECT_EQ(Open(), 2);
  EXPECT_FALSE(Run<kPaymentWrapper_CLOSE>(HandleRequest(1)).Error);
  EXPECT_EQ(Open(), 3);
  EXPECT_EQ(devices_.Count(), 2u);
  // Open under an open handle: that device, nothing created.
  EXPECT_EQ(Open(HandleRequest(2, u"<Driver>NOT_THERE</Driver>")), 2);
  EXPECT_EQ(devices_.Count(), 2u);
  EXPECT_EQ(devices_.LastHandle(), 3);
}

TEST_F(PaymentWrapperTest, DeviceResolutionFailures) {
  Open();
  struct Case {
    const char* what;
    std::u16string xml;
    bool close;
    std::u16string message;
  } cases[] = {
      {"closed handle", HandleRequest(7), false, u"Device Handle not found"},
      {"close unknown", HandleRequest(7), true, u"Device Handle not found"},
      {"close without handle", u"<R/>", true, u"Payment Device has not previously opened"},
      {"close handle 0", HandleRequest(0), true, u"Payment Device has not previously opened"},
      {"close negative", HandleRequest(-1), true, u"Payment Device has not previously opened"},
      {"unknown driver", u"<R><Driver>test_com</Driver></R>", false,
       u"Payment Driver [test_com] not registered."},
      {"no driver", u"<R/>", false, u"Payment Driver [] not registered."},
      {"not xml", u"no xml", false, u""},
  };
  for (const Case& c : cases) {
    const auto r = c.close ? Run<kPaymentWrapper_CLOSE>(c.xml).ErrorText
                           : Run<kPaymentWrapper_OPEN>(c.xml).ErrorText;
    if (c.message.empty()) {
      EXPECT_FALSE(r.empty()) << c.what;
    } else {
      EXPECT_EQ(r, c.message) << c.what;
    }
  }
  EXPECT_EQ(devices_.Count(), 1u);
  EXPECT_EQ(devices_.LastHandle(), 1);
}

TEST_F(PaymentWrapperTest, CloseTwice) {
  const int32_t h = Open();
  const _int_CLOSE_result first = Run<kPaymentWrapper_CLOSE>(HandleRequest(h));
  EXPECT_FALSE(first.Error);
  const _int_CLOSE_result second = Run<kPaymentWrapper_CLOSE>(HandleRequest(h));
  EXPECT_TRUE(second.Error);
  EXPECT_EQ(second.ErrorText, u"Device Handle not found");
  EXPECT_TRUE(second.LogFileName.empty());
}

TEST_F(PaymentWrapperTest, FailedConstructionTakesNoHandle) {
  const _int_OPEN_result r = Run<kPaymentWrapper_OPEN>(
      OpenRequest(u"<Parameters><FailCreate>no terminal</FailCreate></Parameters>"));
  EXPECT_TRUE(r.Error);
  EXPECT_EQ(r.ErrorText, u"no terminal");
  EXPECT_EQ(r.Handle, 0);
  const _int_OPEN_result bad_type = Run<kPaymentWrapper_OPEN>(
      u"<R><Driver>TEST_COM</Driver><Connection><Type>Pigeon</Type></Connection></R>");
  EXPECT_EQ(bad_type.ErrorText, u"Connection Type Pigeon is not valid");
  EXPECT_EQ(Open(), 1);
  // The reasons are in the application log (written by its own thread, hence the wait).
  const std::string wanted[] = {"OPEN failed: no terminal",
                                "OPEN failed: Connection Type Pigeon is not valid"};
  std::string log;
  for (int i = 0; i < 500; ++i) {
    std::ifstream file(std::filesystem::path(QVApplication()->GetLogFileName()));
    log.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (log.find(wanted[1]) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const std::string& line : wanted) EXPECT_NE(log.find(line), std::string::npos) << log;
}

TEST_F(PaymentWrapperTest, OperationsReachTheirSlots) {
  const int32_t h = Open();
  struct Case {
    std::u16string action;
    bool verify;
    const char16_t* slot;
  } cases[] = {{u"PAY", false, u"Pay"},
               {u"REFUND", false, u"Refund"},
               {u"VOID", false, u"Void"},
               {u"REFUND", true, u"VerifyTran"}};
  for (const Case& c : cases) {
    const std::u16string xml = HandleRequest(h, Payment(c.action, u""));
    const _int_PAY_result r = c.verify ? Run<kPaymentWrapper_VERIFYTRAN>(xml)
                                       : Run<kPaymentWrapper_PAY>(xml);
    EXPECT_FALSE(r.Error) << ToUtf8(r.ErrorText);
    EXPECT_EQ(r.DeviceId, c.slot);
    EXPECT_EQ(r.PaymentNumber, u"R-1");
    EXPECT_EQ(r.PaymentAmount, *Currency::Parse(u"12.5"));
    EXPECT_EQ(r.PaymentNetwork, qvPaymentNetwork::Satispay);
    EXPECT_EQ(r.TransactionType, qvPaymentTransactionType::ptt_Other);
    EXPECT_FALSE(r.LogFileName.empty());
  }
  const _int_DAYCLOSE_result close =
      Run<kPaymentWrapper_DAYCLOSE>(HandleRequest(h, u"<DayClose><Reference>Z1</Reference></DayClose>"));
  EXPECT_EQ(close.DeviceId, u"DayClose");
  EXPECT_EQ(close.ClosureNumber, u"Z1");
  const _int_GETTOTALS_result totals =
      Run<kPaymentWrapper_GETTOTALS>(HandleRequest(h, u"<GetTotals><Reference>T</Reference></GetTotals>"));
  EXPECT_EQ(totals.DeviceId, u"GetTotals");
  const _int_REPRINT_result reprint =
      Run<kPaymentWrapper_REPRINT>(HandleRequest(h, u"<Reprint><Reference>C</Reference></Reprint>"));
  EXPECT_EQ(reprint.CashierReceiptText, u"C");
  // A missing section fails with the reader's message.
  EXPECT_EQ(Run<kPaymentWrapper_DAYCLOSE>(HandleRequest(h)).ErrorText, u"DayClose node not found");
}

TEST_F(PaymentWrapperTest, FailedOperationKeepsOnlyTheMessage) {
  const int32_t h = Open();
  const _int_PAY_result r =
      Run<kPaymentWrapper_PAY>(HandleRequest(h, Payment(u"PAY", u"fail:Fish &amp; Chips &lt;ok&gt;")));
  EXPECT_TRUE(r.Error);
  EXPECT_EQ(r.ErrorText, u"Fish & Chips <ok>");
  // What the device had filled is gone.
  EXPECT_TRUE(r.DeviceId.empty());
  EXPECT_TRUE(r.PaymentNumber.empty());
  EXPECT_TRUE(r.LogFileName.empty());
  EXPECT_EQ(r.PaymentDateTime, 0);
  EXPECT_EQ(r.PaymentNetwork, qvPaymentNetwork::Other);
  EXPECT_EQ(r.TransactionType, qvPaymentTransactionType::ptt_Other);
}

TEST_F(PaymentWrapperTest, DriverErrorsWithoutFailureKeepTheRecord) {
  const int32_t h = Open();
  const _int_PAY_result flagged =
      Run<kPaymentWrapper_PAY>(HandleRequest(h, Payment(u"PAY", u"error:declined")));
  EXPECT_TRUE(flagged.Error);
  EXPECT_EQ(flagged.ErrorText, u"declined");
  EXPECT_EQ(flagged.DeviceId, u"Pay");
  EXPECT_FALSE(flagged.LogFileName.empty());
  // A channel error stays in the channel and shows in the next reprint, which succeeds.
  Run<kPaymentWrapper_PAY>(HandleRequest(h, Payment(u"PAY", u"channel-error:timeout")));
  const _int_REPRINT_result reprint =
      Run<kPaymentWrapper_REPRINT>(HandleRequest(h, u"<Reprint/>"));
  EXPECT_FALSE(reprint.Error);
  EXPECT_EQ(reprint.ErrorText, u"timeout");
}

TEST_F(PaymentWrapperTest, OperationsWithoutHandleCreateDevices) {
  const _int_PAY_result pay = Run<kPaymentWrapper_PAY>(OpenRequest(Payment(u"PAY", u"")));
  EXPECT_FALSE(pay.Error) << ToUtf8(pay.ErrorText);
  EXPECT_EQ(devices_.Count(), 1u);
  EXPECT_EQ(Open(), 2);
  // With a handle, the driver name is not looked at.
  const _int_PAY_result on_open = Run<kPaymentWrapper_PAY>(
      HandleRequest(2, u"<Driver>NOT_THERE</Driver>" + Payment(u"PAY", u"")));
  EXPECT_FALSE(on_open.Error) << ToUtf8(on_open.ErrorText);
}

TEST_F(PaymentWrapperTest, StatusReadsNothing) {
  for (const std::u16string& xml : {std::u16string(), std::u16string(u"<not xml"), HandleRequest(99)}) {
    const _int_GETSTATUS_result r = Run<kPaymentWrapper_GETSTATUS>(xml);
    EXPECT_FALSE(r.Error);
    EXPECT_TRUE(r.ErrorText.empty());
  }
  EXPECT_EQ(devices_.Count(), 0u);
}

TEST_F(PaymentWrapperTest, FormatGivesTheResultCode) {
  kPaymentWrapper_CLOSE close(registry_, devices_);
  close.Process(HandleRequest(5));
  std::u16string output, message;
  int16_t code = 0;
  close.Format(output, message, code);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(message, u"Device Handle not found");
  EXPECT_EQ(output, u"<Error>True</Error>\r\n<ErrorText>Device Handle not found</ErrorText>\r\n"
                    u"<LogFileName></LogFileName>");
}

TEST(DeviceTableTest, CounterNeverWraps) {
  TempLogRoot root;
  tQV_ApplicationScope app;
  DriverRegistry registry;
  RegisterTestDrivers(registry);
  DeviceTable devices(std::numeric_limits<int32_t>::max() - 1);
  kPaymentWrapper_OPEN last(registry, devices);
  last.Process(OpenRequest());
  EXPECT_EQ(last.Result().Handle, std::numeric_limits<int32_t>::max());
  kPaymentWrapper_OPEN beyond(registry, devices);
  beyond.Process(OpenRequest());
  EXPECT_TRUE(beyond.Result().Error);
  EXPECT_EQ(beyond.Result().ErrorText, u"No device handle left");
  EXPECT_EQ(devices.Count(), 1u);
}

}  // namespace
}  // namespace qvpa
