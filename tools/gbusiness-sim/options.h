// The simulator's command line.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_OPTIONS_H_
#define QVPA_TOOLS_GBUSINESS_SIM_OPTIONS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvpa::gbsim {

struct Options {
  int port = 0;
  std::string port_file;
  std::string bind_address = "127.0.0.1";
  std::string cert_dir;   // where generated TLS files go; a fresh temporary folder when empty
  std::string cert_file;  // given certificate and key (both or neither)
  std::string key_file;
  std::vector<std::string> extra_names;                         // more names for the generated certificate
  std::vector<std::string> tokens;
  std::vector<std::pair<std::string, std::string>> key_files;  // key id -> PEM file
  int accept_after = -1;
  std::string shop_id;
  bool quiet = false;
  bool listing_without_codes = false;    // listing items without external_code
  bool timestamp_created_after = false;  // starting_after_timestamp read as "created after"
  double fault_rate = 0;    // chance of a random fault per request
  uint64_t seed = 1;        // of the random faults
  int slow_ms = 35'000;     // how late a slow answer comes
  bool help = false;
};

// Reads the arguments after the program name ("--name value" or "--name=value").
// Throws std::invalid_argument naming the offending argument.
Options ParseOptions(const std::vector<std::string>& args);

std::string Usage();

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_OPTIONS_H_
