// gbusiness-sim: a local stand-in for the G Business payment service (see README.md).
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "tools/gbusiness-sim/options.h"
#include "tools/gbusiness-sim/server.h"
#include "tools/gbusiness-sim/tls_certs.h"

namespace {

using namespace qvpa::gbsim;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes through a temporary name so a reader never sees a partial number.
void WritePortFile(const std::string& path, int port) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << "\n";
    if (!out) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, path);
}

std::string MakeTemporaryFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/gbusiness-sim.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  return pattern;
}

int Run(const Options& options) {
  // Termination signals are taken by sigwait below, on this thread only.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  ServerConfig config;
  config.bind_address = options.bind_address;
  config.port = options.port;
  config.tokens = options.tokens;
  config.store.accept_after_reads = options.accept_after;
  config.store.listing_codes = !options.listing_without_codes;
  config.store.timestamp_created_after = options.timestamp_created_after;
  config.store.shop_id = options.shop_id;
  config.random_faults = {options.fault_rate, options.seed, options.slow_ms};
  for (const auto& [key_id, file] : options.key_files) config.keys.emplace_back(key_id, ReadFile(file));

  std::string ca_file;
  if (!options.cert_file.empty()) {
    config.cert_file = options.cert_file;
    config.key_file = options.key_file;
  } else {
    const TlsFiles files =
        GenerateTlsFiles(options.cert_dir.empty() ? MakeTemporaryFolder() : options.cert_dir, options.extra_names);
    config.cert_file = files.cert_file;
    config.key_file = files.key_file;
    ca_file = files.ca_file;
  }
  static std::mutex output_mutex;
  if (!options.quiet) {
    config.log = [](const std::string& line) {
      std::lock_guard lock(output_mutex);
      std::cout << line << std::endl;
    };
  }
  config.on_shutdown_request = [] { kill(getpid(), SIGTERM); };

  SimServer server(std::move(config));
  const int port = server.Start();
  if (!options.port_file.empty()) WritePortFile(options.port_file, port);
  {
    std::lock_guard lock(output_mutex);
    std::cout << "PORT " << port << "\n";
    if (!ca_file.empty()) std::cout << "CA_FILE " << ca_file << "\n";
    std::cout << "SHOP_ID " << server.store().shop_id() << std::endl;
  }

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::cout << Usage();
      return 0;
    }
    return Run(options);
  } catch (const std::invalid_argument& error) {
    std::cerr << "gbusiness-sim: " << error.what() << "\n" << Usage();
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "gbusiness-sim: " << error.what() << "\n";
    return 1;
  }
}
