#include <dlfcn.h>

#include "base/text.h"
#include "io/dynamic_library.h"

namespace qvpa {

namespace {

// dlopen gives a text but no error number. Every load failure reports the code Windows
// gives a module that cannot be found or loaded (ERROR_MOD_NOT_FOUND), so callers and
// logs see the same number on every platform.
constexpr int32_t kLoadFailedCode = 126;

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::u16string& aName, LoadError& aError) {
  ::dlerror();
  void* handle = ::dlopen(ToUtf8(aName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    aError.message = FromUtf8(text != nullptr ? text : "unknown error");
    aError.code = kLoadFailedCode;
    return nullptr;
  }
  return std::make_unique<DynamicLibrary>(Token(), handle);
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::Address(const std::u16string& aProcName) const {
  return ::dlsym(handle_, ToUtf8(aProcName).c_str());
}

}  // namespace qvpa
