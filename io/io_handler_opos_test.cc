// The OPOS channel against the fiscal printer simulator, and without any control (as on
// platforms that have no OPOS). On Windows the simulator sits behind the platform's COM
// control (FiscalPrinterUnderTest), so the same cases run through IDispatch.
#include "io/io_handler_opos.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/error_test_support.h"
#include "io/fiscal_printer_control_test_support.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::DumpLines;
using testing_io::HasLine;
using testing_io::FiscalPrinterSimulator;
using testing_io::FiscalPrinterUnderTest;
using testing_io::TempDir;

Currency Cur(const char16_t* text) { return *Currency::Parse(text); }

class OposChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kConnection connection;
    connection.SetConnectionType(qvConnectionType::OPOS);
    connection.SetDeviceName(u"FiscalPrinter");
    connection.SetConnectTimeOut(1500);
    under_test_ = std::make_unique<FiscalPrinterUnderTest>(printer_);
    auto control = under_test_->NewControl();
    ASSERT_NE(control, nullptr) << "no fiscal printer control was created";
    channel_ = std::make_unique<kIOHandler_OPOS>(connection, dir_.u16(), u"OPOS_TEST", std::move(control));
  }
  // The log lines after the connect banner's six lines and the start banner.
  std::vector<std::string> LogAfterBanner() {
    auto lines = CloseAndReadLog(channel_);
    return std::vector<std::string>(lines.begin() + std::min<size_t>(lines.size(), 1), lines.end());
  }

  TempDir dir_;
  std::shared_ptr<FiscalPrinterSimulator::State> printer_ = std::make_shared<FiscalPrinterSimulator::State>();
  std::unique_ptr<FiscalPrinterUnderTest> under_test_;  // outlives the channel's control
  std::unique_ptr<kIOHandler_OPOS> channel_;
};

TEST_F(OposChannelTest, ConnectOpensClaimsAndEnablesAndDisconnectUndoesIt) {
  EXPECT_FALSE(channel_->Connected());
  EXPECT_TRUE(channel_->Connect());
  EXPECT_TRUE(channel_->Connected());
  EXPECT_TRUE(printer_->enabled);
  EXPECT_TRUE(channel_->Disconnect());
  EXPECT_FALSE(channel_->Connected());
  EXPECT_FALSE(printer_->opened);
  const std::vector<std::u16string> calls = {
      u"Open(FiscalPrinter)", u"ClaimDevice(1500)", u"SetDeviceEnabled(true)",
      u"SetDeviceEnabled(false)", u"ReleaseDevice()", u"Close()"};
  EXPECT_EQ(printer_->calls, calls);
  const auto lines = LogAfterBanner();
  const std::vector<std::string> expected = {
      " - *************************************************************", " - kIOHandler_OPOS", " - ",
      " - ConnectTimeout=1500", " - ReadTimeout=1000", " - DeviceName=FiscalPrinter",
      " - [Connect]->Open(FiscalPrinter)", " - [Connect]->ClaimDevice(1500)",
      " - [Connect]->DeviceEnabled:=true", " - [Disconnect]->DeviceEnabled:=false",
      " - [Disconnect]->ReleaseDevice", " - [Disconnect]->Close",
      " - *************************** STOP ****************************"};
  EXPECT_EQ(lines, expected) << DumpLines(lines);
}

TEST_F(OposChannelTest, UnknownDeviceFailsConnectButCountsAsConnected) {
  channel_->SetDeviceName(u"Elsewhere");
  EXPECT_FALSE(channel_->Connect());
  EXPECT_TRUE(channel_->Connected());
  EXPECT_TRUE(channel_->ErrorFound());
  EXPECT_EQ(channel_->ErrorCode(), 109);
  EXPECT_EQ(channel_->ErrorMessage(), u"[109] OPOS_E_NOEXIST - Device Elsewhere not found");
  const auto lines = LogAfterBanner();  // destruction disconnects
  EXPECT_NE(std::find(lines.begin(), lines.end(), " - ERROR - [109] OPOS_E_NOEXIST - Device Elsewhere not found"),
            lines.end())
      << DumpLines(lines);
  EXPECT_EQ(printer_->calls.back(), u"ReleaseDevice()");
}

