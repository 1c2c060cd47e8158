// TcpSocket: one client TCP connection with an input buffer and bounded waits, the
// transport of the TCP channel. One implementation per platform (tcp_socket_posix.cc).
// Failures throw EQVError with the system's text; nothing here writes a log.
#ifndef QVPA_IO_TCP_SOCKET_H_
#define QVPA_IO_TCP_SOCKET_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace qvpa {

class TcpSocket {
 public:
  // Outcome of waiting for input.
  enum class ReadResult { kByte, kTimeout, kClosed };

  TcpSocket();
  ~TcpSocket();  // closes the connection
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to aHost:aPort, waiting at most aTimeoutMs for the handshake. False when
  // the time ran out; throws for every other failure (unknown host, refused, ...).
  bool Connect(const std::string& aHost, uint16_t aPort, int32_t aTimeoutMs);
  // Open, and the peer has not closed with nothing left in the input buffer.
  bool Connected();
  void Close();

  // Sends every byte; throws when the connection fails.
  void SendAll(std::string_view aBytes);
  // Appends up to aMax bytes (at least one on kByte) to aOut: what the input buffer holds,
  // else what the socket delivers within aWaitMs (0: only what has already arrived).
  // Throws on a connection error (reset, not open).
  ReadResult Read(std::string& aOut, size_t aMax, int32_t aWaitMs);
  // As Read, but stops after the first byte that is one of aStops (aStopped then true).
  ReadResult ReadUntil(std::string& aOut, std::span<const uint8_t> aStops, int32_t aWaitMs,
                       bool& aStopped);
  // True when received bytes wait in the input buffer or in the system's queue.
  bool HasInput();
  // Drops the input buffer and whatever has arrived on the socket.
  void DiscardInput();

 private:
  // Bytes received and not yet handed out; each platform's State extends it.
  struct InputBuffer {
    std::string buffer;
    size_t pos = 0;

    size_t Buffered() const { return buffer.size() - pos; }
  };

  // Makes the input buffer hold at least one byte, waiting at most aWaitMs.
  ReadResult Fill(int32_t aWaitMs);
  InputBuffer& Input();

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qvpa

#endif  // QVPA_IO_TCP_SOCKET_H_
