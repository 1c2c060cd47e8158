#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "io/tcp_socket.h"

namespace qvpa {

namespace {

std::u16string SystemText(int aError) { return FromUtf8(std::strerror(aError)); }

// Closes an address list from getaddrinfo.
struct AddrInfoDeleter {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

// Waits until aFd is ready for aEvents or aWaitMs passes; retries on signals.
int PollFor(int aFd, short aEvents, int32_t aWaitMs) {
  pollfd p{aFd, aEvents, 0};
  for (;;) {
    const int n = ::poll(&p, 1, aWaitMs < 0 ? 0 : aWaitMs);
    if (n >= 0) return n == 0 ? 0 : p.revents;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

struct TcpSocket::State : InputBuffer {
  int fd = -1;
  bool peer_closed = false;
};

TcpSocket::InputBuffer& TcpSocket::Input() { return *state_; }

TcpSocket::TcpSocket() : state_(std::make_unique<State>()) {}

TcpSocket::~TcpSocket() { Close(); }

void TcpSocket::Close() {
  if (state_->fd >= 0) ::close(state_->fd);
  state_->fd = -1;
  state_->peer_closed = false;
  state_->buffer.clear();
  state_->pos = 0;
}

bool TcpSocket::Connect(const std::string& aHost, uint16_t aPort, int32_t aTimeoutMs) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(aHost.c_str(), std::to_string(aPort).c_str(), &hints, &found);
  if (rc != 0) {
    throw EQVError(u"Cannot resolve host " + FromUtf8(aHost) + u": " + FromUtf8(gai_strerror(rc)));
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
  int last_error = ECONNREFUSED;
  for (addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      last_error = errno;
      continue;
    }
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        const int ready = PollFor(fd, POLLOUT, aTimeoutMs);
        if (ready == 0) {
          ::close(fd);
          return false;
        }
        socklen_t len = sizeof error;
        if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
      }
    }
    if (error != 0) {
      ::close(fd);
      last_error = error;
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    state_->fd = fd;
    return true;
  }
  throw EQVError(u"Cannot connect to " + FromUtf8(aHost) + u":" + IntToStr(aPort) + u": " +
                 SystemText(last_error));
}

bool TcpSocket::Connected() {
  State& s = *state_;
  if (s.fd < 0) return false;
  if (s.Buffered() > 0) return true;
  if (!s.peer_closed) {
    const int ready = PollFor(s.fd, POLLIN, 0);
    if (ready != 0) {
      char byte;
      const ssize_t n = ::recv(s.fd, &byte, 1, MSG_PEEK);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) s.peer_closed = true;
    }
  }
  return !s.peer_closed;
}

void TcpSocket::SendAll(std::string_view aBytes) {
  State& s = *state_;
  if (s.fd < 0) throw EQVError(u"Socket is not connected");
  while (!aBytes.empty()) {
    const ssize_t n = ::send(s.fd, aBytes.data(), aBytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      aBytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A full send queue: wait for room; a peer that takes nothing stalls the writer
      // only as long as the system keeps the connection.
      if (PollFor(s.fd, POLLOUT, 1000) < 0) throw EQVError(u"Socket write failed: " + SystemText(errno));
      continue;
    }
    throw EQVError(u"Socket write failed: " + SystemText(errno));
  }
}

TcpSocket::ReadResult TcpSocket::Fill(int32_t aWaitMs) {
  State& s = *state_;
  if (s.Buffered() > 0) return ReadResult::kByte;
  if (s.fd < 0) throw EQVError(u"Socket is not connected");
  if (s.peer_closed) return ReadResult::kClosed;
  s.pos = 0;
  for (;;) {
    s.buffer.resize(16384);
    const ssize_t n = ::recv(s.fd, s.buffer.data(), s.buffer.size(), 0);
    if (n > 0) {
      s.buffer.resize(static_cast<size_t>(n));
      return ReadResult::kByte;
    }
    s.buffer.clear();
    if (n == 0) {
      s.peer_closed = true;
      return ReadResult::kClosed;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      throw EQVError(u"Socket read failed: " + SystemText(errno));
    }
    const int ready = PollFor(s.fd, POLLIN, aWaitMs);
    if (ready < 0) throw EQVError(u"Socket read failed: " + SystemText(errno));
    if (ready == 0) return ReadResult::kTimeout;
    aWaitMs = 0;  // readable now: the next recv answers at once
  }
}

bool TcpSocket::HasInput() {
  State& s = *state_;
  if (s.Buffered() > 0) return true;
  if (s.fd < 0) return false;
  int pending = 0;
  return ::ioctl(s.fd, FIONREAD, &pending) == 0 && pending > 0;
}

void TcpSocket::DiscardInput() {
  State& s = *state_;
  s.buffer.clear();
  s.pos = 0;
  if (s.fd < 0) return;
  // Only what is queued now: a peer that keeps sending cannot hold the caller here.
  int pending = 0;
  if (::ioctl(s.fd, FIONREAD, &pending) != 0) return;
  char scratch[4096];
  while (pending > 0) {
    const ssize_t n = ::recv(s.fd, scratch, std::min<size_t>(sizeof scratch, static_cast<size_t>(pending)), 0);
    if (n <= 0) break;
    pending -= static_cast<int>(n);
  }
}

}  // namespace qvpa
