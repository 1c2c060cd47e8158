// The serial channel against a pseudo-terminal: the test plays the device on the
// master side while the channel opens the slave as COM5.
#include "io/io_handler_serial.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/error_test_support.h"
#include "io/com_port_posix.h"
#include "io/pty_peer.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::DumpLines;
using testing_io::HasLine;
using testing_io::PtyPeer;
using testing_io::TempDir;
using Clock = std::chrono::steady_clock;

constexpr auto kReadBound = std::chrono::seconds(5);

kConnection SerialConnection(const std::u16string& port = u"COM5", int32_t read_timeout = 300) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::Serial);
  connection.SetSerialPort(port);
  connection.SetSpeed(115200);
  connection.SetDataBits(8);
  connection.SetParity(qvParity::None);
  connection.SetStopBits(1);
  connection.SetReadTimeOut(read_timeout);
  return connection;
}

class SerialChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal"; }

  std::unique_ptr<kIOHandler_Serial> Open(kConnection connection = SerialConnection()) {
    auto channel = std::make_unique<kIOHandler_Serial>(connection, dir_.u16(), u"SERIAL_TEST");
    EXPECT_TRUE(channel->Connect());
    return channel;
  }

  PtyPeer pty_;
  TempDir dir_;
};

TEST(SerialChannelSetupTest, ConnectionValuesBecomePortSettingsOrErrors) {
  kConnection connection = SerialConnection(u"COM12");
  connection.SetSpeed(19200);
  connection.SetDataBits(0x107);  // only the low 8 bits count
  connection.SetParity(qvParity::Odd);
  connection.SetStopBits(2);
  kIOHandler_Serial channel(connection, u"", u"");
  EXPECT_EQ(channel.ComPort().ComNumber(), 12u);
  EXPECT_EQ(channel.ComPort().BaudRate(), 19200u);
  EXPECT_EQ(channel.ComPort().DataBits(), 7);
  EXPECT_EQ(channel.ComPort().Parity(), TParity::ptOdd);
  EXPECT_EQ(channel.ComPort().StopBits(), TStopBits::sbTwo);
  EXPECT_FALSE(channel.Connected());

  const struct {
    std::u16string port;
    int32_t stop_bits;
    int parity;
    std::u16string error;
  } cases[] = {
      {u"COMX", 1, 0, u"'X' is not a valid integer value"},
      {u"COM", 1, 0, u"'' is not a valid integer value"},
      {u"COM1", 0, 0, u"Stop Bits 0 invalid"},
      {u"COM1", 3, 0, u"Stop Bits 3 invalid"},
      {u"COM1", 1, 7, u"Parity invalid"},
  };
  for (const auto& tc : cases) {
    kConnection bad = SerialConnection(tc.port);
    bad.SetStopBits(tc.stop_bits);
    bad.SetParity(static_cast<qvParity>(tc.parity));
    EXPECT_EQ(ErrorOf([&] { kIOHandler_Serial c(bad, u"", u""); }), tc.error);
  }
}

TEST(SerialLineTest, LineParametersMapToTermios) {
  const struct {
    uint8_t data;
    TStopBits stop;
    TParity parity;
    tcflag_t expected;
  } cases[] = {
      {8, TStopBits::sbOne, TParity::ptNone, CS8},
      {7, TStopBits::sbOne, TParity::ptEven, CS7 | PARENB},
      {7, TStopBits::sbTwo, TParity::ptOdd, CS7 | CSTOPB | PARENB | PARODD},
      {8, TStopBits::sbOne, TParity::ptMark, CS8 | PARENB | PARODD | CMSPAR},
      {6, TStopBits::sbOne, TParity::ptSpace, CS6 | PARENB | CMSPAR},
      {5, TStopBits::sbOneHalf, TParity::ptNone, CS5 | CSTOPB},
  };
  constexpr tcflag_t kLineBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
  for (const auto& tc : cases) {
    termios line{};
    line.c_cflag = CS8 | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
    line.c_iflag = IXON | ICRNL;
    line.c_lflag = ICANON | ECHO;
    ASSERT_TRUE(ApplyLineParameters(line, 9600, tc.data, tc.stop, tc.parity));
    EXPECT_EQ(line.c_cflag & kLineBits, tc.expected) << int(tc.data) << " " << int(tc.parity);
    EXPECT_TRUE(line.c_cflag & CRTSCTS) << "flow control is left as it was";
    EXPECT_TRUE(line.c_iflag & IXON) << "flow control is left as it was";
    EXPECT_FALSE(line.c_iflag & ICRNL) << "bytes pass untranslated";
    EXPECT_FALSE(line.c_lflag & (ICANON | ECHO)) << "binary mode";
    EXPECT_EQ(cfgetospeed(&line), B9600);
  }
  termios line{};
  EXPECT_FALSE(ApplyLineParameters(line, 12345, 8, TStopBits::sbOne, TParity::ptNone));
  EXPECT_FALSE(ApplyLineParameters(line, 9600, 9, TStopBits::sbOne, TParity::ptNone));
  EXPECT_FALSE(ApplyLineParameters(line, 9600, 8, TStopBits::sbOneHalf, TParity::ptNone));
}

