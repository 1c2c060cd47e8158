// The termios side of the POSIX port: line parameters as termios flags, the device a port
// number names, and a named device that is no terminal. (On Windows "COM8" names the
// device whatever folder it stands in, so the last case has no Windows form.)
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <fstream>

#include "base/error_test_support.h"
#include "io/com_port.h"
#include "io/com_port_posix.h"
#include "io/pty_peer.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

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

TEST(SerialDeviceNameTest, ComPortsMapToSerialDevicesUnlessAFolderIsNamed) {
  ::unsetenv("QVPA_COM_DIR");
  EXPECT_EQ(ComDevicePath(1), u"/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(12), u"/dev/ttyS11");
  ::setenv("QVPA_COM_DIR", "/tmp/ports", 1);
  EXPECT_EQ(ComDevicePath(3), u"/tmp/ports/COM3");
  ::unsetenv("QVPA_COM_DIR");
}

TEST(SerialDeviceNameTest, AFileThatIsNoTerminalFailsAtItsLineSettings) {
  testing_io::TempDir ports;
  std::ofstream(ports.path() / "COM8") << "not a terminal";
  ::setenv("QVPA_COM_DIR", ports.path().c_str(), 1);
  TComPort port(8);
  EXPECT_EQ(ErrorOf([&] { port.Open(); }), u"GetCommState failed!");
  EXPECT_FALSE(port.ComIsOpen());
  ::unsetenv("QVPA_COM_DIR");
}

TEST(SerialDeviceNameTest, ASpeedTheLineDoesNotKnowIsRefused) {
  testing_io::PtyPeer pty;
  ASSERT_TRUE(pty.ok());
  TComPort port(5, 12345);
  EXPECT_EQ(ErrorOf([&] { port.Open(); }), u"SetCommState failed!");
  EXPECT_FALSE(port.ComIsOpen());
}

}  // namespace
}  // namespace qvpa
