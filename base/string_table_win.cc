// The driver's string table from the module's STRINGTABLE resource.
#include <windows.h>

#include "base/module_win.h"
#include "base/string_table.h"

namespace qvpa {

std::u16string LoadModuleString(int32_t aId) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW returns a pointer into the resource itself.
  const int length = LoadStringW(platform::CurrentModule(), static_cast<UINT>(aId),
                                 reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length));
}

}  // namespace qvpa
