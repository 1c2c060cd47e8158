// The fault soak's command line.
#ifndef QVPA_TOOLS_FAULT_SOAK_SOAK_OPTIONS_H_
#define QVPA_TOOLS_FAULT_SOAK_SOAK_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qvpa::soak {

struct SoakOptions {
  long operations = 300;       // export calls in all, about; the cycles under way finish
  int devices = 4;             // each on its own thread
  double fault_rate = 0.2;     // chance of a fault per service request
  uint64_t seed = 1;
  int timeout_ms = 1000;       // the devices' RequestTimeout
  long memory_limit_kib = 2048;  // growth after warm-up that counts as a violation (runs of 2,000 or more)
  long hold_bytes_per_operation = 0;  // kept by the soak itself per operation: shows invariant 8 failing
  std::string library;         // the driver library
  std::string service;         // the simulator program
  std::string folder;          // logs and TLS files; a new temporary folder when empty
  bool keep = false;           // keep the folder after a clean run
  bool help = false;
};

// Reads the arguments after the program name ("--name value" or "--name=value"); the library and
// service default to the build's. Throws std::invalid_argument naming the offending argument.
SoakOptions ParseSoakOptions(const std::vector<std::string>& args);
std::string SoakUsage();

}  // namespace qvpa::soak

#endif  // QVPA_TOOLS_FAULT_SOAK_SOAK_OPTIONS_H_
