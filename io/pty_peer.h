// Test helper: a pseudo-terminal pair standing in for a serial device. The slave is
// reachable as COM<n> through a link in a temporary folder that QVPA_COM_DIR names for
// the helper's lifetime; the test plays the device on the master side.
#ifndef QVPA_IO_PTY_PEER_H_
#define QVPA_IO_PTY_PEER_H_

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "io/test_support.h"

namespace qvpa::testing_io {

class PtyPeer {
 public:
  explicit PtyPeer(int aComNumber = 5) : com_number_(aComNumber) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    slave_path_ = name;
    std::filesystem::create_symlink(slave_path_, dir_.path() / ("COM" + std::to_string(aComNumber)));
    ::setenv("QVPA_COM_DIR", dir_.path().c_str(), 1);
  }
  ~PtyPeer() {
    ::unsetenv("QVPA_COM_DIR");
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return master_ >= 0; }
  int com_number() const { return com_number_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  // The line settings as the device side sees them.
  termios Line() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
  }

  void Send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  // What the channel sent, waiting until aCount bytes came or 5 s passed.
  std::string Receive(size_t aCount) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < aCount && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, aCount - got.size()));
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  // Hangs the device up: reads on the slave fail from now on.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  TempDir dir_;
  int com_number_;
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_PTY_PEER_H_
