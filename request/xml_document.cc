#include "request/xml_document.h"

#include <algorithm>

namespace qvpa {

XmlDocument::XmlDocument() { fNodes.emplace_back(); }

XmlNode XmlDocument::Document() const {
  return XmlNode(const_cast<XmlDocument*>(this), kDocumentIndex);
}

XmlNode XmlDocument::DocumentElement() const {
  for (XmlNode child = Document().FirstChild(); child; child = child.NextSibling()) {
    if (child.Type() == XmlNodeType::Element) return child;
  }
  return {};
}

XmlDocument::Span XmlDocument::Store(std::string_view aText) {
  const Span span{static_cast<uint32_t>(fText.size()), static_cast<uint32_t>(aText.size())};
  fText.append(aText);
  fTextRunStart = fText.size();
  return span;
}

uint32_t XmlDocument::Link(uint32_t aParent, Node aNode) {
  const auto index = static_cast<uint32_t>(fNodes.size());
  aNode.parent = aParent;
  fNodes.push_back(aNode);
  Node& parent = fNodes[aParent];
  if (parent.last_child == 0) {
    parent.first_child = index;
  } else {
    fNodes[parent.last_child].next_sibling = index;
  }
  parent.last_child = index;
  return index;
}

uint32_t XmlDocument::AddNode(uint32_t aParent, XmlNodeType aType, std::string_view aName,
                              std::string_view aValue) {
  Node node;
  node.type = aType;
  node.name = Store(aName);
  node.value = Store(aValue);
  node.first_attribute = static_cast<uint32_t>(fAttributes.size());
  return Link(aParent, node);
}

void XmlDocument::AddAttribute(std::string_view aName, std::string_view aValue) {
  const Span name = Store(aName);
  const Span value = Store(aValue);
  fAttributes.push_back({name, value});
  ++fNodes.back().attribute_count;
}

void XmlDocument::EndText(uint32_t aParent, XmlNodeType aType) {
  const std::string_view run = std::string_view(fText).substr(fTextRunStart);
  const bool blank = std::all_of(run.begin(), run.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
  });
  if (aType == XmlNodeType::Text && blank) {
    fText.resize(fTextRunStart);
    return;
  }
  Node node;
  node.type = aType;
  node.value = Span{static_cast<uint32_t>(fTextRunStart), static_cast<uint32_t>(run.size())};
  fTextRunStart = fText.size();
  Link(aParent, node);
}

XmlNodeType XmlNode::Type() const {
  return fDocument != nullptr ? fDocument->fNodes[fIndex].type : XmlNodeType::Document;
}

std::string_view XmlNode::Name() const {
  return fDocument != nullptr ? fDocument->View(fDocument->fNodes[fIndex].name) : std::string_view();
}

std::string_view XmlNode::Value() const {
  return fDocument != nullptr ? fDocument->View(fDocument->fNodes[fIndex].value)
                              : std::string_view();
}

XmlNode XmlNode::FirstChild() const {
  if (fDocument == nullptr) return {};
  const uint32_t child = fDocument->fNodes[fIndex].first_child;
  return child != 0 ? XmlNode(fDocument, child) : XmlNode();
}

XmlNode XmlNode::NextSibling() const {
  if (fDocument == nullptr) return {};
  const uint32_t next = fDocument->fNodes[fIndex].next_sibling;
  return next != 0 ? XmlNode(fDocument, next) : XmlNode();
}

XmlNode XmlNode::Parent() const {
  if (fDocument == nullptr || fIndex == XmlDocument::kDocumentIndex) return {};
  return XmlNode(fDocument, fDocument->fNodes[fIndex].parent);
}

std::optional<std::string_view> XmlNode::Attribute(std::string_view aName) const {
  if (fDocument == nullptr) return std::nullopt;
  const XmlDocument::Node& node = fDocument->fNodes[fIndex];
  for (uint32_t i = 0; i < node.attribute_count; ++i) {
    const XmlDocument::AttributeSpan& attribute = fDocument->fAttributes[node.first_attribute + i];
    if (fDocument->View(attribute.name) == aName) return fDocument->View(attribute.value);
  }
  return std::nullopt;
}

XmlNode XmlNode::AppendElement(std::string_view aName, std::string_view aText) {
  if (fDocument == nullptr || Type() != XmlNodeType::Element) return {};
  const uint32_t element = fDocument->AddNode(fIndex, XmlNodeType::Element, aName, {});
  if (!aText.empty()) fDocument->AddNode(element, XmlNodeType::Text, {}, aText);
  return XmlNode(fDocument, element);
}

}  // namespace qvpa
