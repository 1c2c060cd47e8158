#include "tools/fault-soak/ground_truth.h"

#include <signal.h>

#include <cctype>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "satispay/e2e_support.h"

namespace qvpa::soak {

namespace {

// Identifiers in a query: letters, digits and '-' pass as they are, the rest is escaped.
std::string QueryValue(const std::string& aText) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : aText) {
    if (std::isalnum(c) != 0 || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The control client writes to connections the simulator may reset (a refused connection at
// its handshake): SIGPIPE is held back on this thread for the call, and one it raised is
// taken before the thread's mask is restored. The driver gets no such help: its calls run
// with the host's handling.
class HeldSigpipe {
 public:
  HeldSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~HeldSigpipe() {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) != 0) {
      const timespec now{0, 0};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  HeldSigpipe(const HeldSigpipe&) = delete;
  HeldSigpipe& operator=(const HeldSigpipe&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
};

}  // namespace

nlohmann::json GroundTruth::Control(const std::string& aMethod, const std::string& aPath,
                                    const nlohmann::json& aBody) const {
  constexpr int kTries = 8;
  for (int attempt = 1;; ++attempt) {
    try {
      const HeldSigpipe held;
      nlohmann::json answer = service_.Control(aMethod, aPath, aBody);
      if (!answer.is_discarded()) return answer;
      if (attempt == kTries) throw std::runtime_error("control answer is not JSON: " + aPath);
    } catch (const std::runtime_error&) {
      if (attempt == kTries) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

nlohmann::json GroundTruth::Payments(const std::string& aField, const std::string& aValue) const {
  return Control("GET", "/control/payments?" + aField + "=" + QueryValue(aValue))["data"];
}

std::vector<Received> GroundTruth::RequestsOf(const std::string& aKeyId, int64_t aAfter) const {
  const nlohmann::json list = Control(
      "GET", "/control/requests?after=" + std::to_string(aAfter) + "&key_id=" + QueryValue(aKeyId))["requests"];
  std::vector<Received> out;
  for (const nlohmann::json& r : list) {
    Received received;
    received.seq = r["seq"];
    received.request = r["method"].get<std::string>() + " " + r["target"].get<std::string>();
    const auto& headers = r["headers"];
    if (headers.contains("idempotency-key")) received.idempotency_key = headers["idempotency-key"][0];
    received.fault = r["fault"];
    out.push_back(std::move(received));
  }
  return out;
}

}  // namespace qvpa::soak
