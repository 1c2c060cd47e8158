#include "driver/ole_string.h"

#include <new>

namespace qvpa {

#if defined(_WIN32)
static_assert(sizeof(OLECHAR) == sizeof(char16_t));
#endif

std::u16string BstrToString(BSTR aText) {
  if (aText == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(aText), SysStringLen(aText));
}

BSTR StringToBstr(std::u16string_view aText) {
  if (aText.empty()) return nullptr;
  BSTR result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(aText.data()),
                                  static_cast<unsigned int>(aText.size()));
  if (result == nullptr) throw std::bad_alloc();
  return result;
}

}  // namespace qvpa