TEST_F(OposChannelTest, ControlFailuresAreCaughtOnlyInConnectAndDisconnect) {
  printer_->failures[u"Open"] = u"Class not registered";
  EXPECT_FALSE(channel_->Connect());
  EXPECT_FALSE(channel_->Connected());
  EXPECT_FALSE(channel_->ErrorFound());
  printer_->failures[u"PrintXReport"] = u"RPC server unavailable";
  EXPECT_EQ(ErrorOf([&] { channel_->PrintXReport(); }),
            FiscalPrinterUnderTest::ControlFailure(u"PrintXReport", u"RPC server unavailable"));
  printer_->failures[u"SetDeviceEnabled"] = u"RPC server unavailable";
  EXPECT_FALSE(channel_->Disconnect());
  const auto lines = LogAfterBanner();
  const std::string open_failure =
      ToUtf8(FiscalPrinterUnderTest::ControlFailure(u"Open", u"Class not registered"));
  const std::string enable_failure =
      ToUtf8(FiscalPrinterUnderTest::ControlFailure(u"DeviceEnabled", u"RPC server unavailable"));
  EXPECT_TRUE(HasLine(lines, " - ERROR - [Connect]:" + open_failure)) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - [Disconnect]:" + enable_failure)) << DumpLines(lines);
}

