#include "driver/result_documents.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace qvpa {
namespace {

// Element names of a rendered document, in order; checks that each line is one element.
std::vector<std::string> ElementNames(const std::u16string& aDocument) {
  std::vector<std::string> names;
  const std::string doc = ToUtf8(aDocument);
  size_t start = 0;
  while (start <= doc.size()) {
    size_t end = doc.find("\r\n", start);
    if (end == std::string::npos) end = doc.size();
    const std::string line = doc.substr(start, end - start);
    const std::string name = line.substr(1, line.find('>') - 1);
    EXPECT_EQ(line.substr(line.size() - name.size() - 3), "</" + name + ">") << line;
    names.push_back(name);
    start = end + 2;
  }
  return names;
}

TEST(EscapeXmlTextTest, ReplacesTheFiveSpecialCharacters) {
  struct Case {
    std::u16string in, out;
  } cases[] = {
      {u"", u""},
      {u"Fish & Chips <ok>", u"Fish &amp; Chips &lt;ok&gt;"},
      {u"say \"hi\"", u"say &quot;hi&quot;"},
      {u"it's", u"it&apos;s"},
      {u"&amp;", u"&amp;amp;"},     // an entity in the text is text
      {u"&<>\"'", u"&amp;&lt;&gt;&quot;&apos;"},
      {u"a\r\nb\tc \u20ac", u"a\r\nb\tc \u20ac"},  // line breaks, tabs, non-ASCII unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeXmlText(c.in), c.out) << ToUtf8(c.in);
}

TEST(ResultDocumentsTest, ElementOrderOfEveryDocument) {
  const std::vector<std::string> pay = {
      "DeviceId", "PaymentDateTime", "PaymentNumber", "PaymentAmount", "PaymentCurrency",
      "ExchangeRate", "PaymentAmountCurrency", "PaymentCurrencyCurrency", "TippedAmount",
      "RemainingBalance", "MaskedPAN", "SerialNumber", "PaymentNetwork", "TransactionType",
      "AuthCode", "TraceAuditId", "NumberOfItems", "SingleItemAmount", "SignatureRequested",
      "CustomerCountryCode", "CardToken", "RefundReference", "ReceiptText", "CashierReceiptText",
      "Error", "ErrorText", "LogFileName"};
  struct Case {
    const char* document;
    std::u16string rendered;
    std::vector<std::string> names;
  } cases[] = {
      {"OPEN", RenderResult(_int_OPEN_result{}).Output, {"Handle", "Error", "ErrorText", "LogFileName"}},
      {"CLOSE", RenderResult(_int_CLOSE_result{}).Output, {"Error", "ErrorText", "LogFileName"}},
      {"REPRINT", RenderResult(_int_REPRINT_result{}).Output,
       {"ReceiptText", "CashierReceiptText", "Error", "ErrorText", "LogFileName"}},
      {"GETSTATUS", RenderResult(_int_GETSTATUS_result{}).Output,
       {"DayOpened", "DateTime", "PaperEnd", "PaperNearEnd", "CoverOpen", "FiscalReceiptOpen",
        "ReceiptOpen", "TrainingMode", "FirmwareVersion", "SerialNumber", "FiscalMode", "Error",
        "ErrorText", "LogFileName"}},
      {"PAY", RenderResult(_int_PAY_result{}).Output, pay},
      {"DAYCLOSE", RenderResult(_int_DAYCLOSE_result{}).Output,
       {"DeviceId", "ClosureDateTime", "ClosureNumber", "TransactionsCount", "TotalAmount",
        "Currency", "ReceiptText", "Error", "ErrorText", "LogFileName"}},
      {"GETTOTALS", RenderResult(_int_GETTOTALS_result{}).Output,
       {"DeviceId", "DateTime", "TransactionsCount", "TotalAmount", "Currency", "ReceiptText",
        "Error", "ErrorText", "LogFileName"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ElementNames(c.rendered), c.names) << c.document;
}

TEST(ResultDocumentsTest, StatusDocumentOfTheResetRecord) {
  _int_GETSTATUS_result status;
  const RenderedResult r = RenderResult(status);
  EXPECT_EQ(r.Output,
            u"<DayOpened>False</DayOpened>\r\n"
            u"<DateTime>1899-12-30T00:00:00</DateTime>\r\n"
            u"<PaperEnd>False</PaperEnd>\r\n"
            u"<PaperNearEnd>False</PaperNearEnd>\r\n"
            u"<CoverOpen>False</CoverOpen>\r\n"
            u"<FiscalReceiptOpen>False</FiscalReceiptOpen>\r\n"
            u"<ReceiptOpen>False</ReceiptOpen>\r\n"
            u"<TrainingMode>False</TrainingMode>\r\n"
            u"<FirmwareVersion></FirmwareVersion>\r\n"
            u"<SerialNumber></SerialNumber>\r\n"
            u"<FiscalMode></FiscalMode>\r\n"
            u"<Error>False</Error>\r\n"
            u"<ErrorText></ErrorText>\r\n"
            u"<LogFileName></LogFileName>");
  EXPECT_EQ(r.Result, 0);
  EXPECT_TRUE(r.ErrorMessage.empty());
}

TEST(ResultDocumentsTest, SuccessfulCloseIsThreeLines) {
  const RenderedResult r = RenderResult(_int_CLOSE_result{});
  EXPECT_EQ(r.Output, u"<Error>False</Error>\r\n<ErrorText></ErrorText>\r\n<LogFileName></LogFileName>");
  EXPECT_EQ(r.Result, 0);
}

TEST(ResultDocumentsTest, FailedPaymentInItsResetState) {
  _int_PAY_result pay;
  pay.TransactionType = qvPaymentTransactionType::ptt_Other;
  pay.PaymentNetwork = qvPaymentNetwork::Other;
  pay.Error = true;
  pay.ErrorText = u"Device Handle not found";
  pay.RawResponse = u"never shown";
  const RenderedResult r = RenderResult(pay);
  EXPECT_EQ(r.Output,
            u"<DeviceId></DeviceId>\r\n"
            u"<PaymentDateTime>1899-12-30T00:00:00</PaymentDateTime>\r\n"
            u"<PaymentNumber></PaymentNumber>\r\n"
            u"<PaymentAmount>0</PaymentAmount>\r\n"
            u"<PaymentCurrency></PaymentCurrency>\r\n"
            u"<ExchangeRate>0</ExchangeRate>\r\n"
            u"<PaymentAmountCurrency>0</PaymentAmountCurrency>\r\n"
            u"<PaymentCurrencyCurrency></PaymentCurrencyCurrency>\r\n"
            u"<TippedAmount>0</TippedAmount>\r\n"
            u"<RemainingBalance>0</RemainingBalance>\r\n"
            u"<MaskedPAN></MaskedPAN>\r\n"
            u"<SerialNumber></SerialNumber>\r\n"
            u"<PaymentNetwork>other</PaymentNetwork>\r\n"
            u"<TransactionType>OTHER</TransactionType>\r\n"
            u"<AuthCode></AuthCode>\r\n"
            u"<TraceAuditId></TraceAuditId>\r\n"
            u"<NumberOfItems>0</NumberOfItems>\r\n"
            u"<SingleItemAmount>0</SingleItemAmount>\r\n"
            u"<SignatureRequested>False</SignatureRequested>\r\n"
            u"<CustomerCountryCode></CustomerCountryCode>\r\n"
            u"<CardToken></CardToken>\r\n"
            u"<RefundReference></RefundReference>\r\n"
            u"<ReceiptText></ReceiptText>\r\n"
            u"<CashierReceiptText></CashierReceiptText>\r\n"
            u"<Error>True</Error>\r\n"
            u"<ErrorText>Device Handle not found</ErrorText>\r\n"
            u"<LogFileName></LogFileName>");
  EXPECT_EQ(r.Result, -1);
  EXPECT_EQ(r.ErrorMessage, u"Device Handle not found");
}

TEST(ResultDocumentsTest, ValuesRenderByType) {
  _int_PAY_result pay;
  pay.PaymentAmount = *Currency::Parse(u"1234.5");
  pay.ExchangeRate = *Currency::Parse(u"0.0001");
  pay.TippedAmount = *Currency::Parse(u"-3.25");
  pay.RemainingBalance = *Currency::Parse(u"100");
  pay.NumberOfItems = -7;
  pay.SignatureRequested = true;
  pay.PaymentDateTime = *TryEncodeDateTime(2022, 8, 23, 14, 5, 9, 600);
  pay.PaymentNetwork = qvPaymentNetwork::Satispay;
  pay.TransactionType = qvPaymentTransactionType::ptt_ClessChip;
  pay.ReceiptText = u"line 1\r\nline 2 & more";
  pay.Error = true;  // an error without text still fails
  const std::u16string out = RenderResult(pay).Output;
  const char16_t* expected[] = {
      u"<PaymentAmount>1234.5</PaymentAmount>",
      u"<ExchangeRate>0.0001</ExchangeRate>",
      u"<TippedAmount>-3.25</TippedAmount>",
      u"<RemainingBalance>100</RemainingBalance>",
      u"<NumberOfItems>-7</NumberOfItems>",
      u"<SignatureRequested>True</SignatureRequested>",
      u"<PaymentDateTime>2022-08-23T14:05:09</PaymentDateTime>",
      u"<PaymentNetwork>satispay</PaymentNetwork>",
      u"<TransactionType>CLESSCHIP</TransactionType>",
      u"<ReceiptText>line 1\r\nline 2 &amp; more</ReceiptText>",
      u"<Error>True</Error>\r\n<ErrorText></ErrorText>",
  };
  for (const char16_t* e : expected) {
    EXPECT_NE(out.find(e), std::u16string::npos) << ToUtf8(e) << "\n" << ToUtf8(out);
  }
  EXPECT_EQ(RenderResult(pay).Result, -1);
  EXPECT_EQ(out.find(u"RawResponse"), std::u16string::npos);
}

TEST(ResultDocumentsTest, NetworkAndReadingTexts) {
  struct Case {
    qvPaymentNetwork network;
    qvPaymentTransactionType type;
    const char16_t* expected;
  } cases[] = {
      {qvPaymentNetwork::NHS, qvPaymentTransactionType::ptt_Chip,
       u"<PaymentNetwork>NHS</PaymentNetwork>\r\n<TransactionType>CHIP</TransactionType>"},
      {qvPaymentNetwork::Nexi, qvPaymentTransactionType::ptt_RFID,
       u"<PaymentNetwork>unrecognized</PaymentNetwork>\r\n<TransactionType></TransactionType>"},
      {qvPaymentNetwork::Visa, qvPaymentTransactionType::ptt_Manual,
       u"<PaymentNetwork>visa</PaymentNetwork>\r\n<TransactionType>MANUAL</TransactionType>"},
  };
  for (const Case& c : cases) {
    _int_PAY_result pay;
    pay.PaymentNetwork = c.network;
    pay.TransactionType = c.type;
    EXPECT_NE(RenderResult(pay).Output.find(c.expected), std::u16string::npos) << ToUtf8(c.expected);
  }
}

TEST(ResultDocumentsTest, ErrorTextEscapedInTheDocumentRawInTheMessage) {
  _int_DAYCLOSE_result close;
  close.TotalAmount = *Currency::Parse(u"1234.5");
  close.Error = true;
  close.ErrorText = u"Fish & Chips <ok>";
  close.LogFileName = u"/logs/it's.log";
  const RenderedResult r = RenderResult(close);
  EXPECT_NE(r.Output.find(u"<TransactionsCount>0</TransactionsCount>\r\n<TotalAmount>1234.5</TotalAmount>"),
            std::u16string::npos);
  EXPECT_NE(r.Output.find(u"<ErrorText>Fish &amp; Chips &lt;ok&gt;</ErrorText>\r\n"
                          u"<LogFileName>/logs/it&apos;s.log</LogFileName>"),
            std::u16string::npos);
  EXPECT_EQ(r.ErrorMessage, u"Fish & Chips <ok>");
  EXPECT_EQ(r.Result, -1);
}

}  // namespace
}  // namespace qvpa
