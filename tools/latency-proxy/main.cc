// latency-proxy: forwards TCP connections from a loopback port to a target, holding the bytes
// for a fixed time in each direction (see README.md).
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/latency-proxy/latency_proxy.h"

namespace {

constexpr char kUsage[] =
    "usage: latency-proxy --target HOST:PORT (--delay-ms N | --rtt-ms N) [--port N] [--port-file FILE]\n";

int Usage(const std::string& problem) {
  std::cerr << problem << "\n" << kUsage;
  return 2;
}

bool ReadNumber(const std::string& text, int& value) {
  try {
    size_t used = 0;
    value = std::stoi(text, &used);
    return used == text.size() && value >= 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string target_host;
  int target_port = 0;
  int delay_ms = -1;
  int port = 0;
  std::string port_file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage("missing value after " + arg);
    const std::string value = argv[++i];
    int number = 0;
    if (arg == "--target") {
      const size_t colon = value.rfind(':');
      if (colon == std::string::npos || !ReadNumber(value.substr(colon + 1), target_port)) {
        return Usage("--target wants HOST:PORT");
      }
      target_host = value.substr(0, colon);
    } else if ((arg == "--delay-ms" || arg == "--rtt-ms") && ReadNumber(value, number)) {
      delay_ms = arg == "--delay-ms" ? number : number / 2;
    } else if (arg == "--port" && ReadNumber(value, number)) {
      port = number;
    } else if (arg == "--port-file") {
      port_file = value;
    } else {
      return Usage("unknown or malformed option " + arg + " " + value);
    }
  }
  if (target_host.empty() || delay_ms < 0) return Usage("--target and a delay are required");

  // SIGINT and SIGTERM are taken by sigwait below; block them before any thread starts.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  try {
    qvpa::latency::LatencyProxy proxy(target_host, target_port, std::chrono::milliseconds(delay_ms), port);
    std::cout << "PORT " << proxy.Port() << "\nDELAY_MS " << delay_ms << " each way\n" << std::flush;
    if (!port_file.empty()) {
      const std::string temporary = port_file + ".tmp";
      std::ofstream(temporary, std::ios::trunc) << proxy.Port() << "\n";
      std::filesystem::rename(temporary, port_file);
    }
    int received = 0;
    sigwait(&stop_signals, &received);
  } catch (const std::exception& failure) {
    std::cerr << "latency-proxy: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