TEST_F(OposChannelTest, OperationsLogTheirCallAndMapTheirArguments) {
  const struct {
    std::function<bool(kIOHandler_OPOS&)> op;
    std::string log;
    std::u16string call;
  } cases[] = {
      {[](auto& c) { return c.BeginFiscalReceipt(); }, "[BeginFiscalReceipt]->BeginFiscalReceipt(true)",
       u"BeginFiscalReceipt(true)"},
      {[](auto& c) { return c.EndFiscalReceipt(); }, "[EndFiscalReceipt]->EndFiscalReceipt(false)",
       u"EndFiscalReceipt(false)"},
      {[](auto& c) { return c.BeginNonFiscal(); }, "[BeginNonFiscal]->BeginNonFiscal", u"BeginNonFiscal()"},
      {[](auto& c) { return c.EndNonFiscal(); }, "[EndNonFiscal]->EndNonFiscal", u"EndNonFiscal()"},
      {[](auto& c) { return c.PrintNormal(u"O'Neil"); }, "[PrintNormal]->PrintNormal(2,'O''Neil')",
       u"PrintNormal(2,O'Neil)"},
      {[](auto& c) {
         return c.PrintRecItem(u"A1", u"Tea", Cur(u"1.5"), u"pc", 2, Cur(u"4"), Cur(u"12.50"));
       },
       "[PrintRecItem]->PrintRecItem('Tea',12.5,2,2,4,'pc')", u"PrintRecItem(Tea,12.5,1500,2,4,pc)"},
      {[](auto& c) {
         return c.PrintRecItem(u"A1", u"Rice", Cur(u"2.5"), u"kg", 1, Cur(u"2"), Cur(u"5"));
       },
       "[PrintRecItem]->PrintRecItem('Rice',5,2,1,2,'kg')", u"PrintRecItem(Rice,5,2500,1,2,kg)"},
      {[](auto& c) {
         return c.PrintRecItemVoid(u"A1", u"Tea", Cur(u"0.0015"), u"pc", 2, Cur(u"4"), Cur(u"1000"));
       },
       "[PrintRecItemVoid]->PrintRecItemVoid('Tea',1000,2,4,'pc')", u"PrintRecItemVoid(Tea,1000,2,2,4,pc)"},
      {[](auto& c) {
         return c.PrintRecRefund(u"A1", u"Tea", Cur(u"1"), u"pc", 3, Cur(u"4"), Cur(u"4.25"));
       },
       "[PrintRecRefund]->PrintRecRefund('Tea',4.25,3)", u"PrintRecRefund(Tea,4.25,3)"},
      {[](auto& c) { return c.PrintRecItemAdjustment(1, u"Promo", Cur(u"0.5"), 2); },
       "[PrintRecItemAdjustment]->PrintRecItemAdjustment(1,'Promo',0.5,2)",
       u"PrintRecItemAdjustment(1,Promo,0.5,2)"},
      {[](auto& c) { return c.PrintRecSubtotal(Cur(u"99.9")); }, "[PrintRecSubtotal]->PrintRecSubTotal(99.9)",
       u"PrintRecSubtotal(99.9)"},
      {[](auto& c) { return c.PrintRecSubtotalAdjustment(2, u"-10%", Cur(u"9.99")); },
       "[PrintRecSubtotalAdjustment]->PrintRecSubtotalAdjustment(2,'-10%',9.99)",
       u"PrintRecSubtotalAdjustment(2,-10%,9.99)"},
      {[](auto& c) { return c.PrintRecTotal(Cur(u"20"), Cur(u"50"), u"Cash"); },
       "[PrintRecTotal]->PrintRecTotal(20,50,'Cash')", u"PrintRecTotal(20,50,Cash)"},
      {[](auto& c) { return c.PrintRecNotPaid(Cur(u"3"), u"Ticket"); },
       "[PrintRecNotPaid]->PrintRecNotPaid('Ticket',3)", u"PrintRecNotPaid(Ticket,3)"},
      {[](auto& c) { return c.PrintRecMessage(u"Thanks"); }, "[PrintRecMessage]->PrintRecMessage('Thanks')",
       u"PrintRecMessage(Thanks)"},
      {[](auto& c) { return c.PrintRecTaxid(u"IT0123"); }, "[PrintRecTaxid]->PrintRecTaxid('IT0123')",
       u"PrintRecTaxID(IT0123)"},
      {[](auto& c) { return c.ResetPrinter(); }, "[ResetPrinter]->ResetPrinter", u"ResetPrinter()"},
      {[](auto& c) { return c.PrintXReport(); }, "[PrintXReport]->PrintXReport", u"PrintXReport()"},
      {[](auto& c) { return c.PrintZReport(); }, "[PrintZReport]->PrintZReport", u"PrintZReport()"},
      {[](auto& c) { return c.BeginTraining(); }, "[BeginTraining]->BeginTraining", u"BeginTraining()"},
      {[](auto& c) { return c.EndTraining(); }, "[EndTraining]->EndTraining", u"EndTraining()"},
      {[](auto& c) { return c.SetDate(*TryEncodeDateTime(2024, 3, 7, 9, 5, 59, 0)); },
       "[SetDate]->SetDate('070320240905')", u"SetDate(070320240905)"},
  };
  std::vector<std::string> expected_log;
  for (const auto& tc : cases) {
    printer_->calls.clear();
    EXPECT_TRUE(tc.op(*channel_)) << tc.log;
    ASSERT_EQ(printer_->calls.size(), 1u) << tc.log;
    EXPECT_EQ(printer_->calls[0], tc.call) << tc.log;
    expected_log.push_back(" - " + tc.log);
  }
  EXPECT_FALSE(channel_->ErrorFound());
  auto lines = LogAfterBanner();
  lines.pop_back();  // stop banner
  EXPECT_EQ(lines, expected_log) << DumpLines(lines);
}

