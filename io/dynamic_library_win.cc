// DynamicLibrary on LoadLibraryW / GetProcAddress / FreeLibrary.
#include <windows.h>

#include <string>

#include "base/text.h"
#include "io/dynamic_library.h"

namespace qvpa {

namespace {

// The system's text for aError, without the trailing line break; the number alone when
// the system has no text for it.
std::u16string SystemText(DWORD aError) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      aError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string result;
  if (length > 0 && text != nullptr) result.assign(reinterpret_cast<const char16_t*>(text), length);
  if (text != nullptr) ::LocalFree(text);
  while (!result.empty() && (result.back() == u'\n' || result.back() == u'\r' || result.back() == u' ')) {
    result.pop_back();
  }
  if (result.empty()) result = u"System error " + IntToStr(aError);
  return result;
}

HMODULE Module(void* aHandle) { return static_cast<HMODULE>(aHandle); }

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::u16string& aName, LoadError& aError) {
  // No message box from the system when the library or one it needs is missing: the
  // host sees the failure in the result instead.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE handle = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(aName.c_str()));
  const DWORD error = ::GetLastError();
  ::SetErrorMode(previous);
  if (handle == nullptr) {
    aError.message = SystemText(error);
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
