#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "request/rpt_util.h"

namespace qvpa {
namespace {

// Every member of each enumeration encodes to a text that decodes back to it, in any case.
TEST(ReceiptCodecsTest, EncodedTextsDecodeBack) {
  for (int i = 1; i < 4; ++i) {
    const auto v = static_cast<qvReceiptMessageLineAlignment>(i);
    EXPECT_EQ(krptUtil::DecodeAlignment(UpperCase(krptUtil::EncodeAlignment(v))), v) << i;
  }
  for (int i = 0; i < 8; ++i) {
    const auto b = static_cast<qvReceiptMessageBarcodeType>(i);
    EXPECT_EQ(krptUtil::DecodeBarcodeType(krptUtil::EncodeBarcodeType(b)), b) << i;
    const auto e = static_cast<qvReceiptMessageLineEffect>(i);
    EXPECT_EQ(krptUtil::DecodeEffect(krptUtil::EncodeEffect(e)), e) << i;
  }
  for (int i = 0; i < 18; ++i) {
    const auto v = static_cast<qvReceiptLineType>(i);
    EXPECT_EQ(krptUtil::DecodeLineType(krptUtil::EncodeLineType(v)), v) << i;
  }
  for (int i = 0; i < 12; ++i) {
    const auto v = static_cast<qvReceiptPaymentType>(i);
    EXPECT_EQ(krptUtil::DecodePaymentType(krptUtil::EncodePaymentType(v)), v) << i;
  }
  for (int i = 0; i < 5; ++i) {
    const auto v = static_cast<qvReceiptType>(i);
    EXPECT_EQ(krptUtil::DecodeReceiptType(krptUtil::EncodeReceiptType(v)), v) << i;
  }
  for (int i = 0; i < 4; ++i) {
    const auto v = static_cast<qvReceiptReferenceType>(i);
    EXPECT_EQ(krptUtil::DecodeReferenceType(krptUtil::EncodeReferenceType(v)), v) << i;
  }
  for (int i = 0; i < 2; ++i) {
    const auto s = static_cast<qvReceiptMessageImageSource>(i);
    EXPECT_EQ(krptUtil::DecodeImageSource(krptUtil::EncodeImageSource(s)), s) << i;
    const auto t = static_cast<qvReceiptTaxType>(i);
    EXPECT_EQ(krptUtil::DecodeTaxType(krptUtil::EncodeTaxType(t)), t) << i;
  }
}

TEST(ReceiptCodecsTest, FixedTexts) {
  EXPECT_EQ(krptUtil::EncodeReceiptType(qvReceiptType::rt_Refund), u"Refund");
  EXPECT_EQ(krptUtil::EncodeReceiptType(qvReceiptType::rt_InvoiceSaleFromReceipt),
            u"InvoiceSaleFromReceipt");
  EXPECT_EQ(krptUtil::EncodeAlignment(qvReceiptMessageLineAlignment::la_none), u"");
  EXPECT_EQ(krptUtil::EncodeReferenceType(qvReceiptReferenceType::rrt_EFTReceipt), u"EFTReceipt");
  EXPECT_EQ(krptUtil::EncodeTaxType(qvReceiptTaxType::tt_SalesTax), u"SalesTax");
  EXPECT_EQ(krptUtil::EncodePaymentType(qvReceiptPaymentType::Rpt_NHSCard), u"nhscard");
  EXPECT_EQ(krptUtil::EncodeLineType(static_cast<qvReceiptLineType>(200)), u"");
  EXPECT_EQ(krptUtil::DecodeBarcodeType(u"QRCode"), qvReceiptMessageBarcodeType::bt_QRCODE);
  EXPECT_EQ(krptUtil::DecodeEJReportType(u"CreditNote"), qvEJReportType::ejrt_CreditNote);
  EXPECT_EQ(krptUtil::DecodeEJReportType(u"invoice"), qvEJReportType::ejrt_Invoice);
  EXPECT_EQ(krptUtil::DecodeEJReportDestination(u"Memory"), qvEJReportDestination::rd_Memory);
  EXPECT_EQ(krptUtil::DecodeEJRequestType(u"XML"), qvEJFilesRequestType::ej_xml);
}

TEST(ReceiptCodecsTest, UnknownTexts) {
  struct Case {
    std::function<void()> call;
    const char16_t* message;
  };
  const Case kCases[] = {
      {[] { krptUtil::DecodeAlignment(u"Top"); }, u"Alignment top is invalid"},
      {[] { krptUtil::DecodeAlignment(u""); }, u"Alignment  is invalid"},
      {[] { krptUtil::DecodeBarcodeType(u"qr code"); }, u"BarcodeType qr code is invalid"},
      {[] { krptUtil::DecodeLineType(u"Sale"); }, u"LineType sale is invalid"},
      {[] { krptUtil::DecodePaymentType(u"%s%d"); }, u"PaymentType %s%d is invalid"},
      {[] { krptUtil::DecodeReceiptType(u" sale"); }, u"ReceiptType  sale is invalid"},
      {[] { krptUtil::DecodeEffect(u"Blink"); }, u"Effect blink is invalid"},
      {[] { krptUtil::DecodeImageSource(u"web"); }, u"Image Source web is invalid"},
      {[] { krptUtil::DecodeEJReportDestination(u"disk"); }, u"ReportDestination disk is invalid"},
      {[] { krptUtil::DecodeEJReportType(u"x"); }, u"ReportType x is invalid"},
      {[] { krptUtil::DecodeEJRequestType(u"json"); }, u"ReferenceType json is invalid"},
      {[] { krptUtil::DecodeTaxType(u"gst"); }, u"TaxType gst is invalid"},
  };
  for (const Case& c : kCases) EXPECT_EQ(ErrorOf(c.call), c.message);

  for (const char16_t* text : {u"originalreceipt", u"", u"nonsense"}) {
    EXPECT_EQ(krptUtil::DecodeReferenceType(text), qvReceiptReferenceType::rrt_OriginalReceipt);
  }
  EXPECT_EQ(krptUtil::DecodeReferenceType(u"NotAvailable"),
            qvReceiptReferenceType::rrt_NotAvailable);
  EXPECT_EQ(krptUtil::DecodeLineAttribute(u"Product"), qvReceiptLineAttribute::rla_Product);
  for (const char16_t* text : {u"service", u"", u"products"}) {
    EXPECT_EQ(krptUtil::DecodeLineAttribute(text), qvReceiptLineAttribute::rla_Service);
  }
}

TEST(ReceiptCodecsTest, EffectSets) {
  using E = qvReceiptMessageLineEffect;
  const auto set = [](std::initializer_list<E> effects) {
    qvReceiptMessageLineEffectSet s;
    for (E e : effects) s.Include(e);
    return s;
  };
  struct Case {
    const char16_t* text;
    qvReceiptMessageLineEffectSet effects;
  };
  const Case kCases[] = {
      {u"bold,italic", set({E::le_bold, E::le_italic})},
      {u"bold,,italic", set({E::le_bold})},
      {u",bold", set({})},
      {u"", set({})},
      {u"Condensed,BOLD,bold,", set({E::le_bold, E::le_condensed})},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(krptUtil::DecodeEffects(c.text), c.effects) << ToUtf8(c.text);
  }
  EXPECT_EQ(ErrorOf([] { krptUtil::DecodeEffects(u"bold, italic"); }),
            u"Effect  italic is invalid");
  EXPECT_EQ(krptUtil::EncodeEffects(set({E::le_underline, E::le_bold})), u"bold,underline");
  EXPECT_EQ(krptUtil::EncodeEffects(set({})), u"");
}

}  // namespace
}  // namespace qvpa
