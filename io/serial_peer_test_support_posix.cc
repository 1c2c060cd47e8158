// The serial test device in the test process: a pseudo-terminal pair whose secondary end
// QVPA_COM_DIR reaches as COM5.
#include <termios.h>

#include "io/pty_peer.h"
#include "io/serial_peer_test_support.h"

namespace qvpa::testing_io {

namespace {

uint32_t Baud(speed_t aSpeed) {
  static const struct {
    speed_t constant;
    uint32_t baud;
  } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600},   {B115200, 115200},
                 {B230400, 230400}};
  for (const auto& s : kSpeeds) {
    if (s.constant == aSpeed) return s.baud;
  }
  return 0;
}

}  // namespace

struct SerialPeer::State {
  PtyPeer pty{kComNumber};
};

SerialPeer::SerialPeer() : state_(std::make_unique<State>()) {}
SerialPeer::~SerialPeer() = default;

std::string SerialPeer::failure() const { return state_->pty.ok() ? "" : "no pseudo-terminal"; }

PeerLine SerialPeer::Line() const {
  const termios t = state_->pty.Line();
  PeerLine line;
  line.baud = Baud(cfgetospeed(&t));
  line.two_stop_bits = (t.c_cflag & CSTOPB) != 0;
  line.odd = (t.c_cflag & PARODD) != 0;
  line.stick = (t.c_cflag & CMSPAR) != 0;
  line.raw = (t.c_lflag & (ICANON | ECHO)) == 0 && (t.c_iflag & ICRNL) == 0;
  return line;
}

void SerialPeer::Send(std::string_view aBytes) const { state_->pty.Send(aBytes); }

std::string SerialPeer::Receive(size_t aCount) const { return state_->pty.Receive(aCount); }

void SerialPeer::HangUp() { state_->pty.CloseMaster(); }

bool SecondOpenIsRefused() { return true; }

bool HangUpFailsReads() { return true; }

}  // namespace qvpa::testing_io