TEST_F(SerialChannelTest, ConnectLogsTheLineAndTheDeviceSeesIt) {
  kConnection connection = SerialConnection();
  connection.SetParity(qvParity::Odd);
  connection.SetStopBits(2);
  auto channel = Open(connection);
  ASSERT_TRUE(channel->Connected());
  const termios line = pty_.Line();
  EXPECT_EQ(cfgetospeed(&line), B115200);
  EXPECT_TRUE(line.c_cflag & CSTOPB);
  EXPECT_TRUE(line.c_cflag & PARODD);  // a pseudo-terminal keeps no PARENB, but keeps PARODD
  EXPECT_FALSE(line.c_lflag & ICANON);
  EXPECT_TRUE(channel->Disconnect());
  EXPECT_FALSE(channel->Connected());

  const auto lines = CloseAndReadLog(channel);
  const std::vector<std::string> expected = {
      " - kIOHandler_Serial", " - ", " - ConnectTimeout=1000", " - ReadTimeout=300",
      " - Serial Driver Version: 1.0", " - SerialPort=COM5", " - Speed=115200",
      " - Parity=odd", " - DataBits=8", " - StopBits=2"};
  ASSERT_GE(lines.size(), 2 + expected.size()) << DumpLines(lines);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[2 + i], expected[i]);
}

TEST_F(SerialChannelTest, ReadsByCountByTerminatorAndByTime) {
  auto channel = Open();
  pty_.Send("ABC");
  EXPECT_EQ(channel->ReadChars(3), u"ABC");

  pty_.Send(std::string("xy\x03z", 4));
  const uint8_t etx[] = {3};
  EXPECT_EQ(channel->ReadUpTo(etx), u"xy\x03");
  EXPECT_EQ(channel->ReadChars(1), u"z");

  pty_.Send("\x80\xff");  // every byte value arrives as the same character code
  EXPECT_EQ(channel->ReadChars(2), u"\u0080\u00ff");

  pty_.Send("12");
  const auto start = Clock::now();
  EXPECT_EQ(channel->ReadChars(3), u"12");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_LT(Clock::now() - start, kReadBound);

  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - Read:ABC")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - Waiting for:\x03")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - Read:xy\x03")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - Read Timeout:12")) << DumpLines(lines);
}

TEST_F(SerialChannelTest, DeviceThatNeverSendsTheTerminatorEndsByTime) {
  auto channel = Open();
  channel->SetHexLog(true);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    while (!stop) {
      pty_.Send("ab");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const uint8_t terminators[] = {13, 10};
  const auto start = Clock::now();
  const std::u16string text = channel->ReadUpTo(terminators);
  const auto took = Clock::now() - start;
  stop = true;
  device.join();
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, kReadBound);
  EXPECT_FALSE(text.empty());
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - Waiting for:\r,\n [0d,0a]")) << DumpLines(lines);
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.rfind(" - ERROR - Read Timeout:ab", 0) == 0; }),
            lines.end())
      << DumpLines(lines);
}

