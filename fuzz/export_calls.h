// Calls of the library's exports as a host makes them, for the fuzz targets that link them.
#ifndef QVPA_FUZZ_EXPORT_CALLS_H_
#define QVPA_FUZZ_EXPORT_CALLS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qvpa::fuzzing {

using Export = int16_t (*)(char16_t*, char16_t**, char16_t**);
struct Answer {
  int16_t result = 0;
  std::u16string output;
  std::u16string error;
};
// Calls an export with a string of the library's allocator and releases what it returns.
Answer Call(Export aExport, std::u16string_view aRequest);
// Closes every device the calls so far have opened. Handles run 1, 2, 3, ...; a call opens at
// most one device, under the next handle. aIssuedHandle: a handle known to have been issued
// (0: none), which the input may already have closed.
void CloseOpenDevices(int32_t aIssuedHandle = 0);
// Records that aHandle, the last one issued, has been closed, without a call: the next
// CloseOpenDevices starts after it.
void NoteClosed(int32_t aHandle);

}  // namespace qvpa::fuzzing

#endif  // QVPA_FUZZ_EXPORT_CALLS_H_
