// The driver through its exports against the local service, measured against the floor no
// client can avoid: one RSA-4096 signature plus one HTTPS round trip on a warm connection per
// request. Every figure runs twice: on loopback (rtt 0) and through the latency proxy with
// 30 ms of round trip (rtt 30). Counters: median_ms (median of the iterations), floor_ms
// (signatures + warm round trips of the requests made, sampled between the iterations),
// x_floor (median / floor), over_ms (median - floor) and, over the proxy, rtts (median less
// the signatures, in round trips).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/text.h"
#include "satispay/e2e_support.h"
#include "satispay/payment_journal.h"
#include "tools/latency-proxy/latency_proxy.h"

namespace {

using qvpa::latency::LatencyProxy;
using qvpa::testing::DriverLibrary;
using qvpa::testing::LocalService;
using Clock = std::chrono::steady_clock;

constexpr int kRtts[] = {0, 30};
constexpr int kDoReads = 3;

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

std::string Base64Url(const std::string& bytes) {
  std::string text = Base64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The built-in private key, parsed once; RS256 signatures with it.
class Signer {
 public:
  Signer() {
    const std::string pem = ReadFile(QVPA_PRIVATE_KEY_FILE);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    key_ = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (key_ == nullptr) throw std::runtime_error("the built-in private key does not load");
  }
  ~Signer() { EVP_PKEY_free(key_); }
  Signer(const Signer&) = delete;
  Signer& operator=(const Signer&) = delete;

  std::string Sign(const std::string& text) const {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    size_t length = 0;
    EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key_);
    EVP_DigestSign(md, nullptr, &length, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    std::string signature(length, '\0');
    EVP_DigestSign(md, reinterpret_cast<unsigned char*>(signature.data()), &length,
                   reinterpret_cast<const unsigned char*>(text.data()), text.size());
    EVP_MD_CTX_free(md);
    signature.resize(length);
    return signature;
  }

 private:
  EVP_PKEY* key_ = nullptr;
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// The driver's payment creation signed once, sent again and again over one kept-alive libcurl
// handle: the round trip of the very request the driver sends, without its signing. Each
// send carries its own Idempotency-Key (not signed), as each creation of the driver does.
class PresignedPost {
 public:
  PresignedPost(const Signer& signer, const std::string& host, const std::string& key_id, const std::string& ca_file)
      : url_("https://" + host + "/g_business/v1/payments"),
        body_(R"({"flow":"MATCH_CODE","amount_unit":1250,"currency":"EUR","external_code":"FLOOR"})"),
        ca_file_(ca_file) {
    unsigned char hash[32];
    EVP_Digest(body_.data(), body_.size(), hash, nullptr, EVP_sha256(), nullptr);
    const std::string digest = "SHA-256=" + Base64(hash, sizeof(hash));
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof(date), "%a, %d %b %Y %H:%M:%S +0000", &utc);
    const std::string text = "(request-target): post /g_business/v1/payments\nhost: " + host + "\ndate: " + date +
                             "\ndigest: " + digest;
    const std::string authorization =
        "Authorization: Signature keyId=\"" + key_id +
        "\", algorithm=\"rsa-sha256\", headers=\"(request-target) host date digest\", signature=\"" +
        Base64Url(signer.Sign(text)) + "\"";
    for (const std::string& line : {std::string("Content-Type: application/json"), "host: " + host,
                                    std::string("date: ") + date, "digest: " + digest, authorization,
                                    std::string("Accept: application/json"), std::string("Expect:")}) {
      headers_ = curl_slist_append(headers_, line.c_str());
    }
    curl_ = curl_easy_init();
  }
  ~PresignedPost() {
    curl_easy_cleanup(curl_);
    curl_slist_free_all(headers_);
  }
  PresignedPost(const PresignedPost&) = delete;
  PresignedPost& operator=(const PresignedPost&) = delete;

  void Send() {
    std::string serial = std::to_string(++sent_);
    serial.insert(0, 12 - std::min<size_t>(serial.size(), 12), '0');
    const std::string key = "Idempotency-Key: " + std::to_string(getpid() % 100000000 + 10000000).substr(0, 8) +
                            "-0000-4000-8000-" + serial;
    curl_slist* headers = curl_slist_append(nullptr, key.c_str());
    for (const curl_slist* line = headers_; line != nullptr; line = line->next) {
      headers = curl_slist_append(headers, line->data);
    }
    Send(headers);
    curl_slist_free_all(headers);
  }

 private:
  void Send(curl_slist* headers) {
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_file_.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode code = curl_easy_perform(curl_);
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || status != 200) {
      throw std::runtime_error("presigned request failed: " + std::string(curl_easy_strerror(code)) + ", status " +
                               std::to_string(status));
    }
  }

  std::string url_, body_, ca_file_;
  curl_slist* headers_ = nullptr;
  long sent_ = 0;
  CURL* curl_ = nullptr;
};

// The service, a proxy per round trip, the library and a registered key, shared by all.
class Environment {
 public:
  Environment()
      : root_(std::filesystem::temp_directory_path() / ("qvpa-bench-" + std::to_string(getpid()))),
        service_(GBUSINESS_SIM, root_ / "service", {"BENCH1"},
                 {"--accept-after", std::to_string(kDoReads - 1)}) {
    for (const int rtt : kRtts) {
      if (rtt > 0) {
        proxies_[rtt] = std::make_unique<LatencyProxy>("127.0.0.1", service_.Port(), std::chrono::milliseconds(rtt / 2));
      }
    }
    setenv("QVPA_LOG_DIR", (root_ / "host").c_str(), 1);
    setenv("QVPA_SATISPAY_CA_FILE", service_.CaFile().c_str(), 1);
    UseHost(0);
    library_ = std::make_unique<DriverLibrary>(QVPA_PRODUCT_LIBRARY);
    const DriverLibrary::Answer key = library_->Call("GENERATE_KEYID", "token=BENCH1|staging=false");
    if (key.result != 1) throw std::runtime_error("key registration failed: " + key.Error());
    key_id_ = qvpa::ToUtf8(key.output);
  }
  ~Environment() {
    library_.reset();
    proxies_.clear();
    service_.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string HostPort(int rtt) const { return rtt == 0 ? service_.HostPort() : proxies_.at(rtt)->HostPort(); }
  const std::string& KeyId() const { return key_id_; }
  std::string CaFile() const { return service_.CaFile(); }
  LocalService& Service() { return service_; }
  int64_t SignedRequests() { return service_.Control("GET", "/control/stats").value("signed_requests", int64_t{0}); }
  const Signer& signer() const { return signer_; }

  // A device opened now reaches the service over the link with this round trip.
  void UseHost(int rtt) const { setenv("QVPA_SATISPAY_HOST", HostPort(rtt).c_str(), 1); }

  DriverLibrary::Answer Call(const char* name, const std::string& request) const { return library_->Call(name, request); }
  DriverLibrary::Answer Expect(const char* name, const std::string& request, int16_t result = 0) const {
    DriverLibrary::Answer answer = Call(name, request);
    if (answer.result != result) {
      throw std::runtime_error(std::string(name) + " gave " + std::to_string(answer.result) + ": " + answer.Error());
    }
    return answer;
  }

  int Open(int rtt) const {
    UseHost(rtt);
    const DriverLibrary::Answer open = Expect(
        "OPEN", "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>BENCH</LogId><Connection><Type>HTTP</Type>"
                "</Connection><Parameters><KeyID>" + key_id_ + "</KeyID></Parameters></Request>");
    return std::stoi(open.Field("Handle"));
  }
  void Close(int handle) const { Expect("CLOSE", WithHandle(handle, "")); }

  static std::string WithHandle(int handle, const std::string& section) {
    return "<Request><Handle>" + std::to_string(handle) + "</Handle>" + section + "</Request>";
  }
  static std::string Payment(int handle, const std::string& fields) {
    return WithHandle(handle, "<Payment>" + fields + "</Payment>");
  }
  static std::string Begin(int handle) {
    return Payment(handle, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount><Currency>EUR</Currency>"
                           "<Reference>BENCH</Reference>");
  }

 private:
  std::filesystem::path root_;
  LocalService service_;
  std::map<int, std::unique_ptr<LatencyProxy>> proxies_;
  std::unique_ptr<DriverLibrary> library_;
  std::string key_id_;
  Signer signer_;
};

Environment& Shared() {
  static Environment environment;
  return environment;
}

// The floor's two parts, sampled between the iterations of the benchmark they serve (one
// signature and one warm round trip after each), so that both see the same load of the
// machine as the figure they are compared with.
class FloorSampler {
 public:
  explicit FloorSampler(int rtt)
      : post_(Shared().signer(), Shared().HostPort(rtt), Shared().KeyId(), Shared().CaFile()) {
    post_.Send();  // warm from here
  }
  void Sample() {
    Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(Shared().signer().Sign("(request-target): post /g_business/v1/payments"));
    signature_ms_.push_back(MillisecondsSince(start));
    start = Clock::now();
    post_.Send();
    round_trip_ms_.push_back(MillisecondsSince(start));
  }
  double SignatureMs() const { return Median(signature_ms_); }
  double RoundTripMs() const { return Median(round_trip_ms_); }

