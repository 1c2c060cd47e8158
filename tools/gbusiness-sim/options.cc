#include "tools/gbusiness-sim/options.h"

#include <stdexcept>

namespace qvpa::gbsim {

namespace {

int ReadNumber(const std::string& name, const std::string& text, int low, int high) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < low || value > high)
    throw std::invalid_argument(name + " expects a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

// A chance from 0 to 1, or a percentage ("20%").
double ReadRate(const std::string& name, const std::string& text) {
  size_t used = 0;
  double value = -1;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used + 1 == text.size() && text.back() == '%') {
    value /= 100;
    ++used;
  }
  if (used == 0 || used != text.size() || !(value >= 0 && value <= 1))
    throw std::invalid_argument(name + " expects a chance from 0 to 1 (or 0% to 100%), not \"" + text + "\"");
  return value;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
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
    else if (name == "--quiet") options.quiet = true;
    else if (name == "--listing-without-codes") options.listing_without_codes = true;
    else if (name == "--timestamp-created-after") options.timestamp_created_after = true;
    else if (name == "--port") options.port = ReadNumber(name, next(), 0, 65535);
    else if (name == "--port-file") options.port_file = next();
    else if (name == "--bind") options.bind_address = next();
    else if (name == "--cert-dir") options.cert_dir = next();
    else if (name == "--cert") options.cert_file = next();
    else if (name == "--key") options.key_file = next();
    else if (name == "--san") options.extra_names.push_back(next());
    else if (name == "--token") options.tokens.push_back(next());
    else if (name == "--accept-after") options.accept_after = ReadNumber(name, next(), 0, 1'000'000);
    else if (name == "--shop-id") options.shop_id = next();
    else if (name == "--fault-rate") options.fault_rate = ReadRate(name, next());
    else if (name == "--seed") options.seed = static_cast<uint64_t>(ReadNumber(name, next(), 0, 2'000'000'000));
    else if (name == "--slow-ms") options.slow_ms = ReadNumber(name, next(), 0, 600'000);
    else if (name == "--public-key") {
      const std::string pair = next();
      const size_t equals = pair.find('=');
      if (equals == 0 || equals == std::string::npos || equals + 1 == pair.size())
        throw std::invalid_argument("--public-key expects KEYID=FILE");
      options.key_files.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    } else {
      throw std::invalid_argument("unknown argument \"" + args[i] + "\"");
    }
  }
  if (options.cert_file.empty() != options.key_file.empty())
    throw std::invalid_argument("--cert and --key go together");
  return options;
}

std::string Usage() {
  return R"(usage: gbusiness-sim [options]
Serves the G Business API over HTTPS on loopback, in memory.
  --port N             port to listen on; 0 (default) picks a free one
  --port-file FILE     also write the port number into FILE
  --bind ADDR          address to listen on (default 127.0.0.1)
  --cert-dir DIR       generate ca.pem, server.pem, server-key.pem into DIR
                       (default: a new temporary folder)
  --cert FILE --key FILE   use this certificate and key instead
  --san NAME           extra DNS name or IP address for the generated certificate (repeatable)
  --token TOKEN        activation token accepted once by authentication_keys (repeatable)
  --public-key ID=FILE register a PEM RSA public key under key id ID (repeatable)
  --accept-after N     a pending payment read more than N times becomes ACCEPTED
                       (default: only through /control/payments/{id}/accept)
  --shop-id UUID       the shop's id (default: random)
  --listing-without-codes   listing items carry no external_code (as the contract's
                       listing examples); GET by id and POST answers still do
  --timestamp-created-after starting_after_timestamp lists payments created after it, in
                       Unix milliseconds (default: a place in the newest-first list)
  --fault-rate R       inject a random fault into each request with chance R (0 to 1,
                       or 20%): refused connection, reset before or during the answer,
                       500, 503, slow answer, store then close, a body that is not JSON,
                       kept connection closed after the answer, empty listing page with
                       has_more (default 0: none)
  --seed N             seed of the random faults (default 1)
  --slow-ms N          how late a slow answer comes, in ms (default 35000)
  --quiet              no request log on stdout
Prints "PORT <n>" and "CA_FILE <path>" first, then one line per request.
)";
}

}  // namespace qvpa::gbsim
