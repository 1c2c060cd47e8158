#include "request/rpt_util.h"

#include <string>

#include "base/error.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {
namespace {

// "Error in processing node <name> as <type>." CR LF <reason>; the name is inserted as is.
EQVError NodeError(std::u16string_view aNodeName, std::u16string_view aTypeWord,
                   std::u16string_view aReason) {
  std::u16string message = u"Error in processing node ";
  message.append(aNodeName).append(u" as ").append(aTypeWord).append(u".\r\n").append(aReason);
  return EQVError(std::move(message));
}

std::u16string Quoted(std::u16string_view aText, std::u16string_view aTail) {
  std::u16string reason = u"'";
  reason.append(aText).append(u"'").append(aTail);
  return reason;
}

// The text of a lone text or CDATA child; empty without children. Anything else (a child
// element, several nodes) throws the node error with aTypeWord.
std::u16string ValueText(XmlNode aElement, std::u16string_view aNodeName,
                         std::u16string_view aTypeWord) {
  const XmlNode first = aElement.FirstChild();
  if (!first) return {};
  const bool is_text =
      first.Type() == XmlNodeType::Text || first.Type() == XmlNodeType::CData;
  if (is_text && !first.NextSibling()) return FromUtf8(first.Value());
  throw NodeError(aNodeName, aTypeWord,
                  u"Element \"" + FromUtf8(aElement.Name()) +
                      u"\" does not contain a single text node");
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Whether the text reads as a decimal number (blanks around it, sign, digits with "."
// and an optional exponent); *aNonZero tells whether any digit of the mantissa is not 0.
bool ReadsAsNumber(std::u16string_view aText, bool* aNonZero) {
  size_t i = 0;
  size_t n = aText.size();
  while (i < n && aText[i] == u' ') ++i;
  while (n > i && aText[n - 1] == u' ') --n;
  if (i < n && (aText[i] == u'+' || aText[i] == u'-')) ++i;
  bool digits = false;
  bool non_zero = false;
  bool point = false;
  for (; i < n; ++i) {
    const char16_t c = aText[i];
    if (IsDigit(c)) {
      digits = true;
      non_zero = non_zero || c != u'0';
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return false;
  if (i < n && (aText[i] == u'e' || aText[i] == u'E')) {
    ++i;
    if (i < n && (aText[i] == u'+' || aText[i] == u'-')) ++i;
    if (i == n || !IsDigit(aText[i])) return false;
    while (i < n && IsDigit(aText[i])) ++i;
  }
  if (i != n) return false;
  *aNonZero = non_zero;
  return true;
}

std::string_view LocalName(std::string_view aName) {
  const size_t colon = aName.find(':');
  return colon == std::string_view::npos ? aName : aName.substr(colon + 1);
}

}  // namespace

XmlNode krptUtil::FindChild(XmlNode aParentNode, std::u16string_view aNodeName) {
  const std::string name = ToUtf8(aNodeName);
  for (XmlNode child = aParentNode.FirstChild(); child; child = child.NextSibling()) {
    if (child.Type() != XmlNodeType::Element) continue;
    const std::string_view child_name = child.Name();
    if (child_name == name || LocalName(child_name) == name) return child;
  }
  return {};
}

std::u16string krptUtil::GetNodeValueAsString(XmlNode aParentNode,
                                              std::u16string_view aNodeName) {
  const XmlNode node = FindChild(aParentNode, aNodeName);
  if (!node) return {};
  return ValueText(node, aNodeName, u"string");
}

std::u16string krptUtil::GetElementValueAsString(XmlNode aElement,
                                                 std::u16string_view aNodeName) {
  return ValueText(aElement, aNodeName, u"string");
}

int32_t krptUtil::GetNodeValueAsInteger(XmlNode aParentNode,
                                        std::u16string_view aNodeName) {
  const XmlNode node = FindChild(aParentNode, aNodeName);
  if (!node) return 0;
  const std::u16string text = ValueText(node, aNodeName, u"integer");
  if (text.empty()) return 0;
  const std::optional<int32_t> value = TryStrToInt(text);
  if (!value) {
    throw NodeError(aNodeName, u"integer", Quoted(text, u" is not a valid integer value"));
  }
  return *value;
}

qvpa::Currency krptUtil::GetNodeValueAsCurrency(XmlNode aParentNode,
                                                std::u16string_view aNodeName) {
  const XmlNode node = FindChild(aParentNode, aNodeName);
  if (!node) return {};
  const std::u16string text = ValueText(node, aNodeName, u"currency");
  if (text.empty()) return {};
  const std::optional<qvpa::Currency> value = qvpa::Currency::Parse(text);
  if (!value) {
    throw NodeError(aNodeName, u"currency", Quoted(text, u" is not a valid floating point value"));
  }
  return *value;
}

bool krptUtil::GetNodeValueAsBoolean(XmlNode aParentNode, std::u16string_view aNodeName,
                                     bool aDefaultValue) {
  const XmlNode node = FindChild(aParentNode, aNodeName);
  if (!node) return aDefaultValue;
  const std::u16string text = ValueText(node, aNodeName, u"boolean");
  bool non_zero = false;
  if (ReadsAsNumber(text, &non_zero)) return non_zero;
  if (SameText(text, u"true")) return true;
  if (SameText(text, u"false")) return false;
  throw NodeError(aNodeName, u"boolean", Quoted(text, u" is not a valid boolean value"));
}

TDateTime krptUtil::GetNodeValueAsDateTime(XmlNode aParentNode,
                                           std::u16string_view aNodeName) {
  const XmlNode node = FindChild(aParentNode, aNodeName);
  if (!node) return 0;
  const std::u16string text = ValueText(node, aNodeName, u"datetime");
  try {
    return ISOToDateTime(text);
  } catch (const EQVError& e) {
    throw NodeError(aNodeName, u"datetime", e.Message());
  }
}

TDateTime krptUtil::TryGetNodeValueAsDateTime(XmlNode aParentNode,
                                              std::u16string_view aNodeName) noexcept {
  try {
    return GetNodeValueAsDateTime(aParentNode, aNodeName);
  } catch (...) {
    return 0;
  }
}

bool krptUtil::HasNode(XmlNode aParentNode, std::u16string_view aNodeName) {
  return static_cast<bool>(FindChild(aParentNode, aNodeName));
}

std::u16string krptUtil::GetAttributeValueAsString(XmlNode aNode,
                                                   std::u16string_view aAttrName) {
  const std::optional<std::string_view> value = aNode.Attribute(ToUtf8(aAttrName));
  return value ? FromUtf8(*value) : std::u16string();
}

XmlNode krptUtil::AddNode(XmlNode aParentNode, std::u16string_view aNodeName,
                                 std::u16string_view aNodeValue) {
  const XmlNode node = aParentNode.AppendElement(ToUtf8(aNodeName), ToUtf8(aNodeValue));
  if (!node) {
    throw EQVError(u"Cannot add node " + std::u16string(aNodeName) +
                   u": the parent is not an element");
  }
  return node;
}

std::u16string krptUtil::NormalizeText(std::u16string_view aText) {
  std::u16string text(aText);
  for (char16_t& c : text) {
    switch (c) {
      case u'\u00C0': c = u'A'; break;  // À
      case u'\u00D9': c = u'U'; break;  // Ù
      case u'\u00C8':                   // È
      case u'\u00C9':                   // É
      case u'\u20AC': c = u'E'; break;  // €
      case u'\u00D2':                   // Ò
      case u'\u00D6': c = u'O'; break;  // Ö
      case u'\u00C7': c = u'C'; break;  // Ç
      case u'\u00CF':                   // Ï
      case u'\u00CC': c = u'I'; break;  // Ì
      default: break;
    }
  }
  text = ReplaceAll(text, u"TOTALE", u"TOT.");
  for (char16_t& c : text) {
    if (c < 32 || c > 127) c = u' ';
  }
  return text;
}

std::optional<int32_t> krptUtil::TryStrToInt(std::u16string_view aText) {
  int32_t value = 0;
  if (!qvpa::TryStrToInt(aText, value)) return std::nullopt;
  return value;
}

int32_t krptUtil::StrToInt(std::u16string_view aText) {
  const std::optional<int32_t> value = TryStrToInt(aText);
  if (!value) throw EQVError(Quoted(aText, u" is not a valid integer value"));
  return *value;
}

}  // namespace qvpa
