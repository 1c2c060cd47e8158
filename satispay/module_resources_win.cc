// Module resources from the RCDATA resources of the module holding this code.
#include <windows.h>

#include "base/module_win.h"
#include "satispay/module_resources.h"

namespace qvpa {

std::optional<std::string> FindModuleResource(std::u16string_view name) {
  // Resource names are matched ignoring letter case by the loader itself.
  const std::u16string key(name);
  if (key.empty()) return std::nullopt;
  const HMODULE module = platform::CurrentModule();
  HRSRC info = FindResourceW(module, reinterpret_cast<LPCWSTR>(key.c_str()), RT_RCDATA);
  if (info == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return std::nullopt;
  const void* data = LockResource(loaded);
  const DWORD size = SizeofResource(module, info);
  if (data == nullptr) return std::nullopt;
  return std::string(static_cast<const char*>(data), size);
}

}  // namespace qvpa
