#include "request/payment_handler.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/date_time.h"
#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"

namespace qvpa {
namespace {

using T = qvPaymentHandlerDocumentType;

// A request around the given sections.
std::u16string Request(const std::string& aSections) {
  return FromUtf8("<Request><Driver>QVPA_SATISPAY_10</Driver><Handle>1</Handle>" + aSections +
                  "</Request>");
}

// Reads the payment section given by its inner elements.
std::unique_ptr<kPaymentHandler> ReadPayment(const std::string& aInner) {
  auto handler = std::make_unique<kPaymentHandler>();
  handler->Deserialize(Request("<Payment>" + aInner + "</Payment>"), {T::dt_Pay});
  return handler;
}

std::u16string PaymentError(const std::string& aInner) {
  return ErrorOf([&] { ReadPayment(aInner); });
}

TEST(PaymentHandlerTest, FullPaymentSection) {
  const auto h = ReadPayment(
      "<MerchantCode>M1</MerchantCode><StoreCode>S1</StoreCode><TillCode>T1</TillCode>"
      "<Reference>R-9</Reference><ReceiptSubType>sub</ReceiptSubType><Amount>12.50</Amount>"
      "<Currency>EUR</Currency><TipAmount>1.5</TipAmount><RequestTipAmount>true</RequestTipAmount>"
      "<Attributes>pid-123</Attributes><MaxAmount>99.99</MaxAmount><MaxItems>7</MaxItems>"
      "<TokenizeCard>1</TokenizeCard><TokenReference>tok</TokenReference>"
      "<PrintLocation>EFT</PrintLocation><ReceiptColCount>48</ReceiptColCount>"
      "<PaymentChannel>MVP</PaymentChannel><Action>REFUND</Action><Phase>COMMIT</Phase>"
      "<OperatorId>op</OperatorId><ReceiptId>rc-1</ReceiptId>"
      "<RefundReference><PaymentId>pay-1</PaymentId>"
      "<PaymentDateTime>2024-03-05T14:07:09</PaymentDateTime></RefundReference>");
  const kPaymentReceipt& p = h->PaymentReceipt();
  EXPECT_EQ(h->DeviceHandle(), 1);
  EXPECT_EQ(p.MerchantCode(), u"M1");
  EXPECT_EQ(p.StoreCode(), u"S1");
  EXPECT_EQ(p.TillCode(), u"T1");
  EXPECT_EQ(p.Reference(), u"R-9");
  EXPECT_EQ(p.ReceiptSubType(), u"sub");
  EXPECT_EQ(p.Amount(), Currency::FromCents(1250));
  EXPECT_EQ(p.Currency(), u"EUR");
  EXPECT_EQ(p.TipAmount(), Currency::FromCents(150));
  EXPECT_TRUE(p.RequestTipAmount());
  EXPECT_EQ(p.Attributes(), u"pid-123");
  EXPECT_EQ(p.MaxAmount(), Currency::FromCents(9999));
  EXPECT_EQ(p.MaxItems(), 7);
  EXPECT_TRUE(p.TokenizeCard());
  EXPECT_EQ(p.TokenReference(), u"tok");
  EXPECT_EQ(p.PrintLocation(), QvPrintLocation::pl_EFT);
  EXPECT_EQ(p.ReceiptColCount(), 48);
  EXPECT_EQ(p.PaymentChannel(), QvPaymentChannel::pc_MealVoucherProvider);
  EXPECT_EQ(p.Action(), qvPaymentAction::Refund);
  EXPECT_EQ(p.Phase(), qvPaymentPhase::Commit);
  EXPECT_EQ(p.OperatorId(), u"op");
  EXPECT_EQ(p.ReceiptId(), u"rc-1");
  EXPECT_EQ(p.RefundReference().PaymentNumber, u"pay-1");
  EXPECT_DOUBLE_EQ(p.RefundReference().PaymentDateTime,
                   *TryEncodeDateTime(2024, 3, 5, 14, 7, 9, 0));
}

TEST(PaymentHandlerTest, EmptySectionKeepsDefaults) {
  for (const char* inner : {"", "<Action/><Phase></Phase><PrintLocation/><PaymentChannel/>"}) {
    const auto h = ReadPayment(inner);
    const kPaymentReceipt& p = h->PaymentReceipt();
    EXPECT_EQ(p.Action(), qvPaymentAction::Pay) << inner;
    EXPECT_EQ(p.Phase(), qvPaymentPhase::None) << inner;
    EXPECT_EQ(p.PrintLocation(), QvPrintLocation::pl_ECR) << inner;
    EXPECT_EQ(p.PaymentChannel(), QvPaymentChannel::pc_Standard) << inner;
    EXPECT_EQ(p.ReceiptColCount(), 32) << inner;
    EXPECT_EQ(p.Amount(), Currency()) << inner;
    EXPECT_FALSE(p.RequestTipAmount()) << inner;
    EXPECT_FALSE(p.TokenizeCard()) << inner;
    EXPECT_EQ(p.RefundReference().PaymentNumber, u"") << inner;
    EXPECT_EQ(p.RefundReference().PaymentDateTime, 0.0) << inner;
  }
}

TEST(PaymentHandlerTest, KeywordElements) {
  struct Case {
    const char* element;
    const char* text;
    int ordinal;              // expected member, or -1 for the message
    const char16_t* message;  // expected failure
  };
  const Case kCases[] = {
      {"Action", "PAY", 0, nullptr},
      {"Action", "REFUND", 1, nullptr},
      {"Action", "VOID", 2, nullptr},
      {"Action", "refund", -1, u"Action refund invalid. Allowed values are: PAY,REFUND."},
      {"Action", " PAY", -1, u"Action  PAY invalid. Allowed values are: PAY,REFUND."},
      {"Phase", "NONE", 0, nullptr},
      {"Phase", "BEGIN", 1, nullptr},
      {"Phase", "DO", 2, nullptr},
      {"Phase", "COMMIT", 3, nullptr},
      {"Phase", "ROLLBACK", 4, nullptr},
      {"Phase", "Do", -1, u"Phase Do invalid. Allowed values are: BEGIN,DO,COMMIT,ROLLBACK."},
      {"PrintLocation", "ECR", 0, nullptr},
      {"PrintLocation", "EFT", 1, nullptr},
      {"PrintLocation", "ecr", -1, u"Payment Location ecr invalid. Allowed values are: ECR,EFT."},
      {"PaymentChannel", "STD", 0, nullptr},
      {"PaymentChannel", "MVP", 1, nullptr},
      {"PaymentChannel", "NHS", 2, nullptr},
      {"PaymentChannel", "XX%s", -1,
       u"Payment Channel XX%s invalid. Allowed values are: STD,MVP,NHS."},
  };
  for (const Case& c : kCases) {
    const std::string inner =
        std::string("<") + c.element + ">" + c.text + "</" + c.element + ">";
    const std::string label = inner;
    if (c.ordinal < 0) {
      EXPECT_EQ(PaymentError(inner), c.message) << label;
      continue;
    }
    const auto h = ReadPayment(inner);
    const kPaymentReceipt& p = h->PaymentReceipt();
    const std::string element = c.element;
    const int got = element == "Action"          ? static_cast<int>(p.Action())
                    : element == "Phase"         ? static_cast<int>(p.Phase())
                    : element == "PrintLocation" ? static_cast<int>(p.PrintLocation())
                                                 : static_cast<int>(p.PaymentChannel());
    EXPECT_EQ(got, c.ordinal) << label;
  }
}

TEST(PaymentHandlerTest, ReceiptColCountOnlyTakesPositiveValues) {
  const std::pair<const char*, int32_t> kCases[] = {
      {"<ReceiptColCount>48</ReceiptColCount>", 48}, {"<ReceiptColCount>1</ReceiptColCount>", 1},
      {"<ReceiptColCount>0</ReceiptColCount>", 32},  {"<ReceiptColCount>-5</ReceiptColCount>", 32},
      {"<ReceiptColCount/>", 32},                    {"", 32}};
  for (const auto& [inner, columns] : kCases) {
    EXPECT_EQ(ReadPayment(inner)->PaymentReceipt().ReceiptColCount(), columns) << inner;
  }
}

TEST(PaymentHandlerTest, ValueFailuresAndReadingOrder) {
  EXPECT_EQ(PaymentError("<Amount>12,50</Amount>"),
            u"Error in processing node Amount as currency.\r\n'12,50' is not a valid floating "
            u"point value");
  EXPECT_EQ(PaymentError("<RequestTipAmount/>"),
            u"Error in processing node RequestTipAmount as boolean.\r\n'' is not a valid boolean "
            u"value");
  EXPECT_EQ(PaymentError("<RefundReference><PaymentDateTime>2024-02-30T00:00:00"
                         "</PaymentDateTime></RefundReference>"),
            u"Error in processing node PaymentDateTime as datetime.\r\nDateTime Format invalid: "
            u"[2024-02-30T00:00:00]");
  // Elements are read in a fixed order, not in document order: the first failing one in
  // that order names the error.
  EXPECT_EQ(PaymentError("<Action>x</Action><MaxItems>y</MaxItems><Amount>z</Amount>"),
            u"Error in processing node Amount as currency.\r\n'z' is not a valid floating point "
            u"value");
  EXPECT_EQ(PaymentError("<Phase>x</Phase><Action>y</Action><PrintLocation>z</PrintLocation>"),
            u"Payment Location z invalid. Allowed values are: ECR,EFT.");
  // What was read before the failure stays.
  kPaymentHandler h;
  EXPECT_NE(ErrorOf([&] {
              h.Deserialize(Request("<Payment><Reference>R</Reference><Amount>bad</Amount>"
                                    "<ReceiptId>late</ReceiptId></Payment>"),
                            {T::dt_Pay});
            }),
            u"<no error>");
  EXPECT_EQ(h.PaymentReceipt().Reference(), u"R");
  EXPECT_EQ(h.PaymentReceipt().ReceiptId(), u"");
}

TEST(PaymentHandlerTest, RefundReferenceSubSection) {
  const auto only_id =
      ReadPayment("<RefundReference><PaymentId>p-7</PaymentId></RefundReference>");
  EXPECT_EQ(only_id->PaymentReceipt().RefundReference().PaymentNumber, u"p-7");
  EXPECT_EQ(only_id->PaymentReceipt().RefundReference().PaymentDateTime, 0.0);
  // Elements of the sub-section are not read from the section itself.
  const auto outside = ReadPayment("<PaymentId>p-8</PaymentId>");
  EXPECT_EQ(outside->PaymentReceipt().RefundReference().PaymentNumber, u"");
}

TEST(PaymentHandlerTest, SectionChosenByDocumentTypes) {
  struct Case {
    const char* name;
    qvPaymentHandlerDocumentTypes types;
    std::string sections;
    const char16_t* reference;  // of the section read, or the failure
  };
  const std::string payment = "<Payment><Reference>payment</Reference></Payment>";
  const std::string reprint = "<Reprint><Reference>reprint</Reference></Reprint>";
  const std::string verify = "<VerifyTran><Reference>verify</Reference></VerifyTran>";
  const std::string day_close = "<DayClose><Reference>dayclose</Reference></DayClose>";
  const std::string totals = "<GetTotals><Reference>totals</Reference></GetTotals>";
  const std::string broken = "<Payment><Amount>x</Amount><Action>y</Action></Payment>";
  const Case kCases[] = {
      {"pay from reprint", {T::dt_Pay}, reprint + day_close, u"reprint"},
      {"payment before verify", {T::dt_Pay}, verify + payment, u"payment"},
      {"verify reads payment", {T::dt_VerifyTran}, payment + verify, u"payment"},
      {"reprint reads verify", {T::dt_PayReprint}, verify, u"verify"},
      {"no payment section", {T::dt_Pay}, day_close, u"Payment/Reprint/VerifyTran node not found"},
      {"day close", {T::dt_DayClose}, payment + day_close + totals, u"dayclose"},
      {"no day close", {T::dt_DayClose}, totals, u"DayClose node not found"},
      {"totals", {T::dt_GetTotals}, day_close + totals, u"totals"},
      {"no totals", {T::dt_GetTotals}, payment, u"GetTotals node not found"},
      {"payment wins over day close", {T::dt_DayClose, T::dt_Pay}, payment, u"payment"},
      {"day close wins over totals", {T::dt_GetTotals, T::dt_DayClose}, day_close, u"dayclose"},
      {"open reads none", {T::dt_Open}, broken, u""},
      {"close reads none", {}, broken, u""},
  };
  for (const Case& c : kCases) {
    kPaymentHandler h;
    const std::u16string error = ErrorOf([&] { h.Deserialize(Request(c.sections), c.types); });
    if (error != u"<no error>") {
      EXPECT_EQ(error, c.reference) << c.name;
      continue;
    }
    const std::u16string read = h.PaymentReceipt().Reference() + h.DayClose().Reference() +
                                h.Totals().Reference();
    EXPECT_EQ(read, c.reference) << c.name;
  }
}

TEST(PaymentHandlerTest, DayCloseAndTotalsSections) {
  kPaymentHandler day_close;
  day_close.Deserialize(Request("<DayClose><StoreCode>S</StoreCode><TillCode>T</TillCode>"
                                "<PrintLocation>EFT</PrintLocation><Reference>R</Reference>"
                                "</DayClose>"),
                        {T::dt_DayClose});
  EXPECT_EQ(day_close.DayClose().StoreCode(), u"S");
  EXPECT_EQ(day_close.DayClose().TillCode(), u"T");
  EXPECT_EQ(day_close.DayClose().PrintLocation(), QvPrintLocation::pl_EFT);
  EXPECT_EQ(day_close.DayClose().Reference(), u"R");

  kPaymentHandler totals;
  totals.Deserialize(Request("<GetTotals><StoreCode>S2</StoreCode></GetTotals>"),
                     {T::dt_GetTotals});
  EXPECT_EQ(totals.Totals().StoreCode(), u"S2");
  EXPECT_EQ(totals.Totals().PrintLocation(), QvPrintLocation::pl_ECR);

  for (const auto& [section, type] : {std::pair{"DayClose", T::dt_DayClose},
                                      std::pair{"GetTotals", T::dt_GetTotals}}) {
    kPaymentHandler h;
    const std::string xml = std::string("<") + section + "><PrintLocation>ecr</PrintLocation></" +
                            section + ">";
    EXPECT_EQ(ErrorOf([&] { h.Deserialize(Request(xml), {type}); }),
              u"Payment Location ecr invalid. Allowed values are: ECR,EFT.")
        << section;
  }
}

TEST(PaymentHandlerTest, DevicePartFailsFirst) {
  kPaymentHandler h;
  EXPECT_EQ(ErrorOf([&] {
              h.Deserialize(u"<r><Connection/><Payment><Amount>x</Amount></Payment></r>",
                            {T::dt_Pay});
            }),
            u"Connection Type  is not valid");
  EXPECT_EQ(ErrorOf([&] { h.Deserialize(u"", {T::dt_Pay}); }),
            u"XML parse error: no element found at offset 0");
}

}  // namespace
}  // namespace qvpa
