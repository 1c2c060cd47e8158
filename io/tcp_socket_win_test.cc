// TcpSocket on Winsock against a loopback peer thread: reads by terminator and by time,
// the bounded waits, a peer that closes, and the refusals with the system's text.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/error.h"
#include "io/tcp_socket.h"

namespace qvpa {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point aStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - aStart).count();
}

// A listening loopback socket whose one connection aScript serves on its own thread.
class Peer {
 public:
  explicit Peer(std::function<void(SOCKET)> aScript) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    int length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, aScript] {
      const SOCKET connection = ::accept(listener_, nullptr, nullptr);
      if (connection == INVALID_SOCKET) return;
      aScript(connection);
      ::closesocket(connection);
    });
  }
  ~Peer() {
    ::closesocket(listener_);  // ends an accept that nobody reached
    thread_.join();
    ::WSACleanup();
  }
  uint16_t port() const { return port_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
};

void Send(SOCKET aSocket, const std::string& aBytes) { ::send(aSocket, aBytes.data(), static_cast<int>(aBytes.size()), 0); }

TEST(TcpSocketWindowsTest, ReadsByTerminatorAndByTimeWithinTheirWaits) {
  Peer peer([](SOCKET s) {
    Send(s, "hello\rrest");
    ::Sleep(600);
    Send(s, "\xE9nd");
    ::Sleep(200);
  });
  TcpSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port(), 2000));
  const uint8_t stops[] = {'\r'};
  std::string got;
  bool stopped = false;
  ASSERT_EQ(socket.ReadUntil(got, stops, 1000, stopped), TcpSocket::ReadResult::kByte);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(got, "hello\r");
  got.clear();
  EXPECT_EQ(socket.Read(got, 100, 1000), TcpSocket::ReadResult::kByte);
  EXPECT_EQ(got, "rest");  // what was buffered, at once

  // Silence: the wait ends at its time-out, not before and not much after.
  got.clear();
  auto start = Clock::now();
  EXPECT_EQ(socket.Read(got, 100, 200), TcpSocket::ReadResult::kTimeout);
  EXPECT_GE(MsSince(start), 180);
  EXPECT_LT(MsSince(start), 500);
  EXPECT_TRUE(got.empty());

  EXPECT_EQ(socket.Read(got, 100, 2000), TcpSocket::ReadResult::kByte);
  EXPECT_EQ(got, "\xE9nd");
  // The peer closes: the read ends as closed, without waiting its whole time.
  start = Clock::now();
  EXPECT_EQ(socket.Read(got, 100, 3000), TcpSocket::ReadResult::kClosed);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_FALSE(socket.Connected());
}

TEST(TcpSocketWindowsTest, SendsEveryByteAndDiscardsOnlyWhatArrived) {
  std::string received;
  {
    Peer peer([&received](SOCKET s) {
      Send(s, "stale");
      char buffer[4096];
      for (int n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, static_cast<size_t>(n));
    });
    TcpSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port(), 2000));
    std::string got;
    ASSERT_EQ(socket.Read(got, 1, 2000), TcpSocket::ReadResult::kByte);
    ::Sleep(100);
    EXPECT_TRUE(socket.HasInput());
    socket.DiscardInput();
    EXPECT_FALSE(socket.HasInput());
    socket.SendAll(std::string(200000, 'x'));
    socket.Close();
  }
  EXPECT_EQ(received, std::string(200000, 'x'));
}

TEST(TcpSocketWindowsTest, RefusalsCarryTheSystemText) {
  uint16_t closed_port = 0;
  { Peer peer([](SOCKET) {}); closed_port = peer.port(); }
  const struct {
    const char* host;
    uint16_t port;
    const char16_t* prefix;
  } cases[] = {
      {"127.0.0.1", closed_port, u"Cannot connect to 127.0.0.1:"},
      {"no-such-host.invalid", 80, u"Cannot resolve host no-such-host.invalid: "},
  };
  for (const auto& c : cases) {
    TcpSocket socket;
    try {
      socket.Connect(c.host, c.port, 2000);
      ADD_FAILURE() << "connected to " << c.host;
    } catch (const EQVError& e) {
      const std::u16string prefix = c.prefix;
      EXPECT_EQ(e.Message().rfind(prefix, 0), 0u) << e.what();
      EXPECT_GT(e.Message().size(), prefix.size() + 8) << e.what();  // the system's text follows
    }
  }
  TcpSocket never;
  std::string got;
  EXPECT_THROW(never.Read(got, 1, 0), EQVError);
  EXPECT_THROW(never.SendAll("x"), EQVError);
}

}  // namespace
}  // namespace qvpa
