// XmlDocument: the node tree of a parsed request, and XmlNode, a light handle to one of its
// nodes. Nodes live in flat arrays of the document, linked by index, so neither building nor
// destroying a deeply nested tree recurses. Names and texts are UTF-8 as the parser delivered
// them. A handle is valid while its document lives; an empty handle reads as nothing (no name,
// no children) and converts to false.
#ifndef QVPA_REQUEST_XML_DOCUMENT_H_
#define QVPA_REQUEST_XML_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa {

enum class XmlNodeType : uint8_t {
  Document,
  Element,
  Text,                   // character data outside CDATA sections
  CData,                  // the content of one CDATA section
  Comment,
  ProcessingInstruction,  // name: the target; value: the data
};

class XmlDocument;

class XmlNode {
 public:
  XmlNode() = default;

  explicit operator bool() const { return fDocument != nullptr; }
  XmlNodeType Type() const;
  // Qualified name of an element (prefix:local as written), target of a processing
  // instruction; empty for other nodes.
  std::string_view Name() const;
  // Text of a text, CDATA, comment or processing-instruction node; empty for others.
  std::string_view Value() const;
  XmlNode FirstChild() const;
  XmlNode NextSibling() const;
  XmlNode Parent() const;
  // Value of the attribute with this qualified name; empty when absent.
  std::optional<std::string_view> Attribute(std::string_view aName) const;

  // Appends a child element (a text child when aText is not empty) and returns it; an empty
  // handle when this node is not an element.
  XmlNode AppendElement(std::string_view aName, std::string_view aText);

  friend bool operator==(const XmlNode&, const XmlNode&) = default;

 private:
  friend class XmlDocument;
  XmlNode(XmlDocument* aDocument, uint32_t aIndex) : fDocument(aDocument), fIndex(aIndex) {}

  XmlDocument* fDocument = nullptr;
  uint32_t fIndex = 0;
};

class XmlDocument {
 public:
  XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The document node: parent of the root element and of comments and processing
  // instructions around it. Handles from a const document may still append (AddNode).
  XmlNode Document() const;
  // The root element; empty while there is none.
  XmlNode DocumentElement() const;

  // Building, in document order. Text lands in one store: AppendText adds to the open run,
  // which EndText turns into a node (or drops, see there).
  uint32_t AddNode(uint32_t aParent, XmlNodeType aType, std::string_view aName,
                   std::string_view aValue);
  // Attributes belong to the element added last.
  void AddAttribute(std::string_view aName, std::string_view aValue);
  void AppendText(std::string_view aText) { fText.append(aText); }
  // Ends the open text run as a node of aType under aParent. A Text run of blanks, tabs and
  // line ends only is dropped, as blank text between elements is layout, not value.
  void EndText(uint32_t aParent, XmlNodeType aType);
  uint32_t ParentOf(uint32_t aIndex) const { return fNodes[aIndex].parent; }
  static constexpr uint32_t kDocumentIndex = 0;

 private:
  friend class XmlNode;
  struct Span {
    uint32_t begin = 0;
    uint32_t size = 0;
  };
  struct Node {
    XmlNodeType type = XmlNodeType::Document;
    uint32_t parent = 0;
    uint32_t first_child = 0;  // 0: none (the document node is nobody's child)
    uint32_t last_child = 0;
    uint32_t next_sibling = 0;
    Span name;
    Span value;
    uint32_t first_attribute = 0;
    uint32_t attribute_count = 0;
  };
  struct AttributeSpan {
    Span name;
    Span value;
  };

  Span Store(std::string_view aText);
  std::string_view View(Span aSpan) const { return std::string_view(fText).substr(aSpan.begin, aSpan.size); }
  uint32_t Link(uint32_t aParent, Node aNode);

  std::vector<Node> fNodes;
  std::vector<AttributeSpan> fAttributes;
  std::string fText;       // every name and text, back to back
  size_t fTextRunStart = 0;  // where the open text run begins in fText
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_XML_DOCUMENT_H_
