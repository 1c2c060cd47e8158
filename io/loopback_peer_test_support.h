// Test helper: TCP peers on 127.0.0.1 for the TCP channel's tests, the same on every
// platform (loopback_peer_test_support_posix.cc / _win.cc hold the sockets).
// LoopbackPeer accepts connections one after the other on its own thread and hands each
// to a behaviour; the connection is closed when the behaviour returns, and the peer stops
// at scope end (after the behaviour running then has returned).
#ifndef QVPA_IO_LOOPBACK_PEER_TEST_SUPPORT_H_
#define QVPA_IO_LOOPBACK_PEER_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qvpa::testing_io {

// One accepted connection, as a peer's behaviour sees it.
class PeerConnection {
 public:
  explicit PeerConnection(intptr_t aSocket) : socket_(aSocket) {}
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Sends every byte; false once the client has gone.
  bool Send(std::string_view aBytes);
  // Up to aMax bytes as they arrive; empty when the client closed or reset.
  std::string Receive(size_t aMax);
  // Blocks until the client closes its end (or resets it).
  void AwaitClose();
  // Everything received until the client closes.
  std::string ReceiveAll();
  // Makes the coming close send a reset instead of an orderly end.
  void ResetOnClose();

 private:
  intptr_t socket_;  // the platform's socket
};

class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::function<void(PeerConnection&)> aBehaviour);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const;
  int accepted() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// A listener on loopback whose accept queue is full: a further connect hangs in its
// handshake until the client gives up.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;

  int port() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// A port on loopback on which nobody listens.
int ClosedLoopbackPort();

// The system's own texts for a refused connection and for a connection reset by the peer,
// as the channel's socket layer reports them.
std::string RefusedConnectionText();
std::string ResetConnectionText();

// Whether a peer's reset reaches the client as a reset. Not under Wine, whose sockets report
// it as an orderly end of the connection; everywhere else it does.
bool ResetReachesTheClient();

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_LOOPBACK_PEER_TEST_SUPPORT_H_
