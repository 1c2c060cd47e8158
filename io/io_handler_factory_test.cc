#include "io/io_handler_factory.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "io/io_handler_spool.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

TEST(IOHandlerFactoryTest, ComConnectionGivesTheComChannelWithItsTimeOuts) {
  testing_io::TempDir dir;
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::Com);
  connection.SetConnectTimeOut(2000);
  connection.SetReadTimeOut(3000);
  auto channel = CreateIOHandler(connection, dir.u16(), u"DRV_1");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->ClassName(), u"kIOHandler_Com");
  EXPECT_EQ(channel->ConnectTimeout(), 2000);
  EXPECT_EQ(channel->ReadTimeout(), 3000);
  EXPECT_NE(channel->GetLogFileName(), u"");
}

TEST(IOHandlerFactoryTest, HttpConnectionGivesTheHttpChannel) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::HTTP);
  connection.SetURL(u"http://127.0.0.1:1/x");
  auto channel = CreateIOHandler(connection, u"", u"");
  EXPECT_EQ(channel->ClassName(), u"kIOHandler_HTTP");
}

TEST(IOHandlerFactoryTest, TcpConnectionGivesTheTcpChannelOnItsEndpoint) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::TCP);
  connection.SetAddress(u"10.0.0.7");
  connection.SetPort(9100);
  auto channel = CreateIOHandler(connection, u"", u"");
  ASSERT_EQ(channel->ClassName(), u"kIOHandler_TCP");
  EXPECT_FALSE(channel->Connected());
}

TEST(IOHandlerFactoryTest, SerialConnectionGivesTheSerialChannelWithAClosedPort) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::Serial);
  connection.SetSerialPort(u"COM3");
  connection.SetSpeed(9600);
  connection.SetDataBits(8);
  connection.SetStopBits(1);
  auto channel = CreateIOHandler(connection, u"", u"");
  ASSERT_EQ(channel->ClassName(), u"kIOHandler_Serial");
  EXPECT_FALSE(channel->Connected());
}

TEST(IOHandlerFactoryTest, DllConnectionLoadsItsLibraryOrFails) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::DLL);
  connection.SetLibraryName(u"libqvpa-no-such-library.so");
  const std::u16string error = ErrorOf([&] { CreateIOHandler(connection, u"", u""); });
  EXPECT_EQ(error.rfind(u"Unable to Load Library libqvpa-no-such-library.so. ", 0), 0u) << ToUtf8(error);
}

TEST(IOHandlerFactoryTest, OposConnectionBuildsEvenWithoutAControl) {
  kConnection connection;  // a fresh connection is of type OPOS
  auto channel = CreateIOHandler(connection, u"", u"");
  ASSERT_EQ(channel->ClassName(), u"kIOHandler_OPOS");
  EXPECT_FALSE(channel->Connected());
}

TEST(IOHandlerFactoryTest, SpoolConnectionGivesTheSpoolChannelForNormalOutput) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::Spool);
  connection.SetPrinterName(u"Receipt");
  auto channel = CreateIOHandler(connection, u"", u"");
  ASSERT_EQ(channel->ClassName(), u"kIOHandler_Spool");
  EXPECT_EQ(static_cast<kIOHandler_Spool&>(*channel).OutputType(), qvSpoolOutputType::Normal);
}

TEST(IOHandlerFactoryTest, ValueOutsideTheTypesIsRefused) {
  kConnection connection;
  connection.SetConnectionType(static_cast<qvConnectionType>(9));
  EXPECT_EQ(ErrorOf([&] { CreateIOHandler(connection, u"", u""); }), u"Connection Type #9 is not valid");
}

}  // namespace
}  // namespace qvpa
