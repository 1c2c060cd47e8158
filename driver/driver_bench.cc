// Cost of the export path: GETSTATUS (no request read), OPEN+CLOSE of a device over the
// transport-less channel, a PAY on an open device, and rendering a payment document.
// Logs go to $QVPA_LOG_DIR/LogFiles, or beside this program.
#include <benchmark/benchmark.h>

#include <string>

#include "base/text.h"
#include "driver/exports.h"
#include "driver/result_documents.h"

namespace {

using qvpa::BstrToString;
using qvpa::StringToBstr;

// Calls an export as a host does: a BSTR in, both outputs freed afterwards.
int16_t CallExport(int16_t (*aExport)(BSTR, BSTR*, BSTR*), BSTR aRequest, std::u16string* aOutput) {
  BSTR output = nullptr;
  BSTR error = nullptr;
  const int16_t result = aExport(aRequest, &output, &error);
  if (aOutput != nullptr) *aOutput = BstrToString(output);
  SysFreeString(output);
  SysFreeString(error);
  return result;
}

const char16_t kOpen[] =
    u"<Request><Driver>TEST_COM</Driver><LogId>BENCH</LogId>"
    u"<Connection><Type>Com</Type></Connection></Request>";

int HandleOf(const std::u16string& aDocument) {
  const size_t at = aDocument.find(u"<Handle>") + 8;
  return std::stoi(qvpa::ToUtf8(aDocument.substr(at, aDocument.find(u'<', at) - at)));
}

void BM_GetStatusExport(benchmark::State& state) {
  BSTR request = StringToBstr(u"<Request/>");
  for (auto _ : state) benchmark::DoNotOptimize(CallExport(GETSTATUS, request, nullptr));
  SysFreeString(request);
}
BENCHMARK(BM_GetStatusExport);

void BM_OpenCloseComDevice(benchmark::State& state) {
  BSTR open = StringToBstr(kOpen);
  std::u16string output;
  for (auto _ : state) {
    if (CallExport(OPEN, open, &output) != 0) state.SkipWithError("OPEN failed");
    BSTR close = StringToBstr(u"<R><Handle>" + qvpa::IntToStr(HandleOf(output)) + u"</Handle></R>");
    if (CallExport(CLOSE, close, nullptr) != 0) state.SkipWithError("CLOSE failed");
    SysFreeString(close);
  }
  SysFreeString(open);
}
BENCHMARK(BM_OpenCloseComDevice)->Unit(benchmark::kMicrosecond);

void BM_PayOnOpenDevice(benchmark::State& state) {
  BSTR open = StringToBstr(kOpen);
  std::u16string output;
  CallExport(OPEN, open, &output);
  const std::u16string handle = qvpa::IntToStr(HandleOf(output));
  BSTR pay = StringToBstr(u"<Request><Handle>" + handle +
                          u"</Handle><Payment><Action>PAY</Action><Amount>12.50</Amount>"
                          u"<Currency>EUR</Currency><Reference>R1</Reference></Payment></Request>");
  for (auto _ : state) {
    if (CallExport(PAY, pay, nullptr) != 0) state.SkipWithError("PAY failed");
  }
  BSTR close = StringToBstr(u"<R><Handle>" + handle + u"</Handle></R>");
  CallExport(CLOSE, close, nullptr);
  SysFreeString(close);
  SysFreeString(pay);
  SysFreeString(open);
}
BENCHMARK(BM_PayOnOpenDevice)->Unit(benchmark::kMicrosecond);

void BM_RenderPaymentDocument(benchmark::State& state) {
  qvpa::_int_PAY_result pay;
  pay.PaymentNumber = u"0a1b2c3d-4e5f";
  pay.PaymentAmount = qvpa::Currency::FromCents(1250);
  pay.ReceiptText = u"SATISPAY\r\nAmount 12.50 EUR\r\nThank you & goodbye";
  for (auto _ : state) benchmark::DoNotOptimize(qvpa::RenderResult(pay));
}
BENCHMARK(BM_RenderPaymentDocument);

}  // namespace

BENCHMARK_MAIN();
