// HttpsClient over libcurl (OpenSSL back end): one easy handle per client, released with it.
#include <curl/curl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "satispay/https_client.h"

namespace qvpa {
namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EQVError(u"CA file " + FromUtf8(path) + u" cannot be read");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameHeaderName(const std::string& a, std::string_view b) {
  return SameText(FromUtf8(a), FromUtf8(b));
}

// State the callbacks fill while the transfer runs.
struct Transfer {
  HttpsResponse response;
  std::size_t max_body = 0;
  bool too_large = false;
};

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

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  std::string_view line(data, bytes);
  // Every status line (an interim 100 Continue included) starts a new header block;
  // the last one describes the final answer.
  if (line.starts_with("HTTP/")) transfer->response.status_text = ReasonPhraseOfStatusLine(line);
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

class CurlHttpsClient final : public HttpsClient {
 protected:
  HttpsResponse Send(const HttpsRequest& request) override;
};

HttpsResponse CurlHttpsClient::Send(const HttpsRequest& request) {
  InitCurlOnce();
  EasyHandle easy(curl_easy_init());
  if (!easy) throw EQVError(u"HTTPS client cannot be created");
  CURL* h = easy.get();

  char error_buffer[CURL_ERROR_SIZE] = {};
  Transfer transfer;
  transfer.max_body = request.max_response_bytes;

  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
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

  // The extra bundle is loaded beside the default CA file (OpenSSL loads both into
  // one store), so the system's authorities stay trusted.
  std::string extra_ca;
  curl_blob ca_blob{};
  if (!request.extra_ca_file.empty()) {
    extra_ca = ReadWholeFile(request.extra_ca_file);
    ca_blob.data = extra_ca.data();
    ca_blob.len = extra_ca.size();
    ca_blob.flags = CURL_BLOB_NOCOPY;
    curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &ca_blob);
  }

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

  const CURLcode code = curl_easy_perform(h);
  if (transfer.too_large) {
    throw EHttpsFailure(HttpsFailureKind::kOther,
                        u"Response larger than " + IntToStr(static_cast<int64_t>(transfer.max_body)) + u" bytes");
  }
  if (code != CURLE_OK) {
    std::string message = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    // A status line already read means an answer began: the request was not dropped unheard.
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const HttpsFailureKind kind = KindOf(code);
    throw EHttpsFailure(kind == HttpsFailureKind::kDropped && status != 0 ? HttpsFailureKind::kOther : kind,
                        FromUtf8(message));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int32_t>(status);
  return std::move(transfer.response);
}

}  // namespace

std::unique_ptr<HttpsClient> NewHttpsClient() { return std::make_unique<CurlHttpsClient>(); }

}  // namespace qvpa
