// Soak run: many payment cycles (PAY BEGIN, DO, COMMIT) on one device through the exports
// against the local service, in one process. Prints the resident memory every 1,000 cycles
// and fails when it grew by 1 MiB or more after the first 1,000, or when a cycle failed.
// Leaks are found by running the sanitizer build of this program (LeakSanitizer at exit).
//   satispay_soak [cycles, default 10000]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/text.h"
#include "satispay/e2e_support.h"

namespace {

using qvpa::testing::DriverLibrary;
using qvpa::testing::LocalService;

constexpr long kReportEvery = 1000;
constexpr long kAllowedGrowthKiB = 1024;
#ifdef __SANITIZE_ADDRESS__
// The sanitizer holds freed memory back for a while: resident memory says nothing here.
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages_total = 0;
  long pages_resident = 0;
  statm >> pages_total >> pages_resident;
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string WithHandle(int handle, const std::string& section) {
  return "<Request><Handle>" + std::to_string(handle) + "</Handle>" + section + "</Request>";
}

DriverLibrary::Answer Expect(const DriverLibrary& library, const char* name, const std::string& request) {
  DriverLibrary::Answer answer = library.Call(name, request);
  if (answer.result != 0) throw std::runtime_error(std::string(name) + " failed: " + answer.Error());
  return answer;
}

int Run(long cycles) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("qvpa-soak-" + std::to_string(getpid()));
  LocalService service(GBUSINESS_SIM, root / "service", {"SOAK1"}, {"--accept-after", "0"});
  setenv("QVPA_LOG_DIR", (root / "host").c_str(), 1);
  setenv("QVPA_SATISPAY_HOST", service.HostPort().c_str(), 1);
  setenv("QVPA_SATISPAY_CA_FILE", service.CaFile().c_str(), 1);
  bool grew = false;
  {
    DriverLibrary library(QVPA_PRODUCT_LIBRARY);
    const DriverLibrary::Answer key = library.Call("GENERATE_KEYID", "token=SOAK1|staging=false");
    if (key.result != 1) throw std::runtime_error("key registration failed: " + key.Error());
    const DriverLibrary::Answer open = Expect(
        library, "OPEN",
        "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>SOAK</LogId><Connection><Type>HTTP</Type></Connection>"
        "<Parameters><KeyID>" + qvpa::ToUtf8(key.output) + "</KeyID></Parameters></Request>");
    const int handle = std::stoi(open.Field("Handle"));

    long baseline_kib = 0;
    std::vector<double> cycle_ms;
    std::printf("%8s %12s %12s %14s\n", "cycles", "rss_kib", "growth_kib", "median_cycle_ms");
    for (long cycle = 1; cycle <= cycles; ++cycle) {
      const auto start = std::chrono::steady_clock::now();
      const DriverLibrary::Answer begin = Expect(
          library, "PAY",
          WithHandle(handle, "<Payment><Action>PAY</Action><Phase>BEGIN</Phase><Amount>1.25</Amount>"
                             "<Currency>EUR</Currency><Reference>SOAK-" + std::to_string(cycle) +
                                 "</Reference></Payment>"));
      Expect(library, "PAY",
             WithHandle(handle, "<Payment><Action>PAY</Action><Phase>DO</Phase><Attributes>" +
                                    begin.Field("PaymentNumber") + "</Attributes></Payment>"));
      Expect(library, "PAY", WithHandle(handle, "<Payment><Action>PAY</Action><Phase>COMMIT</Phase></Payment>"));
      cycle_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      if (cycle % kReportEvery == 0 || cycle == cycles) {
        const long rss = ResidentKiB();
        if (cycle == kReportEvery) baseline_kib = rss;
        std::nth_element(cycle_ms.begin(), cycle_ms.begin() + cycle_ms.size() / 2, cycle_ms.end());
        std::printf("%8ld %12ld %12ld %14.2f\n", cycle, rss, baseline_kib == 0 ? 0 : rss - baseline_kib,
                    cycle_ms[cycle_ms.size() / 2]);
        std::fflush(stdout);
        cycle_ms.clear();
        if (kJudgeMemory && baseline_kib != 0 && rss - baseline_kib >= kAllowedGrowthKiB) grew = true;
      }
    }
    Expect(library, "CLOSE", WithHandle(handle, ""));
  }
  service.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  if (!kJudgeMemory) std::printf("sanitizer build: memory not judged; leaks are reported at exit\n");
  if (grew) std::printf("FAIL: resident memory grew by 1 MiB or more after the first %ld cycles\n", kReportEvery);
  return grew ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long cycles = argc > 1 ? std::atol(argv[1]) : 10000;
  if (cycles <= 0) {
    std::fprintf(stderr, "usage: satispay_soak [cycles]\n");
    return 2;
  }
  try {
    return Run(cycles);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "FAIL: %s\n", failure.what());
    return 1;
  }
}
