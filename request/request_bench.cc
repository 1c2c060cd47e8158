// Reading payment requests: a complete PAY request, and a request with many parameters.
#include <benchmark/benchmark.h>

#include <string>

#include "base/text.h"
#include "request/payment_handler.h"

namespace qvpa {
namespace {

const char kPayRequest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<Request><Driver>QVPA_SATISPAY_10</Driver><Method>PAY</Method><Handle>1</Handle>"
    "<LogId>T01</LogId>"
    "<Connection><Type>HTTP</Type><ConnectTimeout>5000</ConnectTimeout>"
    "<ReadTimeout>30000</ReadTimeout><Address>authservices.example</Address><Port>443</Port>"
    "<URL>https://authservices.example/g_business/v1</URL><AuthType>None</AuthType>"
    "<User></User><Password></Password></Connection>"
    "<Parameters><KeyID>k2f1q3abcdefghijklmnopqrstuvwxyz0123456789</KeyID>"
    "<Staging>true</Staging><HexLog>false</HexLog><DeviceName>POS1</DeviceName>"
    "<ConnectTimeout>6000</ConnectTimeout></Parameters>"
    "<Payment><MerchantCode>M001</MerchantCode><StoreCode>S01</StoreCode>"
    "<TillCode>T01</TillCode><Reference>R-2024-000123</Reference>"
    "<ReceiptSubType>SALE</ReceiptSubType><Amount>12.50</Amount><Currency>EUR</Currency>"
    "<TipAmount>0.50</TipAmount><RequestTipAmount>false</RequestTipAmount>"
    "<Attributes>7b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0</Attributes><MaxItems>10</MaxItems>"
    "<MaxAmount>100.00</MaxAmount><TokenizeCard>false</TokenizeCard>"
    "<TokenReference>tok-1</TokenReference><ReceiptColCount>42</ReceiptColCount>"
    "<PrintLocation>ECR</PrintLocation><PaymentChannel>STD</PaymentChannel>"
    "<Action>PAY</Action><Phase>BEGIN</Phase><OperatorId>OP7</OperatorId>"
    "<RefundReference><PaymentId>pay-0001</PaymentId>"
    "<PaymentDateTime>2024-03-05T14:07:09</PaymentDateTime></RefundReference>"
    "<ReceiptId>RC-0001</ReceiptId></Payment></Request>";

void BM_DeserializePayRequest(benchmark::State& state) {
  const std::u16string xml = FromUtf8(kPayRequest);
  for (auto _ : state) {
    kPaymentHandler handler;
    handler.Deserialize(xml, {qvPaymentHandlerDocumentType::dt_Pay});
    benchmark::DoNotOptimize(handler.PaymentReceipt().Amount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(xml.size() * sizeof(char16_t)));
}
BENCHMARK(BM_DeserializePayRequest);

// Parameters with distinct names: the reading must stay linear in their number.
void BM_DeserializeManyParameters(benchmark::State& state) {
  std::string xml = "<r><Parameters>";
  for (int64_t i = 0; i < state.range(0); ++i) {
    const std::string name = "P" + std::to_string(i);
    xml += "<" + name + ">" + std::to_string(i) + "</" + name + ">";
  }
  xml += "</Parameters></r>";
  const std::u16string text = FromUtf8(xml);
  for (auto _ : state) {
    kDeviceHandler handler;
    handler.Deserialize(text);
    benchmark::DoNotOptimize(handler.Parameters().size());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DeserializeManyParameters)->RangeMultiplier(8)->Range(64, 32768)->Complexity();

}  // namespace
}  // namespace qvpa
