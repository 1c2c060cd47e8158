#include "tools/latency-proxy/latency_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace qvpa::latency {
namespace {

using std::chrono::milliseconds;

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    sent += static_cast<size_t>(n);
  }
}

std::string ReceiveExactly(int fd, size_t size) {
  std::string bytes;
  char buffer[8192];
  while (bytes.size() < size) {
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

std::string ReceiveToEnd(int fd) {
  std::string bytes;
  char buffer[8192];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
  return bytes;
}

// Accepts one connection, echoes what it reads, and on the client's end of stream answers
// "bye" and closes.
class EchoServer {
 public:
  EchoServer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listen_fd_, 4);
    socklen_t length = sizeof address;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      const int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      char buffer[8192];
      for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        SendAll(fd, std::string(buffer, static_cast<size_t>(n)));
      }
      SendAll(fd, "bye");
      ::close(fd);
    });
  }
  ~EchoServer() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  int Port() const { return port_; }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(LatencyProxyTest, ForwardsBothWaysUnchangedAfterTheDelayAndPassesTheEnd) {
  EchoServer echo;
  const milliseconds delay(40);
  LatencyProxy proxy("127.0.0.1", echo.Port(), delay);
  const int fd = ConnectLoopback(proxy.Port());
  ASSERT_GE(fd, 0);

  // The first message pays the connection's round trip and its own; later ones their own.
  auto start = std::chrono::steady_clock::now();
  SendAll(fd, "ping");
  EXPECT_EQ(ReceiveExactly(fd, 4), "ping");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4 * delay);
  start = std::chrono::steady_clock::now();
  SendAll(fd, "pong");
  EXPECT_EQ(ReceiveExactly(fd, 4), "pong");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2 * delay);

  // Many chunks keep their order and content.
  std::string bulk(300 * 1024, '\0');
  for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  std::thread sender([&] { SendAll(fd, bulk); });
  EXPECT_EQ(ReceiveExactly(fd, bulk.size()), bulk);
  sender.join();

  // The client's half-close reaches the server, whose last words and close come back.
  ::shutdown(fd, SHUT_WR);
  EXPECT_EQ(ReceiveToEnd(fd), "bye");
  ::close(fd);
  EXPECT_EQ(proxy.Accepted(), 1);
}

TEST(LatencyProxyTest, ClosesTheClientWhenTheTargetIsDown) {
  // A port bound, then closed: nothing listens on it.
  const int bound = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length);
  const int unused_port = ntohs(address.sin_port);
  ::close(bound);
  LatencyProxy proxy("127.0.0.1", unused_port, milliseconds(5));
  const int fd = ConnectLoopback(proxy.Port());
  ASSERT_GE(fd, 0);
  SendAll(fd, "anyone?");
  EXPECT_EQ(ReceiveToEnd(fd), "");
  ::close(fd);
}

}  // namespace
}  // namespace qvpa::latency
