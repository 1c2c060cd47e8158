#include "request/device_handler.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "base/error.h"
#include "base/text.h"
#include "io/io_handler.h"
#include "io/io_handler_factory.h"
#include "request/rpt_util.h"
#include "request/xml_parser.h"

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

std::unique_ptr<XmlDocument> Parse(const std::u16string& aXml) {
  CheckRequestText(aXml);
  const std::string utf8 = ToUtf8(aXml);
  XmlParseResult result = ParseXml(utf8);
  if (!result.document) {
    // The parser counts bytes of UTF-8; the host counts characters of its text.
    const std::u16string before =
        FromUtf8(std::string_view(utf8).substr(0, std::min(result.byte_offset, utf8.size())));
    throw EQVError(u"XML parse error: " + FromUtf8(result.description) + u" at offset " +
                   IntToStr(static_cast<int64_t>(before.size())));
  }
  return std::move(result.document);
}

}  // namespace

kDeviceHandler::kDeviceHandler() = default;
kDeviceHandler::~kDeviceHandler() = default;

std::unique_ptr<XmlDocument> kDeviceHandler::Deserialize(const std::u16string& aXml) {
  std::unique_ptr<XmlDocument> document = Parse(aXml);
  const XmlNode root = document->DocumentElement();
  fDriver = krptUtil::GetNodeValueAsString(root, u"Driver");
  fMethod = krptUtil::GetNodeValueAsString(root, u"Method");
  fDeviceHandle = krptUtil::GetNodeValueAsInteger(root, u"Handle");
  fLogId = krptUtil::GetNodeValueAsString(root, u"LogId");
  if (const XmlNode connection = krptUtil::FindChild(root, u"Connection")) {
    ReadConnection(connection);
  }
  if (const XmlNode parameters = krptUtil::FindChild(root, u"Parameters")) {
    ReadParameters(parameters);
  }
  if (ParameterExists(u"DeviceName")) fConnection.SetDeviceName(GetParameter(u"DeviceName"));
  if (ParameterExists(u"ConnectTimeout")) {
    fConnection.SetConnectTimeOut(krptUtil::StrToInt(GetParameter(u"ConnectTimeout")));
  }
  return document;
}

void kDeviceHandler::ReadConnection(XmlNode aConnection) {
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

void kDeviceHandler::ReadParameters(XmlNode aParameters) {
  // Every line carries the text of the first child bearing its name. The first child
  // matching a name (by full or by local name) is remembered per name, so that a request
  // with very many parameters is read in one pass instead of one search per parameter.
  std::unordered_map<std::string_view, size_t> first_by_name;
  std::unordered_map<std::string_view, size_t> first_by_local_name;
  std::vector<XmlNode> children;
  for (XmlNode child = aParameters.FirstChild(); child; child = child.NextSibling()) {
    if (child.Type() != XmlNodeType::Element) continue;
    const std::string_view name = child.Name();
    const size_t colon = name.find(':');
    first_by_name.try_emplace(name, children.size());
    first_by_local_name.try_emplace(
        colon == std::string_view::npos ? name : name.substr(colon + 1), children.size());
    children.push_back(child);
  }
  std::vector<std::u16string> values(children.size());
  std::vector<bool> value_read(children.size(), false);
  for (const XmlNode child : children) {
    const std::string_view name = child.Name();
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