TEST_F(OposChannelTest, FailedResultsBecomeTheErrorStateWithTheirNames) {
  const struct {
    int32_t code;
    int32_t extended;
    std::u16string text;
  } cases[] = {
      {111, 0, u"[111] OPOS_E_FAILURE - printer says no"},
      {101, 0, u"[101] OPOS_E_CLOSED - printer says no"},
      {115, 0, u"[115] OPOS_E_DEPRECATED - printer says no"},
      {120, 0, u"[120] UNKNOWN - printer says no"},
      {114, 203, u"[114] OPOS_E_EXTENDED [203] OPOS_EFPTR_REC_EMPTY - printer says no"},
      {114, 201, u"[114] OPOS_E_EXTENDED [201] OPOS_EFPTR_COVER_OPEN - printer says no"},
      {114, 224, u"[114] OPOS_E_EXTENDED [224] OPOS_EFPTR_DAY_END_REQUIRED - printer says no"},
      {114, 225, u"[114] OPOS_E_EXTENDED [225] UNKNOWN - printer says no"},
      {111, 203, u"[111] OPOS_E_FAILURE - printer says no"},  // extended code only read for 114
  };
  printer_->error_string = u"printer says no";
  for (const auto& tc : cases) {
    printer_->results[u"PrintRecTotal"] = tc.code;
    printer_->extended = tc.extended;
    EXPECT_FALSE(channel_->PrintRecTotal(Cur(u"1"), Cur(u"1"), u"Cash"));
    EXPECT_TRUE(channel_->ErrorFound());
    EXPECT_EQ(channel_->ErrorCode(), tc.code);
    EXPECT_EQ(channel_->ErrorMessage(), tc.text);
  }
  printer_->results.clear();
  EXPECT_TRUE(channel_->PrintRecTotal(Cur(u"1"), Cur(u"1"), u"Cash"));
  EXPECT_FALSE(channel_->ErrorFound());
  EXPECT_EQ(channel_->ErrorCode(), 0);
  EXPECT_EQ(channel_->ResultCodeText(0, 0), u"");
  const auto lines = LogAfterBanner();
  EXPECT_NE(std::find(lines.begin(), lines.end(), " - ERROR - [111] OPOS_E_FAILURE - printer says no"),
            lines.end())
      << DumpLines(lines);
}

