// The simulator's HTTPS server: the service's resources below /g_business/v1/ (every request but the
// key registration must carry a valid signature) and the customer-side control resources below
// /control/ (unsigned). Serves on its own thread from Start() until Stop() or destruction.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_SERVER_H_
#define QVPA_TOOLS_GBUSINESS_SIM_SERVER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/gbusiness-sim/fault_plan.h"
#include "tools/gbusiness-sim/key_registry.h"
#include "tools/gbusiness-sim/payment_store.h"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
}  // namespace httplib

namespace qvpa::gbsim {

struct ServerConfig {
  std::string bind_address = "127.0.0.1";
  int port = 0;  // 0: an ephemeral port
  std::string cert_file;
  std::string key_file;
  std::vector<std::string> tokens;                            // activation tokens, each usable once
  std::vector<std::pair<std::string, std::string>> keys;      // key id -> PEM public key, registered up front
  StoreOptions store;
  RandomFaultSettings random_faults;                          // rate 0: none
  std::function<void(const std::string&)> log;                // one line per request; none when empty
  std::function<void()> on_shutdown_request;                  // POST /control/shutdown
};

struct Stats {
  int64_t requests = 0;               // every request received, control included
  int64_t signed_requests = 0;        // service requests that must be signed
  int64_t verification_failures = 0;  // of those, how many failed the check
  int64_t registrations = 0;          // successful key registrations
  std::string last_error;             // the last verification failure
};

// What arrived with one service request, as the simulator received it.
struct ReceivedRecord {
  int64_t seq = 0;                                            // 1, 2, 3, ... in order of arrival
  std::string method;
  std::string target;                                         // path with query, as sent
  std::vector<std::pair<std::string, std::string>> headers;   // names in lower case
  std::string fault;                                          // the fault it met: a random label, a planned kind, or empty
};

class SimServer {
 public:
  // Throws std::runtime_error when the certificate or key does not load, or a preset key is not RSA.
  explicit SimServer(ServerConfig config);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Binds and starts serving; returns the port. Throws std::runtime_error when binding fails.
  int Start();
  // Stops serving and joins the thread; safe to call more than once.
  void Stop();

  int port() const { return port_; }
  Stats stats() const;
  // The last kRecordedRequests service requests, oldest first.
  std::vector<ReceivedRecord> received() const;
  static constexpr size_t kRecordedRequests = 2000;
  KeyRegistry& keys() { return keys_; }
  PaymentStore& store() { return store_; }
  FaultPlan& faults() { return faults_; }
  RandomFaults& random_faults() { return random_faults_; }

 private:
  void Route();
  void HandleService(const httplib::Request& request, httplib::Response& response);
  Answer Serve(const httplib::Request& request, const std::string& resource, const std::string& id);
  int64_t Record(const httplib::Request& request);
  void NoteFault(int64_t seq, const std::string& fault);
  bool CheckSignature(const httplib::Request& request);
  void HandleControl(const httplib::Request& request, httplib::Response& response);

  ServerConfig config_;
  KeyRegistry keys_;
  PaymentStore store_;
  FaultPlan faults_;
  RandomFaults random_faults_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  std::atomic<bool> listening_done_{false};
  int port_ = 0;
  mutable std::mutex stats_mutex_;
  Stats stats_;
  std::deque<ReceivedRecord> received_;  // guarded by stats_mutex_
  int64_t next_seq_ = 1;                 // guarded by stats_mutex_
};

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_SERVER_H_
