#include "tools/latency-proxy/latency_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <deque>
#include <list>
#include <stdexcept>
#include <vector>

namespace qvpa::latency {
namespace {

using Clock = std::chrono::steady_clock;

// A socket closed with its owner.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~Socket() { Close(); }
  int fd() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

void Prepare(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int on = 1;
  // Bytes leave as soon as they are due; the delay is the proxy's, not the kernel's.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Bytes read at one moment, or the end of the stream, due for writing at `due`.
struct Chunk {
  Clock::time_point due;
  std::string bytes;
  bool end = false;
};

// One direction of a forwarded connection.
struct Direction {
  std::deque<Chunk> queue;
  std::chrono::milliseconds first_extra{0};  // added to the first chunk only
  Clock::time_point last_due{};
  size_t written = 0;        // bytes of the front chunk already sent
  bool read_closed = false;  // end of stream (or error) seen on the source
  bool write_closed = false; // end passed on to the destination
  bool blocked = false;      // the destination did not take a due chunk whole
};

struct Link {
  Socket client, server;
  Direction up;    // client to server
  Direction down;  // server to client
  bool failed = false;
  bool Done() const { return failed || (up.write_closed && down.write_closed); }
};

// When bytes read now are due: after the delay, never before bytes read earlier.
Clock::time_point DueTime(Direction& direction, std::chrono::milliseconds delay) {
  Clock::time_point due = Clock::now() + delay + direction.first_extra;
  direction.first_extra = std::chrono::milliseconds(0);
  due = std::max(due, direction.last_due);
  direction.last_due = due;
  return due;
}

void ReadInto(int from, Direction& direction, std::chrono::milliseconds delay) {
  char buffer[64 * 1024];
  while (!direction.read_closed) {
    const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
    if (n > 0) {
      direction.queue.push_back({DueTime(direction, delay), std::string(buffer, static_cast<size_t>(n)), false});
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0 && errno == EINTR) continue;
    direction.queue.push_back({DueTime(direction, delay), std::string(), true});
    direction.read_closed = true;
  }
}

// Writes the due chunks; false when the destination failed.
bool Flush(int to, Direction& direction) {
  direction.blocked = false;
  const Clock::time_point now = Clock::now();
  while (!direction.queue.empty() && direction.queue.front().due <= now) {
    Chunk& front = direction.queue.front();
    if (front.end) {
      ::shutdown(to, SHUT_WR);
      direction.write_closed = true;
      direction.queue.pop_front();
      continue;
    }
    const ssize_t n = ::send(to, front.bytes.data() + direction.written, front.bytes.size() - direction.written,
                             MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      direction.blocked = true;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    direction.written += static_cast<size_t>(n);
    if (direction.written == front.bytes.size()) {
      direction.queue.pop_front();
      direction.written = 0;
    }
  }
  return true;
}

// The earliest moment a queued chunk becomes due, if any is waiting.
void NoteDue(const Direction& direction, Clock::time_point& earliest, bool& any) {
  if (direction.queue.empty() || direction.blocked) return;
  if (!any || direction.queue.front().due < earliest) earliest = direction.queue.front().due;
  any = true;
}

}  // namespace

LatencyProxy::LatencyProxy(const std::string& target_host, int target_port, std::chrono::milliseconds one_way_delay,
                           int listen_port)
    : target_host_(target_host), target_port_(target_port), delay_(one_way_delay) {
  Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
  if (listener.fd() < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(listen_port));
  if (::bind(listener.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.fd(), 64) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(listen_port) + ": " +
                             std::strerror(errno));
  }
  socklen_t length = sizeof address;
  getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  fcntl(listener.fd(), F_SETFL, fcntl(listener.fd(), F_GETFL) | O_NONBLOCK);
  if (::pipe(wake_fds_) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  listen_fd_ = listener.Release();
  thread_ = std::thread([this] { Run(); });
}

LatencyProxy::~LatencyProxy() {
  const char stop = 's';
  // One byte into an empty pipe: it cannot block or fall short.
  [[maybe_unused]] const ssize_t written = ::write(wake_fds_[1], &stop, 1);
  thread_.join();
  ::close(wake_fds_[0]);
  ::close(wake_fds_[1]);
  ::close(listen_fd_);
}

void LatencyProxy::Run() {
  std::list<Link> links;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(target_port_));
  inet_pton(AF_INET, target_host_.c_str(), &target.sin_addr);

  std::vector<pollfd> polled;
  for (;;) {
    polled.clear();
    polled.push_back({wake_fds_[0], POLLIN, 0});
    polled.push_back({listen_fd_, POLLIN, 0});
    Clock::time_point earliest{};
    bool any_due = false;
    for (Link& link : links) {
      const short client_events = static_cast<short>((link.up.read_closed ? 0 : POLLIN) | (link.down.blocked ? POLLOUT : 0));
      const short server_events = static_cast<short>((link.down.read_closed ? 0 : POLLIN) | (link.up.blocked ? POLLOUT : 0));
      polled.push_back({link.client.fd(), client_events, 0});
      polled.push_back({link.server.fd(), server_events, 0});
      NoteDue(link.up, earliest, any_due);
      NoteDue(link.down, earliest, any_due);
    }
    int timeout = -1;
    if (any_due) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now());
      timeout = static_cast<int>(std::max<int64_t>(wait.count(), 0));
    }
    if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) return;
    if (polled[0].revents != 0) return;

    if ((polled[1].revents & POLLIN) != 0) {
      for (;;) {
        Socket client(::accept(listen_fd_, nullptr, nullptr));
        if (client.fd() < 0) break;
        Socket server(::socket(AF_INET, SOCK_STREAM, 0));
        // The target is on this machine: a blocking connect ends at once.
        if (server.fd() < 0 || ::connect(server.fd(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
          continue;  // the client sees its connection closed
        }
        Prepare(client.fd());
        Prepare(server.fd());
        links.push_back(Link{std::move(client), std::move(server), {}, {}, false});
        // The client's connect returned at once here, but over a real link the TCP
        // handshake takes a round trip before the client can send: its first bytes wait
        // that much longer.
        links.back().up.first_extra = 2 * delay_;
        ++accepted_;
      }
    }
    // Every link is read when readable and flushed of what is due, whatever poll said.
    for (Link& link : links) {
      ReadInto(link.client.fd(), link.up, delay_);
      ReadInto(link.server.fd(), link.down, delay_);
      if (!Flush(link.server.fd(), link.up) || !Flush(link.client.fd(), link.down)) link.failed = true;
    }
    links.remove_if([](const Link& link) { return link.Done(); });
  }
}

}  // namespace qvpa::latency
