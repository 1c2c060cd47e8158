// DynamicLibrary: one loaded shared library and the addresses of its exports. One
// implementation per platform (dynamic_library_posix.cc on dlopen/dlsym).
#ifndef QVPA_IO_DYNAMIC_LIBRARY_H_
#define QVPA_IO_DYNAMIC_LIBRARY_H_

#include <cstdint>
#include <memory>
#include <string>

namespace qvpa {

class DynamicLibrary {
 public:
  // Why a load failed: the system's text and its error code.
  struct LoadError {
    std::u16string message;
    int32_t code = 0;
  };

  // Loads aName (the system's search rules apply to a bare name). Null on failure, with
  // aError filled.
  static std::unique_ptr<DynamicLibrary> Load(const std::u16string& aName, LoadError& aError);
  // Only Load can make the token: a library object always holds a loaded library.
  struct Token {
   private:
    friend class DynamicLibrary;
    Token() = default;
  };
  DynamicLibrary(Token, void* aHandle) : handle_(aHandle) {}
  ~DynamicLibrary();  // unloads
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Address of the export aProcName; null when it has none of that name.
  void* Address(const std::u16string& aProcName) const;

 private:
  void* handle_;
};

}  // namespace qvpa

#endif  // QVPA_IO_DYNAMIC_LIBRARY_H_
