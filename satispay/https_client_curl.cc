// HttpsClient over libcurl (OpenSSL back end): one easy handle per client, kept from request
// to request so that its connection and TLS session are used again, released with the client.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "satispay/https_client.h"
#include "satispay/trust_store.h"

namespace qvpa {
namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ShareDeleter {
  void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using ShareHandle = std::unique_ptr<CURLSH, ShareDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// The HTTPS library's global set-up is not thread-safe: the first client of any device
// runs it, once.
void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool SameHeaderName(const std::string& a, std::string_view b) {
  return SameText(FromUtf8(a), FromUtf8(b));
}

// State the callbacks fill while the transfer runs.
struct Transfer {
  HttpsResponse response;
  std::size_t max_body = 0;
  bool too_large = false;
  int sends = 0;  // request heads written out
};

// Counts the request heads written: the library sends a request once more, unasked, when a
// kept connection died before any answer, and the caller's log must show each sending.
int OnDebug(CURL*, curl_infotype type, char*, size_t, void* user) {
  if (type == CURLINFO_HEADER_OUT) ++static_cast<Transfer*>(user)->sends;
  return 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->response.body.size() + bytes > transfer->max_body) {
    transfer->too_large = true;
    return 0;  // aborts the transfer
  }
  transfer->response.body.append(data, bytes);
  return bytes;
}

// "Date:" in any letter case.
bool IsDateHeader(std::string_view line) {
  static constexpr std::string_view kName = "date:";
  if (line.size() < kName.size()) return false;
  for (size_t i = 0; i < kName.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) return false;
  }
  return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  std::string_view line(data, bytes);
  // Every status line (an interim 100 Continue included) starts a new header block;
  // the last one describes the final answer.
  if (line.starts_with("HTTP/")) {
    transfer->response.status_text = ReasonPhraseOfStatusLine(line);
    transfer->response.date.clear();
  } else if (IsDateHeader(line)) {
    std::string_view value = line.substr(5);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
      value.remove_suffix(1);
    }
    transfer->response.date = value;
  }
  return bytes;
}

// The failure kinds of libcurl's codes: which ones leave the request unsent, which ones
// broke off after it went out.
HttpsFailureKind KindOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return HttpsFailureKind::kConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpsFailureKind::kTimeout;
    case CURLE_GOT_NOTHING:  // closed without a byte of answer
    case CURLE_SEND_ERROR:   // reset while the request went out
    case CURLE_RECV_ERROR:   // reset while waiting for the answer
      return HttpsFailureKind::kDropped;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return HttpsFailureKind::kRefused;
    default:
      return HttpsFailureKind::kOther;
  }
}

// Every TLS context of the client trusts the process's shared store instead of loading the
// authorities itself.
CURLcode UseSharedTrustStore(CURL*, void* ssl_ctx, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_ctx), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

// Whether the connection the handle keeps has something to read while no request is under
// way: the server has closed it (its closing alert or end of stream is waiting). The HTTPS
// library takes a connection with a closing alert waiting for alive and sends on it; the
// request then goes out again, but a failure of that second attempt (service gone) would
// be reported with the first one's misleading text.
bool KeptConnectionClosedByServer(CURL* handle) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
    return false;
  }
  pollfd waiting{socket, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0;
}

class CurlHttpsClient final : public HttpsClient {
 protected:
  HttpsResponse Send(const HttpsRequest& request) override;

 private:
  // The handle for a request trusting `store`. The kept one, unless the server closed its
  // connection (a new handle then reconnects, resuming the TLS session) or the trust store
  // changed (new handle and no earlier TLS session: nothing checked under the old store is
  // used again).
  CURL* HandleFor(TrustStore::Reference store);

