// A TCP forwarder on loopback that holds every byte for a fixed time in each direction,
// so that a client and a server on this machine see the round trip of a slow link (twice
// the one-way delay) without any change to the network setup. Order and content of the
// bytes are kept; a half-close is passed on after the same delay. The TCP handshake, which
// the local connect skips, is charged too: a connection's first bytes from the client wait
// one round trip more, as they would behind a connect over the link.
//
// The proxy runs on its own thread from construction to destruction; the destructor stops
// and joins it and closes every socket.
#ifndef QVPA_TOOLS_LATENCY_PROXY_LATENCY_PROXY_H_
#define QVPA_TOOLS_LATENCY_PROXY_LATENCY_PROXY_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace qvpa::latency {

class LatencyProxy {
 public:
  // Listens on 127.0.0.1:listen_port (0: a free port) and forwards every accepted
  // connection to target_host:target_port (an IPv4 address). Throws std::runtime_error
  // when the port cannot be bound.
  LatencyProxy(const std::string& target_host, int target_port, std::chrono::milliseconds one_way_delay,
               int listen_port = 0);
  ~LatencyProxy();
  LatencyProxy(const LatencyProxy&) = delete;
  LatencyProxy& operator=(const LatencyProxy&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  // Connections accepted so far.
  int64_t Accepted() const { return accepted_.load(); }

 private:
  void Run();

  std::string target_host_;
  int target_port_;
  std::chrono::milliseconds delay_;
  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};  // the destructor writes to [1] to end the loop
  int port_ = 0;
  std::atomic<int64_t> accepted_{0};
  std::thread thread_;
};

}  // namespace qvpa::latency

#endif  // QVPA_TOOLS_LATENCY_PROXY_LATENCY_PROXY_H_
