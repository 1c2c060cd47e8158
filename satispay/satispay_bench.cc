// One PAY BEGIN through the export against the local service, beside a baseline that
// builds the same signed request by hand (sign once with the same PEM key, base64url) and
// sends it as one HTTPS POST over a fresh libcurl handle, trusting the same authorities.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/text.h"
#include "satispay/e2e_support.h"

namespace {

using qvpa::testing::DriverLibrary;
using qvpa::testing::LocalService;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Base64Url(const unsigned char* data, size_t size) {
  std::string text = Base64(data, size);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

// The service, the library and a registered key, shared by both benchmarks.
struct Environment {
  std::filesystem::path root = std::filesystem::temp_directory_path() / ("qvpa-bench-" + std::to_string(getpid()));
  std::unique_ptr<LocalService> service;
  std::unique_ptr<DriverLibrary> library;
  std::string key_id;
  int handle = 0;

  Environment() {
    service = std::make_unique<LocalService>(GBUSINESS_SIM, root / "service", std::vector<std::string>{"BENCH1"});
    setenv("QVPA_LOG_DIR", (root / "host").c_str(), 1);
    setenv("QVPA_SATISPAY_HOST", service->HostPort().c_str(), 1);
    setenv("QVPA_SATISPAY_CA_FILE", service->CaFile().c_str(), 1);
    library = std::make_unique<DriverLibrary>(QVPA_PRODUCT_LIBRARY);
    const DriverLibrary::Answer key = library->Call("GENERATE_KEYID", "token=BENCH1|staging=false");
    if (key.result != 1) throw std::runtime_error("key registration failed: " + key.Error());
    key_id = qvpa::ToUtf8(key.output);
    const DriverLibrary::Answer open = library->Call(
        "OPEN", "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>BENCH</LogId><Connection><Type>HTTP</Type>"
                "</Connection><Parameters><KeyID>" + key_id + "</KeyID></Parameters></Request>");
    if (open.result != 0) throw std::runtime_error("OPEN failed: " + open.Error());
    handle = std::stoi(open.Field("Handle"));
  }
  ~Environment() {
    library.reset();
    service.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

Environment& Shared() {
  static Environment environment;
  return environment;
}

void BM_PayBeginThroughExport(benchmark::State& state) {
  Environment& env = Shared();
  const std::string request = "<Request><Handle>" + std::to_string(env.handle) +
                              "</Handle><Payment><Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount>"
                              "<Currency>EUR</Currency><Reference>BENCH</Reference></Payment></Request>";
  for (auto _ : state) {
    const DriverLibrary::Answer answer = env.library->Call("PAY", request);
    if (answer.result != 0) {
      state.SkipWithError(answer.Error().c_str());
      break;
    }
  }
}
BENCHMARK(BM_PayBeginThroughExport)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_BaselineSignAndPost(benchmark::State& state) {
  Environment& env = Shared();
  const std::string key_pem = ReadFile(QVPA_PRIVATE_KEY_FILE);
  const std::string ca = ReadFile(env.service->CaFile());
  const std::string host = env.service->HostPort();
  const std::string url = "https://" + host + "/g_business/v1/payments";
  const std::string body = R"({"flow":"MATCH_CODE","amount_unit":1250,"currency":"EUR","external_code":"BENCH"})";
  unsigned char hash[32];
  EVP_Digest(body.data(), body.size(), hash, nullptr, EVP_sha256(), nullptr);
  const std::string digest = "SHA-256=" + Base64(hash, sizeof(hash));

  for (auto _ : state) {
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof(date), "%a, %d %b %Y %H:%M:%S +0000", &utc);
    const std::string text = "(request-target): post /g_business/v1/payments\nhost: " + host +
                             "\ndate: " + date + "\ndigest: " + digest;

    // Sign once with the PEM key, as the driver does for every request.
    BIO* bio = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    size_t length = 0;
    EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key);
    EVP_DigestSign(md, nullptr, &length, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    std::string signature(length, '\0');
    EVP_DigestSign(md, reinterpret_cast<unsigned char*>(signature.data()), &length,
                   reinterpret_cast<const unsigned char*>(text.data()), text.size());
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    const std::string authorization =
        "Authorization: Signature keyId=\"" + env.key_id +
        "\", algorithm=\"rsa-sha256\", headers=\"(request-target) host date digest\", signature=\"" +
        Base64Url(reinterpret_cast<const unsigned char*>(signature.data()), length) + "\"";

    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/json");
    headers = curl_slist_append(headers, ("host: " + host).c_str());
    headers = curl_slist_append(headers, (std::string("date: ") + date).c_str());
    headers = curl_slist_append(headers, ("digest: " + digest).c_str());
    headers = curl_slist_append(headers, authorization.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_blob blob{const_cast<char*>(ca.data()), ca.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK || status != 200) {
      state.SkipWithError(("baseline request failed, status " + std::to_string(status)).c_str());
      break;
    }
  }
}
BENCHMARK(BM_BaselineSignAndPost)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
