// DynamicLibrary on LoadLibraryW / GetProcAddress / FreeLibrary.
#include <windows.h>

#include <string>

#include "io/dynamic_library.h"
#include "io/system_error_win.h"

namespace qvpa {

namespace {

HMODULE Module(void* aHandle) { return static_cast<HMODULE>(aHandle); }

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::u16string& aName, LoadError& aError) {
  // No message box from the system when the library or one it needs is missing: the
  // host sees the failure in the result instead. Only this thread's mode changes.
  DWORD previous = 0;
  const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous) != 0;
  HMODULE handle = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(aName.c_str()));
  const DWORD error = ::GetLastError();
  if (quiet) ::SetThreadErrorMode(previous, nullptr);
  if (handle == nullptr) {
    aError.message = WindowsErrorText(error);
    aError.code = static_cast<int32_t>(error);
    return nullptr;
  }
  return std::make_unique<DynamicLibrary>(Token(), static_cast<void*>(handle));
}

DynamicLibrary::~DynamicLibrary() { ::FreeLibrary(Module(handle_)); }

void* DynamicLibrary::Address(const std::u16string& aProcName) const {
  // Export names are 8-bit; a name outside ASCII cannot be one.
  std::string name;
  name.reserve(aProcName.size());
  for (char16_t c : aProcName) {
    if (c == 0 || c > 0x7F) return nullptr;
    name += static_cast<char>(c);
  }
  return reinterpret_cast<void*>(::GetProcAddress(Module(handle_), name.c_str()));
}

}  // namespace qvpa
