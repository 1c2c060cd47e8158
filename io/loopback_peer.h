// Test helper: a TCP server on 127.0.0.1 (ephemeral port) that accepts connections one
// after the other on its own thread and hands each socket to a behaviour. The socket is
// closed when the behaviour returns; the server stops at scope end.
#ifndef QVPA_IO_LOOPBACK_PEER_H_
#define QVPA_IO_LOOPBACK_PEER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace qvpa::testing_io {

class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::function<void(int)> aBehaviour) : behaviour_(std::move(aBehaviour)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_fd_, 8);
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) {
          if (errno == EINTR) continue;
          return;
        }
        ++accepted_;
        behaviour_(fd);
        ::close(fd);
      }
    });
  }
  ~LoopbackPeer() {
    ::shutdown(listen_fd_, SHUT_RDWR);  // wakes the blocked accept
    thread_.join();
    ::close(listen_fd_);
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return port_; }
  int accepted() const { return accepted_; }

  // Behaviour helpers.
  static void Send(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  // Blocks until the client closes its end (or resets it).
  static void AwaitClose(int fd) {
    char scratch[256];
    while (::recv(fd, scratch, sizeof scratch, 0) > 0) {
    }
  }
  // Reads until the client closes, returning everything received.
  static std::string ReceiveAll(int fd) {
    std::string all;
    char scratch[256];
    for (ssize_t n; (n = ::recv(fd, scratch, sizeof scratch, 0)) > 0;) all.append(scratch, static_cast<size_t>(n));
    return all;
  }
  // Makes the coming close send a reset instead of an orderly end.
  static void ResetOnClose(int fd) {
    const linger abort_close{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
  }

 private:
  std::function<void(int)> behaviour_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// A port on loopback on which nobody listens.
inline int ClosedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_LOOPBACK_PEER_H_
