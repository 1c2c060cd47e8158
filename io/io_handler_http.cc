#include "io/io_handler_http.h"

#include "base/error.h"
#include "base/text.h"
#include "io/header_text.h"
#include "io/http_client.h"

namespace qvpa {

namespace {

// The body as text, by the charset the answer declares: Latin-1 family byte by byte,
// everything else (also no charset) as UTF-8.
std::u16string DecodeBody(const std::string& aBody, const std::string& aContentType) {
  const std::u16string type = LowerCase(FromUtf8(aContentType));
  const size_t at = type.find(u"charset=");
  if (at != std::u16string::npos) {
    std::u16string charset = type.substr(at + 8);
    charset = charset.substr(0, charset.find_first_of(u"; "));
    if (!charset.empty() && charset.front() == u'"') charset = ReplaceAll(charset, u"\"", u"");
    if (charset == u"iso-8859-1" || charset == u"latin1" || charset == u"us-ascii" ||
        charset == u"iso_8859-1" || charset == u"latin-1") {
      std::u16string text;
      text.reserve(aBody.size());
      for (char byte : aBody) text += static_cast<char16_t>(static_cast<unsigned char>(byte));
      return text;
    }
  }
  return FromUtf8(aBody);
}

std::u16string HeaderName(const std::u16string& aLine) {
  return aLine.substr(0, aLine.find(u':'));
}

}  // namespace

kIOHandler_HTTP::kIOHandler_HTTP(const kConnection* aConnection,
                                 const std::u16string& aDirectory,
                                 const std::u16string& aFileName)
    : kIOHandler(aConnection, aDirectory, aFileName),
      fHttpClient(std::make_unique<HttpClient>()) {
  if (aConnection != nullptr) {
    if (!aConnection->URL().empty()) {
      fURL = aConnection->URL();
    } else {
      fURL = aConnection->Address();
      if (aConnection->Port() > 0) fURL += u":" + IntToStr(aConnection->Port());
    }
    fAuthType = aConnection->AuthType();
    fUser = aConnection->User();
    fPassword = aConnection->Password();
  }
  fHttpClient->SetConnectTimeout(ConnectTimeout());
}

// The client (and its connections) goes before the base writes the stop banner.
kIOHandler_HTTP::~kIOHandler_HTTP() { fHttpClient.reset(); }

bool kIOHandler_HTTP::GetConnected() { return fHttpClient->Connected(); }

bool kIOHandler_HTTP::Connect() {
  kIOHandler::Connect();
  Debug(tQV_MessageType::let_info, u"URL=" + fURL);
  fHttpClient->SetConnectTimeout(ConnectTimeout());
  return true;
}

bool kIOHandler_HTTP::Disconnect() {
  fHttpClient->Disconnect();
  return !Connected();
}

bool kIOHandler_HTTP::Write(const std::u16string& aMessage) {
  const std::string body = ToUtf8(aMessage);
  WriteLog(tQV_MessageType::let_info,
           u"Write [" + IntToStr(static_cast<int64_t>(body.size())) + u"]", aMessage);

  switch (fAuthType) {
    case qvHTTPAuthType::at_Basic: fHttpClient->SetAuth(HttpClient::Auth::kBasic); break;
    case qvHTTPAuthType::at_Digest: fHttpClient->SetAuth(HttpClient::Auth::kDigest); break;
    case qvHTTPAuthType::at_None:
    case qvHTTPAuthType::at_Bearer: break;  // as earlier requests left it
  }

  std::vector<std::string> headers;
  headers.reserve(fCustomHeaders.size() + 2);
  for (const std::u16string& line : fCustomHeaders) headers.push_back(ToUtf8(line));
  // An empty content type sends no Content-Type at all (not the client's default).
  headers.push_back("Content-Type:" + (fContentType.empty() ? "" : " " + ToUtf8(fContentType)));
  headers.push_back("Expect:");

  const HttpExchange answer =
      fHttpClient->Send("POST", ToUtf8(fURL), headers, body, ToUtf8(fUser), ToUtf8(fPassword));

  if (answer.completed && answer.status >= 200 && answer.status <= 299) {
    fResponse = DecodeBody(answer.body, answer.content_type);
    fResponseCode = answer.status;
  } else {
    const std::u16string message =
        FromUtf8(answer.completed ? answer.status_line : answer.error);
    WriteLog(tQV_MessageType::let_error, u"Post Error", message);
    const int32_t status = answer.status > 0 ? answer.status : kNoAnswer;
    // A stale body must not pass for the answer to this request.
    fResponse.clear();
    if (status < 200 || status > 299) {
      fResponseCode = status;
      SetCustomError(status, message + u" " + DecodeError(status));
      WriteLog(tQV_MessageType::let_error, u"Post Error",
               IntToStr(fResponseCode) + u" " + DecodeError(fResponseCode));
    } else {
      fResponseCode = 999;
      SetCustomError(999, message);
    }
  }

  WriteLog(tQV_MessageType::let_info, u"Read",
           u"ResponseCode:" + IntToStr(fResponseCode) + u"\r\n" + fResponse);
  return fResponseCode >= 200 && fResponseCode <= 299;
}

std::u16string kIOHandler_HTTP::ReadUpTo(std::span<const uint8_t>) { return {}; }

std::u16string kIOHandler_HTTP::ReadChars(int32_t) { return {}; }

std::u16string kIOHandler_HTTP::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }

