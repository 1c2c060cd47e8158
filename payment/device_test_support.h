// Test helpers for device-level tests: a temporary log root published as QVPA_LOG_DIR for
// the scope's lifetime, and whole-file reads.
#ifndef QVPA_PAYMENT_DEVICE_TEST_SUPPORT_H_
#define QVPA_PAYMENT_DEVICE_TEST_SUPPORT_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace qvpa::testing_device {

class TempLogRoot {
 public:
  TempLogRoot() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("qvpa_driver_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
    setenv("QVPA_LOG_DIR", path_.string().c_str(), 1);
  }
  ~TempLogRoot() {
    unsetenv("QVPA_LOG_DIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempLogRoot(const TempLogRoot&) = delete;
  TempLogRoot& operator=(const TempLogRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path PaymentLogs() const { return path_ / "LogFiles" / "Payment"; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace qvpa::testing_device

#endif  // QVPA_PAYMENT_DEVICE_TEST_SUPPORT_H_
