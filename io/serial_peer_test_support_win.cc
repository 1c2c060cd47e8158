// The serial test device of a Windows build under Wine: tools/windows-test.sh registers
// COM5 in the prefix and starts tools/windows/serial_peer_test_server.py, whose loopback
// port QVPA_TEST_SERIAL_PEER names. Each SerialPeer is one control connection: the server
// makes a new pseudo-terminal pair, points COM5 at its secondary end and answers one line per
// command ("send <hex>", "receive <count>", "line", "hangup") with "ok ..." or "error ...".
// Closing the connection ends the device.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>

#include "io/serial_peer_test_support.h"

namespace qvpa::testing_io {

namespace {

std::string Hex(std::string_view aBytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : aBytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string Unhex(std::string_view aHex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < aHex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(aHex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

// Wine's ntdll exports its version; Windows' does not.
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

struct SerialPeer::State {
  State() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~State() {
    if (control != INVALID_SOCKET) ::closesocket(control);
    ::WSACleanup();
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // One command, its answer after "ok " (an "error" answer or a lost server: failure set).
  std::string Ask(const std::string& aCommand) {
    if (control == INVALID_SOCKET) return "";
    const std::string line = aCommand + "\n";
    if (::send(control, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) {
      failure = "the serial peer server went away";
      return "";
    }
    return Answer();
  }
  std::string Answer() {
    std::string answer;
    char c;
    while (::recv(control, &c, 1, 0) == 1) {
      if (c == '\n') {
        if (answer.rfind("ok", 0) == 0) return answer.size() > 3 ? answer.substr(3) : "";
        failure = "the serial peer server answered: " + answer;
        return "";
      }
      answer += c;
    }
    failure = "the serial peer server went away";
    return "";
  }

  SOCKET control = INVALID_SOCKET;
  std::string failure;
};

SerialPeer::SerialPeer() : state_(std::make_unique<State>()) {
  State& s = *state_;
  const char* port = std::getenv("QVPA_TEST_SERIAL_PEER");
  if (port == nullptr || *port == '\0') {
    s.failure = "QVPA_TEST_SERIAL_PEER names no serial peer server (tools/windows-test.sh starts one)";
    return;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  s.control = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (::connect(s.control, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    s.failure = "cannot reach the serial peer server on port " + std::string(port);
    return;
  }
  s.Answer();  // "ok ready" once COM5 leads to the new device
}

SerialPeer::~SerialPeer() = default;

std::string SerialPeer::failure() const { return state_->failure; }

PeerLine SerialPeer::Line() const {
  std::istringstream answer(state_->Ask("line"));
  PeerLine line;
  int two_stop_bits = 0, odd = 0, stick = 0, raw = 0;
  answer >> line.baud >> two_stop_bits >> odd >> stick >> raw;
  line.two_stop_bits = two_stop_bits != 0;
  line.odd = odd != 0;
  line.stick = stick != 0;
  line.raw = raw != 0;
  return line;
}

void SerialPeer::Send(std::string_view aBytes) const { state_->Ask("send " + Hex(aBytes)); }

std::string SerialPeer::Receive(size_t aCount) const {
  return Unhex(state_->Ask("receive " + std::to_string(aCount)));
}

void SerialPeer::HangUp() { state_->Ask("hangup"); }

bool SecondOpenIsRefused() { return !UnderWine(); }

bool HangUpFailsReads() { return !UnderWine(); }

}  // namespace qvpa::testing_io
