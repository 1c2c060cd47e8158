// krptUtil: the receipt vocabulary codecs.
#include <span>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "request/rpt_util.h"

namespace qvpa {
namespace {

using Texts = std::span<const std::u16string_view>;


// Texts of the members by ordinal; an empty text is a member without one.
using Text = std::u16string_view;
constexpr Text kAlignments[] = {u"", u"right", u"center", u"left"};
constexpr Text kBarcodeTypes[] = {u"ean13", u"ean8", u"code39", u"code128",
                                  u"qrcode", u"upca", u"upce", u"interleaved2of5"};
constexpr Text kLineTypes[] = {
    u"productsale", u"productreturn", u"weightedproductsale", u"vouchersale",
    u"voucherredeem", u"giftcardsale", u"giftcardredeem", u"subtotal", u"text",
    u"discountamount", u"discountpercentage", u"discountamountonsubtotal",
    u"discountpercentageonsubtotal", u"markupamount", u"markuppercentage",
    u"markupamountonsubtotal", u"markuppercentageonsubtotal", u"collectamount"};
constexpr Text kPaymentTypes[] = {
    u"cash", u"cheque", u"creditcard", u"debitcard", u"credit", u"creditonproducts",
    u"creditonservices", u"giftcard", u"voucher", u"mealvoucher", u"nhscard", u"change"};
constexpr Text kReceiptTypes[] = {u"Sale", u"Refund", u"Void", u"InvoiceSale",
                                  u"InvoiceSaleFromReceipt"};
constexpr Text kReferenceTypes[] = {u"OriginalReceipt", u"EFTReceipt", u"NotAvailable",
                                    u"Empties"};
constexpr Text kEffects[] = {u"bold", u"italic", u"underline", u"doubleheight",
                             u"doublewidth", u"doublesize", u"invertcolors", u"condensed"};
constexpr Text kImageSources[] = {u"resource", u"filesystem"};
constexpr Text kReportDestinations[] = {u"printer", u"memory"};
constexpr Text kReportTypes[] = {u"zreport", u"fiscalreceipt", u"nonfiscalreceipt",
                                 u"creditnote", u"invoice"};
constexpr Text kRequestTypes[] = {u"xml"};
constexpr Text kTaxTypes[] = {u"VAT", u"SalesTax"};
constexpr Text kLineAttributes[] = {u"product", u"service"};

// Ordinal of the member whose text equals the lower-cased argument, or -1.
int Find(Texts aTexts, std::u16string_view aLowered) {
  int ordinal = 0;
  for (std::u16string_view text : aTexts) {
    if (!text.empty() && LowerCase(text) == aLowered) return ordinal;
    ++ordinal;
  }
  return -1;
}

// aFormat holds one "%s", replaced by the lower-cased argument as is.
template <typename Enum>
Enum Decode(Texts aTexts, std::u16string_view aText, std::u16string_view aFormat) {
  const std::u16string lowered = LowerCase(aText);
  const int ordinal = Find(aTexts, lowered);
  if (ordinal >= 0) return static_cast<Enum>(ordinal);
  const size_t at = aFormat.find(u"%s");
  std::u16string message(aFormat.substr(0, at));
  message.append(lowered).append(aFormat.substr(at + 2));
  throw EQVError(std::move(message));
}

template <typename Enum>
Enum DecodeOr(Texts aTexts, std::u16string_view aText, Enum aDefault) {
  const int ordinal = Find(aTexts, LowerCase(aText));
  return ordinal >= 0 ? static_cast<Enum>(ordinal) : aDefault;
}

template <typename Enum>
std::u16string Encode(Texts aTexts, Enum aValue) {
  const size_t ordinal = static_cast<size_t>(aValue);
  return ordinal < aTexts.size() ? std::u16string(aTexts[ordinal]) : std::u16string();
}

}  // namespace

qvReceiptMessageLineAlignment krptUtil::DecodeAlignment(std::u16string_view aAlignment) {
  return Decode<qvReceiptMessageLineAlignment>(kAlignments, aAlignment,
                                               u"Alignment %s is invalid");
}
std::u16string krptUtil::EncodeAlignment(qvReceiptMessageLineAlignment aValue) {
  return Encode(kAlignments, aValue);
}

qvReceiptMessageBarcodeType krptUtil::DecodeBarcodeType(std::u16string_view aBarcodeType) {
  return Decode<qvReceiptMessageBarcodeType>(kBarcodeTypes, aBarcodeType,
                                             u"BarcodeType %s is invalid");
}
std::u16string krptUtil::EncodeBarcodeType(qvReceiptMessageBarcodeType aValue) {
  return Encode(kBarcodeTypes, aValue);
}

qvReceiptLineType krptUtil::DecodeLineType(std::u16string_view aLineType) {
  return Decode<qvReceiptLineType>(kLineTypes, aLineType, u"LineType %s is invalid");
}
std::u16string krptUtil::EncodeLineType(qvReceiptLineType aValue) {
  return Encode(kLineTypes, aValue);
}

qvReceiptPaymentType krptUtil::DecodePaymentType(std::u16string_view aPaymentType) {
  return Decode<qvReceiptPaymentType>(kPaymentTypes, aPaymentType, u"PaymentType %s is invalid");
}
std::u16string krptUtil::EncodePaymentType(qvReceiptPaymentType aValue) {
  return Encode(kPaymentTypes, aValue);
}

qvReceiptType krptUtil::DecodeReceiptType(std::u16string_view aReceiptType) {
  return Decode<qvReceiptType>(kReceiptTypes, aReceiptType, u"ReceiptType %s is invalid");
}
std::u16string krptUtil::EncodeReceiptType(qvReceiptType aValue) {
  return Encode(kReceiptTypes, aValue);
}

qvReceiptReferenceType krptUtil::DecodeReferenceType(std::u16string_view aReferenceType) {
  return DecodeOr(kReferenceTypes, aReferenceType, qvReceiptReferenceType::rrt_OriginalReceipt);
}
std::u16string krptUtil::EncodeReferenceType(qvReceiptReferenceType aValue) {
  return Encode(kReferenceTypes, aValue);
}

qvReceiptMessageLineEffect krptUtil::DecodeEffect(std::u16string_view aEffect) {
  return Decode<qvReceiptMessageLineEffect>(kEffects, aEffect, u"Effect %s is invalid");
}
std::u16string krptUtil::EncodeEffect(qvReceiptMessageLineEffect aValue) {
  return Encode(kEffects, aValue);
}

qvReceiptMessageLineEffectSet krptUtil::DecodeEffects(std::u16string_view aEffects) {
  qvReceiptMessageLineEffectSet effects;
  while (!aEffects.empty()) {
    const size_t comma = aEffects.find(u',');
    const std::u16string_view field = aEffects.substr(0, comma);
    if (field.empty()) break;
    effects.Include(DecodeEffect(field));
    if (comma == std::u16string_view::npos) break;
    aEffects.remove_prefix(comma + 1);
  }
  return effects;
}

std::u16string krptUtil::EncodeEffects(qvReceiptMessageLineEffectSet aEffects) {
  std::u16string text;
  for (size_t ordinal = 0; ordinal < std::size(kEffects); ++ordinal) {
    const auto effect = static_cast<qvReceiptMessageLineEffect>(ordinal);
    if (!aEffects.Contains(effect)) continue;
    if (!text.empty()) text += u',';
    text += EncodeEffect(effect);
  }
  return text;
}

qvReceiptMessageImageSource krptUtil::DecodeImageSource(std::u16string_view aSource) {
  return Decode<qvReceiptMessageImageSource>(kImageSources, aSource,
                                             u"Image Source %s is invalid");
}
std::u16string krptUtil::EncodeImageSource(qvReceiptMessageImageSource aValue) {
  return Encode(kImageSources, aValue);
}

qvEJReportDestination krptUtil::DecodeEJReportDestination(
    std::u16string_view aReportDestination) {
  return Decode<qvEJReportDestination>(kReportDestinations, aReportDestination,
                                       u"ReportDestination %s is invalid");
}

qvEJReportType krptUtil::DecodeEJReportType(std::u16string_view aReportType) {
  return Decode<qvEJReportType>(kReportTypes, aReportType, u"ReportType %s is invalid");
}

qvEJFilesRequestType krptUtil::DecodeEJRequestType(std::u16string_view aReferenceType) {
  return Decode<qvEJFilesRequestType>(kRequestTypes, aReferenceType,
                                      u"ReferenceType %s is invalid");
}

qvReceiptTaxType krptUtil::DecodeTaxType(std::u16string_view aTaxType) {
  return Decode<qvReceiptTaxType>(kTaxTypes, aTaxType, u"TaxType %s is invalid");
}
std::u16string krptUtil::EncodeTaxType(qvReceiptTaxType aValue) {
  return Encode(kTaxTypes, aValue);
}

qvReceiptLineAttribute krptUtil::DecodeLineAttribute(std::u16string_view aAttribute) {
  return DecodeOr(kLineAttributes, aAttribute, qvReceiptLineAttribute::rla_Service);
}

}  // namespace qvpa
