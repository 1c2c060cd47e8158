#include "request/xml_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvpa {
namespace {

// The tree in one line: element name(attributes)[children], "text", C"cdata", !comment,
// ?target:data; children in document order. Walks without recursion.
std::string Dump(XmlNode aNode) {
  std::string out;
  std::vector<XmlNode> closing;  // elements whose "]" is still to be written
  XmlNode node = aNode;
  while (node) {
    switch (node.Type()) {
      case XmlNodeType::Element:
        out.append(node.Name());
        if (const auto a = node.Attribute("a")) out.append("(a=").append(*a).append(")");
        out.append("[");
        break;
      case XmlNodeType::Text:
        out.append("\"").append(node.Value()).append("\"");
        break;
      case XmlNodeType::CData:
        out.append("C\"").append(node.Value()).append("\"");
        break;
      case XmlNodeType::Comment:
        out.append("!").append(node.Value());
        break;
      case XmlNodeType::ProcessingInstruction:
        out.append("?").append(node.Name()).append(":").append(node.Value());
        break;
      case XmlNodeType::Document:
        break;
    }
    if (node.FirstChild()) {
      if (node.Type() == XmlNodeType::Element) closing.push_back(node);
      node = node.FirstChild();
      continue;
    }
    if (node.Type() == XmlNodeType::Element) out.append("]");
    while (!node.NextSibling() && !closing.empty() && node.Parent() == closing.back()) {
      node = closing.back();
      closing.pop_back();
      out.append("]");
      if (node == aNode) return out;
    }
    if (node == aNode) return out;
    node = node.NextSibling();
    if (node) out.append(" ");
  }
  return out;
}

TEST(XmlParserTest, TreeOfWellFormedDocuments) {
  struct Case {
    const char* xml;
    const char* tree;
  } cases[] = {
      // Blank text between elements is layout and is dropped; other text stays as written.
      {"<r>\n  <a> x </a>\n  <b>\t</b>\n</r>", "r[a[\" x \"] b[]]"},
      {"<r>a&amp;b&#x20AC;&lt;</r>", "r[\"a&b\xE2\x82\xAC<\"]"},
      {"<r>\r\n1\r2</r>", "r[\"\n1\n2\"]"},  // line ends normalised
      // CDATA, comments and processing instructions are nodes of their own.
      {"<r><![CDATA[ <x> ]]></r>", "r[C\" <x> \"]"},
      {"<r><![CDATA[]]></r>", "r[C\"\"]"},
      {"<r>a<!--c-->b</r>", "r[\"a\" !c \"b\"]"},
      {"<r> <?pi some data?>5</r>", "r[?pi:some data \"5\"]"},
      // Names keep their prefix; attributes by qualified name.
      {"<p:r xmlns:p='urn:p' a='1'><p:x/><y xmlns='urn:d'/></p:r>", "p:r(a=1)[p:x[] y[]]"},
      {"<r a='x&#10;y'/>", "r(a=x\ny)[]"},
  };
  for (const Case& c : cases) {
    const XmlParseResult result = ParseXml(c.xml);
    ASSERT_TRUE(result.document) << c.xml << ": " << result.description;
    EXPECT_EQ(Dump(result.document->DocumentElement()), c.tree) << c.xml;
  }
}

TEST(XmlParserTest, CommentsAndInstructionsAroundTheRoot) {
  const XmlParseResult result = ParseXml("<?xml version='1.0'?><!--a--><r/><?p d?>");
  ASSERT_TRUE(result.document);
  const XmlNode document = result.document->Document();
  EXPECT_EQ(document.FirstChild().Type(), XmlNodeType::Comment);
  EXPECT_EQ(result.document->DocumentElement().Name(), "r");
  EXPECT_EQ(result.document->DocumentElement().NextSibling().Name(), "p");
}

TEST(XmlParserTest, FailuresCarryTheReasonAndTheByteOffset) {
  struct Case {
    const char* xml;
    const char* description;
    size_t offset;
  } cases[] = {
      {"", "no element found", 0},
      {"<r>\xE2\x82\xAC</s>", "mismatched tag", 8},
      {"<r/><r/>", "junk after document element", 4},
      {"<!DOCTYPE r><r/>", "document type declarations are not accepted", 11},
      {"<?xml version='1.1x'?><r/>", "unsupported XML version", 0},
      {"<r>\xFF</r>", "not well-formed (invalid token)", 3},
  };
  for (const Case& c : cases) {
    const XmlParseResult result = ParseXml(c.xml);
    EXPECT_FALSE(result.document) << c.xml;
    EXPECT_EQ(result.description, c.description) << c.xml;
    EXPECT_EQ(result.byte_offset, c.offset) << c.xml;
  }
}

}  // namespace
}  // namespace qvpa
