#include "io/http_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/error.h"

namespace qvpa {

namespace {

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

// A stalled answer (less than 1 byte/s for this long) is given up.
constexpr long kStallSeconds = 60;

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Keeps the last status line; a request may see several answers (100, 401, final).
size_t CollectStatusLine(char* data, size_t size, size_t count, void* target) {
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    *static_cast<std::string*>(target) = line;
  }
  return size * count;
}

}  // namespace

struct HttpClient::Handle {
  Handle() : curl(curl_easy_init()) {
    if (curl == nullptr) throw EQVError(u"HTTP client could not be created");
  }
  ~Handle() { curl_easy_cleanup(curl); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  CURL* curl;
};

HttpClient::HttpClient() : handle_(std::make_unique<Handle>()) {}

HttpClient::~HttpClient() = default;

HttpExchange HttpClient::Send(std::string_view aMethod, const std::string& aUrl,
                              const std::vector<std::string>& aHeaders,
                              const std::string& aBody, const std::string& aUser,
                              const std::string& aPassword) {
  CURL* curl = handle_->curl;
  // Options are set afresh for every request; open connections survive the reset.
  curl_easy_reset(curl);

  HttpExchange result;
  char error_text[CURL_ERROR_SIZE] = {};
  SlistPtr headers;
  for (const std::string& line : aHeaders) {
    curl_slist* extended = curl_slist_append(headers.get(), line.c_str());
    if (extended == nullptr) {
      result.error = "Out of memory while building the request headers";
      return result;
    }
    headers.release();
    headers.reset(extended);
  }
  const std::string method(aMethod);

  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_URL, aUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca_file = std::getenv("QVPA_SATISPAY_CA_FILE"); ca_file && *ca_file) {
    // The extra bundle is added beside the default CA file, so the system's authorities
    // stay trusted; a bundle that cannot be read is named to libcurl, which reports it.
    std::ifstream in(ca_file, std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.good() || in.eof()) {
      curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
      curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    } else {
      curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file);
    }
  }
  if (connect_timeout_ms_ > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms_));
  }
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);

  if (method == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(aBody.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, aBody.data());
    if (method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());

  if (auth_ != Auth::kNone) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH,
                     auth_ == Auth::kBasic ? CURLAUTH_BASIC : CURLAUTH_DIGEST);
    curl_easy_setopt(curl, CURLOPT_USERNAME, aUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, aPassword.c_str());
  }

  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectStatusLine);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.status_line);

  const CURLcode code = curl_easy_perform(curl);

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  result.status = static_cast<int32_t>(status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK &&
      content_type != nullptr) {
    result.content_type = content_type;
  }
  result.completed = code == CURLE_OK;
  if (!result.completed) {
    result.error = curl_easy_strerror(code);
    if (error_text[0] != '\0') result.error += std::string(": ") + error_text;
  }
  // The buffers above die with this call; the handle must not point at them.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  return result;
}

bool HttpClient::Connected() const {
  curl_socket_t socket = CURL_SOCKET_BAD;
  return curl_easy_getinfo(handle_->curl, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
         socket != CURL_SOCKET_BAD;
}

void HttpClient::Disconnect() {
  // Cleaning up the easy handle closes the connections it keeps.
  auto fresh = std::make_unique<Handle>();
  handle_ = std::move(fresh);
}

}  // namespace qvpa
