// Test helper: a serial device for the serial channel's tests, the same on every platform.
// The device is a pseudo-terminal pair reachable as COM5; the test plays the device on the
// primary end. On POSIX the pair lives in the test process (serial_peer_test_support_posix.cc);
// a Windows build under Wine reaches its COM5 through the prefix, and a native peer program
// (tools/windows/serial_peer_test_server.py) holds the pair and answers the test over a
// loopback control connection (serial_peer_test_support_win.cc).
#ifndef QVPA_IO_SERIAL_PEER_TEST_SUPPORT_H_
#define QVPA_IO_SERIAL_PEER_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qvpa::testing_io {

// The line settings as the device end reads them (termios). A pseudo-terminal keeps the
// speed, the stop bits and the odd and mark/space flags of the parity, but always reports
// 8 data bits with parity disabled, so those two are not compared.
struct PeerLine {
  uint32_t baud = 0;
  bool two_stop_bits = false;
  bool odd = false;    // odd or mark parity
  bool stick = false;  // mark or space parity
  bool raw = false;    // no line editing, echo or CR/LF translation
};

class SerialPeer {
 public:
  static constexpr int kComNumber = 5;

  // A new device at COM5, silent until Send.
  SerialPeer();
  ~SerialPeer();
  SerialPeer(const SerialPeer&) = delete;
  SerialPeer& operator=(const SerialPeer&) = delete;

  // Empty when the device is ready; otherwise why it is not.
  std::string failure() const;
  PeerLine Line() const;
  void Send(std::string_view aBytes) const;
  // What the channel sent, waiting until aCount bytes came or 5 s passed.
  std::string Receive(size_t aCount) const;
  // Closes the primary end: the device hangs up.
  void HangUp();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Whether opening a port that is already open is refused. Not under Wine, whose serial
// devices ignore the share mode; everywhere else it is.
bool SecondOpenIsRefused();

// Whether a read from a device that hung up fails. Not under Wine, which treats a hung-up
// pseudo-terminal as a silent line; on POSIX (and a real port's line errors) it does.
bool HangUpFailsReads();

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_SERIAL_PEER_TEST_SUPPORT_H_