  TrustStore::Reference store_;  // the authorities the connections and sessions were checked with
  ShareHandle sessions_;         // TLS sessions of this client, for a quicker reconnection
  EasyHandle easy_;              // keeps the connection between requests; released before sessions_
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

CURL* CurlHttpsClient::HandleFor(TrustStore::Reference store) {
  if (store.get() != store_.get()) {
    easy_.reset();
    sessions_.reset();
    store_ = std::move(store);
  } else if (easy_ && KeptConnectionClosedByServer(easy_.get())) {
    easy_.reset();
  }
  if (!sessions_) {
    sessions_.reset(curl_share_init());
    if (!sessions_ || curl_share_setopt(sessions_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
      throw EQVError(u"HTTPS client cannot be created");
    }
  }
  if (easy_) {
    curl_easy_reset(easy_.get());  // the previous request's options go; its connection stays
  } else {
    easy_.reset(curl_easy_init());
    if (!easy_) throw EQVError(u"HTTPS client cannot be created");
  }
  curl_easy_setopt(easy_.get(), CURLOPT_SHARE, sessions_.get());
  return easy_.get();
}

HttpsResponse CurlHttpsClient::Send(const HttpsRequest& request) {
  InitCurlOnce();
  CURL* h = HandleFor(TrustStore::ForExtraFile(request.extra_ca_file));

  error_buffer_[0] = '\0';
  Transfer transfer;
  transfer.max_body = request.max_response_bytes;

  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer_);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  // The connect limit covers TCP and TLS set-up; the total limit the whole exchange.
  const auto total_ms = static_cast<long>(request.total_timeout.count());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                   std::min(static_cast<long>(request.connect_timeout.count()), total_ms));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, total_ms);
  if (!request.user_agent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, request.user_agent.c_str());

  // The authorities come from the shared store alone (the system's and the extra bundle);
  // nothing is loaded per connection.
  curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
  if (curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, UseSharedTrustStore) != CURLE_OK) {
    throw EQVError(u"HTTPS client without OpenSSL: the trusted authorities cannot be set");
  }
  curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, store_.get());

  const bool sends_body = request.method != "GET";
  if (request.method == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    if (request.method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  HeaderList headers;
  auto append = [&headers](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) throw EQVError(u"HTTPS client out of memory");
    static_cast<void>(headers.release());
    headers.reset(grown);
  };
  bool has_content_type = false;
  for (const auto& [name, value] : request.headers) {
    // "name;" is libcurl's way to send a header with an empty value.
    append(value.empty() ? name + ";" : name + ": " + value);
    if (SameHeaderName(name, "Content-Type")) has_content_type = true;
  }
  if (sends_body && !has_content_type && !request.content_type.empty()) {
    append("Content-Type: " + request.content_type);
  } else if (sends_body && !has_content_type) {
    append("Content-Type:");  // no form-encoding default
  }
  append("Expect:");  // no 100-continue round trip
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, OnDebug);
  curl_easy_setopt(h, CURLOPT_DEBUGDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);  // calls OnDebug; nothing is printed

  // A request that dies on a kept connection before any answer is sent again over a new
  // connection by the HTTPS library itself, once.
  const CURLcode code = curl_easy_perform(h);
  if (transfer.too_large) {
    throw EHttpsFailure(HttpsFailureKind::kOther,
                        u"Response larger than " + IntToStr(static_cast<int64_t>(transfer.max_body)) + u" bytes",
                        transfer.sends);
  }
  if (code != CURLE_OK) {
    std::string message = error_buffer_[0] != '\0' ? error_buffer_ : curl_easy_strerror(code);
    // A status line already read means an answer began: the request was not dropped unheard.
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const HttpsFailureKind kind = KindOf(code);
    throw EHttpsFailure(kind == HttpsFailureKind::kDropped && status != 0 ? HttpsFailureKind::kOther : kind,
                        FromUtf8(message), transfer.sends);
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int32_t>(status);
  transfer.response.sends = transfer.sends;
  return std::move(transfer.response);
}

}  // namespace

std::unique_ptr<HttpsClient> NewHttpsClient() { return std::make_unique<CurlHttpsClient>(); }

}  // namespace qvpa
