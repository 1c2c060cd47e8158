#include "fuzz/export_calls.h"

#include "base/text.h"
#include "driver/exports.h"
#include "driver/ole_string.h"

namespace qvpa::fuzzing {
namespace {

int32_t gNextHandle = 1;

}  // namespace

Answer Call(Export aExport, std::u16string_view aRequest) {
  BSTR request = StringToBstr(aRequest);
  BSTR output = nullptr;
  BSTR error = nullptr;
  Answer answer;
  answer.result = aExport(request, &output, &error);
  SysFreeString(request);
  answer.output = BstrToString(output);
  answer.error = BstrToString(error);
  SysFreeString(output);
  SysFreeString(error);
  return answer;
}

void CloseOpenDevices(int32_t aIssuedHandle) {
  const auto close = [](int32_t aHandle) {
    return Call(&CLOSE, u"<r><Handle>" + IntToStr(aHandle) + u"</Handle></r>").result == 0;
  };
  for (; gNextHandle <= aIssuedHandle; ++gNextHandle) close(gNextHandle);
  while (close(gNextHandle)) ++gNextHandle;
}

void NoteClosed(int32_t aHandle) {
  if (gNextHandle <= aHandle) gNextHandle = aHandle + 1;
}

}  // namespace qvpa::fuzzing