TEST_F(SerialChannelTest, HungUpDeviceLogsItsErrorOncePerReadAndDoesNotSpin) {
  auto channel = Open();
  pty_.CloseMaster();
  const uint8_t cr[] = {13};
  const auto start = Clock::now();
  EXPECT_EQ(channel->ReadUpTo(cr), u"");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_LT(Clock::now() - start, kReadBound);
  EXPECT_EQ(channel->ReadChars(2), u"");
  const auto lines = CloseAndReadLog(channel);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " - ERROR - Read Error:1024"), 1) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - Read Timeout:")) << DumpLines(lines);
}

TEST_F(SerialChannelTest, WritesGoOutInTheAnsiCodePage) {
  auto channel = Open();
  EXPECT_TRUE(channel->Write(u"Caf\u00e9 \u20ac\r\n"));
  EXPECT_EQ(pty_.Receive(8), "Caf\xe9 \x80\r\n");
  EXPECT_EQ(ErrorOf([&] { channel->Write(u"\u0416"); }),
            u"Character \"\u0416\" (U+0416) has no byte in code page 1252");
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - Write:Caf\xc3\xa9 \xe2\x82\xac")) << DumpLines(lines);
}

TEST_F(SerialChannelTest, BufferAndModemLineCalls) {
  auto channel = Open();
  EXPECT_FALSE(channel->InputBufferContainsData());
  pty_.Send("junk");
  const auto deadline = Clock::now() + kReadBound;
  while (!channel->InputBufferContainsData() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(channel->InputBufferContainsData());
  channel->ClearBuffers();
  EXPECT_FALSE(channel->InputBufferContainsData());
  channel->ComPort().SetDTR(true);  // a pseudo-terminal has no modem lines: no effect, no error
  channel->ComPort().SetRTS(false);
  pty_.Send("Z");
  EXPECT_EQ(channel->ReadChars(1), u"Z");
}

TEST_F(SerialChannelTest, PortErrorsCarryTheirMessages) {
  kIOHandler_Serial closed(SerialConnection(), u"", u"");
  uint32_t mask = 0;
  char byte;
  EXPECT_EQ(ErrorOf([&] { closed.Write(u"x"); }), u"Cannot write because COM port is not open.");
  EXPECT_EQ(ErrorOf([&] { closed.ComPort().Read(&byte, 1, 100, mask); }),
            u"Cannot read because COM port is not open.");
  EXPECT_EQ(ErrorOf([&] { closed.ComPort().SetDTR(true); }), u"SetRTS failed because COM port not open.");
  EXPECT_EQ(ErrorOf([&] { closed.ComPort().SetRTS(true); }), u"SetRTS failed because COM port not open.");
  EXPECT_EQ(ErrorOf([&] { closed.ClearBuffers(); }), u"<no error>");
  EXPECT_EQ(ErrorOf([&] { closed.ReadAll(); }), u"ReadAll Unsupported");

  EXPECT_EQ(ErrorOf([&] { kIOHandler_Serial(SerialConnection(u"COM7"), u"", u"").Connect(); }),
            u"COM7 is not a valid COM port.");

  auto first = Open();
  kIOHandler_Serial second(SerialConnection(), u"", u"");
  const std::u16string in_use = ErrorOf([&] { second.Connect(); });
  EXPECT_EQ(in_use.rfind(u"Cannot open COM5 (error #", 0), 0u) << ToUtf8(in_use);
  EXPECT_FALSE(second.Connected());

  std::ofstream(pty_.dir() / "COM8") << "not a terminal";
  EXPECT_EQ(ErrorOf([&] { kIOHandler_Serial(SerialConnection(u"COM8"), u"", u"").Connect(); }),
            u"GetCommState failed!");
  kConnection odd_speed = SerialConnection();
  odd_speed.SetSpeed(12345);
  first.reset();
  EXPECT_EQ(ErrorOf([&] { kIOHandler_Serial(odd_speed, u"", u"").Connect(); }), u"SetCommState failed!");
}

TEST(SerialDeviceNameTest, ComPortsMapToSerialDevicesUnlessAFolderIsNamed) {
  ::unsetenv("QVPA_COM_DIR");
  EXPECT_EQ(ComDevicePath(1), u"/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(12), u"/dev/ttyS11");
  ::setenv("QVPA_COM_DIR", "/tmp/ports", 1);
  EXPECT_EQ(ComDevicePath(3), u"/tmp/ports/COM3");
  ::unsetenv("QVPA_COM_DIR");
}

}  // namespace
}  // namespace qvpa
