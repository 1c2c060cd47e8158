#include "io/winhttp_win.h"

#include <algorithm>

#include "base/text.h"

namespace qvpa::winhttp {

namespace {

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  return ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// A header of the answer as text; empty when absent.
std::string QueryHeader(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return Narrow(value.data(), bytes / sizeof(wchar_t));
}

Outcome Failed(DWORD error, Phase phase = Phase::kSetup) {
  Outcome outcome;
  outcome.phase = phase;
  outcome.error = error;
  outcome.error_text = ErrorText(error);
  return outcome;
}

DWORD SchemeOf(Auth auth) {
  return auth == Auth::kBasic ? WINHTTP_AUTH_SCHEME_BASIC : WINHTTP_AUTH_SCHEME_DIGEST;
}

}  // namespace

std::string ErrorText(DWORD error) {
  const std::string number = " (error " + std::to_string(error) + ")";
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:            // 12175
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:      // 12157
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
      return "TLS failure: the server's certificate was refused or the secure channel failed" + number;
    case ERROR_WINHTTP_TIMEOUT:                    // 12002
    case WSAETIMEDOUT:                             // 10060
      return "Timed out waiting for the server" + number;
    case ERROR_WINHTTP_CANNOT_CONNECT:             // 12029
    case WSAECONNREFUSED:
      return "Connection refused or server unreachable" + number;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "Server name not resolved" + number;
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "Connection reset by the server" + number;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL:
      return "Invalid or unsupported URL" + number;
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Out of memory" + number;
    default:
      return "HTTP transport failure" + number;
  }
}

Session::Session() = default;

void Session::Reset() {
  connection_.reset();
  session_.reset();
}

Outcome Session::Run(const Exchange& exchange) {
  const std::wstring url = Wide(exchange.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    return Failed(GetLastError());
  }
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (!https && (exchange.https_only || parts.nScheme != INTERNET_SCHEME_HTTP)) {
    return Failed(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  if (!session_ || user_agent_ != exchange.user_agent) {
    connection_.reset();
    const std::wstring agent = Wide(exchange.user_agent);
    session_.reset(WinHttpOpen(agent.empty() ? nullptr : agent.c_str(),
                               WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) return Failed(GetLastError());
    user_agent_ = exchange.user_agent;
    // TLS 1.2 and later only.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
    protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
#endif
    if (!WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
      protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
      WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
  }
  if (!connection_ || host_ != host || port_ != parts.nPort) {
    connection_.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection_) return Failed(GetLastError());
    host_ = host;
    port_ = parts.nPort;
  }

  const std::wstring method = Wide(exchange.method);
  Handle request(WinHttpOpenRequest(connection_.get(), method.c_str(), path.c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                    https ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return Failed(GetLastError());

  // Every limit is set twice: WinHttpSetTimeouts, and the receive-response option, which is
  // the one some implementations honour for the answer and for a stalled TLS handshake.
  const int response = exchange.response_timeout_ms > 0 ? exchange.response_timeout_ms : 30000;
  int connect = exchange.connect_timeout_ms > 0 ? exchange.connect_timeout_ms : 60000;
  if (exchange.response_timeout_ms > 0 && connect > response) connect = response;
  WinHttpSetTimeouts(request.get(), connect, connect, response, response);
  DWORD receive_response = static_cast<DWORD>(response);
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_response,
                   sizeof receive_response);
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects);

  std::wstring headers;
  for (const std::string& line : exchange.header_lines) {
    headers += Wide(line);
    headers += L"\r\n";
  }
  if (!headers.empty() &&
      !WinHttpAddRequestHeaders(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    return Failed(GetLastError());
  }
  if (exchange.auth != Auth::kNone) {
    const std::wstring user = Wide(exchange.user), password = Wide(exchange.password);
    // Basic goes with the first request; Digest answers the server's challenge below.
    if (exchange.auth == Auth::kBasic &&
        !WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                               user.c_str(), password.c_str(), nullptr)) {
      return Failed(GetLastError());
    }
  }

  const bool sends_body = exchange.method != "GET" && exchange.method != "HEAD";
  bool challenged = false;
  for (;;) {
    const DWORD body_bytes = sends_body ? static_cast<DWORD>(exchange.body.size()) : 0;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            body_bytes ? const_cast<char*>(exchange.body.data()) : nullptr, body_bytes,
                            body_bytes, 0)) {
      const DWORD error = GetLastError();
      connection_.reset();  // a broken connection is not kept
      return Failed(error, Phase::kSend);
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
      const DWORD error = GetLastError();
      connection_.reset();
      return Failed(error, Phase::kReceive);
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status == 401 && exchange.auth == Auth::kDigest && !challenged) {
      challenged = true;
      DWORD supported = 0, first = 0, target = 0;
      if (WinHttpQueryAuthSchemes(request.get(), &supported, &first, &target) &&
          (supported & SchemeOf(exchange.auth)) != 0) {
        // The challenge's body is read and dropped before the request is repeated.
        DWORD available = 0;
        std::string drain;
        while (WinHttpQueryDataAvailable(request.get(), &available) && available > 0) {
          drain.resize(available);
          DWORD read = 0;
          if (!WinHttpReadData(request.get(), drain.data(), available, &read) || read == 0) break;
        }
        const std::wstring user = Wide(exchange.user), password = Wide(exchange.password);
        if (WinHttpSetCredentials(request.get(), target, SchemeOf(exchange.auth), user.c_str(),
                                  password.c_str(), nullptr)) {
          continue;
        }
      }
    }
    break;
  }

  Outcome outcome;
  outcome.phase = Phase::kRead;
  DWORD status = 0, size = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  outcome.status = static_cast<int32_t>(status);
  outcome.reason = QueryHeader(request.get(), WINHTTP_QUERY_STATUS_TEXT);
  std::string version = QueryHeader(request.get(), WINHTTP_QUERY_VERSION);
  if (version.empty()) version = "HTTP/1.1";
  outcome.status_line = version + " " + std::to_string(status) +
                        (outcome.reason.empty() ? "" : " " + outcome.reason);
  outcome.content_type = QueryHeader(request.get(), WINHTTP_QUERY_CONTENT_TYPE);
  outcome.date = QueryHeader(request.get(), WINHTTP_QUERY_DATE);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
      const DWORD error = GetLastError();
      connection_.reset();
      outcome.error = error;
      outcome.error_text = ErrorText(error);
      return outcome;
    }
    if (available == 0) break;
    if (outcome.body.size() + available > exchange.max_response_bytes) {
      connection_.reset();
      outcome.too_large = true;
      outcome.error = ERROR_NOT_ENOUGH_MEMORY;
      outcome.error_text = "Response larger than " + std::to_string(exchange.max_response_bytes) + " bytes";
      return outcome;
    }
    const std::size_t at = outcome.body.size();
    outcome.body.resize(at + available);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), outcome.body.data() + at, available, &read)) {
      const DWORD error = GetLastError();
      connection_.reset();
      outcome.error = error;
      outcome.error_text = ErrorText(error);
      return outcome;
    }
    outcome.body.resize(at + read);
    if (read == 0) break;
  }
  outcome.completed = true;
  return outcome;
}

}  // namespace qvpa::winhttp
