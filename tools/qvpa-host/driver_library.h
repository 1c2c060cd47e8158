// The driver library as a host loads it: by path, its exports found by name, strings
// crossing as BSTR (the system's oleaut32 on Windows, the library's own allocator elsewhere).
#ifndef QVPA_TOOLS_QVPA_HOST_DRIVER_LIBRARY_H_
#define QVPA_TOOLS_QVPA_HOST_DRIVER_LIBRARY_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace qvpa::host {

struct Answer {
  int16_t result = 0;
  std::string output;
  std::string error;
};

class DriverLibrary {
 public:
  // Loads the library; throws std::runtime_error when it cannot be loaded.
  explicit DriverLibrary(const std::string& aPath);
  // Unloads the library (without calling any export).
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  // Calls the export with the request text; throws std::runtime_error when it is missing.
  Answer Call(const std::string& aExport, const std::string& aRequest);

 private:
  struct Module;
  std::unique_ptr<Module> module_;
};

// Whether the library at aPath is no longer mapped in this process, waiting up to
// aWithin for threads that still hold it to let go.
bool WaitUntilUnloaded(const std::string& aPath, std::chrono::milliseconds aWithin);

// The file name of the driver library on this platform.
const char* LibraryFileName();
// The folder of the running program, with a trailing separator; empty when unknown.
std::string ProgramFolder();

}  // namespace qvpa::host

#endif  // QVPA_TOOLS_QVPA_HOST_DRIVER_LIBRARY_H_
