#include "request/device_handler.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "base/error.h"
#include "base/text.h"
#include "io/io_handler.h"
#include "io/io_handler_factory.h"
#include "request/rpt_util.h"

namespace qvpa {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Refuses texts that cannot be a request: oversized ones, and those holding a null
// character or a broken surrogate pair, which would otherwise be cut or silently replaced.
void CheckRequestText(const std::u16string& aXml) {
  if (aXml.size() > kDeviceHandler::kMaxRequestLength) {
    throw EQVError(u"Request too large: " + IntToStr(static_cast<int64_t>(aXml.size())) +
                   u" characters, at most " +
                   IntToStr(static_cast<int64_t>(kDeviceHandler::kMaxRequestLength)) +
                   u" are accepted");
  }
  for (size_t i = 0; i < aXml.size(); ++i) {
    const char16_t c = aXml[i];
    if (c == 0) {
      throw EQVError(u"Request contains a null character at offset " +
                     IntToStr(static_cast<int64_t>(i)));
    }
    if (IsHighSurrogate(c) && i + 1 < aXml.size() && IsLowSurrogate(aXml[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      throw EQVError(u"Request contains an unpaired UTF-16 surrogate at offset " +
                     IntToStr(static_cast<int64_t>(i)));
    }
  }
}

bool IsXmlCharacter(uint32_t aCode) {
  return aCode == 0x9 || aCode == 0xA || aCode == 0xD || (aCode >= 0x20 && aCode <= 0xD7FF) ||
         (aCode >= 0xE000 && aCode <= 0xFFFD) || (aCode >= 0x10000 && aCode <= 0x10FFFF);
}

// Character references to code points that XML does not allow (&#0;, a surrogate, beyond
// U+10FFFF): the parser would cut the text at a null or store broken UTF-8. CDATA sections,
// comments and processing instructions hold no references and are skipped.
void CheckCharacterReferences(std::u16string_view aXml) {
  size_t i = 0;
  const auto skip_to = [&](std::u16string_view aEnd) {
    const size_t end = aXml.find(aEnd, i);
    i = end == std::u16string_view::npos ? aXml.size() : end + aEnd.size();
  };
  while (i < aXml.size()) {
    const std::u16string_view rest = aXml.substr(i);
    if (rest.starts_with(u"<![CDATA[")) {
      skip_to(u"]]>");
    } else if (rest.starts_with(u"<!--")) {
      skip_to(u"-->");
    } else if (rest.starts_with(u"<?")) {
      skip_to(u"?>");
    } else if (rest.starts_with(u"&#")) {
      const size_t start = i;
      size_t j = 2;
      const bool hex = j < rest.size() && rest[j] == u'x';
      if (hex) ++j;
      uint32_t code = 0;
      size_t digits = 0;
      for (; j < rest.size() && rest[j] != u';'; ++j, ++digits) {
        const char16_t c = rest[j];
        uint32_t digit;
        if (c >= u'0' && c <= u'9') {
          digit = c - u'0';
        } else if (hex && c >= u'a' && c <= u'f') {
          digit = c - u'a' + 10;
        } else if (hex && c >= u'A' && c <= u'F') {
          digit = c - u'A' + 10;
        } else {
          break;
        }
        code = std::min<uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
      }
      if (digits > 0 && j < rest.size() && rest[j] == u';' && !IsXmlCharacter(code)) {
        throw EQVError(u"XML parse error: Invalid character reference at offset " +
                       IntToStr(static_cast<int64_t>(start)));
      }
      i += j;
    } else {
      ++i;
    }
  }
}

std::unique_ptr<pugi::xml_document> Parse(const std::u16string& aXml) {
  CheckRequestText(aXml);
  CheckCharacterReferences(aXml);
  const std::string utf8 = ToUtf8(aXml);
  auto document = std::make_unique<pugi::xml_document>();
  const pugi::xml_parse_result result =
      document->load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
  // The parser counts bytes of UTF-8; the host counts characters of its text.
  const auto character_offset = [&utf8](ptrdiff_t aByteOffset) {
    const size_t bytes =
        std::min(utf8.size(), static_cast<size_t>(std::max<ptrdiff_t>(aByteOffset, 0)));
    const std::u16string before = FromUtf8(std::string_view(utf8).substr(0, bytes));
    return IntToStr(static_cast<int64_t>(before.size()));
  };
  if (!result) {
    throw EQVError(u"XML parse error: " + FromAscii(result.description()) + u" at offset " +
                   character_offset(result.offset));
  }
  // The parser accepts several top-level elements; a document has exactly one.
  const pugi::xml_node root = document->document_element();
  for (pugi::xml_node next = root.next_sibling(); next; next = next.next_sibling()) {
    if (next.type() == pugi::node_element) {
      // offset_debug() points at the name, one past the "<".
      throw EQVError(u"XML parse error: More than one document element at offset " +
                     character_offset(next.offset_debug() - 1));
    }
  }
  return document;
}

}  // namespace

kDeviceHandler::kDeviceHandler() = default;
kDeviceHandler::~kDeviceHandler() = default;

std::unique_ptr<pugi::xml_document> kDeviceHandler::Deserialize(const std::u16string& aXml) {
  std::unique_ptr<pugi::xml_document> document = Parse(aXml);
  const pugi::xml_node root = document->document_element();
  fDriver = krptUtil::GetNodeValueAsString(root, u"Driver");
  fMethod = krptUtil::GetNodeValueAsString(root, u"Method");
  fDeviceHandle = krptUtil::GetNodeValueAsInteger(root, u"Handle");
  fLogId = krptUtil::GetNodeValueAsString(root, u"LogId");
  if (const pugi::xml_node connection = krptUtil::FindChild(root, u"Connection")) {
    ReadConnection(connection);
  }
  if (const pugi::xml_node parameters = krptUtil::FindChild(root, u"Parameters")) {
    ReadParameters(parameters);
  }
  if (ParameterExists(u"DeviceName")) fConnection.SetDeviceName(GetParameter(u"DeviceName"));
  if (ParameterExists(u"ConnectTimeout")) {
    fConnection.SetConnectTimeOut(krptUtil::StrToInt(GetParameter(u"ConnectTimeout")));
  }
  return document;
}

void kDeviceHandler::ReadConnection(pugi::xml_node aConnection) {
  using U = krptUtil;
  fConnection.SetConnectionType(
      kConnection::ConvertConnectionType(U::GetNodeValueAsString(aConnection, u"Type")));
  fConnection.SetConnectTimeOut(U::GetNodeValueAsInteger(aConnection, u"ConnectTimeout"));
  fConnection.SetReadTimeOut(U::GetNodeValueAsInteger(aConnection, u"ReadTimeout"));

  const auto read_http = [&] {
    fConnection.SetURL(U::GetNodeValueAsString(aConnection, u"URL"));
    fConnection.SetAuthType(
        kConnection::ConvertAuthType(U::GetNodeValueAsString(aConnection, u"AuthType")));
    fConnection.SetUser(U::GetNodeValueAsString(aConnection, u"User"));
    fConnection.SetPassword(U::GetNodeValueAsString(aConnection, u"Password"));
  };
  switch (fConnection.ConnectionType()) {
    case qvConnectionType::OPOS:
      fConnection.SetDeviceName(U::GetNodeValueAsString(aConnection, u"DeviceName"));
      break;
    case qvConnectionType::TCP:
    case qvConnectionType::HTTP:
      fConnection.SetAddress(U::GetNodeValueAsString(aConnection, u"Address"));
      fConnection.SetPort(U::GetNodeValueAsInteger(aConnection, u"Port"));
      read_http();
      break;
    case qvConnectionType::Serial:
      fConnection.SetSerialPort(U::GetNodeValueAsString(aConnection, u"SerialPort"));
      fConnection.SetSpeed(U::GetNodeValueAsInteger(aConnection, u"Speed"));
      fConnection.SetDataBits(U::GetNodeValueAsInteger(aConnection, u"DataBits"));
      fConnection.SetParity(
          kConnection::ConvertParity(U::GetNodeValueAsString(aConnection, u"Parity")));
      fConnection.SetStopBits(U::GetNodeValueAsInteger(aConnection, u"StopBits"));
      read_http();
      break;
    case qvConnectionType::DLL:
      fConnection.SetLibraryName(U::GetNodeValueAsString(aConnection, u"LibraryName"));
      break;
    case qvConnectionType::Com:
      break;
    case qvConnectionType::Spool:
      fConnection.SetPrinterName(U::GetNodeValueAsString(aConnection, u"PrinterName"));
      break;
  }
}

void kDeviceHandler::ReadParameters(pugi::xml_node aParameters) {
  // Every line carries the text of the first child bearing its name. The first child
  // matching a name (by full or by local name) is remembered per name, so that a request
  // with very many parameters is read in one pass instead of one search per parameter.
  std::unordered_map<std::string_view, size_t> first_by_name;
  std::unordered_map<std::string_view, size_t> first_by_local_name;
  std::vector<pugi::xml_node> children;
  for (pugi::xml_node child = aParameters.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = child.name();
    const size_t colon = name.find(':');
    first_by_name.try_emplace(name, children.size());
    first_by_local_name.try_emplace(
        colon == std::string_view::npos ? name : name.substr(colon + 1), children.size());
    children.push_back(child);
  }
  std::vector<std::u16string> values(children.size());
  std::vector<bool> value_read(children.size(), false);
  for (const pugi::xml_node child : children) {
    const std::string_view name = child.name();
    size_t source = first_by_name.at(name);
    if (const auto local = first_by_local_name.find(name); local != first_by_local_name.end()) {
      source = std::min(source, local->second);
    }
    const std::u16string wide_name = FromUtf8(name);
    if (!value_read[source]) {
      values[source] = krptUtil::GetElementValueAsString(children[source], wide_name);
      value_read[source] = true;
    }
    fParameters.push_back(LowerCase(wide_name) + u"=" + values[source]);
  }
}

std::ptrdiff_t kDeviceHandler::FindParameter(std::u16string_view aName) const {
  const std::u16string wanted = LowerCase(aName);
  for (size_t i = 0; i < fParameters.size(); ++i) {
    const std::u16string_view line = fParameters[i];
    if (SameText(line.substr(0, line.find(u'=')), wanted)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::u16string kDeviceHandler::GetParameter(std::u16string_view aName) const {
  const std::ptrdiff_t index = FindParameter(aName);
  if (index < 0) return {};
  const std::u16string& line = fParameters[static_cast<size_t>(index)];
  return line.substr(line.find(u'=') + 1);
}

bool kDeviceHandler::ParameterExists(std::u16string_view aName) const {
  return FindParameter(aName) >= 0;
}

std::unique_ptr<kIOHandler> kDeviceHandler::CreateIOHandler(const std::u16string& aLogDir) const {
  std::unique_ptr<kIOHandler> handler =
      qvpa::CreateIOHandler(fConnection, aLogDir, fDriver + u"_" + fLogId);
  handler->SetHexLog(LowerCase(GetParameter(u"HexLog")) == u"true");
  return handler;
}

}  // namespace qvpa
