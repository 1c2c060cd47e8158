// TcpSocket on Winsock 2. The socket is non-blocking; every wait is a select with the
// caller's time-out, so neither connect nor a read can hold the caller longer.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "io/system_error_win.h"
#include "io/tcp_socket.h"

namespace qvpa {

namespace {

std::u16string SystemText(int aError) { return WindowsErrorText(static_cast<DWORD>(aError)); }

// Starts Winsock once per process. It stays started until the process ends: a library
// that a host unloads must not clean up under another user of Winsock in the process.
void EnsureWinsock() {
  static const int kStarted = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (kStarted != 0) throw EQVError(u"Cannot start Windows Sockets: " + SystemText(kStarted));
}

// Closes an address list from getaddrinfo.
struct AddrInfoDeleter {
  void operator()(addrinfo* a) const { ::freeaddrinfo(a); }
};

enum class Wait { kRead, kWrite };

// Waits until aSocket is ready for aWait or aWaitMs passes: 1 ready, 0 time-out,
// -1 failure (a failed connect counts as ready for writing; its error is then read).
int WaitFor(SOCKET aSocket, Wait aWait, int32_t aWaitMs) {
  fd_set ready{};
  ready.fd_count = 1;
  ready.fd_array[0] = aSocket;
  fd_set failed = ready;
  timeval limit{};
  const int32_t wait = aWaitMs < 0 ? 0 : aWaitMs;
  limit.tv_sec = wait / 1000;
  limit.tv_usec = (wait % 1000) * 1000;
  const int n = aWait == Wait::kRead ? ::select(0, &ready, nullptr, nullptr, &limit)
                                     : ::select(0, nullptr, &ready, &failed, &limit);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

}  // namespace

struct TcpSocket::State : InputBuffer {
  SOCKET socket = INVALID_SOCKET;
  bool peer_closed = false;
};

TcpSocket::InputBuffer& TcpSocket::Input() { return *state_; }

TcpSocket::TcpSocket() : state_(std::make_unique<State>()) {}

TcpSocket::~TcpSocket() { Close(); }

void TcpSocket::Close() {
  if (state_->socket != INVALID_SOCKET) ::closesocket(state_->socket);
  state_->socket = INVALID_SOCKET;
  state_->peer_closed = false;
  state_->buffer.clear();
  state_->pos = 0;
}

bool TcpSocket::Connect(const std::string& aHost, uint16_t aPort, int32_t aTimeoutMs) {
  Close();
  EnsureWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(aHost.c_str(), std::to_string(aPort).c_str(), &hints, &found);
  if (rc != 0) {
    throw EQVError(u"Cannot resolve host " + FromUtf8(aHost) + u": " + SystemText(rc));
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
  int last_error = WSAECONNREFUSED;
  for (addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      last_error = ::WSAGetLastError();
      continue;
    }
    // Child processes of the host do not inherit the connection.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long non_blocking = 1;
    int error = 0;
    if (::ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
      error = ::WSAGetLastError();
    } else if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        const int ready = WaitFor(s, Wait::kWrite, aTimeoutMs);
        if (ready == 0) {
          ::closesocket(s);
          return false;
        }
        int len = sizeof error;
        if (ready < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
          error = ::WSAGetLastError();
        }
      }
    }
    if (error != 0) {
      ::closesocket(s);
      last_error = error;
      continue;
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    state_->socket = s;
    return true;
  }
  throw EQVError(u"Cannot connect to " + FromUtf8(aHost) + u":" + IntToStr(aPort) + u": " +
                 SystemText(last_error));
}

bool TcpSocket::Connected() {
  State& s = *state_;
  if (s.socket == INVALID_SOCKET) return false;
  if (s.Buffered() > 0) return true;
  if (!s.peer_closed && WaitFor(s.socket, Wait::kRead, 0) != 0) {
    char byte;
    const int n = ::recv(s.socket, &byte, 1, MSG_PEEK);
    if (n == 0 || (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK && ::WSAGetLastError() != WSAEINTR)) {
      s.peer_closed = true;
    }
  }
  return !s.peer_closed;
}

void TcpSocket::SendAll(std::string_view aBytes) {
  State& s = *state_;
  if (s.socket == INVALID_SOCKET) throw EQVError(u"Socket is not connected");
  while (!aBytes.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(aBytes.size(), INT_MAX));
    const int n = ::send(s.socket, aBytes.data(), chunk, 0);
    if (n >= 0) {
      aBytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error == WSAEWOULDBLOCK) {
      // A full send queue: wait for room; a peer that takes nothing stalls the writer
      // only as long as the system keeps the connection.
      if (WaitFor(s.socket, Wait::kWrite, 1000) < 0) {
        throw EQVError(u"Socket write failed: " + SystemText(::WSAGetLastError()));
      }
      continue;
    }
    throw EQVError(u"Socket write failed: " + SystemText(error));
  }
}

TcpSocket::ReadResult TcpSocket::Fill(int32_t aWaitMs) {
  State& s = *state_;
  if (s.Buffered() > 0) return ReadResult::kByte;
  if (s.socket == INVALID_SOCKET) throw EQVError(u"Socket is not connected");
  if (s.peer_closed) return ReadResult::kClosed;
  s.pos = 0;
  for (;;) {
    s.buffer.resize(16384);
    const int n = ::recv(s.socket, s.buffer.data(), static_cast<int>(s.buffer.size()), 0);
    if (n > 0) {
      s.buffer.resize(static_cast<size_t>(n));
      return ReadResult::kByte;
    }
    s.buffer.clear();
    if (n == 0) {
      s.peer_closed = true;
      return ReadResult::kClosed;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error != WSAEWOULDBLOCK) throw EQVError(u"Socket read failed: " + SystemText(error));
    const int ready = WaitFor(s.socket, Wait::kRead, aWaitMs);
    if (ready < 0) throw EQVError(u"Socket read failed: " + SystemText(::WSAGetLastError()));
    if (ready == 0) return ReadResult::kTimeout;
    aWaitMs = 0;  // readable now: the next recv answers at once
  }
}

bool TcpSocket::HasInput() {
  State& s = *state_;
  if (s.Buffered() > 0) return true;
  if (s.socket == INVALID_SOCKET) return false;
  u_long pending = 0;
  return ::ioctlsocket(s.socket, FIONREAD, &pending) == 0 && pending > 0;
}

void TcpSocket::DiscardInput() {
  State& s = *state_;
  s.buffer.clear();
  s.pos = 0;
  if (s.socket == INVALID_SOCKET) return;
  // Only what is queued now: a peer that keeps sending cannot hold the caller here.
  u_long pending = 0;
  if (::ioctlsocket(s.socket, FIONREAD, &pending) != 0) return;
  char scratch[4096];
  while (pending > 0) {
    const int n = ::recv(s.socket, scratch, static_cast<int>(std::min<u_long>(sizeof scratch, pending)), 0);
    if (n <= 0) break;
    pending -= static_cast<u_long>(n);
  }
}

}  // namespace qvpa
