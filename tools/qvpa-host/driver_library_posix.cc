#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "base/text.h"
#include "tools/qvpa-host/driver_library.h"

namespace qvpa::host {

namespace {
using BSTR = char16_t*;
using Export = int16_t (*)(BSTR, BSTR*, BSTR*);
}  // namespace

// The library's handle and its string functions: strings cross with its own allocator.
struct DriverLibrary::Module {
  void* handle = nullptr;
  BSTR (*alloc)(const char16_t*, unsigned) = nullptr;
  void (*free)(BSTR) = nullptr;
  unsigned (*length)(BSTR) = nullptr;

  void* Symbol(const char* aName) const {
    void* symbol = dlsym(handle, aName);
    if (symbol == nullptr) throw std::runtime_error(std::string("no export ") + aName);
    return symbol;
  }
  std::string Take(BSTR aText) const {
    if (aText == nullptr) return {};
    std::string text = ToUtf8(std::u16string_view(aText, length(aText)));
    free(aText);
    return text;
  }
};

DriverLibrary::DriverLibrary(const std::string& aPath) : module_(std::make_unique<Module>()) {
  module_->handle = dlopen(aPath.c_str(), RTLD_NOW);
  if (module_->handle == nullptr) throw std::runtime_error(std::string("cannot load: ") + dlerror());
  try {
    module_->alloc = reinterpret_cast<BSTR (*)(const char16_t*, unsigned)>(module_->Symbol("SysAllocStringLen"));
    module_->free = reinterpret_cast<void (*)(BSTR)>(module_->Symbol("SysFreeString"));
    module_->length = reinterpret_cast<unsigned (*)(BSTR)>(module_->Symbol("SysStringLen"));
  } catch (...) {
    dlclose(module_->handle);
    throw;
  }
}

DriverLibrary::~DriverLibrary() { dlclose(module_->handle); }

Answer DriverLibrary::Call(const std::string& aExport, const std::string& aRequest) {
  const auto fn = reinterpret_cast<Export>(module_->Symbol(aExport.c_str()));
  const std::u16string request = FromUtf8(aRequest);
  BSTR in = request.empty() ? nullptr
                            : module_->alloc(request.data(), static_cast<unsigned>(request.size()));
  BSTR output = nullptr;
  BSTR error = nullptr;
  Answer answer;
  answer.result = fn(in, &output, &error);
  answer.output = module_->Take(output);
  answer.error = module_->Take(error);
  module_->free(in);
  return answer;
}

bool WaitUntilUnloaded(const std::string& aPath, std::chrono::milliseconds aWithin) {
  const auto deadline = std::chrono::steady_clock::now() + aWithin;
  while (true) {
    void* still = dlopen(aPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still == nullptr) return true;
    dlclose(still);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

const char* LibraryFileName() { return "libQVPA_SATISPAY_10.so"; }

std::string ProgramFolder() {
  std::error_code ec;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  return ec ? std::string() : folder.string() + "/";
}

}  // namespace qvpa::host
