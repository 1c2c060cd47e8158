// krptUtil: typed reads of the child elements of a parsed request element, with one set of
// rules for missing and empty elements and one node-error text, plus small XML and text helpers.
// Every operation is static; failures throw EQVError.
#ifndef QVPA_REQUEST_RPT_UTIL_H_
#define QVPA_REQUEST_RPT_UTIL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/currency.h"
#include "base/date_time.h"
#include "request/receipt_defs.h"
#include "request/xml_document.h"

namespace qvpa {

class krptUtil {
 public:
  krptUtil() = delete;

  // The first direct element child whose name, or name without namespace prefix, equals
  // aNodeName exactly; an empty node when there is none. Grandchildren are never searched.
  static XmlNode FindChild(XmlNode aParentNode, std::u16string_view aNodeName);

  // Value text of the child; empty when the child is missing.
  static std::u16string GetNodeValueAsString(XmlNode aParentNode,
                                             std::u16string_view aNodeName);
  // Value text of aElement itself; a failure is reported as the node error under aNodeName.
  static std::u16string GetElementValueAsString(XmlNode aElement,
                                                std::u16string_view aNodeName);
  // 0 when missing or empty; decimal, or hexadecimal after "$", "x", "0x".
  static int32_t GetNodeValueAsInteger(XmlNode aParentNode, std::u16string_view aNodeName);
  // 0 when missing or empty; "." as decimal separator, rounded to four decimals.
  static qvpa::Currency GetNodeValueAsCurrency(XmlNode aParentNode,
                                               std::u16string_view aNodeName);
  // aDefaultValue when missing; an empty element fails.
  static bool GetNodeValueAsBoolean(XmlNode aParentNode, std::u16string_view aNodeName,
                                    bool aDefaultValue);
  // 0 when missing; fixed-position yyyy-mm-ddThh:nn:ss[.zzz]; an empty element fails.
  static TDateTime GetNodeValueAsDateTime(XmlNode aParentNode,
                                          std::u16string_view aNodeName);
  // As GetNodeValueAsDateTime, but 0 instead of any failure.
  static TDateTime TryGetNodeValueAsDateTime(XmlNode aParentNode,
                                             std::u16string_view aNodeName) noexcept;

  static bool HasNode(XmlNode aParentNode, std::u16string_view aNodeName);
  // The attribute's text; empty when the attribute is absent.
  static std::u16string GetAttributeValueAsString(XmlNode aNode,
                                                  std::u16string_view aAttrName);
  // Appends a child element carrying aNodeValue as its text and returns it.
  static XmlNode AddNode(XmlNode aParentNode, std::u16string_view aNodeName,
                                std::u16string_view aNodeValue);
  // Maps a few accented capitals and the euro sign to ASCII, shortens "TOTALE" to "TOT."
  // and blanks every remaining character outside 32..127.
  static std::u16string NormalizeText(std::u16string_view aText);

  // Integer text conversion shared by the accessors: leading blanks, optional sign, decimal
  // digits or hexadecimal digits after "$", "x", "X", "0x", "0X"; nothing after the digits;
  // 32-bit signed range. Empty when the text does not convert.
  static std::optional<int32_t> TryStrToInt(std::u16string_view aText);
  // As TryStrToInt; throws EQVError "'<text>' is not a valid integer value".
  static int32_t StrToInt(std::u16string_view aText);

  // Receipt vocabulary codecs. Decoders lower-case their argument (no trimming) and match it
  // exactly; without a match they throw EQVError naming the lower-cased text, except
  // DecodeReferenceType and DecodeLineAttribute, which fall back to a default member.
  static qvReceiptMessageLineAlignment DecodeAlignment(std::u16string_view aAlignment);
  static std::u16string EncodeAlignment(qvReceiptMessageLineAlignment aValue);
  static qvReceiptMessageBarcodeType DecodeBarcodeType(std::u16string_view aBarcodeType);
  static std::u16string EncodeBarcodeType(qvReceiptMessageBarcodeType aValue);
  static qvReceiptLineType DecodeLineType(std::u16string_view aLineType);
  static std::u16string EncodeLineType(qvReceiptLineType aValue);
  static qvReceiptPaymentType DecodePaymentType(std::u16string_view aPaymentType);
  static std::u16string EncodePaymentType(qvReceiptPaymentType aValue);
  static qvReceiptType DecodeReceiptType(std::u16string_view aReceiptType);
  static std::u16string EncodeReceiptType(qvReceiptType aValue);
  static qvReceiptReferenceType DecodeReferenceType(std::u16string_view aReferenceType);
  static std::u16string EncodeReferenceType(qvReceiptReferenceType aValue);
  static qvReceiptMessageLineEffect DecodeEffect(std::u16string_view aEffect);
  static std::u16string EncodeEffect(qvReceiptMessageLineEffect aValue);
  // Comma-separated effects; the first empty field ends the list.
  static qvReceiptMessageLineEffectSet DecodeEffects(std::u16string_view aEffects);
  // Members present in ordinal order, joined with ",".
  static std::u16string EncodeEffects(qvReceiptMessageLineEffectSet aEffects);
  static qvReceiptMessageImageSource DecodeImageSource(std::u16string_view aSource);
  static std::u16string EncodeImageSource(qvReceiptMessageImageSource aValue);
  static qvEJReportDestination DecodeEJReportDestination(std::u16string_view aReportDestination);
  static qvEJReportType DecodeEJReportType(std::u16string_view aReportType);
  static qvEJFilesRequestType DecodeEJRequestType(std::u16string_view aReferenceType);
  static qvReceiptTaxType DecodeTaxType(std::u16string_view aTaxType);
  static std::u16string EncodeTaxType(qvReceiptTaxType aValue);
  static qvReceiptLineAttribute DecodeLineAttribute(std::u16string_view aAttribute);
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_RPT_UTIL_H_