TEST_F(OposChannelTest, StatusReadsAndPropertyWrites) {
  printer_->cover_open = true;
  printer_->rec_near_end = true;
  printer_->printer_state = 7;
  printer_->remaining_fiscal_memory = 321;
  bool flag = false;
  int32_t number = 0;
  EXPECT_TRUE(channel_->GetCoverOpen(flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(channel_->GetDayOpened(flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(channel_->GetRecEmpty(flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(channel_->GetRecNearEnd(flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(channel_->GetTrainingModeActive(flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(channel_->PrinterState(number));
  EXPECT_EQ(number, 7);
  EXPECT_TRUE(channel_->RemainingFiscalMemory(number));
  EXPECT_EQ(number, 321);
  EXPECT_TRUE(channel_->SetFiscalReceiptType(4));
  EXPECT_EQ(printer_->fiscal_receipt_type, 4);
  EXPECT_TRUE(channel_->SetPreLine(u"It's"));
  EXPECT_EQ(printer_->pre_line, u"It's");
  EXPECT_TRUE(channel_->SetAdditionalTrailerLine(u"first", true));
  EXPECT_TRUE(channel_->SetAdditionalTrailerLine(u"second", false));
  EXPECT_TRUE(channel_->SetAdditionalTrailerLine(u"third", false));
  EXPECT_EQ(printer_->additional_trailer, u"firstsecond\r\nthird\r\n");

  auto lines = LogAfterBanner();
  lines.pop_back();
  const std::vector<std::string> expected = {
      " - [GetCoverOpen]->CoverOpen(aResult)", " - [GetCoverOpen]->CoverOpen=True",
      " - [GetDayOpened]->DayOpened(aResult)", " - [GetDayOpened]->aResult=True",
      " - [GetRecEmpty]->RecEmpty(aResult)", " - [GetRecEmpty]->aResult=False",
      " - [GetRecNearEmpty]->RecNearEmpty(aResult)", " - [GetRecNearEmpty]->aResult=True",
      " - [GetTrainingModeActive]->TrainingModeActive(aResult)", " - [GetTrainingModeActive]->aResult=False",
      " - [PrinterState]->PrinterState(aPrinterState)", " - [PrinterState]->aPrinterState=7",
      " - [RemainingFiscalMemory]->RemainingFiscalMemory(aRemainingFiscalMemory)",
      " - [RemainingFiscalMemory]->aRemainingFiscalMemory=321",
      " - [SetFiscalReceiptType]->FiscalReceiptType=4", " - [SetPreLine]->PreLine='It''s'",
      " - [SetAdditionalTrailerLine]->AdditionalTrailer='first'",
      " - [SetAdditionalTrailerLine]->AdditionalTrailer=+'second'",
      " - [SetAdditionalTrailerLine]->AdditionalTrailer=+'third'"};
  EXPECT_EQ(lines, expected) << DumpLines(lines);
}

TEST_F(OposChannelTest, DataExchangeWithThePrinter) {
  TDateTime date = 0;
  EXPECT_TRUE(channel_->GetDate(date));
  EXPECT_EQ(date, *TryEncodeDateTime(2023, 12, 31, 15, 45, 0, 0));

  printer_->date = u"31xx20231545";
  const TDateTime before = Now();
  EXPECT_FALSE(channel_->GetDate(date));
  EXPECT_GE(date, before);
  EXPECT_TRUE(channel_->ErrorFound());

  printer_->results[u"GetDate"] = 111;
  date = 0;
  EXPECT_FALSE(channel_->GetDate(date));
  EXPECT_GE(date, before);
  EXPECT_EQ(channel_->ErrorCode(), 111);

  std::u16string output = u"old";
  EXPECT_TRUE(channel_->GetData(5, 9, output));
  EXPECT_EQ(output, u"DATA5");
  printer_->results[u"GetData"] = 106;
  EXPECT_FALSE(channel_->GetData(5, 9, output));
  EXPECT_EQ(output, u"");

  int32_t data = 3;
  std::u16string text = u"ab'c";
  printer_->results[u"DirectIO"] = 111;
  EXPECT_FALSE(channel_->DirectIO(77, data, text));
  EXPECT_EQ(text, u"c'ba");
  EXPECT_EQ(data, 4);

  const auto lines = LogAfterBanner();
  for (const char* line : {" - [GetDate]->GetDate", " - [GetDate]->aDate=311220231545",
                           " - ERROR - [GetDate]:Invalid printer date '31xx20231545'",
                           " - [GetData]->GetData(5,9,aOutput)", " - [GetData]->aOutput=DATA5",
                           " - [DirectIO]->DirectIO(77,3,'ab''c')", " - [DirectIO]->Output(Data:=4, Obj:='c''ba')"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << DumpLines(lines);
  }
}

TEST(OposWithoutControlTest, ChannelBuildsAndReportsTheMissingControl) {
  TempDir dir;
  kConnection connection;
  connection.SetDeviceName(u"FiscalPrinter");
  auto channel = std::make_unique<kIOHandler_OPOS>(connection, dir.u16(), u"OPOS_TEST", nullptr);
  const std::u16string missing = u"OPOS Fiscal Printer control is not available on this platform";
  EXPECT_FALSE(channel->Connect());
  EXPECT_FALSE(channel->Connected());
  EXPECT_EQ(ErrorOf([&] { channel->BeginFiscalReceipt(); }), missing);
  bool flag = false;
  EXPECT_EQ(ErrorOf([&] { channel->GetCoverOpen(flag); }), missing);
  EXPECT_EQ(ErrorOf([&] { channel->SetPreLine(u"x"); }), missing);
  EXPECT_FALSE(channel->Disconnect());

  const uint8_t cr[] = {13};
  EXPECT_EQ(ErrorOf([&] { channel->Write(u"x"); }), u"Write Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel->ReadUpTo(cr); }), u"ReadUpto Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel->ReadChars(1); }), u"ReadChars Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel->ReadAll(); }), u"ReadAll Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel->InputBufferContainsData(); }), u"InputBufferContainsData Unsupported");
  EXPECT_EQ(channel->DecodeError(5), u"");
  const auto lines = CloseAndReadLog(channel);
  EXPECT_NE(std::find(lines.begin(), lines.end(), " - ERROR - [Connect]:" + ToUtf8(missing)), lines.end())
      << DumpLines(lines);
}

}  // namespace
}  // namespace qvpa
