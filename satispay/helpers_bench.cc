// Cost of the steps every signed request pays: signing with the built-in 4096-bit key,
// base64url of the signature, and reading a service answer.
#include <string>

#include <benchmark/benchmark.h>

#include "satispay/base64.h"
#include "satispay/json_utils.h"
#include "satispay/module_resources.h"
#include "satispay/rsa.h"

namespace qvpa {
namespace {

void BM_SignRequestText(benchmark::State& state) {
  const TJOSEBytes key(LoadResourceText(u"satispay_privatekey"));
  const TJOSEBytes text(
      u"(request-target): post /g_business/v1/payments\nhost: example\n"
      u"date: Mon, 01 Jan 2024 10:00:00 +0000\ndigest: SHA-256=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
  for (auto _ : state) {
    benchmark::DoNotOptimize(TBase64::URLEncode(TRSA::Sign(text.AsBytes(), key.AsBytes(), TRSAAlgorithm::RS256)));
  }
}
BENCHMARK(BM_SignRequestText)->Unit(benchmark::kMillisecond);

void BM_ReadPaymentAnswer(benchmark::State& state) {
  const std::u16string answer =
      uR"({"id":"a1b2c3","code_identifier":"X1Y2","type":"TO_BUSINESS","amount_unit":1250,)"
      uR"("currency":"EUR","status":"ACCEPTED","expired":false,"metadata":{},)"
      uR"("sender":{"id":"s","type":"CONSUMER","name":"Ann"},"receiver":{"id":"r","type":"SHOP"},)"
      uR"("insert_date":"2024-01-01T10:00:00.000Z","expire_date":"2024-01-01T10:05:00.000Z",)"
      uR"("external_code":"R1"})";
  for (auto _ : state) {
    const nlohmann::json doc = kJSONUtils::Parse(answer);
    benchmark::DoNotOptimize(kJSONUtils::GetString(&doc, u"status"));
    benchmark::DoNotOptimize(kJSONUtils::GetCurrency(&doc, u"amount_unit"));
  }
}
BENCHMARK(BM_ReadPaymentAnswer);

}  // namespace
}  // namespace qvpa
