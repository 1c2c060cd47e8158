#include <windows.h>
#include <oleauto.h>

#include <stdexcept>

#include "base/text.h"
#include "tools/qvpa-host/driver_library.h"

namespace qvpa::host {

namespace {
// The exports' convention: stdcall on 32-bit Windows (the only convention on 64-bit).
using Export = int16_t(WINAPI*)(BSTR, BSTR*, BSTR*);

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Take(BSTR aText) {
  if (aText == nullptr) return {};
  std::string text =
      ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(aText), SysStringLen(aText)));
  SysFreeString(aText);
  return text;
}
}  // namespace

struct DriverLibrary::Module {
  HMODULE handle = nullptr;
};

DriverLibrary::DriverLibrary(const std::string& aPath) : module_(std::make_unique<Module>()) {
  module_->handle = LoadLibraryW(Wide(aPath).c_str());
  if (module_->handle == nullptr) {
    throw std::runtime_error("cannot load: " + aPath + " (error " + std::to_string(GetLastError()) + ")");
  }
}

DriverLibrary::~DriverLibrary() { FreeLibrary(module_->handle); }

Answer DriverLibrary::Call(const std::string& aExport, const std::string& aRequest) {
  const auto fn = reinterpret_cast<Export>(
      reinterpret_cast<void*>(GetProcAddress(module_->handle, aExport.c_str())));
  if (fn == nullptr) throw std::runtime_error("no export " + aExport);
  const std::u16string request = FromUtf8(aRequest);
  BSTR in = request.empty() ? nullptr
                            : SysAllocStringLen(reinterpret_cast<const OLECHAR*>(request.data()),
                                                static_cast<UINT>(request.size()));
  BSTR output = nullptr;
  BSTR error = nullptr;
  Answer answer;
  answer.result = fn(in, &output, &error);
  answer.output = Take(output);
  answer.error = Take(error);
  SysFreeString(in);
  return answer;
}

bool WaitUntilUnloaded(const std::string& aPath, std::chrono::milliseconds aWithin) {
  const std::wstring path = Wide(aPath);
  const auto deadline = std::chrono::steady_clock::now() + aWithin;
  while (GetModuleHandleW(path.c_str()) != nullptr) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

const char* LibraryFileName() { return "QVPA_SATISPAY_10.dll"; }

std::string ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::u16string text(reinterpret_cast<const char16_t*>(path), n);
  const std::size_t slash = text.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::string() : ToUtf8(text.substr(0, slash + 1));
}

}  // namespace qvpa::host
