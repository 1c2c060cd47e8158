// ParseXml: reads one XML document into an XmlDocument with a conforming parser. Every
// well-formedness and namespace well-formedness error fails; so do document type
// declarations, which no request needs and which would open entity expansion and
// references to outside files. Comments and processing instructions become nodes.
#ifndef QVPA_REQUEST_XML_PARSER_H_
#define QVPA_REQUEST_XML_PARSER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "request/xml_document.h"

namespace qvpa {

struct XmlParseResult {
  std::unique_ptr<XmlDocument> document;  // null on failure
  std::string description;                // the parser's reason, on failure
  std::size_t byte_offset = 0;            // where in the text the failure was found
};

// aUtf8 is read as UTF-8 whatever its declaration names.
XmlParseResult ParseXml(std::string_view aUtf8);

}  // namespace qvpa

#endif  // QVPA_REQUEST_XML_PARSER_H_
