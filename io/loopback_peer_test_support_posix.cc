// Loopback peers on POSIX sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "io/loopback_peer_test_support.h"

namespace qvpa::testing_io {

namespace {

sockaddr_in LoopbackAddress(uint16_t aPort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(aPort);
  return addr;
}

// A socket bound to an ephemeral loopback port, listening with aBacklog; its port in aPort.
int Listen(int aBacklog, int& aPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr = LoopbackAddress(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(fd, aBacklog);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  aPort = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

bool PeerConnection::Send(std::string_view aBytes) {
  const int fd = static_cast<int>(socket_);
  while (!aBytes.empty()) {
    const ssize_t n = ::send(fd, aBytes.data(), aBytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    aBytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string PeerConnection::Receive(size_t aMax) {
  std::string bytes(aMax, '\0');
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(socket_), bytes.data(), aMax, 0);
  } while (n < 0 && errno == EINTR);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

void PeerConnection::ResetOnClose() {
  const linger abort_close{1, 0};
  ::setsockopt(static_cast<int>(socket_), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
}

struct LoopbackPeer::State {
  std::function<void(PeerConnection&)> behaviour;
  int listen_fd = -1;
  int port = 0;
  std::atomic<int> accepted{0};
  std::atomic<int> wake_port{-1};  // local port of the destructor's waking connection
  std::thread thread;
};

LoopbackPeer::LoopbackPeer(std::function<void(PeerConnection&)> aBehaviour)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.behaviour = std::move(aBehaviour);
  s.listen_fd = Listen(8, s.port);
  s.thread = std::thread([&s] {
    for (;;) {
      sockaddr_in from{};
      socklen_t from_length = sizeof from;
      const int fd = ::accept(s.listen_fd, reinterpret_cast<sockaddr*>(&from), &from_length);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;
      }
      // Clients queued before the wake are still served.
      if (ntohs(from.sin_port) == s.wake_port) {
        ::close(fd);
        return;
      }
      ++s.accepted;
      PeerConnection connection(fd);
      s.behaviour(connection);
      ::close(fd);
    }
  });
}

LoopbackPeer::~LoopbackPeer() {
  // A connection of our own, known by its port, wakes the blocked accept and stops it.
  State& s = *state_;
  const int wake = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local = LoopbackAddress(0);
  ::bind(wake, reinterpret_cast<sockaddr*>(&local), sizeof local);
  socklen_t local_length = sizeof local;
  ::getsockname(wake, reinterpret_cast<sockaddr*>(&local), &local_length);
  s.wake_port = ntohs(local.sin_port);
  const sockaddr_in addr = LoopbackAddress(static_cast<uint16_t>(s.port));
  ::connect(wake, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  s.thread.join();
  ::close(wake);
  ::close(s.listen_fd);
}

int LoopbackPeer::port() const { return state_->port; }
int LoopbackPeer::accepted() const { return state_->accepted; }

struct StalledListener::State {
  int listen_fd = -1;
  int port = 0;
  std::vector<int> fillers;  // connections that fill the accept queue
};

StalledListener::StalledListener() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.listen_fd = Listen(0, s.port);
  const sockaddr_in addr = LoopbackAddress(static_cast<uint16_t>(s.port));
  for (int i = 0; i < 3; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    s.fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // handshakes settle
}

StalledListener::~StalledListener() {
  for (int fd : state_->fillers) ::close(fd);
  ::close(state_->listen_fd);
}

int StalledListener::port() const { return state_->port; }

int ClosedLoopbackPort() {
  int port = 0;
  ::close(Listen(1, port));
  return port;
}

std::string RefusedConnectionText() { return std::strerror(ECONNREFUSED); }
std::string ResetConnectionText() { return std::strerror(ECONNRESET); }

bool ResetReachesTheClient() { return true; }

}  // namespace qvpa::testing_io