 private:
  PresignedPost post_;
  std::vector<double> signature_ms_, round_trip_ms_;
};

// Reports the iterations' median against `requests` signed requests' worth of floor.
void Report(benchmark::State& state, const std::vector<double>& times, int rtt, int requests,
            const FloorSampler* floor = nullptr) {
  const double median = Median(times);
  state.counters["median_ms"] = median;
  if (floor == nullptr) return;
  const double floor_ms = requests * (floor->SignatureMs() + floor->RoundTripMs());
  state.counters["floor_ms"] = floor_ms;
  state.counters["x_floor"] = median / floor_ms;
  state.counters["over_ms"] = median - floor_ms;
  if (rtt > 0) state.counters["rtts"] = (median - requests * floor->SignatureMs()) / rtt;
}

// Times each iteration's `body` by hand, so that set-up outside it is not counted; samples
// the floor after each when given a sampler.
template <typename Body>
std::vector<double> TimeIterations(benchmark::State& state, Body body, FloorSampler* floor = nullptr) {
  std::vector<double> times;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    body();
    const double elapsed = MillisecondsSince(start);
    state.SetIterationTime(elapsed / 1000.0);
    times.push_back(elapsed);
    if (floor != nullptr) floor->Sample();
  }
  return times;
}

void BM_Signature(benchmark::State& state) {
  const std::vector<double> times = TimeIterations(state, [] {
    benchmark::DoNotOptimize(Shared().signer().Sign("(request-target): post /g_business/v1/payments"));
  });
  Report(state, times, 0, 0);
}
BENCHMARK(BM_Signature)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(100);

void BM_WarmRoundTrip(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  PresignedPost post(env.signer(), env.HostPort(rtt), env.KeyId(), env.CaFile());
  post.Send();  // the connection is warm from here
  const std::vector<double> times = TimeIterations(state, [&] { post.Send(); });
  Report(state, times, rtt, 0);
}
BENCHMARK(BM_WarmRoundTrip)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(100);
BENCHMARK(BM_WarmRoundTrip)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(25);

void BM_OpenClose(benchmark::State& state) {
  Environment& env = Shared();
  const std::vector<double> times = TimeIterations(state, [&] { env.Close(env.Open(0)); });
  Report(state, times, 0, 0);
}
BENCHMARK(BM_OpenClose)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

// The first request of a new device: connection and TLS handshake included.
void BM_PayBeginCold(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  FloorSampler floor(rtt);
  std::vector<double> times;
  for (auto _ : state) {
    const int handle = env.Open(rtt);
    const Clock::time_point start = Clock::now();
    env.Expect("PAY", Environment::Begin(handle));
    const double elapsed = MillisecondsSince(start);
    env.Close(handle);
    state.SetIterationTime(elapsed / 1000.0);
    times.push_back(elapsed);
    floor.Sample();
  }
  Report(state, times, rtt, 1, &floor);
}
BENCHMARK(BM_PayBeginCold)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(40);
BENCHMARK(BM_PayBeginCold)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(15);

// A device that has sent a request before.
void BM_PayBeginWarm(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  const int handle = env.Open(rtt);
  const std::string begin = Environment::Begin(handle);
  env.Expect("PAY", begin);
  FloorSampler floor(rtt);
  const std::vector<double> times = TimeIterations(state, [&] { env.Expect("PAY", begin); }, &floor);
  env.Close(handle);
  Report(state, times, rtt, 1, &floor);
}
BENCHMARK(BM_PayBeginWarm)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(100);
BENCHMARK(BM_PayBeginWarm)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(25);

// OPEN, BEGIN, three DO (the third finds the payment accepted), COMMIT, CLOSE on a new device.
void BM_WholePayment(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  FloorSampler floor(rtt);
  const std::vector<double> times = TimeIterations(state, [&] {
    const int handle = env.Open(rtt);
    const DriverLibrary::Answer begin = env.Expect("PAY", Environment::Begin(handle));
    const std::string read = Environment::Payment(
        handle, "<Action>PAY</Action><Phase>DO</Phase><Attributes>" + begin.Field("PaymentNumber") + "</Attributes>");
    for (int i = 1; i < kDoReads; ++i) env.Expect("PAY", read, -1);  // still PENDING
    env.Expect("PAY", read);
    env.Expect("PAY", Environment::Payment(handle, "<Action>PAY</Action><Phase>COMMIT</Phase>"));
    env.Close(handle);
  }, &floor);
  Report(state, times, rtt, 1 + kDoReads, &floor);
}
BENCHMARK(BM_WholePayment)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(25);
BENCHMARK(BM_WholePayment)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(10);

// VERIFYTRAN of an accepted payment this device began and saw answered: the journal gives its id.
// "listing" is the same question for a payment the journal does not know (another till's):
// the search of the listings, which every verification took before the journal.
void BM_VerifyKnownPayment(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  const bool listing = state.range(1) != 0;
  Environment& env = Shared();
  const int handle = env.Open(rtt);
  FloorSampler floor(rtt);
  std::vector<double> times;
  int64_t requests = 0;
  int n = 0;
  for (auto _ : state) {
    const std::string reference = "VK-" + std::to_string(rtt) + "-" + std::to_string(listing) + "-" + std::to_string(n++);
    if (listing) {
      env.Service().Control("POST", "/control/payments",
                            {{"amount_unit", 1250}, {"external_code", reference}, {"status", "ACCEPTED"}});
    } else {
      const DriverLibrary::Answer begin =
          env.Expect("PAY", Environment::Payment(handle, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount>"
                                                         "<Currency>EUR</Currency><Reference>" + reference + "</Reference>"));
      env.Service().Control("POST", "/control/payments/" + begin.Field("PaymentNumber") + "/accept");
    }
    const int64_t before = env.SignedRequests();
    const Clock::time_point start = Clock::now();
    const DriverLibrary::Answer verified = env.Call(
        "VERIFYTRAN", Environment::WithHandle(handle, "<VerifyTran><ReceiptId>" + reference + "</ReceiptId></VerifyTran>"));
    const double elapsed = MillisecondsSince(start);
    if (verified.result != 0) throw std::runtime_error("verification: " + verified.Error());
    requests = env.SignedRequests() - before;
    state.SetIterationTime(elapsed / 1000.0);
    times.push_back(elapsed);
    floor.Sample();
  }
  env.Close(handle);
  state.counters["requests"] = static_cast<double>(requests);
  Report(state, times, rtt, static_cast<int>(requests), &floor);
}
BENCHMARK(BM_VerifyKnownPayment)->Unit(benchmark::kMillisecond)->UseManualTime()->Args({0, 0})->Args({0, 1})
    ->Iterations(20);
BENCHMARK(BM_VerifyKnownPayment)->Unit(benchmark::kMillisecond)->UseManualTime()->Args({30, 0})->Args({30, 1})
    ->Iterations(8);

// VERIFYTRAN after a BEGIN whose answer never came (the service stored the payment, then
// dropped both attempts): the journal knows the BEGIN, not the id, so the listings decide.
void BM_VerifyTimedOutBegin(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  const int handle = env.Open(rtt);
  FloorSampler floor(rtt);
  std::vector<double> times;
  int64_t requests = 0;
  int n = 0;
  for (auto _ : state) {
    const std::string reference = "VT-" + std::to_string(rtt) + "-" + std::to_string(n++);
    // Every attempt is dropped (curl itself repeats a request a kept connection lost).
    env.Service().AddFault({{"kind", "close_after"}, {"count", 10}, {"method", "POST"}});
    env.Expect("PAY",
               Environment::Payment(handle, "<Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount>"
                                            "<Currency>EUR</Currency><Reference>" + reference + "</Reference>"),
               -1);
    env.Service().Control("DELETE", "/control/faults");
    const int64_t before = env.SignedRequests();
    const Clock::time_point start = Clock::now();
    const DriverLibrary::Answer verified = env.Call(
        "VERIFYTRAN", Environment::WithHandle(handle, "<VerifyTran><ReceiptId>" + reference + "</ReceiptId></VerifyTran>"));
    const double elapsed = MillisecondsSince(start);
    if (verified.Error() != "PENDING") throw std::runtime_error("verification: " + verified.Error());
    requests = env.SignedRequests() - before;
    state.SetIterationTime(elapsed / 1000.0);
    times.push_back(elapsed);
    floor.Sample();
  }
  env.Close(handle);
  state.counters["requests"] = static_cast<double>(requests);
  Report(state, times, rtt, static_cast<int>(requests), &floor);
}
BENCHMARK(BM_VerifyTimedOutBegin)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(20);
BENCHMARK(BM_VerifyTimedOutBegin)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(8);

// "Not found" among 1,200 accepted payments of the day: every listing read to its end.
void BM_VerifyNotFound(benchmark::State& state) {
  const int rtt = static_cast<int>(state.range(0));
  Environment& env = Shared();
  static bool seeded = false;
  if (!seeded) {
    nlohmann::json payments = nlohmann::json::array();
    for (int i = 0; i < 1200; ++i) {
      payments.push_back({{"amount_unit", 100 + i}, {"external_code", "NF" + std::to_string(i)}, {"status", "ACCEPTED"}});
    }
    env.Service().Control("POST", "/control/payments", payments);
    seeded = true;
  }
  const int handle = env.Open(rtt);
  FloorSampler floor(rtt);
  std::vector<double> times;
  int64_t requests = 0;
  for (auto _ : state) {
    const int64_t before = env.SignedRequests();
    const Clock::time_point start = Clock::now();
    const DriverLibrary::Answer verified =
        env.Call("VERIFYTRAN", Environment::WithHandle(handle, "<VerifyTran><ReceiptId>ABSENT</ReceiptId></VerifyTran>"));
    const double elapsed = MillisecondsSince(start);
    if (verified.Error() != "Transaction with external_code ABSENT not found") {
      throw std::runtime_error("verification: " + verified.Error());
    }
    requests = env.SignedRequests() - before;
    state.SetIterationTime(elapsed / 1000.0);
    times.push_back(elapsed);
    floor.Sample();
  }
  env.Close(handle);
  state.counters["requests"] = static_cast<double>(requests);
  Report(state, times, rtt, static_cast<int>(requests), &floor);
}
BENCHMARK(BM_VerifyNotFound)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(0)->Iterations(5);
BENCHMARK(BM_VerifyNotFound)->Unit(benchmark::kMillisecond)->UseManualTime()->Arg(30)->Iterations(2);

// The journal's part of a BEGIN: the entry before the request and the answer after it, each
// durable when it returns, against one signed request's floor.
void BM_JournalBeginWrites(benchmark::State& state) {
  FloorSampler floor(0);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("qvpa-bench-journal-" + std::to_string(getpid()) + ".db");
  std::vector<double> times;
  {
    auto journal = qvpa::PaymentJournal::Open(qvpa::FromUtf8(file.string()));
    int n = 0;
    times = TimeIterations(state, [&] {
      qvpa::JournalEntry entry;
      entry.reference = u"BENCH";
      entry.amount_raw = 125000;
      entry.currency = u"EUR";
      entry.idempotency_key = qvpa::FromUtf8("key-" + std::to_string(n++));
      entry.begun_ms = qvpa::PaymentJournal::NowMs();
      entry.device = u"BENCH#1";
      journal->RecordBegin(entry);
      journal->RecordAnswer(entry.idempotency_key, u"id", u"PENDING");
    }, &floor);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
  Report(state, times, 0, 1, &floor);
}
BENCHMARK(BM_JournalBeginWrites)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
