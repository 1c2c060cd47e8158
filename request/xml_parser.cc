// The only place that talks to expat.
#include "request/xml_parser.h"

#include <expat.h>

#include <climits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace qvpa {
namespace {

// Separates namespace, local name and prefix in the names expat reports. U+0001 cannot
// occur in an XML 1.0 document, not even through a character reference.
constexpr char kSeparator = '\x01';

struct ParserDeleter {
  void operator()(XML_Parser aParser) const { XML_ParserFree(aParser); }
};
using ParserPtr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

// "uri<sep>local<sep>prefix", "uri<sep>local" or "local" back to the name as written. The
// parser has already refused names that are not namespace-well-formed (two colons and such).
std::string QualifiedName(std::string_view aReported) {
  const size_t first = aReported.find(kSeparator);
  if (first == std::string_view::npos) return std::string(aReported);
  const std::string_view rest = aReported.substr(first + 1);
  const size_t second = rest.find(kSeparator);
  if (second == std::string_view::npos) return std::string(rest);
  std::string name(rest.substr(second + 1));
  name.append(1, ':').append(rest.substr(0, second));
  return name;
}

class TreeBuilder {
 public:
  explicit TreeBuilder(XML_Parser aParser) : fParser(aParser) {
    XML_SetUserData(aParser, this);
    XML_SetElementHandler(aParser, &TreeBuilder::OnStart, &TreeBuilder::OnEnd);
    XML_SetCharacterDataHandler(aParser, &TreeBuilder::OnText);
    XML_SetCdataSectionHandler(aParser, &TreeBuilder::OnCDataStart, &TreeBuilder::OnCDataEnd);
    XML_SetCommentHandler(aParser, &TreeBuilder::OnComment);
    XML_SetProcessingInstructionHandler(aParser, &TreeBuilder::OnInstruction);
    XML_SetStartDoctypeDeclHandler(aParser, &TreeBuilder::OnDoctype);
    XML_SetXmlDeclHandler(aParser, &TreeBuilder::OnDeclaration);
  }

  std::unique_ptr<XmlDocument> TakeDocument() { return std::move(fDocument); }
  // Set when a handler stopped the parser; expat then only says "aborted".
  const char* Refusal() const { return fRefusal; }
  size_t RefusalOffset() const { return fRefusalOffset; }

 private:
  static TreeBuilder& Of(void* aUserData) { return *static_cast<TreeBuilder*>(aUserData); }

  // Runs a handler's work on the builder; nothing may unwind through the parser's C frames.
  template <typename Work>
  static void Safely(void* aUserData, Work aWork) {
    TreeBuilder& self = Of(aUserData);
    try {
      aWork(self);
    } catch (...) {
      self.Refuse("out of memory");
    }
  }

  void Refuse(const char* aReason) noexcept {
    if (fRefusal != nullptr) return;
    fRefusal = aReason;
    const XML_Index index = XML_GetCurrentByteIndex(fParser);
    fRefusalOffset = index < 0 ? 0 : static_cast<size_t>(index);
    XML_StopParser(fParser, XML_FALSE);
  }

  void EndText() {
    if (fInCData) return;
    fDocument->EndText(fCurrent, XmlNodeType::Text);
  }

  static void XMLCALL OnStart(void* aData, const XML_Char* aName, const XML_Char** aAttributes) {
    Safely(aData, [&](TreeBuilder& self) {
      self.EndText();
      self.fCurrent =
          self.fDocument->AddNode(self.fCurrent, XmlNodeType::Element, QualifiedName(aName), {});
      for (const XML_Char** a = aAttributes; *a != nullptr; a += 2) {
        self.fDocument->AddAttribute(QualifiedName(a[0]), a[1]);
      }
    });
  }

  static void XMLCALL OnEnd(void* aData, const XML_Char*) {
    Safely(aData, [](TreeBuilder& self) {
      self.EndText();
      self.fCurrent = self.fDocument->ParentOf(self.fCurrent);
    });
  }

  static void XMLCALL OnText(void* aData, const XML_Char* aText, int aLength) {
    Safely(aData, [&](TreeBuilder& self) {
      self.fDocument->AppendText(std::string_view(aText, static_cast<size_t>(aLength)));
    });
  }

  static void XMLCALL OnCDataStart(void* aData) {
    Safely(aData, [](TreeBuilder& self) {
      self.EndText();
      self.fInCData = true;
    });
  }

  static void XMLCALL OnCDataEnd(void* aData) {
    Safely(aData, [](TreeBuilder& self) {
      self.fInCData = false;
      self.fDocument->EndText(self.fCurrent, XmlNodeType::CData);
    });
  }

  static void XMLCALL OnComment(void* aData, const XML_Char* aText) {
    Safely(aData, [&](TreeBuilder& self) {
      self.EndText();
      self.fDocument->AddNode(self.fCurrent, XmlNodeType::Comment, {}, aText);
    });
  }

  static void XMLCALL OnInstruction(void* aData, const XML_Char* aTarget, const XML_Char* aText) {
    Safely(aData, [&](TreeBuilder& self) {
      self.EndText();
      self.fDocument->AddNode(self.fCurrent, XmlNodeType::ProcessingInstruction, aTarget, aText);
    });
  }

  static void XMLCALL OnDoctype(void* aData, const XML_Char*, const XML_Char*, const XML_Char*,
                                int) {
    Of(aData).Refuse("document type declarations are not accepted");
  }

  // The parser takes any version text; XML 1.0 allows "1." and digits only.
  static void XMLCALL OnDeclaration(void* aData, const XML_Char* aVersion, const XML_Char*,
                                    int) {
    if (aVersion == nullptr) return;  // a text declaration has none
    const std::string_view version = aVersion;
    const bool digits = version.size() > 2 && version.find_first_not_of("0123456789", 2) ==
                                                  std::string_view::npos;
    if (!version.starts_with("1.") || !digits) Of(aData).Refuse("unsupported XML version");
  }

  XML_Parser fParser;
  std::unique_ptr<XmlDocument> fDocument = std::make_unique<XmlDocument>();
  uint32_t fCurrent = XmlDocument::kDocumentIndex;
  bool fInCData = false;
  const char* fRefusal = nullptr;
  size_t fRefusalOffset = 0;
};

}  // namespace

XmlParseResult ParseXml(std::string_view aUtf8) {
  XmlParseResult result;
  const ParserPtr parser(XML_ParserCreateNS("UTF-8", kSeparator));
  if (!parser) {
    result.description = "out of memory";
    return result;
  }
  XML_SetReturnNSTriplet(parser.get(), 1);
  TreeBuilder builder(parser.get());
  if (aUtf8.size() > static_cast<size_t>(INT_MAX)) {
    result.description = "document too large";
    return result;
  }
  if (XML_Parse(parser.get(), aUtf8.data(), static_cast<int>(aUtf8.size()), XML_TRUE) ==
      XML_STATUS_OK) {
    result.document = builder.TakeDocument();
    return result;
  }
  if (builder.Refusal() != nullptr) {
    result.description = builder.Refusal();
    result.byte_offset = builder.RefusalOffset();
    return result;
  }
  result.description = XML_ErrorString(XML_GetErrorCode(parser.get()));
  const XML_Index index = XML_GetCurrentByteIndex(parser.get());
  result.byte_offset = index < 0 ? 0 : static_cast<size_t>(index);
  return result;
}

}  // namespace qvpa
