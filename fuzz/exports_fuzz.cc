// Every export with arbitrary request text. The first byte chooses the export ('0' OPEN ...
// '9' GENERATE_KEYID, other bytes by their value); the rest is the request: UTF-16 code units
// in little-endian byte pairs, or, built with QVPA_FUZZ_UTF8, UTF-8 turned into UTF-16.
// Every device an input opens is closed before the next one: only OPEN opens one, so only
// after an OPEN is CLOSE called. The log folder is cleared after every 64th OPEN.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "driver/exports.h"
#include "fuzz/export_calls.h"
#include "fuzz/fuzz_support.h"

namespace {

using qvpa::fuzzing::Export;

const Export kExports[] = {&OPEN,      &CLOSE,     &PAY,        &REPRINT, &GETSTATUS,
                           &DAYCLOSE,  &GETTOTALS, &VERIFYTRAN, &VERSION, &GENERATE_KEYID};

std::u16string RequestText(const uint8_t* aData, size_t aSize) {
#ifdef QVPA_FUZZ_UTF8
  return qvpa::FromUtf8(std::string_view(reinterpret_cast<const char*>(aData), aSize));
#else
  std::u16string text(aSize / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(aData[2 * i] | (aData[2 * i + 1] << 8));
  }
  return text;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qvpa::fuzzing::PrepareProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  const size_t choice = static_cast<uint8_t>(aData[0] - '0') % std::size(kExports);
  qvpa::fuzzing::Call(kExports[choice], RequestText(aData + 1, aSize - 1));
  if (kExports[choice] == &OPEN) {
    qvpa::fuzzing::CloseOpenDevices();
    static int opens = 0;
    if (++opens % 64 == 0) qvpa::fuzzing::ClearDeviceLogs();
  }
  return 0;
}
