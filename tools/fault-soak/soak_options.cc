#include "tools/fault-soak/soak_options.h"

#include <stdexcept>

namespace qvpa::soak {

namespace {

double ReadNumber(const std::string& name, const std::string& text, double low, double high) {
  size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !(value >= low && value <= high))
    throw std::invalid_argument(name + " expects a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

long ReadWhole(const std::string& name, const std::string& text, long low, long high) {
  const double value = ReadNumber(name, text, static_cast<double>(low), static_cast<double>(high));
  if (value != static_cast<double>(static_cast<long>(value)))
    throw std::invalid_argument(name + " expects a whole number, not \"" + text + "\"");
  return static_cast<long>(value);
}

}  // namespace

SoakOptions ParseSoakOptions(const std::vector<std::string>& args) {
  SoakOptions options;
#ifdef QVPA_PRODUCT_LIBRARY
  options.library = QVPA_PRODUCT_LIBRARY;
#endif
#ifdef GBUSINESS_SIM
  options.service = GBUSINESS_SIM;
#endif
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    auto next = [&]() -> std::string {
      if (has_value) return value;
      if (i + 1 >= args.size()) throw std::invalid_argument(name + " needs a value");
      return args[++i];
    };
    if (name == "--help" || name == "-h") options.help = true;
    else if (name == "--keep") options.keep = true;
    else if (name == "--operations") options.operations = ReadWhole(name, next(), 1, 100'000'000);
    else if (name == "--devices") options.devices = static_cast<int>(ReadWhole(name, next(), 1, 64));
    else if (name == "--fault-rate") options.fault_rate = ReadNumber(name, next(), 0, 1);
    else if (name == "--seed") options.seed = static_cast<uint64_t>(ReadWhole(name, next(), 0, 2'000'000'000));
    else if (name == "--timeout-ms") options.timeout_ms = static_cast<int>(ReadWhole(name, next(), 100, 60'000));
    else if (name == "--memory-limit-kib") options.memory_limit_kib = ReadWhole(name, next(), 1, 100'000'000);
    else if (name == "--hold-bytes-per-operation")
      options.hold_bytes_per_operation = ReadWhole(name, next(), 0, 1'000'000);
    else if (name == "--library") options.library = next();
    else if (name == "--service") options.service = next();
    else if (name == "--folder") options.folder = next();
    else throw std::invalid_argument("unknown argument \"" + args[i] + "\"");
  }
  if (options.library.empty() || options.service.empty())
    throw std::invalid_argument("--library and --service are needed");
  return options;
}

std::string SoakUsage() {
  return R"(usage: fault-soak [options]
Payment cycles on several devices in parallel through the driver library's exports, against
the local service injecting random faults; every call checked against the service's record.
  --operations N       export calls in all (default 300); cycles under way finish
  --devices D          devices, each on its own thread (default 4)
  --fault-rate R       chance of a fault per service request, 0 to 1 (default 0.2)
  --seed S             seed of the faults and of the cycles (default 1)
  --timeout-ms T       the devices' RequestTimeout (default 1000)
  --memory-limit-kib K growth of the live allocations kept between calls, from the second
                       fifth of the run to the last, that fails a run of 2,000 operations or
                       more (default 2048)
  --hold-bytes-per-operation B
                       the soak keeps B bytes per operation, as a leaking library would: a
                       check that the memory invariant fails (default 0)
  --library PATH       the driver library (default: the build's)
  --service PATH       the simulator (default: the build's)
  --folder DIR         logs and TLS files (default: a new temporary folder, removed after a
                       clean run)
  --keep               keep the folder after a clean run
Exits 0 without violations, 1 with any (printed with the seed and the device's calls).
)";
}

}  // namespace qvpa::soak
