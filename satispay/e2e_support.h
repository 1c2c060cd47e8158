// Test support for the driver as a host uses it: the shared library loaded at run time with
// its exports, and the local payment service run as a child process on an ephemeral port
// with its control side. Used by the end-to-end tests and the benchmark.
#ifndef QVPA_SATISPAY_E2E_SUPPORT_H_
#define QVPA_SATISPAY_E2E_SUPPORT_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qvpa::testing {

using BSTR = char16_t*;

// The driver library at aPath; the exports are called with request texts.
class DriverLibrary {
 public:
  explicit DriverLibrary(const char* aPath);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  struct Answer {
    int16_t result = 0;
    std::u16string output, error;
    // The text of the result document's element `name` (escaped as rendered).
    std::string Field(const std::string& name) const;
    std::string Error() const;
  };

  Answer Call(const char* aExport, const std::string& aRequest) const;

 private:
  void* Symbol(const char* aName) const;

  void* handle_;
  BSTR (*alloc_)(const char16_t*, unsigned int) = nullptr;
  void (*free_)(BSTR) = nullptr;
  unsigned int (*length_)(BSTR) = nullptr;
};

// The local service started from aProgram with its TLS files in aFolder, the given
// activation tokens and further options (aExtraArgs, e.g. "--accept-after", "2"); stopped
// (SIGTERM, then reaped) by Stop() or destruction.
class LocalService {
 public:
  static constexpr const char* kShopId = "0b6c3c3e-5a36-4e8a-9d1c-5a1e2b3c4d5e";

  LocalService(const char* aProgram, const std::filesystem::path& aFolder,
               const std::vector<std::string>& aTokens, const std::vector<std::string>& aExtraArgs = {});
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  void Stop();
  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string CaFile() const { return (folder_ / "ca.pem").string(); }

  // A request to the control side (GET or POST with a JSON body); the parsed answer.
  nlohmann::json Control(const std::string& aMethod, const std::string& aPath,
                         const nlohmann::json& aBody = nlohmann::json()) const;
  void AddFault(const nlohmann::json& aFault) const { Control("POST", "/control/faults", aFault); }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace qvpa::testing

#endif  // QVPA_SATISPAY_E2E_SUPPORT_H_
