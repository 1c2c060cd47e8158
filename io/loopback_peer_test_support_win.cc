// Loopback peers on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "base/text.h"
#include "io/loopback_peer_test_support.h"
#include "io/system_error_win.h"

namespace qvpa::testing_io {

namespace {

// Winsock started for as long as the object lives.
class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUse() { ::WSACleanup(); }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
};

SOCKET Native(intptr_t aSocket) { return static_cast<SOCKET>(aSocket); }

sockaddr_in LoopbackAddress(uint16_t aPort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(aPort);
  return addr;
}

// A socket bound to an ephemeral loopback port, listening with aBacklog; its port in aPort.
SOCKET Listen(int aBacklog, int& aPort) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = LoopbackAddress(0);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(s, aBacklog);
  int len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  aPort = ntohs(addr.sin_port);
  return s;
}

std::string SystemText(int aError) { return ToUtf8(WindowsErrorText(static_cast<DWORD>(aError))); }

}  // namespace

bool PeerConnection::Send(std::string_view aBytes) {
  while (!aBytes.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(aBytes.size(), INT_MAX));
    const int n = ::send(Native(socket_), aBytes.data(), chunk, 0);
    if (n <= 0) return false;
    aBytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string PeerConnection::Receive(size_t aMax) {
  std::string bytes(aMax, '\0');
  const int n = ::recv(Native(socket_), bytes.data(), static_cast<int>(std::min<size_t>(aMax, INT_MAX)), 0);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

void PeerConnection::ResetOnClose() {
  const linger abort_close{1, 0};
  ::setsockopt(Native(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort_close),
               sizeof abort_close);
}

struct LoopbackPeer::State {
  WinsockUse winsock;
  std::function<void(PeerConnection&)> behaviour;
  SOCKET listener = INVALID_SOCKET;
  int port = 0;
  std::atomic<int> accepted{0};
  std::atomic<int> wake_port{-1};  // local port of the destructor's waking connection
  std::thread thread;
};

LoopbackPeer::LoopbackPeer(std::function<void(PeerConnection&)> aBehaviour)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.behaviour = std::move(aBehaviour);
  s.listener = Listen(8, s.port);
  s.thread = std::thread([&s] {
    for (;;) {
      sockaddr_in from{};
      int from_length = sizeof from;
      const SOCKET connection = ::accept(s.listener, reinterpret_cast<sockaddr*>(&from), &from_length);
      if (connection == INVALID_SOCKET) return;
      // Clients queued before the wake are still served.
      if (ntohs(from.sin_port) == s.wake_port) {
        ::closesocket(connection);
        return;
      }
      ++s.accepted;
      PeerConnection peer(static_cast<intptr_t>(connection));
      s.behaviour(peer);
      ::closesocket(connection);
    }
  });
}

LoopbackPeer::~LoopbackPeer() {
  // A connection of our own, known by its port, wakes the blocked accept and stops it.
  State& s = *state_;
  const SOCKET wake = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local = LoopbackAddress(0);
  ::bind(wake, reinterpret_cast<sockaddr*>(&local), sizeof local);
  int local_length = sizeof local;
  ::getsockname(wake, reinterpret_cast<sockaddr*>(&local), &local_length);
  s.wake_port = ntohs(local.sin_port);
  const sockaddr_in addr = LoopbackAddress(static_cast<uint16_t>(s.port));
  ::connect(wake, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  s.thread.join();
  ::closesocket(wake);
  ::closesocket(s.listener);
}

int LoopbackPeer::port() const { return state_->port; }
int LoopbackPeer::accepted() const { return state_->accepted; }

struct StalledListener::State {
  WinsockUse winsock;
  SOCKET listener = INVALID_SOCKET;
  int port = 0;
  std::vector<SOCKET> fillers;  // connections that fill the accept queue
};

StalledListener::StalledListener() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.listener = Listen(0, s.port);
  const sockaddr_in addr = LoopbackAddress(static_cast<uint16_t>(s.port));
  for (int i = 0; i < 3; ++i) {
    const SOCKET filler = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long non_blocking = 1;
    ::ioctlsocket(filler, FIONBIO, &non_blocking);
    ::connect(filler, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    s.fillers.push_back(filler);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // handshakes settle
}

StalledListener::~StalledListener() {
  for (SOCKET filler : state_->fillers) ::closesocket(filler);
  ::closesocket(state_->listener);
}

int StalledListener::port() const { return state_->port; }

int ClosedLoopbackPort() {
  WinsockUse winsock;
  int port = 0;
  ::closesocket(Listen(1, port));
  return port;
}

std::string RefusedConnectionText() { return SystemText(WSAECONNREFUSED); }
std::string ResetConnectionText() { return SystemText(WSAECONNRESET); }

bool ResetReachesTheClient() {
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

}  // namespace qvpa::testing_io
