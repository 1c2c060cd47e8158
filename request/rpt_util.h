// krptUtil: typed reads of the child elements of a parsed request element, with one set of
// rules for missing and empty elements and one node-error text, plus small XML and text helpers.
// Every operation is static; failures throw EQVError.
#ifndef QVPA_REQUEST_RPT_UTIL_H_
#define QVPA_REQUEST_RPT_UTIL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "base/currency.h"
#include "base/date_time.h"

namespace qvpa {

class krptUtil {
 public:
  krptUtil() = delete;

  // The first direct element child whose name, or name without namespace prefix, equals
  // aNodeName exactly; an empty node when there is none. Grandchildren are never searched.
  static pugi::xml_node FindChild(pugi::xml_node aParentNode, std::u16string_view aNodeName);

  // Value text of the child; empty when the child is missing.
  static std::u16string GetNodeValueAsString(pugi::xml_node aParentNode,
                                             std::u16string_view aNodeName);
  // Value text of aElement itself; a failure is reported as the node error under aNodeName.
  static std::u16string GetElementValueAsString(pugi::xml_node aElement,
                                                std::u16string_view aNodeName);
  // 0 when missing or empty; decimal, or hexadecimal after "$", "x", "0x".
  static int32_t GetNodeValueAsInteger(pugi::xml_node aParentNode, std::u16string_view aNodeName);
  // 0 when missing or empty; "." as decimal separator, rounded to four decimals.
  static qvpa::Currency GetNodeValueAsCurrency(pugi::xml_node aParentNode,
                                               std::u16string_view aNodeName);
  // aDefaultValue when missing; an empty element fails.
  static bool GetNodeValueAsBoolean(pugi::xml_node aParentNode, std::u16string_view aNodeName,
                                    bool aDefaultValue);
  // 0 when missing; fixed-position yyyy-mm-ddThh:nn:ss[.zzz]; an empty element fails.
  static TDateTime GetNodeValueAsDateTime(pugi::xml_node aParentNode,
                                          std::u16string_view aNodeName);
  // As GetNodeValueAsDateTime, but 0 instead of any failure.
  static TDateTime TryGetNodeValueAsDateTime(pugi::xml_node aParentNode,
                                             std::u16string_view aNodeName) noexcept;

  static bool HasNode(pugi::xml_node aParentNode, std::u16string_view aNodeName);
  // The attribute's text; empty when the attribute is absent.
  static std::u16string GetAttributeValueAsString(pugi::xml_node aNode,
                                                  std::u16string_view aAttrName);
  // Appends a child element carrying aNodeValue as its text and returns it.
  static pugi::xml_node AddNode(pugi::xml_node aParentNode, std::u16string_view aNodeName,
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
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_RPT_UTIL_H_