bool kIOHandler_HTTP::InputBufferContainsData() {
  throw EQVError(u"InputBufferContainsData Unsupported");
}

void kIOHandler_HTTP::SetParameter(const std::u16string& aName, const std::u16string& aValue) {
  if (aName.empty()) return;  // names no header
  CheckHeader(aName, aValue);
  for (auto it = fCustomHeaders.begin(); it != fCustomHeaders.end(); ++it) {
    if (!SameText(HeaderName(*it), aName)) continue;
    if (aValue.empty()) {
      fCustomHeaders.erase(it);
    } else {
      *it = aName + u": " + aValue;
    }
    return;
  }
  if (!aValue.empty()) fCustomHeaders.push_back(aName + u": " + aValue);
}

std::u16string kIOHandler_HTTP::DecodeError(int32_t aErrorCode) {
  switch (aErrorCode) {
    case 100: return u"Continue";
    case 101: return u"Switching Protocol";
    case 102: return u"Processing (WebDAV)";
    case 200: return u"OK";
    case 201: return u"Created";
    case 202: return u"Accepted";
    case 203: return u"Non-Authoritative Information";
    case 204: return u"No Content";
    case 205: return u"Reset Content";
    case 206: return u"Partial Content";
    case 207: return u"Multi-Status (WebDAV)";
    case 208: return u"Already Reported";
    case 226: return u"IM Used (HTTP Delta encoding)";
    case 300: return u"Multiple Choice";
    case 301: return u"Moved Permanently";
    case 302: return u"Found";
    case 303: return u"See Other";
    case 304: return u"Not Modified";
    case 305: return u"Use Proxy ";
    case 306: return u"unused";
    case 307: return u"Temporary Redirect";
    case 308: return u"Permanent Redirect";
    case 400: return u"Bad Request";
    case 401: return u"Unauthorized";
    case 402: return u"Payment Required";
    case 403: return u"Forbidden";
    case 404: return u"Not Found";
    case 405: return u"Method Not Allowed";
    case 406: return u"Not Acceptable";
    case 407: return u"Proxy Authentication Required";
    case 408: return u"Request Timeout";
    case 409: return u"Conflict";
    case 410: return u"Gone";
    case 411: return u"Length Required";
    case 412: return u"Precondition Failed";
    case 413: return u"Payload Too Large";
    case 414: return u"URI Too Long";
    case 415: return u"Unsupported Media Type";
    case 416: return u"Requested Range Not Satisfiable";
    case 417: return u"Expectation Failed";
    case 418: return u"I'm a teapot";
    case 421: return u"Misdirected Request";
    case 422: return u"Unprocessable Entity (WebDAV)";
    case 423: return u"Locked (WebDAV)";
    case 424: return u"Failed Dependency (WebDAV)";
    case 426: return u"Upgrade Required";
    case 428: return u"Precondition Required";
    case 429: return u"Too Many Requests";
    case 431: return u"Request Header Fields Too Large";
    case 451: return u"Unavailable For Legal Reasons";
    case 500: return u"Internal Server Error";
    case 501: return u"Not Implemented";
    case 502: return u"Bad Gateway";
    case 503: return u"Service Unavailable";
    case 504: return u"Gateway Timeout";
    case 505: return u"HTTP Version Not Supported";
    case 506: return u"Variant Also Negotiates";
    case 507: return u"Insufficient Storage";
    case 508: return u"Loop Detected (WebDAV)";
    case 510: return u"Not Extended";
    case 511: return u"Network Authentication Required";
    default: return u"Unknown";
  }
}

}  // namespace qvpa
