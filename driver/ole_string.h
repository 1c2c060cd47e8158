// OLE wide strings (BSTR) at the library boundary: UTF-16 code units preceded by a 32-bit
// byte count and followed by a 16-bit NUL. On Windows the system's oleaut32 functions are
// used; elsewhere the library exports its own SysAllocString, SysAllocStringLen,
// SysFreeString and SysStringLen, and callers free what the library returns with them.
#ifndef QVPA_DRIVER_OLE_STRING_H_
#define QVPA_DRIVER_OLE_STRING_H_

#include <string>
#include <string_view>

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#else
#include "driver/export.h"

using OLECHAR = char16_t;
using BSTR = OLECHAR*;

extern "C" {
// A copy of the NUL-terminated text; null for a null text.
QVPA_EXPORT BSTR SysAllocString(const OLECHAR* aText);
// aLength code units copied from aText, or zeroed when aText is null; null when out of memory.
QVPA_EXPORT BSTR SysAllocStringLen(const OLECHAR* aText, unsigned int aLength);
// Releases a string of SysAllocString(Len); null does nothing.
QVPA_EXPORT void SysFreeString(BSTR aText);
// Length in code units; 0 for null.
QVPA_EXPORT unsigned int SysStringLen(BSTR aText);
}
#endif

namespace qvpa {

// The code units of aText (null is the empty text).
std::u16string BstrToString(BSTR aText);
// A new BSTR holding aText, null for the empty text; throws std::bad_alloc when the
// allocator fails.
BSTR StringToBstr(std::u16string_view aText);

}  // namespace qvpa

#endif  // QVPA_DRIVER_OLE_STRING_H_
